#include "platform/file_system.h"

#include <io.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "platform/paths.h"
#include "platform/win32/entry_folder.h"
#include "platform/win32/scoped_handle.h"

namespace repair::platform {

bool PathExists(const char* path) {
  // FindFirstFileA refuses a name that ends with a separator, which is how the folder walk
  // names folders: search for the name without it, and then accept only a folder.
  char name[MAX_PATH];
  const std::size_t fullLength = std::strlen(path);
  if (fullLength >= sizeof name) return false;
  const std::size_t length = LengthWithoutTrailingSeparators(path, HostPathRules());
  std::memcpy(name, path, length);
  name[length] = '\0';
  const bool folderOnly = length < fullLength;
  // A drive root ("C:\", "\") has no directory entry to find; the run-time's test knows it.
  if (length == 0 || (length == 2 && name[1] == ':')) return _access(path, 0) == 0;
  WIN32_FIND_DATAA found;
  ScopedFindHandle search(FindFirstFileA(name, &found));
  if (!search) return false;
  return !folderOnly || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

EntryKind LookAtEntry(const char* path) {
  std::string name = path;
  std::size_t length = LengthWithoutTrailingSeparators(name, HostPathRules());
  // A root ("\") and a drive's root ("C:\") keep one separator: without it, "C:" names the
  // drive's current folder.
  if (length < name.size() && (length == 0 || name[length - 1] == ':')) ++length;
  name.resize(length);
  const DWORD attributes = OwnAttributes(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::kNone;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return EntryKind::kLink;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return EntryKind::kFolder;
  return (attributes & FILE_ATTRIBUTE_DEVICE) != 0 ? EntryKind::kOther : EntryKind::kFile;
}

bool CreateFolder(const char* path) {
  HeldFolders held;
  return held.Hold(path) && CreateDirectoryA(path, nullptr) != FALSE;
}

bool DeleteFileOnce(const char* path) {
  HeldFolders held;
  if (!held.Hold(path)) return false;
  const DWORD attributes = OwnAttributes(path);
  // A real folder is no file to delete; a junction or folder link at a file's name is removed
  // as the link it is.
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    SetLastError(ERROR_ACCESS_DENIED);  // what DeleteFileA says of a folder
    return false;
  }
  DWORD kept = 0;
  return FreeName(path, kept) && attributes != INVALID_FILE_ATTRIBUTES;
}

bool MoveFileOnce(const char* source, const char* target) {
  HeldFolders sourceFolders;
  HeldFolders targetFolders;
  if (!sourceFolders.Hold(source) || !targetFolders.Hold(target)) return false;
  // Without MOVEFILE_REPLACE_EXISTING it fails while the target exists; without
  // MOVEFILE_COPY_ALLOWED it fails across volumes instead of copying (MoveFileA would copy).
  return MoveFileExA(source, target, MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool WriteFileBytes(const char* path, const std::uint8_t* data, std::uint32_t length) {
  ScopedHandle file = CreateFileAnew(path);
  if (!file) return false;
  // One WriteFile may take less than offered; keep writing until all of it is in.
  std::uint32_t written = 0;
  while (written < length) {
    DWORD put = 0;
    if (!WriteFile(file.get(), data + written, length - written, &put, nullptr) || put == 0) {
      return false;
    }
    written += put;
  }
  return file.Close();
}

bool ResolveExistingPath(const char* path, std::string& resolved) {
  char full[MAX_PATH];
  DWORD length = GetFullPathNameA(path, sizeof full, full, nullptr);
  if (length == 0 || length >= sizeof full) return false;
  // Expands every short name; fails when any component does not exist.
  char expanded[MAX_PATH];
  length = GetLongPathNameA(full, expanded, sizeof expanded);
  if (length == 0 || length >= sizeof expanded) return false;
  resolved = expanded;
  return true;
}

void SleepMs(std::uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace repair::platform
