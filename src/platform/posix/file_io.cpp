#include "platform/file_io.h"

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

ReadStatus FileReader::Open(const char* path) {
  CloseNative(file_);
  size_ = 0;
  FileDescriptor file(::open(path, O_RDONLY | O_CLOEXEC));
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

FileWriter::~FileWriter() { CloseNative(file_); }

bool FileWriter::Open(const char* path, std::uint32_t keep) {
  CloseNative(file_);
  struct stat info {};
  // Windows' read-only attribute, as the owner write bit: cleared, as a delete would.
  if (::lstat(path, &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & S_IWUSR) == 0) {
    ::chmod(path, (info.st_mode & 07777) | S_IWUSR);
  }
  FileDescriptor file(::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
  if (file.get() < 0) return false;
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<std::uint64_t>(info.st_size) < keep) {
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
  if (::stat(path, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0 ||
      static_cast<std::uint64_t>(info.st_size) > UINT32_MAX) {
    return false;
  }
  size = static_cast<std::uint32_t>(info.st_size);
  return true;
}

bool RenameOver(const char* source, const char* target) { return std::rename(source, target) == 0; }

}  // namespace repair::platform
