#include "strings/string_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "codec/builtin_key.h"
#include "publish/sealer.h"
#include "support/test_support.h"

namespace repair {
namespace {

using publish::Bytes;

StringTable Parse(const std::string& text) {
  StringTable table;
  ParseStringText(text.data(), text.size(), table);
  return table;
}

std::string ValueOf(const StringTable& table, const char* key) {
  const std::string* value = table.Find(key);
  return value != nullptr ? *value : "<absent>";
}

Bytes BuiltinPublicKey() {
  return publish::PublicKeyFromPrivate(Bytes(BuiltinKey(), BuiltinKey() + BuiltinKeyLength()));
}

Bytes SealText(const Bytes& publicKey, const std::string& text) {
  return publish::Seal(publicKey, Bytes(text.begin(), text.end()));
}

// --- ParseStringText: the text format --------------------------------------------------------

TEST(ParseStringText, KeyAndValueAreNotTrimmed) {
  StringTable table = Parse("STR_ERROR = Failure\nSYS_REMOTEPATH=a=b\nSTR_CONFIRM=\nP=%s %d%%");
  EXPECT_EQ(table.size(), 4u);
  EXPECT_EQ(ValueOf(table, "STR_ERROR "), " Failure");
  EXPECT_EQ(table.Find("STR_ERROR"), nullptr);
  EXPECT_EQ(ValueOf(table, "SYS_REMOTEPATH"), "a=b");
  EXPECT_EQ(ValueOf(table, "STR_CONFIRM"), "");
  EXPECT_EQ(ValueOf(table, "P"), "%s %d%%");
}

TEST(ParseStringText, AnyRunOfLineBreaksSeparates) {
  const std::string expected[][2] = {{"A", "1"}, {"B", "2"}, {"C", "3"}, {"D", "4"}};
  for (const char* text : {"A=1\r\nB=2\nC=3\rD=4", "\n\r\r\nA=1\n\n\nB=2\r\r\n\rC=3\n\rD=4\r\n",
                           "A=1\rB=2\rC=3\rD=4\r"}) {
    StringTable table = Parse(text);
    EXPECT_EQ(table.size(), 4u) << text;
    for (const auto& pair : expected) EXPECT_EQ(ValueOf(table, pair[0].c_str()), pair[1]);
  }
}

TEST(ParseStringText, CommentsAndLinesWithoutEqualsAreSkipped) {
  StringTable table = Parse(";STR_ERROR=x\n ;STR_ERROR=y\njust words\n=no key\n;\n");
  EXPECT_EQ(table.size(), 1u);
  EXPECT_EQ(table.Find(";STR_ERROR"), nullptr);
  EXPECT_EQ(ValueOf(table, " ;STR_ERROR"), "y");
}

TEST(ParseStringText, FirstEntryForAKeyWins) {
  StringTable table = Parse("K=first\nK=second\n=x\nK=third");
  EXPECT_EQ(table.size(), 1u);
  EXPECT_EQ(ValueOf(table, "K"), "first");
  // An empty first value still wins over a later one.
  EXPECT_EQ(ValueOf(Parse("K=\nK=later"), "K"), "");
}

TEST(ParseStringText, EscapeBecomesSpaceAndLineFeed) {
  StringTable table = Parse(
      "A=one\\ntwo\n"
      "B=\\\\n\n"
      "C=\\n\\n\n"
      "D=\\\n"
      "E=\\N \\t n\\\n"
      "F\\n=x\n");
  EXPECT_EQ(ValueOf(table, "A"), "one \ntwo");
  EXPECT_EQ(ValueOf(table, "B"), "\\ \n");
  EXPECT_EQ(ValueOf(table, "C"), " \n \n");
  EXPECT_EQ(ValueOf(table, "D"), "\\");
  EXPECT_EQ(ValueOf(table, "E"), "\\N \\t n\\");
  // Keys are taken as written.
  EXPECT_EQ(ValueOf(table, "F\\n"), "x");
}

TEST(ParseStringText, OverlongKeyOrValueSkipsOnlyThatLine) {
  const std::string key255(255, 'k');
  const std::string value255(255, 'v');
  std::string text = "BEFORE=1\n" + key255 + "=" + value255 + "\n" +  // both at the limit
                     std::string(256, 'K') + "=x\n" +                 // key one over
                     "LONGVALUE=" + std::string(256, 'v') + "\n" +    // value one over
                     "AFTER=2";
  StringTable table = Parse(text);
  EXPECT_EQ(table.size(), 3u);
  EXPECT_EQ(ValueOf(table, "BEFORE"), "1");
  EXPECT_EQ(ValueOf(table, key255.c_str()), value255);
  EXPECT_EQ(table.Find("LONGVALUE"), nullptr);
  EXPECT_EQ(ValueOf(table, "AFTER"), "2");
}

TEST(ParseStringText, TextEndsAtNulOrLength) {
  const std::string text("A=1\nB=2\0C=3\nD=4", 15);
  StringTable table = Parse(text);
  EXPECT_EQ(table.size(), 2u);
  EXPECT_EQ(ValueOf(table, "B"), "2");

  // The length cuts the last line short.
  StringTable cut;
  ParseStringText("A=1\nB=2345", 8, cut);
  EXPECT_EQ(ValueOf(cut, "B"), "23");

  StringTable none;
  ParseStringText(nullptr, 10, none);
  ParseStringText("A=1", 0, none);
  EXPECT_EQ(none.size(), 0u);
}

// --- LoadStringTable and the lookups: real sealed files --------------------------------------

class StringFileTest : public ::testing::Test {
 protected:
  void SetUp() override { GlobalStringTable().Clear(); }
  void TearDown() override { GlobalStringTable().Clear(); }

