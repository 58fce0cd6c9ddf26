#include "platform/win32/thread_start.h"

#include <windows.h>

#include <memory>

#include "platform/win32/scoped_handle.h"

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

bool StartDetachedThread(void (*entry)(void*), void* parameter) {
  auto start = std::make_unique<ThreadStart>(ThreadStart{entry, parameter});
  // Suspended until the ownership of `start` has passed to the thread.
  ScopedHandle thread(CreateThread(nullptr, 0, ThreadMain, start.get(), CREATE_SUSPENDED, nullptr));
  if (!thread) return false;
  start.release();
  ResumeThread(thread.get());
  // The handle served only to resume the thread: closing it leaves the thread running.
  return true;
}

}  // namespace repair::platform
