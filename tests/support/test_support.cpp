#include "support/test_support.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace repair::test {
namespace fs = std::filesystem;

TempDir::TempDir() {
  std::random_device device;
  std::mt19937_64 random(device());
  fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = base / ("repair-test-" + std::to_string(random()));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      path_ = candidate.string();
      return;
    }
  }
  throw std::runtime_error("cannot create a temp folder");
}

bool MakeSymlink(const std::string& target, const std::string& link, bool folder) {
#if defined(_WIN32)
  // Without developer mode or the privilege, only the unprivileged flag lets a plain user make
  // one; older systems refuse that flag, so try without it too.
  constexpr DWORD kUnprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
  const DWORD kind = folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
  return CreateSymbolicLinkA(link.c_str(), target.c_str(), kind | kUnprivileged) ||
         CreateSymbolicLinkA(link.c_str(), target.c_str(), kind);
#else
  std::error_code error;
  if (folder) {
    fs::create_directory_symlink(target, link, error);
  } else {
    fs::create_symlink(target, link, error);
  }
  return !error;
#endif
}

bool IsLink(const std::string& path) {
#if defined(_WIN32)
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
#else
  std::error_code error;
  return fs::is_symlink(fs::symlink_status(path, error));
#endif
}

TempDir::~TempDir() {
  std::error_code error;
  fs::remove_all(path_, error);
}

std::string TempDir::File(const std::string& name) const {
  return (fs::path(path_) / name).string();
}

std::string DataPath(const std::string& name) {
  std::string path = std::string(REPAIR_TEST_DATA_DIR) + "/" + name;
#if defined(_WIN32)
  // Wine maps the Unix root to drive Z:.
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
#endif
  return path;
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteAll(const std::string& path, const std::string& text) {
  WriteAll(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  std::uint32_t x = 2463534242u;
  for (char& c : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return bytes;
}

}  // namespace repair::test
