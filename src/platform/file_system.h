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

// The folder every write of a run stays in: the program's own folder, taken as it is (links on
// the way to it are the installation's business). Below it, each operation that changes the
// file system (CreateFolder, DeleteFileOnce, MoveFileOnce, WriteFileBytes, and FileWriter and
// RenameOver in file_io.h) reaches the folder that holds its entry one folder at a time from the
// root and fails when a folder on the way is a link, a junction or a mount point; the entry
// itself is never followed when it is a link. A path not below the root (or any path while no
// root is set) is reached from its own folder, taken as it is. `folder` ends with a separator
// or gets one; "" clears the root.
void SetWriteRoot(const char* folder);
// The current root ("" for none).
std::string WriteRoot();
// True when `path` names something below the root (not the root itself).
bool IsBelowWriteRoot(const char* path);

// Sets the write root for as long as it lives, then clears it.
class ScopedWriteRoot {
 public:
  explicit ScopedWriteRoot(const char* folder) { SetWriteRoot(folder); }
  ~ScopedWriteRoot() { SetWriteRoot(""); }
  ScopedWriteRoot(const ScopedWriteRoot&) = delete;
  ScopedWriteRoot& operator=(const ScopedWriteRoot&) = delete;
};

// True when the path names an existing file or folder.
bool PathExists(const char* path);

// What a name is, looked at without following it when it is a link. A trailing separator is
// ignored.
enum class EntryKind {
  kNone,    // nothing there, or it cannot be looked at
  kFile,    // a regular file
  kFolder,  // a real folder
  kLink,    // a symbolic link, a junction, a mount point or any other reparse point
  kOther,   // a FIFO, a socket, a device
};
EntryKind LookAtEntry(const char* path);

// Creates one folder (its parent must exist). True when it was created.
bool CreateFolder(const char* path);

// Deletes one entry that is not a folder: a file, or a link itself (never its target). A
// read-only file is made writable first: a damaged file is not less damaged for being read-only.
// True when it was deleted.
bool DeleteFileOnce(const char* path);

// Moves a file within its volume (never a copy to another one); fails while the target exists
// (never replaces). True when it was moved.
bool MoveFileOnce(const char* source, const char* target);

// Puts a new file at `path` holding exactly `length` bytes: whatever had the name before (a
// file, read-only or not, a link, another name of a shared file) is removed as a name, and the
// file is created anew, never written through a link or into a file found there. Hidden and
// system attributes of a file that was there stay; the new file may be shared for writing by
// others. True when the file holds exactly the data.
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
