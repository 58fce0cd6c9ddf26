#include "platform/name_key.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace repair::platform {
namespace {

NameRules Rules(CodePage codePage, bool ignoreCase = false, bool backslashSeparates = true) {
  NameRules rules;
  rules.backslashSeparates = backslashSeparates;
  rules.ignoreCase = ignoreCase;
  rules.codePage = codePage;
  return rules;
}

std::vector<std::size_t> Separators(const std::string& text, const NameRules& rules) {
  std::vector<std::size_t> found;
  for (std::size_t i = NextSeparator(text, 0, rules); i < text.size();
       i = NextSeparator(text, i + 1, rules)) {
    found.push_back(i);
  }
  return found;
}

// "\x95\x5C" is one character in 932 (U+8868); "\x81\x5C" one in 936, 949 and 950.
TEST(NameSeparators, ASecondByteOfADoubleByteCharacterSeparatesNothing) {
  struct Case {
    const char* text;
    CodePage codePage;
    bool backslashSeparates;
    std::vector<std::size_t> separators;
  };
  const Case cases[] = {
      {"data\\ui/font.dat", kBytesOnly, true, {4, 7}},
      {"data\\ui/font.dat", kBytesOnly, false, {7}},
      {"dir\\\x95\x5C.txt", kBytesOnly, true, {3, 5}},
      {"dir\\\x95\x5C.txt", 1252, true, {3, 5}},
      {"dir\\\x95\x5C.txt", 932, true, {3}},
      {"\x95\x5C\\\x95\x5C", 932, true, {2}},
      {"\x81\x5C\\x", 936, true, {2}},
      {"\x81\x5C\\x", 949, true, {2}},
      {"\x81\x5C\\x", 950, true, {2}},
      {"\x81\x5C\\x", 932, true, {2}},
      // A single-byte katakana (0xA0-0xDF in 932) takes nothing after it.
      {"\xB1\\x", 932, true, {1}},
      // A lead byte takes whatever follows, as the system's conversion does; at the end it
      // stands alone.
      {"\x95/x", 932, true, {}},
      {"a\\\x95", 932, true, {1}},
      {"\\\\", 932, true, {0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.codePage << " " << c.text);
    const NameRules rules = Rules(c.codePage, false, c.backslashSeparates);
    EXPECT_EQ(Separators(c.text, rules), c.separators);
    EXPECT_EQ(LastComponentStart(c.text, rules),
              c.separators.empty() ? 0 : c.separators.back() + 1);
  }
}

// The table the Linux tools read double-byte names by must be the one Windows reads them by.
TEST(NameSeparators, TheKnownLeadBytesAreTheSystems) {
  for (CodePage codePage : {932u, 936u, 949u, 950u, 1361u, 1252u, 437u}) {
    std::string differ;
    int leads = 0;
    for (int byte = 0; byte < 256; ++byte) {
      const auto b = static_cast<unsigned char>(byte);
      leads += KnownLeadByte(codePage, b) ? 1 : 0;
      if (IsLeadByte(codePage, b) != KnownLeadByte(codePage, b)) {
        differ += std::to_string(byte) + " ";
      }
    }
    EXPECT_EQ(differ, "") << codePage;
    const bool doubleByte = codePage != 1252 && codePage != 437;
    EXPECT_EQ(leads > 0, doubleByte) << codePage;
  }
}

TEST(NameFolding, UpperCasesTheTextOfTheCodePage) {
  ASSERT_TRUE(CodePageKnown(1252));
  ASSERT_TRUE(CodePageKnown(932));
  struct Case {
    const char* bytes;
    CodePage codePage;
    std::u16string units;
  };
  const Case cases[] = {
      {"\xFC"
       "bersicht.txt",
       1252,
       u"\u00DC"
       "BERSICHT.TXT"},
      {"\xE9t\xE9", 1252, u"\u00C9T\u00C9"},
      {"\x95\x5C.txt", 932, u"\u8868.TXT"},
      {"\x82\x81", 932, u"\uFF21"},  // full-width a: the file system folds it too
      {"", 1252, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    std::u16string units;
    ASSERT_TRUE(UpcaseInCodePage(c.bytes, c.codePage, units));
    EXPECT_TRUE(units == c.units);
  }
  std::u16string units;
  EXPECT_FALSE(UpcaseInCodePage("x\x95", 932, units));  // a lead byte with nothing after it
  EXPECT_TRUE(units.empty());
  EXPECT_FALSE(UpcaseInCodePage("x", kBytesOnly, units));
}

TEST(NameFolding, KeysAreEqualExactlyWhereTheFileSystemSeesOneName) {
  ASSERT_TRUE(CodePageKnown(1252));
  ASSERT_TRUE(CodePageKnown(932));
  struct Case {
    const char* a;
    const char* b;
    NameRules rules;
    bool same;
  };
  const NameRules windows1252 = Rules(1252, true);
  const NameRules windows932 = Rules(932, true);
  const NameRules asciiOnly = Rules(kBytesOnly, true);
  const NameRules exact = Rules(kBytesOnly, false);
  const Case cases[] = {
      {"\xDC"
       "bersicht.txt",
       "\xFC"
       "BERSICHT.TXT",
       windows1252, true},
      {"north\\\xDC"
       "bersicht.txt",
       "south\\\xFC"
       "bersicht.txt",
       windows1252, false},
      {"Data/Font.DAT", "data\\font.dat", windows1252, true},
      {"\xDC", "\xFC", asciiOnly, false},
      {"Data/Font.DAT", "data\\font.dat", asciiOnly, true},
      {"Data/Font.DAT", "data\\font.dat", exact, false},
      {"data/font.dat", "data\\font.dat", exact, true},
      {"\x95\x5C\\a.txt", "\x95\x5C/A.TXT", windows932, true},
      {"\x82\x81.txt", "\x82\x60.txt", windows932, true},  // full-width a and A
      // Bytes with no character in the code page (a lead byte with nothing after it) keep
      // their bytes, ASCII letters folded...
      {"z.txt\x95", "Z.TXT\x95", windows932, true},
      {"z.txt\x95", "z.txt\x96", windows932, false},
      // ...and never meet the key of a name that converts (U+3042 is E3 81 82 in UTF-8).
      {"\xE3\x81\x82", "\x82\xA0", windows932, false},
      // A backslash that is a name's own byte is no separator in the key.
      {"a\\b", "a/b", Rules(kBytesOnly, false, false), false},
      {"a\\b", "a/b", Rules(1252, true, false), false},
      {"\xE9\\b", "\xE9/b", Rules(1252, true, false), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.a << " | " << c.b);
    EXPECT_EQ(NameKey(c.a, c.rules) == NameKey(c.b, c.rules), c.same);
  }
  // Components are kept apart by the key's own separators only.
  const std::string key = NameKey("\x95\x5C\\\x95\x5C", windows932);
  EXPECT_EQ(key.find('\\'), key.rfind('\\'));
}

}  // namespace
}  // namespace repair::platform
