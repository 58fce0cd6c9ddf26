// A folder built under a hidden name beside its final place and renamed into place in one step
// once it is complete, so that nobody ever sees it half-built under the real name.
#pragma once

#include <filesystem>
#include <string>

namespace repair::publish {

class StagingFolder {
 public:
  // Stages for `target`: the folder is ".<target's name>.publishing" beside it.
  explicit StagingFolder(const std::filesystem::path& target);
  // Removes the folder with all it holds unless Commit() succeeded; a step that fails simply
  // returns, and whatever it had written goes.
  ~StagingFolder();
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;

  // Creates the folder empty: what an interrupted run left under its name is removed first.
  // On failure nothing is left to remove.
  bool Create(std::string& error);

  // Renames the folder to the target. An empty folder or file at the target is replaced; one
  // that holds anything is left as it is and the commit fails (the destructor then removes the
  // staging).
  bool Commit(std::string& error);

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path target_;
  std::filesystem::path path_;
  bool created_ = false;
  bool committed_ = false;
};

}  // namespace repair::publish
