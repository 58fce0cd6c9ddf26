#include "common/format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/heap_buffer.h"

namespace repair {
namespace {

// Guard bytes around a buffer catch any write past its end.
struct GuardedBuffer {
  char before[16];
  char data[kTextBufferSize];
  char after[16];
  GuardedBuffer() {
    std::memset(before, 0x5A, sizeof before);
    std::memset(data, 0x5A, sizeof data);
    std::memset(after, 0x5A, sizeof after);
  }
  bool GuardsIntact() const {
    for (char c : before)
      if (c != 0x5A) return false;
    for (char c : after)
      if (c != 0x5A) return false;
    return true;
  }
};

TEST(FormatPath, FormatsResultsThatFitAndRefusesOverlongOnesWithoutOverrun) {
  GuardedBuffer b;
  EXPECT_TRUE(FormatPath(b.data, "%s%s", "C:\\Games\\", "repair.exe"));
  EXPECT_STREQ(b.data, "C:\\Games\\repair.exe");

  std::string exact(259, 'a');
  EXPECT_TRUE(FormatPath(b.data, "%s", exact.c_str()));
  EXPECT_EQ(std::strlen(b.data), 259u);

  std::string tooLong(260, 'b');
  EXPECT_FALSE(FormatPath(b.data, "%s", tooLong.c_str()));
  EXPECT_STREQ(b.data, "");  // never a cut path
  // The path buffer is 260 bytes: nothing past it may change.
  for (std::size_t i = kPathBufferSize; i < sizeof b.data; ++i) ASSERT_EQ(b.data[i], 0x5A) << i;
  EXPECT_TRUE(b.GuardsIntact());
}

TEST(FormatText, HoldsUpTo511CharactersAndKeepsPercentArguments) {
  GuardedBuffer b;
  EXPECT_TRUE(FormatText(b.data, "%d %%", 42));
  EXPECT_STREQ(b.data, "42 %");
  EXPECT_TRUE(FormatText(b.data, "%s", "100%s"));  // an argument is never a format
  EXPECT_STREQ(b.data, "100%s");
  EXPECT_TRUE(FormatText(b.data, "%s", std::string(511, 'x').c_str()));
  EXPECT_FALSE(FormatText(b.data, "%s", std::string(512, 'x').c_str()));
  EXPECT_STREQ(b.data, "");
  EXPECT_TRUE(b.GuardsIntact());
}

// A replacement holding its own token is replaced once, not forever; an empty token is none.
TEST(ReplaceAll, ReplacesEachTokenOnceLeftToRight) {
  std::string text = "<$T$>";
  ReplaceAll(text, "$T$", "x$T$y");
  ReplaceAll(text, "", "zz");
  EXPECT_EQ(text, "<x$T$y>");
}

TEST(CopyBounded, CopiesWithTerminatorOrLeavesEmpty) {
  char buffer[4];
  EXPECT_TRUE(CopyBounded(buffer, sizeof buffer, "abc"));
  EXPECT_STREQ(buffer, "abc");
  EXPECT_FALSE(CopyBounded(buffer, sizeof buffer, "abcd"));
  EXPECT_STREQ(buffer, "");
  EXPECT_FALSE(CopyBounded(buffer, 0, "a"));
}

TEST(HeapBuffer, AllocatesResetsAndMoves) {
  HeapBuffer a;
  EXPECT_TRUE(a.empty());
  ASSERT_TRUE(a.Allocate(0));
  EXPECT_NE(a.data(), nullptr);  // a zero-byte file still has a buffer to point at
  EXPECT_EQ(a.size(), 0u);
  ASSERT_TRUE(a.Allocate(1000));
  a.data()[999] = 7;
  HeapBuffer b = std::move(a);
  EXPECT_EQ(b.size(), 1000u);
  EXPECT_EQ(b.data()[999], 7);
  b.Reset();
  EXPECT_EQ(b.data(), nullptr);
}

}  // namespace
}  // namespace repair
