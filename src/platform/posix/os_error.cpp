#include "platform/os_error.h"

#include <cerrno>
#include <cstring>

namespace repair::platform {

int LastOsError() { return errno; }

std::string OsErrorText(int error) {
  char buffer[256] = {};
  // The GNU form returns the text, which may or may not be in the buffer.
  const char* text = ::strerror_r(error, buffer, sizeof buffer);
  if (text == nullptr || *text == '\0') return "error " + std::to_string(error);
  return text;
}

}  // namespace repair::platform
