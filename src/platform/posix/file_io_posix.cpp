#include "platform/file_io.h"

#include "platform/posix/file_descriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace repair::platform {

ReadStatus ReadFileBytes(const char* path, HeapBuffer& out) {
  out.Reset();
  FileDescriptor file(::open(path, O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return ReadStatus::kOpenFailed;
  struct stat info {};
  // A folder opens for reading on Linux but is no file: treat it as one that cannot be opened.
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return ReadStatus::kOpenFailed;
  // File sizes are 32-bit throughout the system, as on the Windows side.
  if (info.st_size < 0 || static_cast<std::uint64_t>(info.st_size) > UINT32_MAX) {
    return ReadStatus::kNoMemory;
  }
  std::size_t size = static_cast<std::size_t>(info.st_size);
  HeapBuffer buffer;
  if (!buffer.Allocate(size)) return ReadStatus::kNoMemory;
  std::size_t done = 0;
  while (done < size) {
    ssize_t got = ::read(file.get(), buffer.data() + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return ReadStatus::kReadFailed;  // an error, or the file shrank under us
    done += static_cast<std::size_t>(got);
  }
  out = std::move(buffer);
  return ReadStatus::kOk;
}

}  // namespace repair::platform
