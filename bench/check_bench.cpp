// The check phase's speed at 1 to 4 readers at once, over a generated client of realistic shape
// (many small files, a few large ones holding most of the bytes): each round once with the
// files' pages dropped from the page cache first (posix_fadvise DONTNEED, which needs no
// privilege), so that the disk is read, and once warm. Prints figures, asserts nothing.
//   check_bench [FILES [TOTAL_MIB [FOLDER]]]   default 2000 files, 1024 MiB, build/check-bench
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "codec/codec.h"
#include "engine/file_check.h"
#include "engine/recovery_state.h"
#include "platform/disk_info.h"

namespace {

using repair::FileEntry;
using repair::FileList;

void DropFromCache(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return;
  ::fdatasync(fd);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t files = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 2000;
  const std::size_t totalMib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1024;
  const std::string folder = argc > 3 ? argv[3] : "build/check-bench";
  if (files == 0 || totalMib == 0) return 1;
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const std::string base = std::filesystem::absolute(folder).string() + "/";

  // Sizes: a Pareto tail of small files up to 8 MiB; a few large files hold the rest.
  std::mt19937 random(2024);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  const std::size_t large = std::max<std::size_t>(1, files / 200);
  std::vector<std::size_t> sizes;
  std::size_t smallTotal = 0;
  for (std::size_t i = 0; i + large < files; ++i) {
    const double pareto = 1.0 / std::pow(1.0 - uniform(random), 1.0 / 1.2);
    sizes.push_back(std::min<std::size_t>(static_cast<std::size_t>(pareto * 4096), 8 << 20));
    smallTotal += sizes.back();
  }
  const std::size_t total = totalMib << 20;
  const std::size_t left = total > smallTotal ? total - smallTotal : large;
  for (std::size_t i = 0; i < large; ++i) sizes.push_back(std::max<std::size_t>(left / large, 1));

  FileList list;
  std::vector<std::string> paths;
  std::uint64_t bytes = 0;
  std::vector<std::uint8_t> content;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    content.resize(sizes[i]);
    for (std::size_t j = 0; j < content.size(); ++j) {
      content[j] = static_cast<std::uint8_t>((j * 2654435761u + i) >> 7);
    }
    const std::string name = "f" + std::to_string(i) + ".bin";
    FILE* out = std::fopen((base + name).c_str(), "wb");
    if (out == nullptr || std::fwrite(content.data(), 1, content.size(), out) != content.size()) {
      return 1;
    }
    std::fclose(out);
    std::uint8_t md5[16];
    repair::DigestMd5(content.data(), static_cast<std::uint32_t>(content.size()), md5, nullptr);
    list.Append(
        std::make_unique<FileEntry>(name.c_str(), static_cast<std::uint32_t>(content.size()), md5));
    paths.push_back(base + name);
    bytes += content.size();
  }
  std::printf(
      "%zu files, %.0f MiB in %s; disk kind %d (0 unknown, 1 solid, 2 rotational), "
      "%u cores, default readers %u\n",
      sizes.size(), bytes / 1048576.0, base.c_str(),
      static_cast<int>(repair::platform::DiskKindOf(base.c_str())),
      std::thread::hardware_concurrency(), repair::CheckThreadsFor(base.c_str()));
  for (const bool cold : {true, false}) {
    for (unsigned threads = 1; threads <= 4; ++threads) {
      if (cold) {
        for (const std::string& path : paths) DropFromCache(path);
      }
      for (auto& entry : list) entry->state.store(repair::Listed);
      const auto start = std::chrono::steady_clock::now();
      const repair::Status status = repair::CheckFiles(list, base.c_str(), threads);
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      std::uint32_t intact = 0;
      for (auto& entry : list) intact += entry->state.load() == repair::Intact ? 1 : 0;
      std::printf("%s, %u reader(s): %.2f s, %.0f MiB/s, %u of %zu intact%s\n",
                  cold ? "cold" : "warm", threads, seconds, bytes / 1048576.0 / seconds, intact,
                  sizes.size(), status.ok() ? "" : " (FAILED)");
    }
  }
  std::filesystem::remove_all(folder);
  return 0;
}
