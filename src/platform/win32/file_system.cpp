#include "platform/file_system.h"

#include <io.h>
#include <windows.h>

#include <cstring>

#include "platform/win32/scoped_handle.h"

namespace repair::platform {
namespace {

bool IsSlash(char c) { return c == '\\' || c == '/'; }

// Clears the read-only attribute of an existing file, keeping its other attributes.
void ClearReadOnly(const char* path, DWORD attributes) {
  DWORD cleared = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  SetFileAttributesA(path, cleared != 0 ? cleared : FILE_ATTRIBUTE_NORMAL);
}

}  // namespace

bool PathExists(const char* path) {
  // FindFirstFileA refuses a name that ends with a separator, which is how the folder walk
  // names folders: search for the name without it, and then accept only a folder.
  char name[MAX_PATH];
  std::size_t length = std::strlen(path);
  if (length >= sizeof name) return false;
  std::memcpy(name, path, length + 1);
  bool folderOnly = false;
  while (length > 0 && IsSlash(name[length - 1])) {
    name[--length] = '\0';
    folderOnly = true;
  }
  // A drive root ("C:\", "\") has no directory entry to find; the run-time's test knows it.
  if (length == 0 || (length == 2 && name[1] == ':')) return _access(path, 0) == 0;
  WIN32_FIND_DATAA found;
  ScopedFindHandle search(FindFirstFileA(name, &found));
  if (!search) return false;
  return !folderOnly || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreateFolder(const char* path) { return CreateDirectoryA(path, nullptr) != FALSE; }

bool DeleteFileOnce(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    ClearReadOnly(path, attributes);
  }
  return DeleteFileA(path) != FALSE;
}

bool MoveFileOnce(const char* source, const char* target) {
  // MoveFileA (not MoveFileExA with MOVEFILE_REPLACE_EXISTING) fails while the target exists.
  return MoveFileA(source, target) != FALSE;
}

bool WriteFileBytes(const char* path, const std::uint8_t* data, std::uint32_t length) {
  DWORD createAttributes = FILE_ATTRIBUTE_NORMAL;
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    // CREATE_ALWAYS is refused on a read-only file, and on a hidden or system one unless those
    // attributes are asked for again.
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) ClearReadOnly(path, attributes);
    DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    if (kept != 0) createAttributes = kept;
  }
  ScopedHandle file(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                createAttributes, nullptr));
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
