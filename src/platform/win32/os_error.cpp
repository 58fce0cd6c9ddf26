#include "platform/os_error.h"

#include <windows.h>

namespace repair::platform {

int LastOsError() { return static_cast<int>(GetLastError()); }

std::string OsErrorText(int error) {
  char buffer[512] = {};
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(error), 0, buffer, sizeof buffer, nullptr);
  std::string text(buffer, length);
  // The system's texts end with a period and a line break; the detail line has its own ending.
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' ||
                           text.back() == '.')) {
    text.pop_back();
  }
  if (text.empty()) return "error " + std::to_string(error);
  return text;
}

}  // namespace repair::platform
