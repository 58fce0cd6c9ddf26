// The system-wide marker that one copy of the program is running: a named mutex, created not
// owned, which nobody waits on. Its name lives as long as any copy holds a handle to it.
#pragma once

namespace repair::platform {

class InstanceMutex {
 public:
  InstanceMutex() = default;
  ~InstanceMutex() { Release(); }
  InstanceMutex(const InstanceMutex&) = delete;
  InstanceMutex& operator=(const InstanceMutex&) = delete;

  // False iff another holder has `name` already; this one then holds nothing. A mutex that
  // cannot be created at all is true as well: the program still runs, without the guard
  // against a second copy.
  bool Acquire(const char* name);
  void Release();

 private:
  void* handle_ = nullptr;  // the mutex's HANDLE, or null
};

}  // namespace repair::platform
