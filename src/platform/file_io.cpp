#include "platform/file_io.h"

#include <utility>

namespace repair::platform {

ReadStatus ReadFileBytes(const char* path, HeapBuffer& out) {
  out.Reset();
  FileReader reader;
  ReadStatus opened = reader.Open(path, FileReader::Links::kFollowed);
  if (opened != ReadStatus::kOk) return opened;
  HeapBuffer buffer;
  if (!buffer.Allocate(reader.size())) return ReadStatus::kNoMemory;
  // One read may deliver less than asked for; keep reading until the whole size is in. A read
  // of nothing before that means the file shrank under us.
  std::uint32_t done = 0;
  while (done < reader.size()) {
    std::uint32_t got = 0;
    if (!reader.Read(buffer.data() + done, reader.size() - done, got) || got == 0) {
      return ReadStatus::kReadFailed;
    }
    done += got;
  }
  out = std::move(buffer);
  return ReadStatus::kOk;
}

}  // namespace repair::platform
