#include "platform/file_io.h"

#include "platform/win32/file_handle.h"

#include <windows.h>

#include <cstdint>

namespace repair::platform {

ReadStatus ReadFileBytes(const char* path, HeapBuffer& out) {
  out.Reset();
  FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return ReadStatus::kOpenFailed;
  DWORD sizeHigh = 0;
  DWORD size = GetFileSize(file.get(), &sizeHigh);
  if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return ReadStatus::kReadFailed;
  if (sizeHigh != 0) return ReadStatus::kNoMemory;  // over 4 GiB: no 32-bit buffer holds it
  HeapBuffer buffer;
  if (!buffer.Allocate(size)) return ReadStatus::kNoMemory;
  // One ReadFile may deliver less than asked for; keep reading until the whole size is in.
  DWORD done = 0;
  while (done < size) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer.data() + done, size - done, &got, nullptr) || got == 0) {
      return ReadStatus::kReadFailed;
    }
    done += got;
  }
  out = std::move(buffer);
  return ReadStatus::kOk;
}

}  // namespace repair::platform
