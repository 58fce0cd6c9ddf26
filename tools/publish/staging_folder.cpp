#include "publish/staging_folder.h"

#include <system_error>

#include "publish/display.h"

namespace repair::publish {
namespace fs = std::filesystem;
namespace {

fs::path StagingPathFor(const fs::path& target) {
  fs::path name(".");
  name += target.filename();
  name += ".publishing";
  return target.parent_path() / name;
}

}  // namespace

StagingFolder::StagingFolder(const fs::path& target)
    : target_(target), path_(StagingPathFor(target)) {}

StagingFolder::~StagingFolder() {
  if (!created_ || committed_) return;
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

bool StagingFolder::Create(std::string& error) {
  std::error_code ec;
  fs::remove_all(path_, ec);
  if (!ec) fs::create_directories(path_, ec);
  if (ec) {
    error = DisplayPath(path_) + ": cannot create (" + ec.message() + ")";
    return false;
  }
  created_ = true;
  return true;
}

bool StagingFolder::Commit(std::string& error) {
  std::error_code ec;
  // Only an empty target goes: over a folder that holds anything the rename fails, and a file
  // that holds anything is never removed.
  if (fs::is_empty(target_, ec)) fs::remove(target_, ec);
  fs::rename(path_, target_, ec);
  if (ec) {
    error = DisplayPath(target_) + ": " + ec.message();
    return false;
  }
  committed_ = true;
  return true;
}

}  // namespace repair::publish
