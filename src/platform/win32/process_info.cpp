#include "platform/process_info.h"

#include <windows.h>

#include "common/format.h"

namespace repair::platform {

bool GetExecutablePath(char* buffer, std::size_t capacity) {
  if (capacity == 0) return false;
  buffer[0] = '\0';
  char path[MAX_PATH + 1] = {};
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  // A result of MAX_PATH means the path was cut to fit.
  if (length == 0 || length >= MAX_PATH) return false;
  return CopyBounded(buffer, capacity, path);
}

}  // namespace repair::platform
