#include "app/command_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace repair {
namespace {

TokenList Split(const char* text) {
  TokenList tokens{"left over"};
  std::uint32_t count = 99;
  EXPECT_TRUE(SplitCommandLine(text, tokens, count)) << text;
  EXPECT_EQ(count, tokens.size());
  return tokens;
}

CommandLineOptions Parse(const char* text) {
  TokenList tokens;
  std::uint32_t count = 0;
  EXPECT_TRUE(SplitCommandLine(text, tokens, count)) << text;
  return ParseSwitches(tokens, count);
}

// --- SplitCommandLine -----------------------------------------------------------------------

TEST(SplitCommandLine, EmptyTextGivesNoTokens) {
  EXPECT_TRUE(Split("").empty());
  EXPECT_TRUE(Split("   ").empty());
}

TEST(SplitCommandLine, OnlyTheSpaceSeparates) {
  EXPECT_EQ(Split("one  two   three "), (TokenList{"one", "two", "three"}));
  EXPECT_EQ(Split("/quiet\t/rollback"), (TokenList{"/quiet\t/rollback"}));
}

TEST(SplitCommandLine, QuotedTokenKeepsSpaces) {
  EXPECT_EQ(Split("\"/exec:C:\\Program Files\\start.exe\" -x"),
            (TokenList{"/exec:C:\\Program Files\\start.exe", "-x"}));
}

TEST(SplitCommandLine, QuotesInsidePlainTokenAreOrdinary) {
  EXPECT_EQ(Split("a\"b c\""), (TokenList{"a\"b", "c\""}));
}

TEST(SplitCommandLine, CharacterAfterClosingQuoteIsConsumed) {
  EXPECT_EQ(Split("\"a\"b c"), (TokenList{"a", "c"}));
  EXPECT_EQ(Split("\"a\"bcd"), (TokenList{"a", "cd"}));
  // A closing quote at the very end must not read past the text.
  EXPECT_EQ(Split("x \"a\""), (TokenList{"x", "a"}));
}

TEST(SplitCommandLine, EmptyQuotedTokenIsCounted) {
  EXPECT_EQ(Split("\"\""), (TokenList{""}));
  EXPECT_EQ(Split("\"\" \"\" z"), (TokenList{"", "", "z"}));
}

TEST(SplitCommandLine, UnmatchedQuoteOrNullFails) {
  TokenList tokens{"stale"};
  std::uint32_t count = 7;
  EXPECT_FALSE(SplitCommandLine("\"abc", tokens, count));
  EXPECT_FALSE(SplitCommandLine("ok \"a\"b \"", tokens, count));

  tokens = {"stale"};
  count = 7;
  EXPECT_FALSE(SplitCommandLine(nullptr, tokens, count));
  EXPECT_TRUE(tokens.empty());
  EXPECT_EQ(count, 0u);
}

// --- ParseSwitches --------------------------------------------------------------------------

TEST(ParseSwitches, NoArgumentsGiveDefaults) {
  CommandLineOptions options = Parse("");
  EXPECT_FALSE(options.rollback);
  EXPECT_FALSE(options.explicitVersion);
  EXPECT_EQ(options.major, 0);
  EXPECT_EQ(options.minor, 0);
  EXPECT_FALSE(options.quiet);
  EXPECT_STREQ(options.execPath, "");
  EXPECT_EQ(options.passThrough, "");
}

TEST(ParseSwitches, SwitchesMatchCaseInsensitivePrefixes) {
  EXPECT_TRUE(Parse("/QUIET").quiet);
  EXPECT_TRUE(Parse("/Quiet").quiet);
  EXPECT_TRUE(Parse("/quietly").quiet);
  EXPECT_TRUE(Parse("/ROLLBACKnow").rollback);
  EXPECT_STREQ(Parse("/EXEC:run.exe").execPath, "run.exe");
  EXPECT_TRUE(Parse("/VERSION:1_2").explicitVersion);

  CommandLineOptions options = Parse("/quietly /quie quiet");
  EXPECT_TRUE(options.quiet);
  EXPECT_EQ(options.passThrough, "\"/quie\" \"quiet\"");
}

TEST(ParseSwitches, TabJoinedSwitchesAreOneToken) {
  CommandLineOptions options = Parse("/quiet\t/rollback");
  EXPECT_TRUE(options.quiet);
  EXPECT_FALSE(options.rollback);
  EXPECT_EQ(options.passThrough, "");
}

TEST(ParseSwitches, SwitchTokensAreEmptiedInTheList) {
  TokenList tokens{"/quiet", "keep", "/version:bad", "/exec:x"};
  CommandLineOptions options = ParseSwitches(tokens, 4);
  EXPECT_EQ(tokens, (TokenList{"", "keep", "", ""}));
  EXPECT_EQ(options.passThrough, "\"keep\"");
}

TEST(ParseSwitches, CountLimitsTheTokensRead) {
  TokenList tokens{"a", "/quiet", "b"};
  CommandLineOptions options = ParseSwitches(tokens, 1);
  EXPECT_FALSE(options.quiet);
  EXPECT_EQ(options.passThrough, "\"a\"");
  // A count beyond the list is not trusted.
  options = ParseSwitches(tokens, 50);
  EXPECT_TRUE(options.quiet);
  EXPECT_EQ(options.passThrough, "\"a\" \"b\"");
}

TEST(ParseSwitches, PassThroughIsRequotedWithoutEscaping) {
  EXPECT_EQ(Parse("one two \"three four\"").passThrough, "\"one\" \"two\" \"three four\"");
  EXPECT_EQ(Parse("a\"b c\"").passThrough, "\"a\"b\" \"c\"\"");
  EXPECT_EQ(Parse("\"\" x \"\"").passThrough, "\"x\"");
  EXPECT_EQ(Parse("/execute").passThrough, "\"/execute\"");
  EXPECT_EQ(Parse("/quiet 100% /rollback %s").passThrough, "\"100%\" \"%s\"");
}

TEST(ParseSwitches, ExecTakesTheRestOfTheToken) {
  CommandLineOptions options = Parse("\"/exec:C:\\Program Files\\Tools\\start.exe\" -x");
  EXPECT_STREQ(options.execPath, "C:\\Program Files\\Tools\\start.exe");
  EXPECT_EQ(options.passThrough, "\"-x\"");

  options = Parse("/exec:C:\\Program Files\\Tools\\start.exe -x");
  EXPECT_STREQ(options.execPath, "C:\\Program");
  EXPECT_EQ(options.passThrough, "\"Files\\Tools\\start.exe\" \"-x\"");
}

TEST(ParseSwitches, LaterExecWins) {
  EXPECT_STREQ(Parse("/exec:a.exe /exec:b.exe").execPath, "b.exe");
  EXPECT_STREQ(Parse("/exec:a.exe /exec:").execPath, "");
}

TEST(ParseSwitches, ExecPathLimitIs259Characters) {
  const std::string longest(259, 'p');
  CommandLineOptions options = Parse(("/exec:" + longest).c_str());
  EXPECT_EQ(std::string(options.execPath), longest);

  options = Parse(("/exec:" + longest + "q x").c_str());
  EXPECT_STREQ(options.execPath, "");
  EXPECT_EQ(options.passThrough, "\"x\"");

  // An over-long path also cancels an earlier good one rather than leaving it in force.
  options = Parse(("/exec:a.exe /exec:" + longest + "q").c_str());
  EXPECT_STREQ(options.execPath, "");
  for (char c : options.execPath) EXPECT_EQ(c, '\0');
}

TEST(ParseSwitches, VersionTakesMajorAndMinor) {
  CommandLineOptions options = Parse("/version:3_7");
  EXPECT_TRUE(options.explicitVersion);
  EXPECT_EQ(options.major, 3);
  EXPECT_EQ(options.minor, 7);

  options = Parse("/version:3_4_5");
  EXPECT_EQ(options.major, 3);
  EXPECT_EQ(options.minor, 4);

  options = Parse("/version:12_-1");
  EXPECT_EQ(options.major, 12);
  EXPECT_EQ(options.minor, -1);

  options = Parse("/version:_");
  EXPECT_TRUE(options.explicitVersion);
  EXPECT_EQ(options.major, 0);
  EXPECT_EQ(options.minor, 0);

  options = Parse("/version:x1_ 9z");
  EXPECT_TRUE(options.explicitVersion);
  EXPECT_EQ(options.major, 0);
  EXPECT_EQ(options.minor, 0);
}

TEST(ParseSwitches, VersionWithoutUnderscoreIsDropped) {
  CommandLineOptions options = Parse("/version:3_7 /version:4");
  EXPECT_TRUE(options.explicitVersion);
  EXPECT_EQ(options.major, 3);
  EXPECT_EQ(options.minor, 7);
  EXPECT_EQ(options.passThrough, "");

  options = Parse("/version:4");
  EXPECT_FALSE(options.explicitVersion);
  EXPECT_EQ(options.passThrough, "");

  // The underscore must come after the literal's colon.
  options = Parse("/version:");
  EXPECT_FALSE(options.explicitVersion);
}

TEST(ParseSwitches, LaterVersionOverridesEarlier) {
  CommandLineOptions options = Parse("/version:3_7 /version:5_1");
  EXPECT_EQ(options.major, 5);
  EXPECT_EQ(options.minor, 1);
}

TEST(ParseSwitches, VersionPartsLongerThan31CharactersDropTheToken) {
  const std::string part31 = std::string(29, '0') + "42";
  ASSERT_EQ(part31.size(), 31u);
  CommandLineOptions options = Parse(("/version:" + part31 + "_" + part31).c_str());
  EXPECT_TRUE(options.explicitVersion);
  EXPECT_EQ(options.major, 42);
  EXPECT_EQ(options.minor, 42);

  options = Parse(("/version:2_3 /version:0" + part31 + "_1").c_str());
  EXPECT_EQ(options.major, 2);
  EXPECT_EQ(options.minor, 3);

  options = Parse(("/version:1_0" + part31 + " x").c_str());
  EXPECT_FALSE(options.explicitVersion);
  EXPECT_EQ(options.passThrough, "\"x\"");
}

TEST(ParseSwitches, VersionNumbersSaturate) {
  CommandLineOptions options = Parse("/version:99999999999_-99999999999");
  EXPECT_EQ(options.major, std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(options.minor, std::numeric_limits<std::int32_t>::min());
}

TEST(ParseSwitches, RollbackTestedBeforeVersion) {
  // Order of the tests: "/rollback" first, so a token that is both is a rollback.
  CommandLineOptions options = Parse("/rollback/version:1_2");
  EXPECT_TRUE(options.rollback);
  EXPECT_FALSE(options.explicitVersion);
}

// --- ParseLeadingInt ------------------------------------------------------------------------

TEST(ParseLeadingInt, ReadsLikeAtoi) {
  EXPECT_EQ(ParseLeadingInt("42"), 42);
  EXPECT_EQ(ParseLeadingInt("  \t\n\v\f\r-17abc"), -17);
  EXPECT_EQ(ParseLeadingInt("+8"), 8);
  EXPECT_EQ(ParseLeadingInt("007"), 7);
  EXPECT_EQ(ParseLeadingInt("5_4"), 5);
  EXPECT_EQ(ParseLeadingInt(""), 0);
  EXPECT_EQ(ParseLeadingInt("-"), 0);
  EXPECT_EQ(ParseLeadingInt("+-3"), 0);
  EXPECT_EQ(ParseLeadingInt("- 3"), 0);
  EXPECT_EQ(ParseLeadingInt("x9"), 0);
  EXPECT_EQ(ParseLeadingInt(nullptr), 0);
}

TEST(ParseLeadingInt, SaturatesAtTheLimits) {
  EXPECT_EQ(ParseLeadingInt("2147483647"), 2147483647);
  EXPECT_EQ(ParseLeadingInt("2147483648"), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(ParseLeadingInt("-2147483648"), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(ParseLeadingInt("-2147483649"), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(ParseLeadingInt("-2147483647"), -2147483647);
  EXPECT_EQ(ParseLeadingInt("99999999999999999999999999999999999"),
            std::numeric_limits<std::int32_t>::max());
  // 2^64 + 5: a wrapping 64-bit accumulator would give 5.
  EXPECT_EQ(ParseLeadingInt("18446744073709551621"), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(ParseLeadingInt("-18446744073709551621"), std::numeric_limits<std::int32_t>::min());
}

}  // namespace
}  // namespace repair
