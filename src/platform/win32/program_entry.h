// What the entry point takes from the system and gives back to it: the raw argument text,
// which the tool's own quoting rules split, and the end of the process.
#pragma once

namespace repair::platform {

// The process's command line without the program's name: what follows the first token
// (a token is quoted where a double quote opens it, so a quoted name may hold spaces), with
// the blanks and control characters after it skipped. Never null.
const char* ArgumentText();

// The same for a given command line (null gives the empty text). Bytes from 0x80 up are
// letters of the ANSI code page, never separators.
const char* ArgumentTextOf(const char* commandLine);

// Ends the process with `code` at once: other threads stop where they are, no static
// destructor runs and no stack unwinds.
[[noreturn]] void ExitProgram(int code);

}  // namespace repair::platform
