#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/format.h"
#include "platform/paths_test_helper.h"

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

TEST(LastComponent, FollowsTheLastSeparatorOfTheRules) {
  struct Case {
    const char* path;
    NameRules rules;
    const char* last;
  };
  const NameRules shiftJis = Rules(932);
  const NameRules bytes = Rules(kBytesOnly);
  const Case cases[] = {
      {"data\\\x95\x5C.txt", shiftJis, "\x95\x5C.txt"},
      {"data\\\x95\x5C", shiftJis, "\x95\x5C"},
      {"data\\\x95\x5C", bytes, ""},
      {"\x95\x5C\\..\\x", shiftJis, "x"},
      {"data/\x95\x5C/x", shiftJis, "x"},
      {"http://host/v1/3/filehash.tsf", bytes, "filehash.tsf"},
      {"data\\ui\\font.dat", Rules(kBytesOnly, false, false), "data\\ui\\font.dat"},
      {"font.dat", bytes, "font.dat"},
      {"", bytes, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(LastComponent(c.path, c.rules), c.last);
  }
}

TEST(TrailingSeparators, AreCountedInTheCodePage) {
  struct Case {
    const char* text;
    NameRules rules;
    std::size_t length;
  };
  const Case cases[] = {
      {"a/b//", Rules(kBytesOnly), 3},
      {"C:\\Games\\\\", Rules(kBytesOnly), 8},
      {"C:\\Games\\\\", Rules(kBytesOnly, false, false), 10},
      {"/", Rules(kBytesOnly), 0},
      {"\\\\", Rules(932), 0},
      {"", Rules(kBytesOnly), 0},
      {"name", Rules(kBytesOnly), 4},
      // A folder whose name ends with U+8868: its second byte is no separator to drop.
      {"C:\\\x95\x5C", Rules(932), 5},
      {"C:\\\x95\x5C\\", Rules(932), 5},
      {"C:\\\x95\x5C", Rules(1252), 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(LengthWithoutTrailingSeparators(c.text, c.rules), c.length);
  }
}

TEST(SplitPath, WindowsRulesTakeDriveAndBothSlashes) {
  PathParts p;
  ASSERT_TRUE(PathsTestHelper::SplitPath("C:\\Games\\Client\\repair.exe", p, true));
  EXPECT_STREQ(p.drive, "C:");
  EXPECT_STREQ(p.folder, "\\Games\\Client\\");
  EXPECT_STREQ(p.name, "repair");
  EXPECT_STREQ(p.ext, ".exe");

  ASSERT_TRUE(PathsTestHelper::SplitPath("http://host/v1/3/filehash.tsf", p, true));
  EXPECT_STREQ(p.drive, "");  // "ht" is no drive: the second character is no colon
  EXPECT_STREQ(p.folder, "http://host/v1/3/");
  EXPECT_STREQ(p.name, "filehash");
  EXPECT_STREQ(p.ext, ".tsf");

  ASSERT_TRUE(PathsTestHelper::SplitPath("a.b.c", p, true));
  EXPECT_STREQ(p.name, "a.b");
  EXPECT_STREQ(p.ext, ".c");
  ASSERT_TRUE(PathsTestHelper::SplitPath("dir.d\\noext", p, true));
  EXPECT_STREQ(p.folder, "dir.d\\");
  EXPECT_STREQ(p.name, "noext");
  EXPECT_STREQ(p.ext, "");
  ASSERT_TRUE(PathsTestHelper::SplitPath("C:\\.hidden", p, true));
  EXPECT_STREQ(p.name, "");
  EXPECT_STREQ(p.ext, ".hidden");
}

// A program in a folder whose name ends with U+8868 ("\x95\x5C" in code page 932).
TEST(SplitPath, ReadsThePathInItsCodePage) {
  PathParts p;
  ASSERT_TRUE(PathsTestHelper::SplitPath("C:\\\x95\x5C\\\x95\x5C.exe", p, true, 932));
  EXPECT_STREQ(p.folder, "\\\x95\x5C\\");
  EXPECT_STREQ(p.name, "\x95\x5C");
  EXPECT_STREQ(p.ext, ".exe");
  ASSERT_TRUE(PathsTestHelper::SplitPath("C:\\\x95\x5C\\\x95\x5C.exe", p, true, 1252));
  EXPECT_STREQ(p.folder, "\\\x95\\\\\x95\\");
  EXPECT_STREQ(p.name, "");
}

TEST(SplitPath, LinuxRulesTakeOnlySlashesAndKeepHiddenNames) {
  PathParts p;
  ASSERT_TRUE(PathsTestHelper::SplitPath("/opt/game/repair", p, false));
  EXPECT_STREQ(p.drive, "");
  EXPECT_STREQ(p.folder, "/opt/game/");
  EXPECT_STREQ(p.name, "repair");
  EXPECT_STREQ(p.ext, "");
  ASSERT_TRUE(PathsTestHelper::SplitPath("/opt/odd\\name.bin", p, false));
  EXPECT_STREQ(p.folder, "/opt/");
  EXPECT_STREQ(p.name, "odd\\name");
  ASSERT_TRUE(PathsTestHelper::SplitPath("/home/u/.hidden", p, false));
  EXPECT_STREQ(p.name, ".hidden");
  EXPECT_STREQ(p.ext, "");
  ASSERT_TRUE(PathsTestHelper::SplitPath("C:/x", p, false));
  EXPECT_STREQ(p.drive, "");
  EXPECT_STREQ(p.folder, "C:/");
}

TEST(SplitPath, RefusesPartsThatDoNotFitTheirFields) {
  PathParts p;
  std::string longFolder = "/" + std::string(255, 'd') + "/x";
  EXPECT_FALSE(PathsTestHelper::SplitPath(longFolder.c_str(), p, false));
  EXPECT_STREQ(p.folder, "");
  std::string longName = std::string(256, 'n') + ".e";
  EXPECT_FALSE(PathsTestHelper::SplitPath(longName.c_str(), p, true));
  std::string fits = "/" + std::string(253, 'd') + "/" + std::string(255, 'n');  // 255 + 255
  EXPECT_TRUE(PathsTestHelper::SplitPath(fits.c_str(), p, false));
}

TEST(SplitFolder, WindowsRules) {
  PathFolder folder;
  ASSERT_TRUE(PathsTestHelper::SplitFolder("C:\\Games\\Client\\data\\x.pak", folder, true));
  EXPECT_STREQ(folder.path, "C:\\Games\\Client\\data\\");
  EXPECT_EQ(folder.driveLength, 2u);
  ASSERT_TRUE(PathsTestHelper::SplitFolder("C:\\Games/Client\\x.pak", folder, true));
  EXPECT_STREQ(folder.path, "C:\\Games/Client\\");
  ASSERT_TRUE(PathsTestHelper::SplitFolder("x.pak", folder, true));
  EXPECT_STREQ(folder.path, "");
  ASSERT_TRUE(PathsTestHelper::SplitFolder("C:x.pak", folder, true));
  EXPECT_STREQ(folder.path, "C:");
  EXPECT_EQ(folder.driveLength, 2u);
}

// "\x95\x5C" is one character in code page 932 and a byte and a separator in 1252.
TEST(SplitFolder, ASecondByteOfADoubleByteCharacterEndsNoFolder) {
  struct Case {
    const char* path;
    CodePage codePage;
    const char* folder;
  };
  const Case cases[] = {
      {"C:\\Games\\\x95\x5C\\x.pak", 932, "C:\\Games\\\x95\x5C\\"},
      {"C:\\Games\\\x95\x5C", 932, "C:\\Games\\"},
      {"C:\\Games\\\x95\x5C", 1252, "C:\\Games\\\x95\\"},
      {"\x95\x5C", 936, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    PathFolder folder;
    ASSERT_TRUE(PathsTestHelper::SplitFolder(c.path, folder, true, c.codePage));
    EXPECT_STREQ(folder.path, c.folder);
  }
}

TEST(SplitFolder, LinuxRulesTakeOnlySlashes) {
  PathFolder folder;
  ASSERT_TRUE(PathsTestHelper::SplitFolder("/opt/game/odd\\name.bin", folder, false));
  EXPECT_STREQ(folder.path, "/opt/game/");
  EXPECT_EQ(folder.driveLength, 0u);
  ASSERT_TRUE(PathsTestHelper::SplitFolder("C:/x", folder, false));
  EXPECT_STREQ(folder.path, "C:/");
  EXPECT_EQ(folder.driveLength, 0u);
}

TEST(SplitFolder, DirectoryOfAtMost255Characters) {
  PathFolder folder;
  std::string fits = "C:" + std::string(254, 'a') + "\\name";  // directory of 255
  ASSERT_TRUE(PathsTestHelper::SplitFolder(fits.c_str(), folder, true));
  EXPECT_EQ(std::strlen(folder.path), 257u);
  std::string tooLong = "C:" + std::string(255, 'a') + "\\name";  // directory of 256
  EXPECT_FALSE(PathsTestHelper::SplitFolder(tooLong.c_str(), folder, true));
  EXPECT_STREQ(folder.path, "");
  std::string linuxFits = std::string(254, 'a') + "/n";
  EXPECT_TRUE(PathsTestHelper::SplitFolder(linuxFits.c_str(), folder, false));
  std::string linuxTooLong = "/" + std::string(255, 'a') + "/n";
  EXPECT_FALSE(PathsTestHelper::SplitFolder(linuxTooLong.c_str(), folder, false));
  // A long name after the last separator is no concern of the folder part.
  std::string longName = "/opt/" + std::string(300, 'n');
  EXPECT_TRUE(PathsTestHelper::SplitFolder(longName.c_str(), folder, false));
  EXPECT_STREQ(folder.path, "/opt/");
}

TEST(RootedPath, FromARootOrADriveOnEitherSystem) {
  const struct {
    const char* path;
    bool rooted;
  } cases[] = {
      {"/etc/ssl/ca.pem", true},
      {"\\\\server\\share\\ca.pem", true},
      {"\\certs\\ca.pem", true},
      {"D:\\certs\\ca.pem", true},
      {"D:ca.pem", true},
      {"ca.pem", false},
      {"certs/ca.pem", false},
      {"certs\\ca.pem", false},
      {"", false},
      {"C", false},
      {"./ca.pem", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsRootedPath(c.path), c.rooted) << c.path;
}

TEST(LocalPath, TheNamesBackslashesBecomeTheSystemsSeparator) {
  char out[kPathBufferSize];
  ASSERT_TRUE(
      PathsTestHelper::BuildLocalPath(out, "C:\\Games\\Client\\", "data\\ui/font.dat", '\\'));
  EXPECT_STREQ(out, "C:\\Games\\Client\\data\\ui/font.dat");
  ASSERT_TRUE(PathsTestHelper::BuildLocalPath(out, "/opt/odd\\client/", "data\\ui\\font.dat", '/'));
  EXPECT_STREQ(out, "/opt/odd\\client/data/ui/font.dat");  // the base folder is kept as it is

  // This system's own: the helper's form with kPathSeparator.
  char expected[kPathBufferSize];
  ASSERT_TRUE(BuildLocalPath(out, "base/", "data\\font.dat"));
  ASSERT_TRUE(PathsTestHelper::BuildLocalPath(expected, "base/", "data\\font.dat", kPathSeparator));
  EXPECT_STREQ(out, expected);

  // 259 characters fit the buffer; 260 do not, and leave nothing behind.
  const std::string base = "/" + std::string(200, 'b') + "/";
  ASSERT_TRUE(BuildLocalPath(out, base.c_str(), std::string(57, 'n').c_str()));
  EXPECT_EQ(std::strlen(out), 259u);
  EXPECT_FALSE(BuildLocalPath(out, base.c_str(), std::string(58, 'n').c_str()));
  EXPECT_STREQ(out, "");
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
