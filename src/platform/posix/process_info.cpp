#include "platform/process_info.h"

#include <limits.h>
#include <stdlib.h>

#include <memory>

#include "common/format.h"
#include "common/heap_buffer.h"

namespace repair::platform {

bool GetExecutablePath(char* buffer, std::size_t capacity) {
  if (capacity == 0) return false;
  buffer[0] = '\0';
  std::unique_ptr<char, FreeDeleter> resolved(::realpath("/proc/self/exe", nullptr));
  if (!resolved) return false;
  return CopyBounded(buffer, capacity, resolved.get());
}

}  // namespace repair::platform
