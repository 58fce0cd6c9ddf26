#include "publish/release.h"

#include <cstdio>
#include <fstream>
#include <memory>
#include <system_error>

#include "codec/codec.h"
#include "common/format.h"
#include "publish/client_digest.h"
#include "publish/display.h"
#include "publish/file_util.h"
#include "publish/host_files.h"
#include "publish/name_collisions.h"
#include "publish/progress.h"
#include "publish/staging_folder.h"
#include "publish/version_file.h"

namespace repair::publish {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kMaxUrlLength = 259;

bool WriteBytes(const fs::path& path, const Bytes& bytes, std::string& error) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (ec || !out) {
    error =
        DisplayPath(path) + ": cannot create" + (ec ? " (" + ec.message() + ")" : std::string());
    return false;
  }
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    error = DisplayPath(path) + ": write failed";
    return false;
  }
  return true;
}

// The length of a file's download URL once the tool has escaped the bytes a request line
// cannot carry as they are.
std::size_t EscapedLength(const std::string& name) {
  std::size_t length = 0;
  for (char ch : name) {
    unsigned char c = static_cast<unsigned char>(ch);
    bool escaped = c <= 0x20 || c >= 0x7F || c == '%' || c == '#' || c == '?' || c == '"';
    length += escaped ? 3 : 1;
  }
  return length;
}

// True when `inner` is `outer` or lies below it; both are made absolute and free of links
// first, so "out/../client" is recognised.
bool LiesWithin(const fs::path& inner, const fs::path& outer) {
  std::error_code ec1, ec2;
  const fs::path a = fs::weakly_canonical(inner, ec1);
  const fs::path b = fs::weakly_canonical(outer, ec2);
  if (ec1 || ec2) return false;
  const fs::path relative = a.lexically_relative(b);
  return !relative.empty() && *relative.begin() != "..";
}

ProgressLine MakeProgress(const char* label, const ScanResult& scan) {
  return ProgressLine(label, scan.files.size(), scan.totalBytes,
                      StderrIsTerminal() ? stderr : nullptr);
}

// What a publish run carries from one step to the next.
struct ReleasePlan {
  std::string folder;  // the resolved remote layout
  fs::path remoteDir;  // OUT_DIR/remote/<folder>
  bool listVersionFile = false;
  ScanResult scan;
  std::vector<ManifestRecord> records;
  Bytes versionFile;  // sealed
};

// Checks the options and the folders before anything is written.
bool PlanRelease(const ReleaseOptions& options, ReleasePlan& plan, std::string& error) {
  if (options.blockIndexMin != 0 &&
      (options.blockIndexMin < kBlockRepairMinSize || !IsIndexBlockSize(options.blockSize))) {
    error = "block indexes need files of at least " + std::to_string(kBlockRepairMinSize >> 20) +
            " MiB (the tool looks for none below) and a block size that is a power of two from " +
            std::to_string(kMinIndexBlockSize >> 10) + " to " +
            std::to_string(kMaxIndexBlockSize >> 10) + " KiB";
    return false;
  }
  if (!CheckOwnFileName(options.manifestName, "manifest name", error) ||
      !CheckOwnFileName(options.versionFileName, "version file name", error)) {
    return false;
  }
  if (options.manifestName == options.versionFileName) {
    error = "the manifest and the version file need different names";
    return false;
  }
  if (!ResolveRemoteFolder(options.remoteLayout, options.major, options.minor, plan.folder,
                           error)) {
    return false;
  }
  std::error_code ec;
  if (!fs::is_directory(options.clientDir, ec)) {
    error = DisplayPath(options.clientDir) + ": not a folder";
    return false;
  }
  if (LiesWithin(options.outDir, options.clientDir)) {
    error = DisplayPath(options.outDir) + " lies inside the client folder; publish somewhere else";
    return false;
  }
  plan.remoteDir = options.outDir / "remote" / fs::path(plan.folder);
  if (fs::exists(plan.remoteDir, ec) && !fs::is_empty(plan.remoteDir, ec)) {
    error = DisplayPath(plan.remoteDir) + " already holds a release; remove it first";
    return false;
  }
  return true;
}

