#include "publish/client_digest.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/md5.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>
#include <vector>

#include "publish/display.h"

namespace repair::publish {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kReadChunk = 1 << 20;

bool CreateCopy(const fs::path& copyTo, std::ofstream& out, std::string& error) {
  std::error_code ec;
  fs::create_directories(copyTo.parent_path(), ec);
  out.open(copyTo, std::ios::binary | std::ios::trunc);
  if (ec || !out) {
    error = DisplayPath(copyTo) + ": cannot create (" +
            (ec ? ec.message() : std::string(std::strerror(errno))) + ")";
    return false;
  }
  return true;
}

}  // namespace

bool DigestClientFile(const ClientFile& file, const fs::path* copyTo, ManifestRecord& record,
                      const std::function<void(std::uint64_t)>& onBytes, std::string& error,
                      BlockIndexBuilder* blocks) {
  std::ifstream in(file.source, std::ios::binary);
  if (!in) {
    error = DisplayPath(file.source) + ": cannot open (" + std::strerror(errno) + ")";
    return false;
  }
  std::ofstream out;
  if (copyTo != nullptr && !CreateCopy(*copyTo, out, error)) return false;
  CryptoPP::Weak1::MD5 md5;
  std::vector<char> buffer(kReadChunk);
  std::uint64_t total = 0;
  for (;;) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const std::streamsize got = in.gcount();
    if (got > 0) {
      total += static_cast<std::uint64_t>(got);
      if (total > kMaxFileSize) break;  // grew past the limit while being read
      md5.Update(reinterpret_cast<const CryptoPP::byte*>(buffer.data()),
                 static_cast<std::size_t>(got));
      if (blocks != nullptr) {
        blocks->Update(reinterpret_cast<const std::uint8_t*>(buffer.data()),
                       static_cast<std::size_t>(got));
      }
      if (copyTo != nullptr && !out.write(buffer.data(), got)) {
        error = DisplayPath(*copyTo) + ": write failed";
        return false;
      }
      if (onBytes) onBytes(static_cast<std::uint64_t>(got));
    }
    if (in.bad()) {
      error = DisplayPath(file.source) + ": read failed";
      return false;
    }
    if (in.eof()) break;
  }
  if (total != file.size) {
    error = DisplayPath(file.source) + ": changed while being read (" + std::to_string(file.size) +
            " bytes listed, " + (total > kMaxFileSize ? "over 4 GiB" : std::to_string(total)) +
            " read)";
    return false;
  }
  if (copyTo != nullptr) {
    out.close();
    if (!out) {
      error = DisplayPath(*copyTo) + ": write failed";
      return false;
    }
  }
  record.name = file.name;
  record.size = static_cast<std::uint32_t>(total);
  md5.Final(record.md5.data());
  return true;
}

}  // namespace repair::publish
