// Telling the tool's own executable apart from the client files: the one file a run must never
// check, download or replace, whichever name the manifest reaches it by.
#pragma once

#include <string>

namespace repair {

class OwnFileMatcher {
 public:
  // `baseFolder` ends with its separator; `ownFileName` is the executable's file name there.
  OwnFileMatcher(const char* baseFolder, const char* ownFileName);

  // True when the manifest name `name` reaches the executable: its own name at the top level,
  // in the file system's letter case, or a name that the file system resolves to the same file
  // (a short 8.3 alias on Windows, a folder that links back to the base folder). Only names
  // whose last component could be such a spelling are resolved, so the cost stays one lookup
  // for a handful of entries.
  bool Matches(const std::string& name) const;

 private:
  std::string baseFolder_;
  std::string ownKey_;
  std::string resolvedKey_;  // of the executable's resolved path; empty when it did not resolve
};

}  // namespace repair
