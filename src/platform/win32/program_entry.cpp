#include "platform/win32/program_entry.h"

#include <windows.h>

namespace repair::platform {

const char* ArgumentTextOf(const char* commandLine) {
  if (commandLine == nullptr) return "";
  // Unsigned: a letter such as 0xE9 in an unquoted program path must not end the name and
  // leave the rest of the path among the arguments.
  const auto* at = reinterpret_cast<const unsigned char*>(commandLine);
  bool quoted = false;
  while (*at > ' ' || (*at != '\0' && quoted)) {
    if (*at == '"') quoted = !quoted;
    ++at;
  }
  while (*at != '\0' && *at <= ' ') ++at;
  return reinterpret_cast<const char*>(at);
}

const char* ArgumentText() { return ArgumentTextOf(GetCommandLineA()); }

void ExitProgram(int code) { ExitProcess(static_cast<UINT>(code)); }

}  // namespace repair::platform
