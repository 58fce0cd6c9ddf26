// Reading whole files through the operating system's own file calls.
#pragma once

#include "common/heap_buffer.h"

namespace repair::platform {

enum class ReadStatus {
  kOk,
  kOpenFailed,  // missing, a folder, no permission, or any other reason it cannot be opened
  kNoMemory,    // the file is larger than a buffer this process can obtain
  kReadFailed,  // opened, but the read did not deliver the whole file
};

// Reads the whole file at `path` into `out` (allocated here, released by the caller).
// Opens for reading with read sharing; on anything but kOk, `out` is left empty.
ReadStatus ReadFileBytes(const char* path, HeapBuffer& out);

}  // namespace repair::platform