  std::string WriteSealed(const std::string& name, const std::string& text) {
    std::string path = dir_.File(name);
    test::WriteAll(path, SealText(BuiltinPublicKey(), text));
    return path;
  }

  // Loads a good file first, so that a failing load must also empty the table.
  void LoadSomethingFirst() {
    ASSERT_TRUE(LoadStringTable(WriteSealed("good.dat", "STR_ERROR=Oops\n").c_str()));
    ASSERT_EQ(GlobalStringTable().size(), 1u);
  }

  test::TempDir dir_;
};

TEST_F(StringFileTest, LoadsEntriesAndLooksThemUp) {
  std::string path = WriteSealed("repair.dat",
                                 "; texts\r\n"
                                 "SYS_WINDOWTITLE=Client repair\r\n"
                                 "STR_CONFIRM=\r\n"
                                 "STR_CONFIRM_RECOVERY=Go on?\\nReally?\r\n"
                                 "STR_ERROR = Failure\r\n");
  ASSERT_TRUE(LoadStringTable(path.c_str()));
  EXPECT_EQ(GlobalStringTable().size(), 4u);

  std::string text = "stale";
  EXPECT_TRUE(LookupText("SYS_WINDOWTITLE", text, "default"));
  EXPECT_EQ(text, "Client repair");
  EXPECT_TRUE(LookupText("STR_CONFIRM", text, "Confirm"));
  EXPECT_EQ(text, "");
  EXPECT_TRUE(LookupText("STR_CONFIRM_RECOVERY", text, ""));
  EXPECT_EQ(text, "Go on? \nReally?");
  EXPECT_FALSE(LookupText("STR_ERROR", text, "Error"));
  EXPECT_EQ(text, "Error");

  char buffer[kStringFieldSize];
  std::memset(buffer, 'x', sizeof(buffer));
  EXPECT_TRUE(LookupTextInto("SYS_WINDOWTITLE", buffer, "default"));
  EXPECT_STREQ(buffer, "Client repair");
  EXPECT_FALSE(LookupTextInto("SYS_REMOTEPATH", buffer, ""));
  EXPECT_STREQ(buffer, "");
  EXPECT_FALSE(LookupTextInto("sys_windowtitle", buffer, "Ready"));
  EXPECT_STREQ(buffer, "Ready");
}

TEST_F(StringFileTest, LookupIntoStaysInsideTheField) {
  const std::string value(255, 'w');
  ASSERT_TRUE(LoadStringTable(WriteSealed("long.dat", "K=" + value).c_str()));
  char buffer[kStringFieldSize + 4];
  std::memset(buffer, 'x', sizeof(buffer));
  EXPECT_TRUE(LookupTextInto("K", buffer, ""));
  EXPECT_EQ(std::string(buffer), value);
  EXPECT_EQ(buffer[kStringFieldSize], 'x');

  const std::string longDefault(400, 'd');
  EXPECT_FALSE(LookupTextInto("MISSING", buffer, longDefault.c_str()));
  EXPECT_EQ(std::string(buffer), longDefault.substr(0, 255));
  EXPECT_EQ(buffer[kStringFieldSize], 'x');
}

TEST_F(StringFileTest, TextWithoutEntriesLoads) {
  LoadSomethingFirst();
  std::string path = WriteSealed("none.dat", ";only a comment\r\n\r\nno entries\n");
  ASSERT_TRUE(LoadStringTable(path.c_str()));
  EXPECT_EQ(GlobalStringTable().size(), 0u);
  std::string text;
  EXPECT_FALSE(LookupText("SYS_WINDOWTITLE", text, ""));
  EXPECT_EQ(text, "");
}

TEST_F(StringFileTest, NulInThePlaintextEndsTheText) {
  std::string text("A=1\nB=2\0C=3\n", 12);
  ASSERT_TRUE(LoadStringTable(WriteSealed("cut_short.dat", text).c_str()));
  EXPECT_EQ(GlobalStringTable().size(), 2u);
  EXPECT_EQ(GlobalStringTable().Find("C"), nullptr);
}

TEST_F(StringFileTest, MissingOrEmptyFileFails) {
  LoadSomethingFirst();
  EXPECT_FALSE(LoadStringTable(dir_.File("absent.dat").c_str()));
  EXPECT_EQ(GlobalStringTable().size(), 0u);

  LoadSomethingFirst();
  std::string empty = dir_.File("empty.dat");
  test::WriteAll(empty, std::string());
  EXPECT_FALSE(LoadStringTable(empty.c_str()));
  EXPECT_EQ(GlobalStringTable().size(), 0u);

  LoadSomethingFirst();
  EXPECT_FALSE(LoadStringTable(dir_.path().c_str()));  // a folder
  EXPECT_EQ(GlobalStringTable().size(), 0u);

  EXPECT_FALSE(LoadStringTable(nullptr));
}

TEST_F(StringFileTest, DamagedFileFails) {
  Bytes sealed = SealText(BuiltinPublicKey(), "STR_ERROR=x\nSTR_CONFIRM=y\n");
  std::string path = dir_.File("bad.dat");

  // One flipped bit in the header, the body and the tag.
  for (std::size_t at : {std::size_t{5}, std::size_t{45}, sealed.size() - 1}) {
    LoadSomethingFirst();
    Bytes damaged = sealed;
    damaged[at] ^= 0x01;
    test::WriteAll(path, damaged);
    EXPECT_FALSE(LoadStringTable(path.c_str())) << "flipped byte " << at;
    EXPECT_EQ(GlobalStringTable().size(), 0u);
  }

  // Cut short, and shorter than a sealed blob's overhead.
  for (std::size_t keep : {sealed.size() - 1, std::size_t{60}, std::size_t{1}}) {
    LoadSomethingFirst();
    test::WriteAll(path, Bytes(sealed.begin(), sealed.begin() + static_cast<long>(keep)));
    EXPECT_FALSE(LoadStringTable(path.c_str())) << "kept " << keep << " bytes";
    EXPECT_EQ(GlobalStringTable().size(), 0u);
  }

  // Plain text that was never sealed.
  LoadSomethingFirst();
  test::WriteAll(path, std::string(200, 'A') + "=B\n");
  EXPECT_FALSE(LoadStringTable(path.c_str()));
  EXPECT_EQ(GlobalStringTable().size(), 0u);
}

TEST_F(StringFileTest, FileSealedForAnotherKeyFails) {
  LoadSomethingFirst();
  publish::KeyPair other = publish::GenerateKeyPair();
  std::string path = dir_.File("other.dat");
  test::WriteAll(path, SealText(other.publicKey, "STR_ERROR=x\n"));
  EXPECT_FALSE(LoadStringTable(path.c_str()));
  EXPECT_EQ(GlobalStringTable().size(), 0u);
}

}  // namespace
}  // namespace repair
