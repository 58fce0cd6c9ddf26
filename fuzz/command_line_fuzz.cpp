// Fuzzes the command line: the input (up to its first zero byte) is the argument text. A split
// that succeeds counts every token; the switches then leave an /exec: path that fits its buffer
// whole or not at all, and pass-through arguments that are exactly the tokens that were no
// switch, each in double quotes, so that splitting them again gives those tokens back unless
// one holds a double quote itself. Number parts are checked against a wide reading of them.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "app/command_line.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool IsSwitch(const std::string& token, const char* literal) {
  const std::size_t length = std::strlen(literal);
  if (token.size() < length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    char c = token[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != literal[i]) return false;
  }
  return true;
}

// atoi's reading with 64-bit room, then saturated.
std::int32_t WideLeadingInt(const char* text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  const bool negative = *text == '-';
  if (*text == '+' || *text == '-') ++text;
  std::int64_t magnitude = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    magnitude = std::min<std::int64_t>(magnitude * 10 + (*text - '0'), std::int64_t{1} << 40);
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value < std::numeric_limits<std::int32_t>::min()) {
    return std::numeric_limits<std::int32_t>::min();
  }
  if (value > std::numeric_limits<std::int32_t>::max()) {
    return std::numeric_limits<std::int32_t>::max();
  }
  return static_cast<std::int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Check(repair::ParseLeadingInt(text.c_str()) == WideLeadingInt(text.c_str()));

  repair::TokenList tokens;
  std::uint32_t count = 0;
  if (!repair::SplitCommandLine(text.c_str(), tokens, count)) return 0;
  Check(count == tokens.size());
  const repair::TokenList original = tokens;

  const repair::CommandLineOptions options = repair::ParseSwitches(tokens, count);
  Check(std::memchr(options.execPath, '\0', sizeof options.execPath) != nullptr);

  repair::TokenList kept;
  std::string lastExec;
  bool execSeen = false;
  bool quoteInside = false;
  bool versionSeen = false;
  std::int32_t major = 0;
  std::int32_t minor = 0;
  for (std::size_t i = 0; i < original.size(); ++i) {
    const std::string& token = original[i];
    const bool isSwitch = IsSwitch(token, "/rollback") || IsSwitch(token, "/version:") ||
                          IsSwitch(token, "/quiet") || IsSwitch(token, "/exec:");
    Check(tokens[i].empty() == (isSwitch || token.empty()));
    if (!isSwitch && !token.empty()) {
      kept.push_back(token);
      quoteInside = quoteInside || token.find('"') != std::string::npos;
    }
    if (IsSwitch(token, "/exec:")) {
      execSeen = true;
      lastExec = token.substr(6);
    }
    // The last /version: with an underscore and parts of at most 31 characters counts.
    const std::size_t underscore = IsSwitch(token, "/version:") ? token.find('_', 9) : 0;
    if (underscore != 0 && underscore != std::string::npos && underscore - 9 <= 31 &&
        token.size() - underscore - 1 <= 31) {
      versionSeen = true;
      major = WideLeadingInt(token.substr(9, underscore - 9).c_str());
      minor = WideLeadingInt(token.substr(underscore + 1).c_str());
    }
  }
  if (execSeen) {
    const bool fits =
        lastExec.size() < repair::kPathBufferSize && lastExec.find('\0') == std::string::npos;
    Check(std::string(options.execPath) == (fits ? lastExec : std::string()));
  } else {
    Check(options.execPath[0] == '\0');
  }
  Check(options.explicitVersion == versionSeen && options.major == major && options.minor == minor);

  std::string joined;
  for (const std::string& token : kept) {
    if (!joined.empty()) joined += ' ';
    joined += '"' + token + '"';
  }
  Check(options.passThrough == joined);
  if (quoteInside) return 0;
  repair::TokenList again;
  std::uint32_t againCount = 0;
  Check(repair::SplitCommandLine(options.passThrough.c_str(), again, againCount));
  Check(again == kept);
  return 0;
}
