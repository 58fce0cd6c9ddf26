#include "platform/win32/entry_folder.h"

#include <string>
#include <utility>

#include "platform/file_system.h"
#include "platform/paths.h"

namespace repair::platform {
namespace {

bool IsDotName(const std::string& name) { return name == "." || name == ".."; }

// A folder opened as itself (never what a reparse point leads to), for as long as the change
// runs: no delete sharing, so that it cannot be renamed or removed while held. Empty when it is
// not a real folder. The attributes are asked of the name as well as of the handle: Wine opens
// what a Unix link to a folder leads to even with FILE_FLAG_OPEN_REPARSE_POINT, and shows the
// link only in the name's attributes.
ScopedHandle OpenRealFolder(const std::string& path) {
  const DWORD named = GetFileAttributesA(path.c_str());
  if (named == INVALID_FILE_ATTRIBUTES || (named & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return ScopedHandle();
  }
  ScopedHandle folder(CreateFileA(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!folder || !GetFileInformationByHandle(folder.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return ScopedHandle();
  }
  return folder;
}

}  // namespace

// What remains unguarded: the entry's own name, between the look at it and the call that acts on
// it. A link put there in that moment is replaced (MoveFileEx, DeleteFileA) or refused
// (CREATE_NEW), never followed into.
bool HeldFolders::Hold(const char* path) {
  folders_.clear();
  // Separators as the system reads the path: in a double-byte code page a 0x5C byte may be the
  // second half of a letter. A folder's own path may end with its separator: what it names is
  // the last component.
  const NameRules rules = HostPathRules();
  const std::string text(path, LengthWithoutTrailingSeparators(path, rules));
  const std::size_t nameStart = LastComponentStart(text, rules);
  if (IsDotName(text.substr(nameStart))) return false;
  if (nameStart == 0) return true;
  const std::string folder = text.substr(0, nameStart);
  // The root itself, and anything outside it, is taken as it is.
  if (!IsBelowWriteRoot(folder.c_str())) return true;
  std::size_t begin = WriteRoot().size();
  while (begin < folder.size()) {
    const std::size_t end = NextSeparator(folder, begin, rules);
    const std::string component = folder.substr(begin, end - begin);
    begin = end + 1;
    if (component.empty()) continue;
    if (IsDotName(component)) return false;
    ScopedHandle held = OpenRealFolder(folder.substr(0, end));
    if (!held) return false;
    folders_.push_back(std::move(held));
  }
  return true;
}

DWORD OwnAttributes(const char* path) { return GetFileAttributesA(path); }

bool FreeName(const char* path, DWORD& kept) {
  kept = 0;
  const DWORD attributes = OwnAttributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  // A junction or folder link goes as a folder does, leaving what it points to; a real folder
  // may hold the player's files and stays. (Wine 8 shows a Unix link to a folder as such a link
  // but removes the empty folder it leads to instead, and keeps the link; Windows removes the
  // link itself.)
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return link && RemoveDirectoryA(path);
  if (!link) {
    kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      const DWORD cleared = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
      SetFileAttributesA(path, cleared != 0 ? cleared : FILE_ATTRIBUTE_NORMAL);
    }
  }
  // DeleteFileA removes a symbolic link itself, not its target.
  return DeleteFileA(path) != FALSE;
}

ScopedHandle CreateFileAnew(const char* path) {
  HeldFolders held;
  DWORD kept = 0;
  if (!held.Hold(path) || !FreeName(path, kept)) return ScopedHandle();
  // The window left: another process may put a new entry at the freed name before the create;
  // CREATE_NEW then fails rather than open what it put there.
  return ScopedHandle(CreateFileA(
      path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_NEW,
      (kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL) | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

}  // namespace repair::platform
