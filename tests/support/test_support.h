// Helpers shared by the suites: temp folders and test data paths that work natively and
// under Wine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace repair::test {

// A fresh empty folder, removed with its contents when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder's path with no trailing separator.
  const std::string& path() const { return path_; }
  // path() + separator + name.
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

// The path of a file in tests/data, in the form the platform's file calls accept
// (under Wine, the Unix path through drive Z:).
std::string DataPath(const std::string& name);

// `size` bytes that differ from position to position (xorshift), so that a misplaced, repeated
// or dropped piece shows.
std::string Pattern(std::size_t size);

// Makes `link` a symbolic link to `target`, a folder link when `folder`. False where this
// process may not make one (Windows without the privilege, a file system without links).
// Under Wine 8 only a folder link can be made (on the Unix side); a link to a file shows there
// as the file itself, and no junction can be set.
bool MakeSymlink(const std::string& target, const std::string& link, bool folder);
// Why a test that needs a link was skipped.
inline constexpr char kNoSymlink[] =
    "this system lets the test make no link it shows as one (Wine 8: CreateSymbolicLink makes "
    "nothing, and a Unix link to a file looks like the file)";

// Removes a folder with everything in it, links included (never what they point to).
void RemoveTree(const std::string& path);

// True when `path` itself (not what it points to) is a symbolic link or another reparse point.
bool IsLink(const std::string& path);

std::vector<std::uint8_t> ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes);
void WriteAll(const std::string& path, const std::string& text);

}  // namespace repair::test
