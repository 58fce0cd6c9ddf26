#include "engine/own_file.h"

#include "common/format.h"
#include "engine/cache_plan.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace repair {
namespace {

// A resolved local path, compared as the file system compares names: without letter case on
// Windows, byte for byte elsewhere. Empty when the path does not resolve.
std::string ResolvedKey(const char* path) {
  std::string resolved;
  if (!platform::ResolveExistingPath(path, resolved)) return std::string();
  return platform::kFileNamesIgnoreCase ? FileNameKey(resolved) : resolved;
}

}  // namespace

OwnFileMatcher::OwnFileMatcher(const char* baseFolder, const char* ownFileName)
    : baseFolder_(baseFolder), ownKey_(FileNameKey(ownFileName)) {
  char ownPath[kPathBufferSize];
  if (platform::BuildLocalPath(ownPath, baseFolder, ownFileName)) {
    resolvedKey_ = ResolvedKey(ownPath);
  }
}

bool OwnFileMatcher::Matches(const std::string& name) const {
  if (FileNameKey(name) == ownKey_) return true;
  if (resolvedKey_.empty()) return false;
  // Only the last component can be an alias of the executable's name: a short name where the
  // file system keeps them, or the name itself below a folder that is a link.
  const std::string leaf =
      FileNameKey(platform::LastComponent(name, platform::HostManifestRules()));
  const bool mayAlias =
      leaf == ownKey_ || (platform::kFileNamesIgnoreCase && leaf.find('~') != std::string::npos);
  if (!mayAlias) return false;
  char localPath[kPathBufferSize];
  if (!platform::BuildLocalPath(localPath, baseFolder_.c_str(), name.c_str())) return false;
  return ResolvedKey(localPath) == resolvedKey_;
}

}  // namespace repair
