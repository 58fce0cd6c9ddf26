// The operating system's own error numbers, kept with a failure so that a player's support can
// tell an access refused from a full disk: errno on Linux, GetLastError() on Windows.
#pragma once

#include <string>

namespace repair::platform {

// The calling thread's last error number (errno / GetLastError()); read it right after the call
// that failed, before anything else can change it.
int LastOsError();

// The system's text for an error number, on one line, without a trailing period or line break;
// "error N" when the system has none.
std::string OsErrorText(int error);

}  // namespace repair::platform
