#include "common/format.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace repair {
namespace {

bool FormatInto(char* buffer, std::size_t capacity, const char* format, va_list args) {
  int written = std::vsnprintf(buffer, capacity, format, args);
  if (written < 0 || static_cast<std::size_t>(written) >= capacity) {
    buffer[0] = '\0';
    return false;
  }
  return true;
}

}  // namespace

void ReplaceAll(std::string& text, const std::string& token, const std::string& replacement) {
  if (token.empty()) return;
  std::string::size_type position = text.find(token);
  while (position != std::string::npos) {
    text.replace(position, token.size(), replacement);
    position = text.find(token, position + replacement.size());
  }
}

bool FormatPath(char* buffer, const char* format, ...) {
  va_list args;
  va_start(args, format);
  bool fits = FormatInto(buffer, kPathBufferSize, format, args);
  va_end(args);
  return fits;
}

bool FormatText(char* buffer, const char* format, ...) {
  va_list args;
  va_start(args, format);
  bool fits = FormatInto(buffer, kTextBufferSize, format, args);
  va_end(args);
  return fits;
}

bool CopyBounded(char* buffer, std::size_t capacity, const char* source) {
  if (capacity == 0) return false;
  std::size_t length = std::strlen(source);
  if (length >= capacity) {
    buffer[0] = '\0';
    return false;
  }
  std::memcpy(buffer, source, length + 1);
  return true;
}

}  // namespace repair
