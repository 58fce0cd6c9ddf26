#include "app/command_line.h"

#include <cstring>
#include <limits>
#include <new>

namespace repair {
namespace {

constexpr char kRollback[] = "/rollback";
constexpr char kVersion[] = "/version:";
constexpr char kQuiet[] = "/quiet";
constexpr char kExec[] = "/exec:";

constexpr std::size_t kVersionFieldSize = kVersionPartMax + 1;

// ASCII only, so that the switches read the same under every locale and code page.
char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// True when `token` begins with the lower-case `literal`, ignoring letter case.
template <std::size_t N>
bool StartsWithSwitch(const std::string& token, const char (&literal)[N]) {
  constexpr std::size_t length = N - 1;
  if (token.size() < length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (FoldAscii(token[i]) != literal[i]) return false;
  }
  return true;
}

bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Copies one number part into a field of the converter's size; false when it does not fit.
bool ReadVersionPart(const std::string& token, std::size_t begin, std::size_t end,
                     std::int32_t& number) {
  std::size_t length = end - begin;
  if (length > kVersionPartMax) return false;
  char field[kVersionFieldSize] = {};
  std::memcpy(field, token.data() + begin, length);
  number = ParseLeadingInt(field);
  return true;
}

// "/version:MAJOR_MINOR": the first underscore after the literal splits the numbers. A token
// without one, or with a part too long for its field, changes nothing.
void ApplyVersion(const std::string& token, CommandLineOptions& options) {
  constexpr std::size_t start = sizeof(kVersion) - 1;
  std::size_t underscore = token.find('_', start);
  if (underscore == std::string::npos) return;
  std::int32_t major = 0;
  std::int32_t minor = 0;
  if (!ReadVersionPart(token, start, underscore, major)) return;
  if (!ReadVersionPart(token, underscore + 1, token.size(), minor)) return;
  options.explicitVersion = true;
  options.major = major;
  options.minor = minor;
}

// "/exec:PATH". The latest token wins, even an empty or unusable one: a path that cannot be
// held whole is dropped rather than cut, since a cut path could name another program.
void ApplyExec(const std::string& token, CommandLineOptions& options) {
  constexpr std::size_t start = sizeof(kExec) - 1;
  std::memset(options.execPath, 0, sizeof(options.execPath));
  std::size_t length = token.size() - start;
  if (length >= sizeof(options.execPath)) return;
  if (std::memchr(token.data() + start, '\0', length) != nullptr) return;
  std::memcpy(options.execPath, token.data() + start, length);
}

}  // namespace

bool SplitCommandLine(const char* text, TokenList& tokens, std::uint32_t& count) {
  tokens.clear();
  count = 0;
  if (text == nullptr) return false;

  const std::size_t length = std::strlen(text);
  try {
    std::size_t i = 0;
    while (i < length) {
      if (text[i] == ' ') {
        ++i;
        continue;
      }
      if (count == std::numeric_limits<std::uint32_t>::max()) return false;
      if (text[i] == '"') {
        const void* closing = std::memchr(text + i + 1, '"', length - i - 1);
        if (closing == nullptr) return false;
        std::size_t end = static_cast<std::size_t>(static_cast<const char*>(closing) - text);
        tokens.emplace_back(text + i + 1, end - i - 1);
        // The character right after the closing quote is the separator, whatever it is.
        i = end + 2;
      } else {
        std::size_t end = i;
        while (end < length && text[end] != ' ') ++end;
        tokens.emplace_back(text + i, end - i);
        i = end + 1;
      }
      ++count;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

CommandLineOptions ParseSwitches(TokenList& tokens, std::uint32_t count) {
  CommandLineOptions options;
  const std::size_t used = count < tokens.size() ? count : tokens.size();

  for (std::size_t i = 0; i < used; ++i) {
    std::string& token = tokens[i];
    if (StartsWithSwitch(token, kRollback)) {
      options.rollback = true;
    } else if (StartsWithSwitch(token, kVersion)) {
      ApplyVersion(token, options);
    } else if (StartsWithSwitch(token, kQuiet)) {
      options.quiet = true;
    } else if (StartsWithSwitch(token, kExec)) {
      ApplyExec(token, options);
    } else {
      continue;
    }
    token.clear();
  }

  // Out of memory leaves no arguments to pass on rather than an exception in start-up.
  try {
    for (std::size_t i = 0; i < used; ++i) {
      const std::string& token = tokens[i];
      if (token.empty()) continue;
      if (!options.passThrough.empty()) options.passThrough += ' ';
      options.passThrough += '"';
      options.passThrough += token;
      options.passThrough += '"';
    }
  } catch (const std::bad_alloc&) {
    options.passThrough.clear();
  }
  return options;
}

std::int32_t ParseLeadingInt(const char* text) {
  if (text == nullptr) return 0;
  while (IsCSpace(*text)) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') {
    negative = *text == '-';
    ++text;
  }
  // One past the largest magnitude either sign can hold; accumulation stops growing there.
  constexpr std::int64_t kCeiling = std::int64_t{1} << 31;
  std::int64_t magnitude = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    if (magnitude <= kCeiling) magnitude = magnitude * 10 + (*text - '0');
  }
  if (negative)
    return magnitude >= kCeiling ? std::numeric_limits<std::int32_t>::min()
                                 : static_cast<std::int32_t>(-magnitude);
  return magnitude > std::numeric_limits<std::int32_t>::max()
             ? std::numeric_limits<std::int32_t>::max()
             : static_cast<std::int32_t>(magnitude);
}

}  // namespace repair