// Lists the client folder and tells the operator what the release leaves out or replaces.
bool ScanRelease(const ReleaseOptions& options, const NoteSink& note, ReleasePlan& plan,
                 std::string& error) {
  ScanOptions scanOptions;
  scanOptions.exclude = options.exclude;
  scanOptions.codePage = options.codePage;
  // The release makes both itself: the client's copies may be stale, and the tool adds the
  // manifest to its list on its own.
  scanOptions.ignore = {options.manifestName, options.versionFileName};
  if (!ScanClientFolder(options.clientDir, scanOptions, plan.scan, error)) return false;
  std::error_code ec;
  if (fs::exists(options.clientDir / options.manifestName, ec)) {
    note(options.manifestName + " in the client folder is left out: the release writes its own");
  }
  plan.listVersionFile = !NameExcluded(options.versionFileName, options.exclude);
  if (plan.listVersionFile && fs::exists(options.clientDir / options.versionFileName, ec)) {
    note(options.versionFileName + " in the client folder is replaced by the one for build " +
         std::to_string(options.major) + "." + std::to_string(options.minor));
  }
  for (const std::string& n : plan.scan.notes) note(n);
  return true;
}

bool WantsBlockIndex(const ReleaseOptions* options, std::uint64_t size) {
  return options != nullptr && options->blockIndexMin != 0 && size >= options->blockIndexMin;
}

// Writes the block index `builder` made of `file` beside its copy `target`.
bool WriteBlockIndex(BlockIndexBuilder& builder, const ManifestRecord& record,
                     const fs::path& target, std::string& error) {
  BlockIndex index;
  if (!builder.Finish(record.md5.data(), index)) {
    error = DisplayPath(target) + ": too large for a block index";
    return false;
  }
  const std::vector<std::uint8_t> bytes = FormatBlockIndex(index);
  fs::path indexPath = target;
  indexPath += kBlockIndexSuffix;
  return WriteBytes(indexPath, Bytes(bytes.begin(), bytes.end()), error);
}

// Digests every listed file in order, with a progress line under `label`; with `copyInto`,
// copies each below that folder in the same read, and with `indexes` as well, writes the block
// index of each file large enough beside its copy.
bool DigestFiles(const ScanResult& scan, const char* label, const fs::path* copyInto,
                 std::vector<ManifestRecord>& records, std::string& summary, std::string& error,
                 const ReleaseOptions* indexes = nullptr, std::size_t* indexCount = nullptr) {
  ProgressLine progress = MakeProgress(label, scan);
  for (const ClientFile& file : scan.files) {
    ManifestRecord record;
    const fs::path target = copyInto != nullptr ? *copyInto / file.relative : fs::path();
    const bool indexed = copyInto != nullptr && WantsBlockIndex(indexes, file.size);
    std::unique_ptr<BlockIndexBuilder> builder;
    if (indexed) builder = std::make_unique<BlockIndexBuilder>(indexes->blockSize);
    if (!DigestClientFile(
            file, copyInto != nullptr ? &target : nullptr, record,
            [&progress](std::uint64_t n) { progress.AddBytes(n); }, error, builder.get())) {
      return false;
    }
    if (indexed) {
      if (!WriteBlockIndex(*builder, record, target, error)) return false;
      if (indexCount != nullptr) ++*indexCount;
    }
    records.push_back(std::move(record));
    progress.FileDone();
  }
  progress.Finish();
  summary = progress.Summary();
  return true;
}

// Seals the build's version file and, unless excluded, lists it and puts it in `staging`.
bool StageVersionFile(const ReleaseOptions& options, ReleasePlan& plan, const fs::path& staging,
                      std::string& error) {
  VersionWords words;
  words.major = options.major;
  words.minor = options.minor;
  try {
    plan.versionFile = Seal(options.publicKey, EncodeVersionPlaintext(words));
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
  if (!plan.listVersionFile) return true;
  ManifestRecord record;
  record.name = options.versionFileName;
  record.size = static_cast<std::uint32_t>(plan.versionFile.size());
  if (DigestMd5(plan.versionFile.data(), record.size, record.md5.data(), nullptr) != kCodecOk) {
    error = "cannot digest the version file";
    return false;
  }
  if (!WriteBytes(staging / options.versionFileName, plan.versionFile, error)) return false;
  plan.records.push_back(std::move(record));
  return true;
}

bool StageManifest(const ReleaseOptions& options, const std::vector<ManifestRecord>& records,
                   const fs::path& staging, std::string& error) {
  Bytes manifest;
  return BuildManifest(records, options.publicKey, manifest, error) &&
         WriteBytes(staging / options.manifestName, manifest, error);
}

// Refuses a release in which a block index would take the name of a file, or of a folder, that
// the release lists or writes, as a Windows file system compares names: the index would replace
// it on the host, or a client would fetch the one for the other.
bool CheckBlockIndexNames(const ReleaseOptions& options, const ReleasePlan& plan,
                          std::string& error) {
  std::vector<std::string> names = {options.manifestName, options.versionFileName};
  std::vector<std::string> indexNames;
  for (const ClientFile& file : plan.scan.files) {
    names.push_back(file.name);
    if (WantsBlockIndex(&options, file.size)) indexNames.push_back(file.name + kBlockIndexSuffix);
  }
  const std::string collision = BlockIndexCollision(names, indexNames, options.codePage);
  if (collision.empty()) return true;
  error = collision + ": rename that file, or publish with --block-index-min off";
  return false;
}

// With a base URL, notes each file whose download URL the tool could not hold.
void NoteLongUrls(const ReleaseOptions& options, const ReleasePlan& plan, const NoteSink& note) {
  if (options.baseUrl.empty()) return;
  for (const ManifestRecord& r : plan.records) {
    std::size_t length =
        options.baseUrl.size() + 1 + plan.folder.size() + 1 + EscapedLength(r.name);
    if (length > kMaxUrlLength) {
      note(PrintableName(r.name) + ": its download URL is " + std::to_string(length) +
           " characters; the tool handles at most " + std::to_string(kMaxUrlLength));
    }
  }
}

}  // namespace

