#include "publish/string_file.h"

#include <algorithm>
#include <cstddef>

namespace repair::publish {
namespace {

constexpr std::size_t kFieldMax = kStringFieldSize - 1;
constexpr std::size_t kNearestMaxDistance = 2;
constexpr std::size_t kCommentWidth = 96;

constexpr char kTemplateHeader[] =
    "; String file of the repair tool: every key the tool reads, with its built-in text.\n"
    "; One KEY=value a line; a line that begins with \";\" is a comment. Nothing around \"=\"\n"
    "; is trimmed, and the tool skips a line whose key or value is over 255 bytes.\n"
    "; \"\\n\" in a value starts a new line; the tool puts a space before the line break.\n"
    "; The tool shows the bytes as they are: on Windows, in the system's ANSI code page.\n"
    "; A key that is left out keeps its built-in text. Seal the file for the tool with\n"
    ";   repair-publish strings THIS_FILE repair.dat\n";

// The value the tool reads from the line KEY=encoded, or false when it skips the line.
bool ReadBack(const std::string& encoded, std::string& value) {
  const std::string line = "K=" + encoded;
  StringTable table;
  ParseStringText(line.data(), line.size(), table);
  const std::string* found = table.Find("K");
  if (found == nullptr) return false;
  value = *found;
  return true;
}

std::string WhyInexact(const std::string& text, const std::string& encoded) {
  if (encoded.size() > kFieldMax) return "it is over 255 bytes, and the tool skips such a line";
  if (text.find_first_of(std::string("\r\0", 2)) != std::string::npos) {
    return "a CR or NUL byte cannot stand in a value";
  }
  if (text.find("\\n") != std::string::npos) {
    return "a backslash followed by n is read as a line break";
  }
  return "a line feed in it has no space before it, and \\n always gives one";
}

// A value as the listing shows it: a line feed as "\n", everything else as it is.
std::string Shown(const std::string& value) {
  std::string shown;
  for (char c : value) {
    if (c == '\n') {
      shown += "\\n";
    } else {
      shown += c;
    }
  }
  return shown;
}

// Upper case, without the spaces and tabs around it.
std::string Folded(const std::string& key) {
  const std::size_t first = key.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  const std::size_t last = key.find_last_not_of(" \t");
  std::string folded = key.substr(first, last - first + 1);
  for (char& c : folded) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return folded;
}

// Edits (insert, delete, replace one byte) from a to b; any count above `limit` as limit + 1.
std::size_t EditDistance(const std::string& a, const std::string& b, std::size_t limit) {
  const std::size_t gap = a.size() > b.size() ? a.size() - b.size() : b.size() - a.size();
  if (gap > limit) return limit + 1;
  std::vector<std::size_t> previous(b.size() + 1);
  std::vector<std::size_t> current(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) previous[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    current[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t replace = previous[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, replace});
    }
    previous.swap(current);
  }
  return std::min(previous[b.size()], limit + 1);
}

// " (did you mean KEY?)" for the catalogue key nearest to `key`, or nothing.
std::string NearestHint(const std::string& key) {
  const StringKey* nearest = NearestStringKey(key);
  return nearest != nullptr ? std::string(" (did you mean ") + nearest->key + "?)" : "";
}

// `text` as "; " comment lines of at most kCommentWidth bytes where its words allow.
void AppendComment(const std::string& text, std::string& out) {
  std::string line = ";";
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find(' ', pos);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(pos, end - pos);
    if (line.size() > 1 && line.size() + 1 + word.size() > kCommentWidth) {
      out += line + "\n";
      line = ";";
    }
    line += " " + word;
    pos = end + 1;
  }
  out += line + "\n";
}

