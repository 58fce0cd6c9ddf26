#include "platform/file_io.h"

#include <windows.h>

#include <cstdint>

#include "platform/win32/entry_folder.h"
#include "platform/win32/scoped_handle.h"

namespace repair::platform {
namespace {

HANDLE Handle(NativeFile file) { return reinterpret_cast<HANDLE>(file); }
NativeFile Native(HANDLE handle) { return reinterpret_cast<NativeFile>(handle); }
// INVALID_HANDLE_VALUE, which is also the -1 a reader or writer starts with.
const NativeFile kNoFile = Native(INVALID_HANDLE_VALUE);

void CloseNative(NativeFile& file) {
  ScopedHandle closing(Handle(file));  // kNoFile is no handle to it
  file = kNoFile;
}

// A read-only file cannot be opened for writing or replaced; a damaged file is not less
// damaged for being read-only. Hidden and system attributes stay. A link or folder is left as
// it is (the attribute call would reach a link's target).
void ClearReadOnly(const char* path) {
  DWORD attributes = OwnAttributes(path);
  constexpr DWORD kNotAFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
      !(attributes & kNotAFile)) {
    SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
  }
}

// A file on disk, as itself: not a reparse point (a link), not a folder, not a pipe or device
// (GetFileType), and, when `soleName`, with no other name (a hard link).
bool IsPlainFile(HANDLE file, bool soleName) {
  BY_HANDLE_FILE_INFORMATION info{};
  constexpr DWORD kNotAFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  return GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
         (info.dwFileAttributes & kNotAFile) == 0 && (!soleName || info.nNumberOfLinks == 1);
}

// The part file to continue, opened as itself with the folders held: refused unless it is a
// plain file with one name.
ScopedHandle OpenSoleFile(const char* path) {
  HeldFolders held;
  if (!held.Hold(path)) return ScopedHandle();
  ClearReadOnly(path);
  ScopedHandle file(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file || !IsPlainFile(file.get(), true)) return ScopedHandle();
  return file;
}

}  // namespace

FileReader::~FileReader() { CloseNative(file_); }

ReadStatus FileReader::Open(const char* path, Links links) {
  CloseNative(file_);
  size_ = 0;
  // With the reparse point flag a link is opened as itself, and then refused for being one.
  const DWORD linkFlag = links == Links::kRefused ? FILE_FLAG_OPEN_REPARSE_POINT : 0;
  ScopedHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | linkFlag,
                                nullptr));
  if (!file || !IsPlainFile(file.get(), false)) return ReadStatus::kOpenFailed;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) return ReadStatus::kReadFailed;
  if (size.QuadPart < 0 || static_cast<ULONGLONG>(size.QuadPart) > 0xFFFFFFFFull) {
    return ReadStatus::kNoMemory;
  }
  size_ = static_cast<std::uint32_t>(size.QuadPart);
  file_ = Native(file.Release());
  return ReadStatus::kOk;
}

bool FileReader::Read(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& got) {
  got = 0;
  if (file_ == kNoFile) return false;
  DWORD read = 0;
  if (!ReadFile(Handle(file_), buffer, capacity, &read, nullptr)) return false;
  got = read;
  return true;
}

bool FileReader::SeekTo(std::uint32_t offset) {
  if (file_ == kNoFile) return false;
  LARGE_INTEGER position{};
  position.QuadPart = offset;
  return SetFilePointerEx(Handle(file_), position, nullptr, FILE_BEGIN) != FALSE;
}

FileWriter::~FileWriter() { CloseNative(file_); }

bool FileWriter::Open(const char* path, std::uint32_t keep) {
  CloseNative(file_);
  ScopedHandle file = keep == 0 ? CreateFileAnew(path) : OpenSoleFile(path);
  if (!file) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < static_cast<LONGLONG>(keep)) {
    return false;
  }
  LARGE_INTEGER position{};
  position.QuadPart = keep;
  if (!SetFilePointerEx(file.get(), position, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get())) {
    return false;
  }
  file_ = Native(file.Release());
  return true;
}

bool FileWriter::Write(const std::uint8_t* bytes, std::uint32_t count) {
  if (file_ == kNoFile) return false;
  std::uint32_t written = 0;
  while (written < count) {
    DWORD put = 0;
    if (!WriteFile(Handle(file_), bytes + written, count - written, &put, nullptr) || put == 0) {
      return false;
    }
    written += put;
  }
  return true;
}

bool FileWriter::Close() {
  if (file_ == kNoFile) return false;
  ScopedHandle file(Handle(file_));
  file_ = kNoFile;
  return file.Close();
}

bool RegularFileSize(const char* path, std::uint32_t& size) {
  size = 0;
  // Opened for its attributes only, as itself, sharing everything: nobody else is hindered.
  ScopedHandle file(CreateFileA(path, FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file || !IsPlainFile(file.get(), true) || !GetFileInformationByHandle(file.get(), &info) ||
      info.nFileSizeHigh != 0) {
    return false;
  }
  size = info.nFileSizeLow;
  return true;
}

bool RenameOver(const char* source, const char* target) {
  HeldFolders sourceFolders;
  HeldFolders targetFolders;
  if (!sourceFolders.Hold(source) || !targetFolders.Hold(target)) return false;
  // Replaces the target's name (a link there included, not its target); no
  // MOVEFILE_COPY_ALLOWED, so it fails across volumes rather than copy.
  constexpr DWORD kFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  if (MoveFileExA(source, target, kFlags)) return true;
  ClearReadOnly(target);
  return MoveFileExA(source, target, kFlags) != FALSE;
}

}  // namespace repair::platform
