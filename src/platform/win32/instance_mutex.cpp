#include "platform/win32/instance_mutex.h"

#include <windows.h>

#include "platform/win32/scoped_handle.h"

namespace repair::platform {

bool InstanceMutex::Acquire(const char* name) {
  Release();
  ScopedHandle mutex(CreateMutexA(nullptr, FALSE, name));
  // Read at once: any later call may overwrite the last error.
  const DWORD error = GetLastError();
  // Ours closes here; the other copy's handle keeps the name alive.
  if (mutex && error == ERROR_ALREADY_EXISTS) return false;
  handle_ = mutex.Release();
  return true;
}

void InstanceMutex::Release() {
  ScopedHandle held(handle_);  // closed as it goes
  handle_ = nullptr;
}

}  // namespace repair::platform
