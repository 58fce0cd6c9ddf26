#include "platform/file_io.h"

#include "platform/posix/entry_folder.h"
#include "platform/posix/file_descriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace repair::platform {
namespace {

int Fd(NativeFile file) { return static_cast<int>(file); }

// The portable header keeps the descriptor as a number; closing goes through its holder.
void CloseNative(NativeFile& file) {
  FileDescriptor closing(Fd(file));
  file = -1;
}

}  // namespace

FileReader::~FileReader() { CloseNative(file_); }

ReadStatus FileReader::Open(const char* path, Links links) {
  CloseNative(file_);
  size_ = 0;
  // O_NONBLOCK: a FIFO opens at once instead of waiting for a writer, and is then refused by
  // its type like any other entry that is not a regular file. For a regular file the flag
  // changes nothing.
  const int noFollow = links == Links::kRefused ? O_NOFOLLOW : 0;
  FileDescriptor file(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | noFollow));
  if (file.get() < 0) return ReadStatus::kOpenFailed;
  struct stat info {};
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return ReadStatus::kOpenFailed;
  if (info.st_size < 0 || static_cast<std::uint64_t>(info.st_size) > UINT32_MAX) {
    return ReadStatus::kNoMemory;
  }
  // The file is read once from start to end: read ahead in large steps.
  ::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  size_ = static_cast<std::uint32_t>(info.st_size);
  file_ = file.Release();
  return ReadStatus::kOk;
}

bool FileReader::Read(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& got) {
  got = 0;
  if (file_ < 0) return false;
  for (;;) {
    ssize_t n = ::read(Fd(file_), buffer, capacity);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    got = static_cast<std::uint32_t>(n);
    return true;
  }
}

bool FileReader::SeekTo(std::uint32_t offset) {
  return file_ >= 0 &&
         ::lseek(Fd(file_), static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

FileWriter::~FileWriter() { CloseNative(file_); }

namespace {

// The part file to continue: a regular file with no other name, reached without a link, made
// writable when read-only (as Windows' read-only attribute would be cleared).
FileDescriptor OpenSoleFile(const char* path) {
  EntryInFolder entry;
  if (!OpenEntryFolder(path, entry)) return FileDescriptor();
  constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  FileDescriptor file(::openat(entry.folder.get(), entry.name.c_str(), O_WRONLY | kFlags));
  if (!file.valid() && errno == EACCES) {
    MakeWritable(entry);
    file.Reset(::openat(entry.folder.get(), entry.name.c_str(), O_WRONLY | kFlags));
  }
  struct stat info {};
  if (!file.valid() || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      info.st_nlink != 1) {
    return FileDescriptor();
  }
  return file;
}

}  // namespace

bool FileWriter::Open(const char* path, std::uint32_t keep) {
  CloseNative(file_);
  FileDescriptor file = keep == 0 ? CreateFileAnew(path) : OpenSoleFile(path);
  if (!file.valid()) return false;
  struct stat info {};
  if (::fstat(file.get(), &info) != 0 || static_cast<std::uint64_t>(info.st_size) < keep) {
    return false;
  }
  if (::ftruncate(file.get(), static_cast<off_t>(keep)) != 0 ||
      ::lseek(file.get(), static_cast<off_t>(keep), SEEK_SET) < 0) {
    return false;
  }
  file_ = file.Release();
  return true;
}

bool FileWriter::Write(const std::uint8_t* bytes, std::uint32_t count) {
  if (file_ < 0) return false;
  std::uint32_t written = 0;
  while (written < count) {
    ssize_t put = ::write(Fd(file_), bytes + written, count - written);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    written += static_cast<std::uint32_t>(put);
  }
  return true;
}

bool FileWriter::Close() {
  if (file_ < 0) return false;
  FileDescriptor file(Fd(file_));
  file_ = -1;
  return file.Close();
}

bool RegularFileSize(const char* path, std::uint32_t& size) {
  size = 0;
  struct stat info {};
  // lstat: a link is not the file; a second name means the bytes are shared with a name the
  // tool does not own.
  if (::lstat(path, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1 ||
      info.st_size < 0 || static_cast<std::uint64_t>(info.st_size) > UINT32_MAX) {
    return false;
  }
  size = static_cast<std::uint32_t>(info.st_size);
  return true;
}

bool RenameOver(const char* source, const char* target) {
  EntryInFolder from;
  EntryInFolder to;
  // renameat replaces the target's name (a link at it included) and never copies: across
  // volumes it fails with EXDEV.
  return OpenEntryFolder(source, from) && OpenEntryFolder(target, to) &&
         ::renameat(from.folder.get(), from.name.c_str(), to.folder.get(), to.name.c_str()) == 0;
}

}  // namespace repair::platform
