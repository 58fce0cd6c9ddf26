// Releases: what an operator uploads to a static HTTP host for one client build, and what ships
// inside the client folder.
//
//   OUT_DIR/remote/<remote folder>/<manifest name>      the sealed, packed file list
//   OUT_DIR/remote/<remote folder>/<client files>       every listed file, '/' separators
//   OUT_DIR/client-files/<version file name>            the sealed version file of the build
//
// The remote folder is the remote layout with $MAJORVER$ and $MINORVER$ replaced the way the
// tool replaces them in SYS_REMOTEPATH, so serving OUT_DIR/remote at a base URL and setting
// SYS_REMOTEPATH=<base URL>/<remote layout> makes the tool find every build published there.
// The version file is itself listed (the client's own copy of it is never used), so a repair
// towards an older build also puts back that build's version file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/block_index.h"
#include "publish/client_scan.h"
#include "publish/sealer.h"

namespace repair::publish {

constexpr char kDefaultRemoteLayout[] = "$MAJORVER$.$MINORVER$";
constexpr char kDefaultManifestName[] = "filehash.tsf";
constexpr char kDefaultVersionFileName[] = "buildver.tvf";

using NoteSink = std::function<void(const std::string&)>;

struct ReleaseOptions {
  std::filesystem::path clientDir;
  std::int32_t major = 0;
  std::int32_t minor = 0;
  std::filesystem::path outDir;
  Bytes publicKey;  // X.509 DER; files are sealed for it
  std::vector<std::string> exclude;
  std::string manifestName = kDefaultManifestName;
  std::string versionFileName = kDefaultVersionFileName;
  std::string remoteLayout = kDefaultRemoteLayout;
  // When given, every file's download URL is checked against the tool's 259-character limit.
  std::string baseUrl;
  // As ScanOptions::codePage.
  platform::CodePage codePage = platform::kBytesOnly;
  // Every listed file of at least blockIndexMin bytes gets a block index beside its copy,
  // "<name>.blockidx", in blocks of blockSize; 0 writes none. The tool looks for none below
  // kBlockRepairMinSize, so a smaller value is refused.
  std::uint32_t blockIndexMin = kBlockRepairMinSize;
  std::uint32_t blockSize = kDefaultIndexBlockSize;
};

struct ReleaseResult {
  std::string remoteFolder;           // the resolved layout, e.g. "3.7"
  std::filesystem::path remoteDir;    // OUT_DIR/remote/<remote folder>
  std::filesystem::path versionFile;  // OUT_DIR/client-files/<version file name>
  std::size_t records = 0;            // in the manifest
  std::size_t blockIndexes = 0;       // written beside their files
  std::string copySummary;            // files, bytes, time and rate of the copy
};

// The layout with every "$MAJORVER$", then every "$MINORVER$", replaced by the decimal numbers.
// False unless the result is a relative folder path: '/'-separated parts, none empty, "." or
// "..", and no backslash or colon (the remote side is a URL path).
bool ResolveRemoteFolder(const std::string& layout, std::int32_t major, std::int32_t minor,
                         std::string& folder, std::string& error);

// A name for one of the release's own files at the top of the client folder: not empty, no
// folder part, at most 259 bytes.
bool CheckOwnFileName(const std::string& name, const char* what, std::string& error);

// Writes the manifest of `clientDir` to `out` (all or nothing). A file at `out` inside the
// folder is left out of the list. `summary` receives the digest run's figures.
bool WriteClientManifest(const std::filesystem::path& clientDir, const ScanOptions& scan,
                         const Bytes& publicKey, const std::string& out, const NoteSink& note,
                         std::size_t& records, std::string& summary, std::string& error);

// Writes the whole release. The remote folder is built beside its final place and renamed into
// it at the end, so a failed run leaves no half release under the real name. Refuses an
// OUT_DIR inside the client folder, a remote folder that already holds anything, and a release
// where a block index would have the name of a file or folder of the client (on Windows).
bool PublishRelease(const ReleaseOptions& options, const NoteSink& note, ReleaseResult& result,
                    std::string& error);

}  // namespace repair::publish