bool ResolveRemoteFolder(const std::string& layout, std::int32_t major, std::int32_t minor,
                         std::string& folder, std::string& error) {
  if (major < 0 || minor < 0) {
    error = "major and minor must not be negative: the tool refuses such a version";
    return false;
  }
  std::string resolved = layout;
  ReplaceAll(resolved, "$MAJORVER$", std::to_string(major));
  ReplaceAll(resolved, "$MINORVER$", std::to_string(minor));
  const std::string why = "remote layout '" + layout + "' gives '" + resolved + "', ";
  if (resolved.empty()) {
    error = why + "not a folder";
    return false;
  }
  if (resolved.find_first_of("\\:") != std::string::npos) {
    error = why + "which holds a backslash or colon; use '/' between folders";
    return false;
  }
  std::size_t start = 0;
  for (;;) {
    std::size_t end = resolved.find('/', start);
    std::string part =
        resolved.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.empty() || part == "." || part == "..") {
      error = why + "which needs folder names between its slashes, none of them '.' or '..'";
      return false;
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  folder = resolved;
  return true;
}

bool CheckOwnFileName(const std::string& name, const char* what, std::string& error) {
  if (name.empty() || name == "." || name == ".." ||
      name.find_first_of("/\\:") != std::string::npos || name.size() > kMaxNameLength) {
    error = std::string(what) + " '" + name + "' must be a plain file name of at most " +
            std::to_string(kMaxNameLength) + " bytes, without folders";
    return false;
  }
  return true;
}

bool WriteClientManifest(const fs::path& clientDir, const ScanOptions& scanOptions,
                         const Bytes& publicKey, const std::string& out, const NoteSink& note,
                         std::size_t& records, std::string& summary, std::string& error) {
  ScanOptions options = scanOptions;
  std::error_code ec;
  if (fs::is_directory(clientDir, ec) && LiesWithin(out, clientDir)) {
    const fs::path relative =
        fs::weakly_canonical(out, ec).lexically_relative(fs::weakly_canonical(clientDir, ec));
    options.ignore.push_back(DisplayPath(relative));
  }
  ScanResult scan;
  if (!ScanClientFolder(clientDir, options, scan, error)) return false;
  for (const std::string& n : scan.notes) note(n);

  std::vector<ManifestRecord> list;
  Bytes manifest;
  if (!DigestFiles(scan, "digesting", nullptr, list, summary, error) ||
      !BuildManifest(list, publicKey, manifest, error) || !WriteFile(out, manifest, error)) {
    return false;
  }
  records = list.size();
  return true;
}

bool PublishRelease(const ReleaseOptions& options, const NoteSink& note, ReleaseResult& result,
                    std::string& error) {
  ReleasePlan plan;
  if (!PlanRelease(options, plan, error) || !ScanRelease(options, note, plan, error) ||
      !CheckBlockIndexNames(options, plan, error)) {
    return false;
  }

  // Whichever step fails, the staging folder goes with it: no half release is ever left.
  StagingFolder staging(plan.remoteDir);
  if (!staging.Create(error) ||
      !DigestFiles(plan.scan, "copying", &staging.path(), plan.records, result.copySummary, error,
                   &options, &result.blockIndexes) ||
      !StageVersionFile(options, plan, staging.path(), error) ||
      !StageManifest(options, plan.records, staging.path(), error)) {
    return false;
  }
  NoteLongUrls(options, plan, note);
  if (!staging.Commit(error)) return false;

  result.versionFile = options.outDir / "client-files" / options.versionFileName;
  if (!WriteBytes(result.versionFile, plan.versionFile, error)) return false;
  result.remoteFolder = plan.folder;
  result.remoteDir = plan.remoteDir;
  result.records = plan.records.size();
  return true;
}

}  // namespace repair::publish
