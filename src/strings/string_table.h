// The process-wide table of visible texts and settings, loaded from the sealed string file.
#pragma once

#include <cstddef>
#include <map>
#include <string>

namespace repair {

constexpr std::size_t kStringFieldSize = 256;  // keys 1..255 bytes, values 0..255 bytes

class StringTable {
 public:
  void Clear() { entries_.clear(); }
  // Adds the pair unless the key is present already: the first entry for a key wins.
  void Insert(const std::string& key, const std::string& value) { entries_.emplace(key, value); }
  const std::string* Find(const char* key) const;
  std::size_t size() const { return entries_.size(); }
  const std::map<std::string, std::string>& entries() const { return entries_; }

 private:
  std::map<std::string, std::string> entries_;  // std::string compares bytes as unsigned
};

// The one table of the process; empty until LoadStringTable succeeds.
StringTable& GlobalStringTable();

// Fills `table` from the plaintext of a string file: lines split on any run of CR/LF, ';'
// comments, key=value entries with nothing trimmed, "\n" in values turned into " " + LF.
// The text ends at `length` or at its first NUL. Lines whose key or value is longer than
// 255 bytes are skipped whole: a cut value could silently change a setting such as a URL.
void ParseStringText(const char* text, std::size_t length, StringTable& table);

// Empties the global table, then reads, opens and parses the string file at `path`.
// True when the file was read and opened (the table may still be empty).
bool LoadStringTable(const char* path);

// Looks `key` up in the global table; assigns the value (true) or `defaultText` (false).
bool LookupText(const char* key, std::string& text, const char* defaultText);

// As LookupText, into a caller's buffer of at least 256 bytes. A default longer than 255 bytes
// is cut to fit.
bool LookupTextInto(const char* key, char* buffer, const char* defaultText);

}  // namespace repair
