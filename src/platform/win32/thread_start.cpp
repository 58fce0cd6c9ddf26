#include "platform/win32/thread_start.h"

#include <windows.h>

#include <memory>

namespace repair::platform {
namespace {

struct ThreadStart {
  void (*entry)(void*);
  void* parameter;
};

DWORD WINAPI ThreadMain(LPVOID raw) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(raw));
  start->entry(start->parameter);
  return 0;
}

}  // namespace

WorkerThread::~WorkerThread() {
  if (handle_ != nullptr) CloseHandle(handle_);
}

bool WorkerThread::Start(void (*entry)(void*), void* parameter) {
  if (handle_ != nullptr) return false;
  auto start = std::make_unique<ThreadStart>(ThreadStart{entry, parameter});
  // Suspended until the ownership of `start` has passed to the thread.
  HANDLE thread = CreateThread(nullptr, 0, ThreadMain, start.get(), CREATE_SUSPENDED, nullptr);
  if (thread == nullptr) return false;
  start.release();
  ResumeThread(thread);
  handle_ = thread;
  return true;
}

void WorkerThread::Join() {
  if (handle_ == nullptr) return;
  HANDLE thread = handle_;
  for (;;) {
    const DWORD woken = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE);
    if (woken != WAIT_OBJECT_0 + 1) break;  // the thread ended, or the wait itself failed
    // Peeking runs the window procedure for every message sent to this thread; it removes
    // nothing that was posted.
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  CloseHandle(thread);
  handle_ = nullptr;
}

}  // namespace repair::platform
