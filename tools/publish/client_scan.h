// The walk over a client folder: which files a manifest lists, which entries it refuses, and
// what it notes for the operator. Names are made the way the manifest stores them: relative to
// the client folder, backslash-separated, in the bytes the tool will see (host_files.h).
//
// Every function reports failure by its result and a message; none throws for bad input.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/paths.h"

namespace repair::publish {

// The tool's sizes are 32-bit.
constexpr std::uint64_t kMaxFileSize = 0xFFFFFFFFull;

// One regular file found under a client folder.
struct ClientFile {
  std::filesystem::path source;    // where to read it
  std::filesystem::path relative;  // its native path below the client folder
  std::string name;                // its manifest name
  std::uint64_t size = 0;          // as listed by the folder walk
};

struct ScanOptions {
  // Left out, each with a note when it matches nothing: a file's name, or a folder's name and
  // everything below it. '/' and '\' both separate folders.
  std::vector<std::string> exclude;
  // Left out without a note: the tool's own files that a release provides itself.
  std::vector<std::string> ignore;
  // The code page players' systems read names in, for the notes on names Windows takes for one
  // file; platform::kBytesOnly folds ASCII letters only.
  platform::CodePage codePage = platform::kBytesOnly;
};

struct ScanResult {
  std::vector<ClientFile> files;  // sorted byte-wise by name
  std::uint64_t totalBytes = 0;
  std::vector<std::string> notes;  // what was left out and why, and names worth a second look
};

// True when `name` is one of `patterns` or lies below one of them (a folder), after turning
// '/' into '\' in the patterns.
bool NameExcluded(const std::string& name, const std::vector<std::string>& patterns);

// Walks `root` for regular files. Symbolic links are reported and never followed; other
// non-regular entries are reported and skipped. Empty files are listed like any other. Refuses
// (false, `error`) a folder it cannot read, a name over 259 bytes, a file of 4 GiB or more, a
// name part that ends with a dot or a space (the tool refuses such a manifest), and a name the
// tool could not use.
bool ScanClientFolder(const std::filesystem::path& root, const ScanOptions& options,
                      ScanResult& result, std::string& error);

}  // namespace repair::publish
