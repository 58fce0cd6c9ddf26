// Reaching an entry for a change without passing through a link: the folder that holds it,
// opened one folder at a time from the write root (see platform/file_system.h), and the name of
// the entry in it. Every change is then made relative to that descriptor (mkdirat, unlinkat,
// renameat, openat), so that swapping a folder on the way for a link after the walk changes
// nothing: the descriptor stays on the folder that was walked into.
#pragma once

#include <string>

#include "platform/posix/file_descriptor.h"

namespace repair::platform {

struct EntryInFolder {
  FileDescriptor folder;
  std::string name;
};

// False (errno set) when a folder on the way is missing, not a folder, or a link (ELOOP or
// ENOTDIR), or the path names no entry ("", "/", a last component "." or "..", or ".." on the
// way below the root).
bool OpenEntryFolder(const char* path, EntryInFolder& entry);

// Removes whatever is at the entry's name that is not a folder: a file, a link, a FIFO. True
// when the name is free afterwards.
bool RemoveName(const EntryInFolder& entry);

// The owner write bit stands for Windows' read-only attribute: a regular file at the entry
// without it is given it, so that it can be replaced or written as on Windows. The file is
// opened without following a link and without waiting for a FIFO, and changed through that
// descriptor only.
void MakeWritable(const EntryInFolder& entry);

// Puts a new empty file at `path` for writing: the name is freed, then the file created with
// O_EXCL and O_NOFOLLOW, so that what is written can only land in this new file. An invalid
// descriptor when it cannot.
FileDescriptor CreateFileAnew(const char* path);

}  // namespace repair::platform
