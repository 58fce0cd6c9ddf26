// The file system services the engine's file operations rest on. Paths are narrow strings
// in the system's own form (backslashes on Windows, '/' elsewhere).
#pragma once

#include <cstdint>
#include <string>

namespace repair::platform {

// Whether two names that differ only in letter case name the same file.
#if defined(_WIN32)
constexpr bool kFileNamesIgnoreCase = true;
#else
constexpr bool kFileNamesIgnoreCase = false;
#endif

// True when the path names an existing file or folder.
bool PathExists(const char* path);

// Creates one folder (its parent must exist). True when it was created.
bool CreateFolder(const char* path);

// Deletes one file. A read-only file is made writable first: a damaged file is not less
// damaged for being read-only. True when it was deleted.
bool DeleteFileOnce(const char* path);

// Moves a file; fails while the target exists (never replaces). True when it was moved.
bool MoveFileOnce(const char* source, const char* target);

// Creates or truncates the file and writes all `length` bytes; the file may be shared for
// writing by others. True when the file holds exactly the data.
bool WriteFileBytes(const char* path, const std::uint8_t* data, std::uint32_t length);

// The path of an existing file or folder as the file system resolves it, so that two spellings
// of one file compare equal: on Windows the full path with every short (8.3) name expanded to
// its long form; elsewhere the real path of the folder (its links resolved) joined with the last
// component as it is, since a move over a link replaces the link, not what it points to.
// False when the path does not exist or cannot be resolved.
bool ResolveExistingPath(const char* path, std::string& resolved);

// Pauses the calling thread.
void SleepMs(std::uint32_t milliseconds);

}  // namespace repair::platform
