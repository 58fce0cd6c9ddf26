// Splitting a local path into drive, folder, base name and extension, as the C run-time's
// splitter does, with bounded fields.
#pragma once

#include "platform/name_key.h"

namespace repair::platform {

#if defined(_WIN32)
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// Field sizes of the C run-time's path splitter.
struct PathParts {
  char drive[3];     // "C:" on Windows; always empty elsewhere
  char folder[256];  // with its trailing separator, e.g. "\Games\Client\"
  char name[256];    // base name without extension
  char ext[256];     // extension with its dot, or empty
};

// Splits `path`. On Windows both slash kinds separate folders; on Linux only '/', since a
// backslash is an ordinary file name character there. Returns false (all fields empty) when a
// part does not fit its field.
bool SplitPath(const char* path, PathParts& parts);

// SplitPath with the rules of either system, so that both can be tested on one: Windows rules
// take a drive ("C:") and both slash kinds; the others take only '/' and keep a leading dot in
// the name. Names are read in `codePage`, where a double-byte character's second byte is never
// a separator (SplitPath uses the system's ANSI code page).
bool SplitPathWithRules(const char* path, PathParts& parts, bool windowsRules,
                        CodePage codePage = kBytesOnly);

}  // namespace repair::platform
