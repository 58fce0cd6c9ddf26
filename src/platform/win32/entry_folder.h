// Reaching an entry for a change without passing through a reparse point (a symbolic link, a
// junction, a mount point): every folder from below the write root (see
// platform/file_system.h) down to the one that holds the entry is opened with
// FILE_FLAG_OPEN_REPARSE_POINT, refused when it is a reparse point, and held open without
// delete sharing while the change is made, so that none of them can be renamed, removed or
// swapped for a link in the meantime.
#pragma once

#include <windows.h>

#include <vector>

#include "platform/win32/scoped_handle.h"

namespace repair::platform {

class HeldFolders {
 public:
  // False when a folder on the way is missing, not a folder, a reparse point, or "." or "..".
  // A path not below the write root holds nothing: its folder is taken as it is.
  bool Hold(const char* path);

 private:
  std::vector<ScopedHandle> folders_;
};

// The attributes of the entry at `path` itself (a link's own, never its target's), or
// INVALID_FILE_ATTRIBUTES.
DWORD OwnAttributes(const char* path);

// Frees the name `path` of whatever is there that is not a real folder: a file (read-only or
// not), a symbolic link, or a junction or folder link (removed as a folder, without what it
// points to). The folders are held by the caller. True when the name is free afterwards;
// `kept` receives the hidden and system attributes of a file that was there.
bool FreeName(const char* path, DWORD& kept);

// Puts a new empty file at `path` for writing (CREATE_NEW, FILE_FLAG_OPEN_REPARSE_POINT) after
// freeing the name, with the folders held; write sharing as before. Empty when it cannot.
ScopedHandle CreateFileAnew(const char* path);

}  // namespace repair::platform
