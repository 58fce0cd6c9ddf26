// The operator's check of a published release: the manifest and every listed file fetched
// exactly as the tool fetches them (the same HTTP client and agent, the same URL escaping, no
// redirects, status 200 and Content-Length required, an empty file restored without a
// request), several at a time, each judged as the tool would judge it. The tool's own code
// does the work wherever it can: the string file, the remote folder, the manifest and the
// URLs are read and built by the engine itself, so the check cannot drift from the tool.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "publish/check_verdict.h"

namespace repair::publish {

struct CheckOptions {
  // The remote folder template ("$MAJORVER$" and "$MINORVER$" stand for the build) and the
  // manifest's name, as the string file gives them.
  std::string remoteTemplate;
  std::string manifestName = "filehash.tsf";
  std::int32_t major = 0;
  std::int32_t minor = 0;
  unsigned jobs = 4;       // requests at a time, 1..64
  std::size_t sample = 0;  // 0: every file; else this many, chosen at random by `seed`
  std::uint64_t seed = 0;
  std::string caFile;  // certificates trusted besides the system's, as the tool's SYS_CAFILE
};

// What the check made of a file's block index, fetched as the tool fetches it.
enum class IndexCheck {
  kNotLooked,  // a file the tool looks for no index for, or one whose own fetch failed
  kNone,       // there is none (or it cannot be had): the tool fetches the whole file
  kUnusable,   // one is there but the tool refuses it: stale, garbage, too long
  kMatches,    // every block's digest is the file's
  kDiffers,    // a block's digest is not the file's: the tool would fetch the whole file
};

struct FileCheck {
  std::size_t index = 0;  // in the manifest (0: the manifest's own entry)
  std::string name;
  std::uint32_t size = 0;
  std::string url;         // empty when the tool could not build one
  bool requested = false;  // false: an empty file, which the tool restores without a request
  Verdict verdict;
  IndexCheck blockIndex = IndexCheck::kNotLooked;
  std::string indexNote;  // why, for kNone, kUnusable and kDiffers
};

struct CheckReport {
  std::string remote;  // the resolved remote folder
  std::string manifestUrl;
  Verdict manifest;                // None when the manifest was fetched, opened and accepted
  std::size_t listed = 0;          // entries the tool would list, its manifest's own among them
  std::vector<FileCheck> files;    // the files checked, in manifest order
  std::vector<std::string> names;  // every entry's name, in manifest order
  std::uint64_t bytes = 0;         // body bytes received
};

// Called as each file's check ends, from a worker thread, one call at a time.
using FileDoneFn = std::function<void(const FileCheck&)>;
// Called, one call at a time, with the body bytes each piece brings, and once per file done.
struct CheckProgress {
  std::function<void(std::size_t files, std::uint64_t bytes)> started;  // totals, once
  std::function<void(std::uint64_t bytes)> bytes;
  FileDoneFn fileDone;
};

// Runs the check. False only when the manifest could not be had or was refused
// (report.manifest says why, with the tool's error code); the files' verdicts are in
// report.files otherwise.
bool CheckRelease(const CheckOptions& options, CheckProgress& progress, CheckReport& report);

// The indices of `count` entries out of `total` chosen by `seed`, in ascending order; all of
// them when count is 0 or not below total.
std::vector<std::size_t> ChooseSample(std::size_t total, std::size_t count, std::uint64_t seed);

}  // namespace repair::publish
