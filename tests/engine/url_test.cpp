#include "engine/url.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/format.h"

namespace repair {
namespace {

std::string Build(const char* remote, const std::string& name, bool* fits = nullptr) {
  char out[kPathBufferSize];
  std::memset(out, 'x', sizeof out);
  bool ok = BuildFileUrl(out, remote, name.c_str());
  if (fits != nullptr) *fits = ok;
  return out;
}

TEST(BuildFileUrlTest, JoinsRemotePathAndNameWithForwardSlashes) {
  EXPECT_EQ(Build("http://cdn.example/r/1.2", "a.dat"), "http://cdn.example/r/1.2/a.dat");
  EXPECT_EQ(Build("http://cdn.example/r", "data\\ui\\font.dat"),
            "http://cdn.example/r/data/ui/font.dat");
  // The remote path is the operator's URL: taken as it is, even where it would need escaping.
  EXPECT_EQ(Build("http://h/a b", "x y"), "http://h/a b/x%20y");
}

TEST(BuildFileUrlTest, PercentEncodesBytesAUrlPathCannotCarry) {
  EXPECT_EQ(Build("http://h", "data\\my file.dat"), "http://h/data/my%20file.dat");
  EXPECT_EQ(Build("http://h", "a%b#c?d\"e"), "http://h/a%25b%23c%3Fd%22e");
  EXPECT_EQ(Build("http://h", "\x01\x1f\x7f\x80\xe9\xff"), "http://h/%01%1F%7F%80%E9%FF");
  // What a path may carry stays as it is.
  EXPECT_EQ(Build("http://h", "A-z_0.9~+(1)&=,;!$'*@:[]"), "http://h/A-z_0.9~+(1)&=,;!$'*@:[]");
}

TEST(BuildFileUrlTest, RefusesResultsLongerThan259Characters) {
  const std::string remote = "http://h";  // 8 characters, then the slash
  bool fits = false;
  std::string longest(259 - 9, 'n');
  EXPECT_EQ(Build(remote.c_str(), longest, &fits).size(), 259u);
  EXPECT_TRUE(fits);

  EXPECT_EQ(Build(remote.c_str(), longest + "n", &fits), "");
  EXPECT_FALSE(fits);
  // Short as given, too long once encoded: each space takes three characters.
  EXPECT_EQ(Build(remote.c_str(), std::string(84, ' '), &fits), "");
  EXPECT_FALSE(fits);
  // An escape that would straddle the end of the name's room is refused whole.
  EXPECT_EQ(Build(remote.c_str(), std::string(257, 'n') + " ", &fits), "");
  EXPECT_FALSE(fits);
}

TEST(BuildFileUrlTest, RefusesMissingArguments) {
  char out[kPathBufferSize] = "stale";
  EXPECT_FALSE(BuildFileUrl(out, nullptr, "a.dat"));
  EXPECT_STREQ(out, "");
  std::strcpy(out, "stale");
  EXPECT_FALSE(BuildFileUrl(out, "http://h", nullptr));
  EXPECT_STREQ(out, "");
}

}  // namespace
}  // namespace repair
