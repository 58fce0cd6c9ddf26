#include "publish/file_util.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "publish/host_files.h"

namespace repair::publish {
namespace fs = std::filesystem;

bool ReadFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    error = path + ": is a folder";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(in), {});
  if (in.bad()) {
    error = path + ": read failed";
    return false;
  }
  return true;
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes,
               std::string& error) {
  if (path == "-") {
    UseBinaryStandardOutput();
    if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() ||
        std::fflush(stdout) != 0) {
      error = "standard output: write failed";
      return false;
    }
    return true;
  }
  std::string temp = path + ".tmp-publish";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) {
      error = path + ": cannot create (" + std::strerror(errno) + ")";
      return false;
    }
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      fs::remove(temp, ignored);
      error = path + ": write failed";
      return false;
    }
  }
  std::error_code ec;
  fs::rename(temp, path, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    error = path + ": " + ec.message();
    return false;
  }
  return true;
}

}  // namespace repair::publish
