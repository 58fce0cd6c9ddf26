#include "publish/release.h"

#include <cstdio>
#include <fstream>
#include <system_error>

#include "codec/codec.h"
#include "publish/file_util.h"
#include "publish/progress.h"
#include "publish/version_file.h"

namespace repair::publish {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kMaxUrlLength = 259;

void ReplaceAll(std::string& text, const std::string& token, const std::string& replacement) {
  for (std::size_t p = text.find(token); p != std::string::npos; p = text.find(token, p)) {
    text.replace(p, token.size(), replacement);
    p += replacement.size();
  }
}

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
  ProgressLine progress = MakeProgress("digesting", scan);
  for (const ClientFile& file : scan.files) {
    ManifestRecord record;
    if (!DigestClientFile(
            file, nullptr, record, [&progress](std::uint64_t n) { progress.AddBytes(n); }, error)) {
      return false;
    }
    list.push_back(std::move(record));
    progress.FileDone();
  }
  progress.Finish();
  Bytes manifest;
  if (!BuildManifest(list, publicKey, manifest, error) || !WriteFile(out, manifest, error)) {
    return false;
  }
  records = list.size();
  summary = progress.Summary();
  return true;
}

bool PublishRelease(const ReleaseOptions& options, const NoteSink& note, ReleaseResult& result,
                    std::string& error) {
  if (!CheckOwnFileName(options.manifestName, "manifest name", error) ||
      !CheckOwnFileName(options.versionFileName, "version file name", error)) {
    return false;
  }
  if (options.manifestName == options.versionFileName) {
    error = "the manifest and the version file need different names";
    return false;
  }
  std::string folder;
  if (!ResolveRemoteFolder(options.remoteLayout, options.major, options.minor, folder, error)) {
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
  const fs::path remoteDir = options.outDir / "remote" / fs::path(folder);
  if (fs::exists(remoteDir, ec) && !fs::is_empty(remoteDir, ec)) {
    error = DisplayPath(remoteDir) + " already holds a release; remove it first";
    return false;
  }

  ScanOptions scanOptions;
  scanOptions.exclude = options.exclude;
  // The release makes both itself: the client's copies may be stale, and the tool adds the
  // manifest to its list on its own.
  scanOptions.ignore = {options.manifestName, options.versionFileName};
  ScanResult scan;
  if (!ScanClientFolder(options.clientDir, scanOptions, scan, error)) return false;
  if (fs::exists(options.clientDir / options.manifestName, ec)) {
    note(options.manifestName + " in the client folder is left out: the release writes its own");
  }
  const bool listVersionFile = !NameExcluded(options.versionFileName, options.exclude);
  if (listVersionFile && fs::exists(options.clientDir / options.versionFileName, ec)) {
    note(options.versionFileName + " in the client folder is replaced by the one for build " +
         std::to_string(options.major) + "." + std::to_string(options.minor));
  }
  for (const std::string& n : scan.notes) note(n);

  // Built beside its final place under a hidden name, and renamed into place at the end.
  fs::path stagingName(".");
  stagingName += remoteDir.filename();
  stagingName += ".publishing";
  const fs::path staging = remoteDir.parent_path() / stagingName;
  fs::remove_all(staging, ec);  // left by an interrupted run
  if (!ec) fs::create_directories(staging, ec);
  if (ec) {
    error = DisplayPath(staging) + ": cannot create (" + ec.message() + ")";
    return false;
  }
  auto fail = [&staging]() {
    std::error_code ignored;
    fs::remove_all(staging, ignored);
    return false;
  };

  std::vector<ManifestRecord> records;
  ProgressLine progress = MakeProgress("copying", scan);
  for (const ClientFile& file : scan.files) {
    ManifestRecord record;
    const fs::path target = staging / file.relative;
    if (!DigestClientFile(
            file, &target, record, [&progress](std::uint64_t n) { progress.AddBytes(n); }, error)) {
      return fail();
    }
    records.push_back(std::move(record));
    progress.FileDone();
  }
  progress.Finish();
  result.copySummary = progress.Summary();

  VersionWords words;
  words.major = options.major;
  words.minor = options.minor;
  Bytes versionFile;
  try {
    versionFile = Seal(options.publicKey, EncodeVersionPlaintext(words));
  } catch (const std::exception& e) {
    error = e.what();
    return fail();
  }
  if (listVersionFile) {
    ManifestRecord record;
    record.name = options.versionFileName;
    record.size = static_cast<std::uint32_t>(versionFile.size());
    if (DigestMd5(versionFile.data(), record.size, record.md5.data(), nullptr) != kCodecOk ||
        !WriteBytes(staging / options.versionFileName, versionFile, error)) {
      if (error.empty()) error = "cannot digest the version file";
      return fail();
    }
    records.push_back(std::move(record));
  }
  Bytes manifest;
  if (!BuildManifest(records, options.publicKey, manifest, error) ||
      !WriteBytes(staging / options.manifestName, manifest, error)) {
    return fail();
  }

  if (!options.baseUrl.empty()) {
    for (const ManifestRecord& r : records) {
      std::size_t length = options.baseUrl.size() + 1 + folder.size() + 1 + EscapedLength(r.name);
      if (length > kMaxUrlLength) {
        note(PrintableName(r.name) + ": its download URL is " + std::to_string(length) +
             " characters; the tool handles at most " + std::to_string(kMaxUrlLength));
      }
    }
  }

  fs::remove(remoteDir, ec);  // empty, if it exists at all
  fs::rename(staging, remoteDir, ec);
  if (ec) {
    error = DisplayPath(remoteDir) + ": " + ec.message();
    return fail();
  }
  result.versionFile = options.outDir / "client-files" / options.versionFileName;
  if (!WriteBytes(result.versionFile, versionFile, error)) return false;
  result.remoteFolder = folder;
  result.remoteDir = remoteDir;
  result.records = records.size();
  return true;
}

}  // namespace repair::publish
