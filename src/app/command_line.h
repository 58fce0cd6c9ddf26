// The tool's command line: its own quoting rules, the four switches and the pass-through rest.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/format.h"

namespace repair {

using TokenList = std::vector<std::string>;

struct CommandLineOptions {
  bool rollback = false;
  bool explicitVersion = false;
  std::int32_t major = 0;
  std::int32_t minor = 0;
  bool quiet = false;
  char execPath[kPathBufferSize] = {};
  std::string passThrough;
};

// Longest number part of "/version:" that is converted; longer parts refuse the token.
constexpr std::size_t kVersionPartMax = 31;

// Splits the argument text (everything after the program's name) into tokens: only the space
// separates, "..." makes one token (possibly empty) and consumes the one character after the
// closing quote. Returns false for a null text or an unmatched quote; `tokens` then holds
// whatever was gathered and must be discarded.
bool SplitCommandLine(const char* text, TokenList& tokens, std::uint32_t& count);

// Recognises /rollback, /version:MAJOR_MINOR, /quiet and /exec:PATH (case-insensitive prefixes),
// empties their tokens and joins the rest, each in double quotes, into passThrough.
// An /exec: path over 259 characters empties execPath: a cut path could start another program.
// A /version: number part over 31 characters drops the token like one without an underscore.
CommandLineOptions ParseSwitches(TokenList& tokens, std::uint32_t count);

// atoi's reading of a number (leading white space, a sign, digits up to the first other
// character, 0 when there are none), saturated to the 32-bit range instead of overflowing.
std::int32_t ParseLeadingInt(const char* text);

}  // namespace repair
