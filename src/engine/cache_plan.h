// Where each entry's downloaded bytes wait before they replace its client file, chosen once per
// run, right after the manifest is read and before anything is written, so that no entry's
// bytes can ever land on another entry's file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/recovery_state.h"
#include "engine/status.h"

namespace repair {

// The cache path of a manifest name: "<base>recovery<sep><file name><ext>.recovery", the
// name's folders dropped. A non-zero `collision` makes "<file name><ext>.<collision>.recovery"
// for an entry whose plain cache path is taken. False when it exceeds 259 chars.
bool BuildCachePath(char* out, const char* baseFolder, const char* name, std::uint32_t collision);

// The files that the download of one cache path may leave beside it, by suffix: the cache file
// itself, its partial download, and what the server said about that partial download.
constexpr const char* kCacheFileSuffixes[] = {"", ".part", ".part.validator"};

// The key under which the file system tells manifest names apart (platform::NameKey under
// platform::HostManifestRules): both slash kinds separate; on Windows names are read in the
// ANSI code page and compared without letter case as the file system compares them, so that
// bytes DC and FC (U+00DC and U+00FC in code page 1252) give one key; elsewhere names are
// compared byte for byte.
std::string FileNameKey(const std::string& name);
// FileNameKey with letter case ignored or not, whatever this system does, so that either
// system's rules can be checked on one (in this system's code page; ASCII alone on Linux).
std::string FileNameKeyWithRules(const std::string& name, bool ignoreCase);

// Chooses every entry's cache path, by list index, as BuildCachePath makes it: the plain one
// where it is free, otherwise the lowest collision number that is. A cache path is free when
// neither it nor any of its suffixed files (kCacheFileSuffixes) is, under the file system's
// letter-case rules, any entry's file, a folder that holds an entry's file, or a file chosen for
// an earlier entry. An entry whose cache path exceeds 259 characters gets an empty path: the
// download phase refuses it if it needs one.
//
// Refuses the manifest, with InvalidData saying why and nothing chosen, when two entries name
// one file with different sizes or digests, when an entry's file is a folder of another entry,
// and when an entry's file is the cache folder itself. MemoryAllocation when memory runs out.
Status PlanCachePaths(const FileList& files, const char* baseFolder,
                      std::vector<std::string>& cachePaths);
// PlanCachePaths with either system's letter-case rules (FileNameKeyWithRules); the separator
// of the paths it builds stays the platform's.
Status PlanCachePathsWithRules(const FileList& files, const char* baseFolder, bool ignoreCase,
                               std::vector<std::string>& cachePaths);

}  // namespace repair
