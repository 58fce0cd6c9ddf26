// Fuzzes what the run makes of manifest names: each input line is one name (cut to 259 bytes),
// put into a manifest record and read back by ParseManifestRecords, so that exactly the names
// the run accepts go on; a name's size is 1 or 2 by its line's parity, so that one file listed
// twice may agree or contradict. Every accepted list is planned as on Windows (letter case
// ignored) and as on Linux, and for every entry:
//   - its local path begins with the client folder and, with "." and ".." resolved as Windows
//     reads them (both slash kinds, any component of only dots and spaces taken as "..") and as
//     Linux reads them, names something inside it;
//   - its cache path is a plain file name inside "<client folder>recovery/";
//   - no cache path, nor one of the files beside it, is under the plan's letter-case rules
//     another entry's cache file, an entry's file or a folder that holds one.
// The Windows comparison folds ASCII letters only, as the plan's key does; a key that folds
// more letters only makes more names equal, so the check holds for it all the same.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "common/format.h"
#include "engine/cache_plan.h"
#include "engine/manifest.h"
#include "platform/paths.h"

namespace {

constexpr char kBase[] = "/srv/client/";
constexpr char kCacheFolder[] = "/srv/client/recovery/";

void Check(bool condition) {
  if (!condition) std::abort();
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Folds a path as a file system with the given rules compares it.
std::string Fold(const std::string& path, bool ignoreCase) {
  std::string key = path;
  for (char& c : key) {
    if (c == '/') {
      c = '\\';
    } else if (ignoreCase && c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return key;
}

bool OnlyDotsAndSpaces(const std::string& component) {
  return component.find_first_not_of(". ") == std::string::npos;
}

// True when `relative`, resolved lexically below a folder, names something inside it (not the
// folder itself and nothing above it). Windows rules: both slash kinds separate, and a colon
// (a drive or a stream) or a component of dots and spaces alone counts as leaving.
bool StaysInside(const std::string& relative, bool windowsRules) {
  int depth = 0;
  std::size_t begin = 0;
  while (begin <= relative.size()) {
    std::size_t end = begin;
    while (end < relative.size() && relative[end] != '/' &&
           !(windowsRules && relative[end] == '\\')) {
      ++end;
    }
    const std::string component = relative.substr(begin, end - begin);
    begin = end + 1;
    if (component.empty() || component == ".") continue;
    if (component == ".." || (windowsRules && OnlyDotsAndSpaces(component))) {
      if (--depth < 0) return false;
      continue;
    }
    if (windowsRules && component.find(':') != std::string::npos) return false;
    ++depth;
  }
  return depth > 0;
}

// The folders above a local path's file, below the client folder, as keys.
void AddFolders(const std::string& relativeKey, std::set<std::string>& folders) {
  for (std::size_t slash = relativeKey.find('\\'); slash != std::string::npos;
       slash = relativeKey.find('\\', slash + 1)) {
    folders.insert(relativeKey.substr(0, slash));
  }
}

void CheckPlan(const repair::FileList& files, const std::vector<std::string>& localPaths,
               bool ignoreCase) {
  std::vector<std::string> cachePaths;
  if (!repair::PlanCachePathsWithRules(files, kBase, ignoreCase, cachePaths).ok()) {
    Check(cachePaths.empty());
    return;
  }
  Check(cachePaths.size() == files.size());

  const std::string base(kBase);
  std::set<std::string> localFiles;
  std::set<std::string> localFolders;
  for (const std::string& local : localPaths) {
    if (local.empty()) continue;
    const std::string key = Fold(local.substr(base.size()), ignoreCase);
    localFiles.insert(key);
    AddFolders(key, localFolders);
  }

  std::set<std::string> cacheFiles;
  for (const std::string& cache : cachePaths) {
    if (cache.empty()) continue;
    Check(StartsWith(cache, kCacheFolder));
    const std::string leaf = cache.substr(sizeof kCacheFolder - 1);
    Check(leaf.find_first_of("/\\:") == std::string::npos && !OnlyDotsAndSpaces(leaf));
    Check(leaf.size() > 9 && leaf.compare(leaf.size() - 9, 9, ".recovery") == 0);
    Check(StaysInside(cache.substr(base.size()), true) &&
          StaysInside(cache.substr(base.size()), false));
    for (const char* suffix : repair::kCacheFileSuffixes) {
      const std::string key = Fold(cache.substr(base.size()) + suffix, ignoreCase);
      Check(cacheFiles.insert(key).second);
      Check(localFiles.count(key) == 0 && localFolders.count(key) == 0);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // One record per non-empty line: the name, then a size of 1 or 2 and a digest of zeros.
  std::vector<std::string> names;
  std::vector<std::uint8_t> records;
  const char* text = reinterpret_cast<const char*>(data);
  std::size_t index = 0;
  for (std::size_t begin = 0; begin < size; ++index) {
    const void* newline = std::memchr(text + begin, '\n', size - begin);
    std::size_t end = newline ? static_cast<const char*>(newline) - text : size;
    std::string line(text + begin, end - begin);
    begin = end + 1;
    if (line.empty()) continue;
    if (line.size() > static_cast<std::size_t>(repair::kMaxManifestNameLength)) {
      line.resize(repair::kMaxManifestNameLength);
    }
    names.push_back(line.substr(0, line.find('\0')));
    records.push_back(static_cast<std::uint8_t>(line.size()));
    records.push_back(static_cast<std::uint8_t>(line.size() >> 8));
    records.insert(records.end(), line.begin(), line.end());
    const std::uint8_t fileSize[4] = {static_cast<std::uint8_t>(1 + index % 2), 0, 0, 0};
    records.insert(records.end(), fileSize, fileSize + 4);
    records.insert(records.end(), 16, 0);
  }

  repair::FileList files;
  if (repair::ParseManifestRecords(records.data(), static_cast<std::uint32_t>(records.size()),
                                   files) != repair::RecoveryError::None) {
    Check(files.size() == 0);
    return 0;
  }
  Check(files.size() == names.size());

  const std::string base(kBase);
  std::vector<std::string> localPaths(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    const repair::FileEntry& entry = *files.At(i);
    Check(entry.name == names[i] && repair::IsSafeRelativeName(entry.name));
    char local[repair::kPathBufferSize];
    if (!repair::platform::BuildLocalPath(local, kBase, entry.name.c_str())) continue;
    localPaths[i] = local;
    Check(StartsWith(localPaths[i], base));
    const std::string relative = localPaths[i].substr(base.size());
    Check(StaysInside(relative, true) && StaysInside(relative, false));
  }

  CheckPlan(files, localPaths, true);
  CheckPlan(files, localPaths, false);
  return 0;
}
