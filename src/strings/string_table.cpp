#include "strings/string_table.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#include "codec/builtin_key.h"
#include "codec/codec.h"
#include "common/heap_buffer.h"
#include "platform/file_io.h"

namespace repair {
namespace {

// Room the decryption gets beyond the file's size; the plaintext is always shorter than the file.
constexpr std::size_t kPlaintextSlack = 1024;

constexpr std::size_t kFieldMax = kStringFieldSize - 1;

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

// Turns every backslash + 'n' into a space + line feed, left to right. The replaced pair is
// not looked at again, so "\\n" becomes a backslash, a space and a line feed.
void ApplyEscapes(std::string& value) {
  for (std::size_t i = 0; i + 1 < value.size(); ++i) {
    if (value[i] == '\\' && value[i + 1] == 'n') {
      value[i] = ' ';
      value[i + 1] = '\n';
      ++i;
    }
  }
}

void ParseLine(const char* line, std::size_t length, StringTable& table) {
  if (length == 0 || line[0] == ';') return;
  const void* found = std::memchr(line, '=', length);
  if (found == nullptr) return;
  std::size_t keyLength = static_cast<std::size_t>(static_cast<const char*>(found) - line);
  std::size_t valueLength = length - keyLength - 1;
  if (keyLength == 0) return;
  // Cutting a field would make a different key or value than the file holds; such a line
  // is left out instead.
  if (keyLength > kFieldMax || valueLength > kFieldMax) return;

  std::string value(line + keyLength + 1, valueLength);
  ApplyEscapes(value);
  table.Insert(std::string(line, keyLength), value);
}

// Copies at most 255 bytes of `source` and a terminator into a buffer of 256 bytes.
void CopyIntoField(char* buffer, const char* source, std::size_t length) {
  if (length > kFieldMax) length = kFieldMax;
  std::memcpy(buffer, source, length);
  buffer[length] = '\0';
}

}  // namespace

const std::string* StringTable::Find(const char* key) const {
  if (key == nullptr) return nullptr;
  auto it = entries_.find(key);
  return it == entries_.end() ? nullptr : &it->second;
}

StringTable& GlobalStringTable() {
  static StringTable table;
  return table;
}

void ParseStringText(const char* text, std::size_t length, StringTable& table) {
  if (text == nullptr) return;
  const void* nul = std::memchr(text, '\0', length);
  if (nul != nullptr) length = static_cast<std::size_t>(static_cast<const char*>(nul) - text);

  std::size_t pos = 0;
  while (pos < length) {
    while (pos < length && IsLineBreak(text[pos])) ++pos;
    std::size_t start = pos;
    while (pos < length && !IsLineBreak(text[pos])) ++pos;
    ParseLine(text + start, pos - start, table);
  }
}

bool LoadStringTable(const char* path) {
  StringTable& table = GlobalStringTable();
  table.Clear();
  if (path == nullptr) return false;

  HeapBuffer sealed;
  if (platform::ReadFileBytes(path, sealed) != platform::ReadStatus::kOk) return false;
  // The codec takes 32-bit lengths; an empty file is no sealed blob.
  if (sealed.empty() ||
      sealed.size() > std::numeric_limits<std::uint32_t>::max() - kPlaintextSlack) {
    return false;
  }

  HeapBuffer plaintext;
  if (!plaintext.Allocate(sealed.size() + kPlaintextSlack)) return false;
  std::uint32_t plaintextLength = 0;
  int result =
      DecryptSealed(BuiltinKey(), BuiltinKeyLength(), sealed.data(),
                    static_cast<std::uint32_t>(sealed.size()), plaintext.data(), &plaintextLength);
  if (result != kCodecOk || plaintextLength >= plaintext.size()) return false;
  sealed.Reset();
  plaintext.data()[plaintextLength] = 0;

  try {
    ParseStringText(reinterpret_cast<const char*>(plaintext.data()), plaintextLength, table);
  } catch (const std::bad_alloc&) {
    table.Clear();
    return false;
  }
  return true;
}

bool LookupText(const char* key, std::string& text, const char* defaultText) {
  const std::string* value = GlobalStringTable().Find(key);
  if (value != nullptr) {
    text = *value;
    return true;
  }
  text = defaultText != nullptr ? defaultText : "";
  return false;
}

bool LookupTextInto(const char* key, char* buffer, const char* defaultText) {
  if (buffer == nullptr) return false;
  // Values read from a file never exceed 255 bytes; anything longer that reached the table
  // another way is cut like an over-long default.
  const std::string* value = GlobalStringTable().Find(key);
  if (value != nullptr) {
    CopyIntoField(buffer, value->c_str(), value->size());
    return true;
  }
  if (defaultText == nullptr) defaultText = "";
  CopyIntoField(buffer, defaultText, std::strlen(defaultText));
  return false;
}

}  // namespace repair
