#include <cstring>
#include <mutex>
#include <string>

#include "platform/file_system.h"
#include "platform/paths.h"

namespace repair::platform {
namespace {

std::mutex& RootMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string& Root() {
  static std::string root;
  return root;
}

char Folded(char c) {
  if (kFileNamesIgnoreCase && c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
  return c;
}

}  // namespace

void SetWriteRoot(const char* folder) {
  std::string root = folder;
  const bool endsWithSeparator =
      LengthWithoutTrailingSeparators(root, HostPathRules()) < root.size();
  if (!root.empty() && !endsWithSeparator) root += kPathSeparator;
  std::lock_guard<std::mutex> lock(RootMutex());
  Root() = root;
}

std::string WriteRoot() {
  std::lock_guard<std::mutex> lock(RootMutex());
  return Root();
}

bool IsBelowWriteRoot(const char* path) {
  const std::string root = WriteRoot();
  const std::size_t length = std::strlen(path);
  if (root.empty() || length <= root.size()) return false;
  for (std::size_t i = 0; i < root.size(); ++i) {
    if (Folded(path[i]) != Folded(root[i])) return false;
  }
  return true;
}

}  // namespace repair::platform
