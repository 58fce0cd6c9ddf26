#include "engine/cache_plan.h"

#include <cstring>
#include <map>
#include <new>
#include <set>
#include <string>

#include "common/format.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace repair {
namespace {

constexpr char kCacheFolder[] = "recovery";
constexpr char kCacheExtension[] = ".recovery";

bool SameContent(const FileEntry& a, const FileEntry& b) {
  return a.size == b.size && std::memcmp(a.md5, b.md5, kMd5Length) == 0;
}

platform::NameRules CaseRules(bool ignoreCase) {
  platform::NameRules rules = platform::HostManifestRules();
  rules.ignoreCase = ignoreCase;
  return rules;
}

// What the entries occupy in the client folder, by their keys: their files, and the folders
// those files lie in.
struct Occupied {
  std::set<std::string> files;
  std::set<std::string> folders;
  bool Holds(const std::string& key) const { return files.count(key) + folders.count(key) != 0; }
};

// Collects every entry's file and folders; when the entries contradict each other, says how.
std::string CollectOccupied(const FileList& files, const platform::NameRules& rules,
                            Occupied& occupied) {
  std::map<std::string, const FileEntry*> owners;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const FileEntry& entry = *files.At(i);
    const std::string key = platform::NameKey(entry.name, rules);
    // One file listed twice is harmless only when both say the same: otherwise each run would
    // put back the one the last run took away.
    auto [it, fresh] = owners.emplace(key, &entry);
    if (!fresh && !SameContent(*it->second, entry)) {
      return "\"" + it->second->name + "\" and \"" + entry.name +
             "\" name one file with different contents";
    }
    occupied.files.insert(key);
    for (std::size_t slash = key.find('\\'); slash != std::string::npos;
         slash = key.find('\\', slash + 1)) {
      occupied.folders.insert(key.substr(0, slash));
    }
  }
  // A file where a folder has to be, the cache folder among them.
  if (occupied.files.count(platform::NameKey(kCacheFolder, rules)) != 0) {
    return std::string("an entry is the cache folder \"") + kCacheFolder + "\"";
  }
  for (const std::string& folder : occupied.folders) {
    if (occupied.files.count(folder) != 0) {
      return "an entry is the folder of another (key \"" + folder + "\")";
    }
  }
  return std::string();
}

// "recovery\<bare>[.<collision>].recovery", a cache path relative to the base folder. Each of
// its files is keyed whole: in a double-byte code page the bare name's last byte may pair with
// the dot after it, so keys of pieces would not add up to the key of the name.
std::string CacheName(const std::string& bare, std::uint32_t collision) {
  std::string name = std::string(kCacheFolder) + '\\' + bare;
  if (collision != 0) name += '.' + std::to_string(collision);
  return name + kCacheExtension;
}

bool CacheNameIsFree(const std::string& name, const platform::NameRules& rules,
                     const Occupied& occupied, const std::set<std::string>& chosen) {
  for (const char* suffix : kCacheFileSuffixes) {
    const std::string file = platform::NameKey(name + suffix, rules);
    if (occupied.Holds(file) || chosen.count(file) != 0) return false;
  }
  return true;
}

Status PlanOrThrow(const FileList& files, const char* baseFolder, const platform::NameRules& rules,
                   std::vector<std::string>& cachePaths) {
  Occupied occupied;
  const std::string contradiction = CollectOccupied(files, rules, occupied);
  if (!contradiction.empty()) {
    return Failure(RecoveryError::InvalidData, "plan the cache", "", contradiction);
  }

  std::vector<std::string> planned(files.size());
  std::set<std::string> chosen;
  // By the key of a bare name: the number after the last one chosen for it.
  std::map<std::string, std::uint32_t> nextCollision;
  char cachePath[kPathBufferSize];
  for (std::size_t i = 0; i < files.size(); ++i) {
    const FileEntry& entry = *files.At(i);
    const std::string bare = platform::LastComponent(entry.name, platform::HostManifestRules());
    // Each number gives a new key and the sets are finite, so a free one comes. Keys are only
    // ever taken, never freed, so every number below the last one chosen for this bare name is
    // still taken: the search starts past it, and many entries of one name stay linear.
    std::uint32_t& next = nextCollision[platform::NameKey(bare, rules)];
    std::uint32_t collision = next;
    while (!CacheNameIsFree(CacheName(bare, collision), rules, occupied, chosen)) ++collision;
    next = collision + 1;
    const std::string name = CacheName(bare, collision);
    for (const char* suffix : kCacheFileSuffixes) {
      chosen.insert(platform::NameKey(name + suffix, rules));
    }
    if (BuildCachePath(cachePath, baseFolder, entry.name.c_str(), collision)) {
      planned[i] = cachePath;
    }
  }
  cachePaths = std::move(planned);
  return Ok();
}

}  // namespace

std::string FileNameKey(const std::string& name) {
  return platform::NameKey(name, platform::HostManifestRules());
}

std::string FileNameKeyWithRules(const std::string& name, bool ignoreCase) {
  return platform::NameKey(name, CaseRules(ignoreCase));
}

bool BuildCachePath(char* out, const char* baseFolder, const char* name, std::uint32_t collision) {
  const std::string bare = platform::LastComponent(name, platform::HostManifestRules());
  const char sep = platform::kPathSeparator;
  if (collision == 0) {
    return FormatPath(out, "%s%s%c%s%s", baseFolder, kCacheFolder, sep, bare.c_str(),
                      kCacheExtension);
  }
  return FormatPath(out, "%s%s%c%s.%u%s", baseFolder, kCacheFolder, sep, bare.c_str(),
                    static_cast<unsigned>(collision), kCacheExtension);
}

Status PlanCachePaths(const FileList& files, const char* baseFolder,
                      std::vector<std::string>& cachePaths) {
  return PlanCachePathsWithRules(files, baseFolder, platform::HostManifestRules().ignoreCase,
                                 cachePaths);
}

Status PlanCachePathsWithRules(const FileList& files, const char* baseFolder, bool ignoreCase,
                               std::vector<std::string>& cachePaths) {
  cachePaths.clear();
  try {
    return PlanOrThrow(files, baseFolder, CaseRules(ignoreCase), cachePaths);
  } catch (const std::bad_alloc&) {
    return Failure(RecoveryError::MemoryAllocation, "plan the cache", "", "out of memory");
  }
}

}  // namespace repair
