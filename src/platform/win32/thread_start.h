// The worker thread of the Windows program, which its UI thread joins.
#pragma once

namespace repair::platform {

class WorkerThread {
 public:
  WorkerThread() = default;
  // Closes the handle without waiting: a thread still running goes on until the process ends.
  ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Starts entry(parameter) on a new thread. False when no thread could be created (entry is
  // then never called) or one started before has not been joined.
  bool Start(void (*entry)(void*), void* parameter);

  // Waits until the thread has returned; at once when none was started. Meanwhile the calling
  // thread takes the messages other threads send to its windows, so that a thread which ends
  // by sending one is not left waiting for a receiver that waits for it.
  void Join();

 private:
  void* handle_ = nullptr;  // a HANDLE, kept out of this header
};

}  // namespace repair::platform
