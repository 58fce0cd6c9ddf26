// The cache plan's time for manifests whose entries share one file name in different folders
// (as many folders of a client may each hold an "index.dat"): every such entry after the first
// needs a numbered cache name. Prints one line per size; asserts nothing.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/cache_plan.h"
#include "engine/recovery_state.h"

int main() {
  const std::uint8_t md5[16] = {};
  for (int count : {1000, 4000, 16000, 64000}) {
    repair::FileList files;
    for (int i = 0; i < count; ++i) {
      const std::string name = "folder" + std::to_string(i) + "\\index.dat";
      files.Append(std::make_unique<repair::FileEntry>(name.c_str(), 1, md5));
    }
    std::vector<std::string> paths;
    const auto start = std::chrono::steady_clock::now();
    const bool planned = repair::PlanCachePaths(files, "/srv/client/", paths).ok();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%6d entries named index.dat: %s in %.3f s\n", count,
                planned ? "planned" : "refused", seconds);
  }
  return 0;
}
