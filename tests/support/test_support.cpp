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

#if defined(_WIN32)
namespace {

// Links made on the Unix side, which only a Unix program removes again.
bool unixLinksMade = false;

// The Unix path of a Windows one under Wine; empty elsewhere.
std::string UnixPath(const std::string& path) {
  using UnixName = char*(CDECL*)(LPCWSTR);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto unixName = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")));
  const std::wstring wide(path.begin(), path.end());
  const char* converted = unixName != nullptr ? unixName(wide.c_str()) : nullptr;
  return converted != nullptr ? converted : "";
}

// Starts a Unix program under Wine; its handle does not wait for its end, so the caller looks
// for the effect instead.
bool StartUnixProgram(const char* program, std::string command) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(program, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

// Waits up to two seconds for `path` to exist (or, with `exists` false, to be gone).
bool AwaitPath(const std::string& path, bool exists) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    if ((GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) == exists) return true;
    Sleep(20);
  }
  return false;
}

// Wine 8's CreateSymbolicLink reports success and makes nothing, and it cannot set a junction;
// a Unix link to a folder, though, it shows as a folder with FILE_ATTRIBUTE_REPARSE_POINT (a
// Unix link to a file it shows as the plain file). So under Wine the link is made on the Unix
// side, by ln.
bool MakeUnixSymlink(const std::string& target, const std::string& link) {
  const std::string unixTarget = UnixPath(target);
  const std::string unixLink = UnixPath(link);
  if (unixTarget.empty() || unixLink.empty()) return false;
  unixLinksMade = true;
  return StartUnixProgram("Z:\\bin\\ln",
                          "/bin/ln -s \"" + unixTarget + "\" \"" + unixLink + "\"") &&
         AwaitPath(link, true) && IsLink(link);
}

// Wine's own calls cannot remove a Unix link to a folder (RemoveDirectory removes the empty
// folder it points to), and the run-time's walk loops on it: rm does.
void RemoveWithUnixLinks(const std::string& path) {
  const std::string unixPath = UnixPath(path);
  if (!unixLinksMade || unixPath.empty()) return;
  if (StartUnixProgram("Z:\\bin\\rm", "/bin/rm -rf \"" + unixPath + "\"")) {
    AwaitPath(path, false);
  }
}

}  // namespace
#endif

bool MakeSymlink(const std::string& target, const std::string& link, bool folder) {
#if defined(_WIN32)
  // Without developer mode or the privilege, only the unprivileged flag lets a plain user make
  // one; older systems refuse that flag, so try without it too.
  constexpr DWORD kUnprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
  const DWORD kind = folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
  if ((CreateSymbolicLinkA(link.c_str(), target.c_str(), kind | kUnprivileged) ||
       CreateSymbolicLinkA(link.c_str(), target.c_str(), kind)) &&
      IsLink(link)) {
    return true;
  }
  return GetFileAttributesA(link.c_str()) == INVALID_FILE_ATTRIBUTES &&
         MakeUnixSymlink(target, link);
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

TempDir::~TempDir() { RemoveTree(path_); }

void RemoveTree(const std::string& path) {
#if defined(_WIN32)
  RemoveWithUnixLinks(path);
#endif
  std::error_code error;
  fs::remove_all(path, error);
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