void AppendTemplateEntry(const StringKey& entry, std::string& out,
                         std::vector<std::string>& notes) {
  const std::string use = StringUseName(entry.use);
  out += "\n";
  AppendComment(use + ": " + entry.where, out);
  if (entry.otherWhere != nullptr) {
    AppendComment(use + ": " + entry.otherWhere + "; there the built-in text is \"" +
                      entry.otherDefault + "\"",
                  out);
  }
  std::string value;
  std::string why;
  if (!EncodeStringValue(entry.defaultText, value, &why)) {
    notes.push_back(std::string(entry.key) + ": no line of a string file gives the built-in " +
                    "text exactly (" + why + "); the template's line is the nearest");
  }
  out += std::string(entry.key) + "=" + value + "\n";
}

}  // namespace

bool EncodeStringValue(const std::string& text, std::string& encoded, std::string* why) {
  encoded.clear();
  for (char c : text) {
    if (c == '\n') {
      // The loader puts a space before every line feed it makes: the text's own is dropped.
      if (!encoded.empty() && encoded.back() == ' ') encoded.pop_back();
      encoded += "\\n";
    } else if (c != '\r' && c != '\0') {
      encoded += c;
    }
  }
  std::string readBack;
  if (ReadBack(encoded, readBack) && readBack == text) return true;
  if (why != nullptr) *why = WhyInexact(text, encoded);
  return false;
}

std::string StringTemplateText(std::vector<std::string>& notes) {
  std::string out = kTemplateHeader;
  for (const StringKey* entry : kStringKeys) AppendTemplateEntry(*entry, out, notes);
  return out;
}

const StringKey* NearestStringKey(const std::string& key) {
  const std::string folded = Folded(key);
  const StringKey* nearest = nullptr;
  std::size_t best = kNearestMaxDistance + 1;
  for (const StringKey* entry : kStringKeys) {
    if (folded == entry->key) return entry;
    const std::size_t distance = EditDistance(key, entry->key, kNearestMaxDistance);
    if (distance < best) {
      best = distance;
      nearest = entry;
    }
  }
  return nearest;
}

std::string StringListing(const StringTable& table) {
  std::string out;
  for (const auto& [key, value] : table.entries()) {
    if (FindStringKey(key.c_str()) == nullptr) {
      out += "; not read by the tool" + NearestHint(key) + "\n";
    }
    out += key + "=" + Shown(value) + "\n";
  }
  bool headed = false;
  for (const StringKey* entry : kStringKeys) {
    if (table.Find(entry->key) != nullptr) continue;
    if (!headed) out += "; left to their built-in texts:\n";
    headed = true;
    out += std::string("; ") + entry->key + "=" + Shown(entry->defaultText) + "\n";
  }
  return out;
}

std::vector<std::string> LintStringText(const Bytes& text, const std::string& name) {
  std::vector<std::string> warnings;
  std::size_t line = 0;
  auto report = [&](const std::string& message) {
    warnings.push_back(name + ":" + std::to_string(line) + ": " + message);
  };
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = start;
    while (end < text.size() && text[end] != '\n' && text[end] != '\r' && text[end] != 0) ++end;
    ++line;
    const std::string row(text.begin() + static_cast<std::ptrdiff_t>(start),
                          text.begin() + static_cast<std::ptrdiff_t>(end));
    const std::size_t eq = row.find('=');
    if (!row.empty() && row[0] != ';' && eq != std::string::npos) {
      if (eq == 0) {
        report("warning: empty key, line ignored");
      } else if (eq > kFieldMax || row.size() - eq - 1 > kFieldMax) {
        report("warning: key or value over 255 bytes, line ignored");
      } else {
        if (row[eq - 1] == ' ' || (eq + 1 < row.size() && row[eq + 1] == ' ')) {
          report("note: spaces around '=' belong to the key or value");
        }
        const std::string key = row.substr(0, eq);
        if (FindStringKey(key.c_str()) == nullptr) {
          report("warning: the tool reads no key '" + key + "'" + NearestHint(key));
        }
      }
    }
    if (end < text.size() && text[end] == 0) {
      report("warning: NUL byte ends the text here");
      break;
    }
    if (end >= text.size()) break;
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
  return warnings;
}

}  // namespace repair::publish
