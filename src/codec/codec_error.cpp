#include "codec/codec_error.h"

#include <mutex>
#include <string>

#include "codec/codec.h"

namespace repair {
namespace {

// Either thread may call the codec, so the text is guarded. Function-local statics avoid any
// order-of-initialisation question for callers that run before main().
std::mutex& ErrorMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string& ErrorText() {
  static std::string text;
  return text;
}

}  // namespace

namespace codec_internal {

void SetLastCodecError(const char* message) noexcept {
  try {
    std::string copy(message != nullptr ? message : "");
    std::lock_guard<std::mutex> lock(ErrorMutex());
    ErrorText().swap(copy);
  } catch (...) {
    // Out of memory or a failed lock: keep the previous text.
  }
}

}  // namespace codec_internal

std::string LastCodecError() {
  try {
    std::lock_guard<std::mutex> lock(ErrorMutex());
    return ErrorText();
  } catch (...) {
    return std::string();  // diagnostic only: an empty text beats an exception
  }
}

}  // namespace repair
