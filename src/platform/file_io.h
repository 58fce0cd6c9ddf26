// Reading and writing files through the operating system's own file calls: whole small files,
// and large ones piece by piece, so that no client file is ever held whole in memory.
#pragma once

#include <cstdint>

#include "common/heap_buffer.h"

namespace repair::platform {

enum class ReadStatus {
  kOk,
  kOpenFailed,  // missing, a folder, no permission, or any other reason it cannot be opened
  kNoMemory,    // the file is larger than a buffer this process can obtain (or than 32 bits)
  kReadFailed,  // opened, but the read did not deliver the whole file
};

// Reads the whole file at `path` into `out` (allocated here, released by the caller).
// Opens for reading with read sharing; on anything but kOk, `out` is left empty. For small
// files only (the version file, the string file); a link at `path` is followed.
ReadStatus ReadFileBytes(const char* path, HeapBuffer& out);

// The native handle behind a reader or writer: a file descriptor, or a Win32 HANDLE.
using NativeFile = std::intptr_t;

// A regular file opened for reading from its start, with read sharing, the system told that
// it will be read once from start to end.
class FileReader {
 public:
  FileReader() = default;
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // What the last component of the path may be.
  enum class Links { kRefused, kFollowed };
  // kOk, kOpenFailed (missing, a folder, no permission, anything but a regular file - a FIFO,
  // socket or device is looked at without waiting for it - or, with Links::kRefused, a link)
  // or kNoMemory (4 GiB or more: no 32-bit size describes it).
  ReadStatus Open(const char* path, Links links = Links::kRefused);
  std::uint32_t size() const { return size_; }
  // Reads up to `capacity` bytes at the current position; `got` 0 means the end. False when
  // the read failed.
  bool Read(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& got);
  // Moves the read position to `offset` bytes from the start. False when the file is not open
  // or the system refused.
  bool SeekTo(std::uint32_t offset);

 private:
  NativeFile file_ = -1;
  std::uint32_t size_ = 0;
};

// A file opened for writing at its end, never through a link.
class FileWriter {
 public:
  FileWriter() = default;
  ~FileWriter();
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // With `keep` 0, puts a new empty file at `path` as WriteFileBytes does (whatever had the
  // name is removed first). Otherwise opens the file at `path`, which must be a regular file
  // with no other name (not a link, not a hard link), made writable when read-only, keeps its
  // first `keep` bytes, drops the rest, and positions at the end. False when it cannot be
  // opened or cut, is anything else, or is shorter than `keep`.
  bool Open(const char* path, std::uint32_t keep);
  // Writes all `count` bytes. False when the disk refused any of them.
  bool Write(const std::uint8_t* bytes, std::uint32_t count);
  // Closes the file. False when the close failed (a late write error shows up here). Nothing
  // is forced onto the disk: whatever the tool writes is checked by its digest before it is
  // trusted, so bytes a power loss took are found and fetched again.
  bool Close();

 private:
  NativeFile file_ = -1;
};

// The length of the regular file at `path` itself; false when there is none, when it is a link
// or has another name (a hard link), or is 4 GiB or more.
bool RegularFileSize(const char* path, std::uint32_t& size);

// Renames `source` to `target` in one step on one volume (never a copy), replacing an existing
// `target` (read-only or not; a link is replaced, not its target). False when nothing was
// renamed.
bool RenameOver(const char* source, const char* target);

}  // namespace repair::platform
