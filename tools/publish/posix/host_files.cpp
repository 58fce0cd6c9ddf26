// POSIX: names are the bytes the file system holds, and std::filesystem tells links apart.
#include "publish/host_files.h"

#include <unistd.h>

#include <cstdio>

namespace repair::publish {

void UseHostNameEncoding() {}

bool NamesAreFileSystemBytes() { return true; }

bool NarrowName(const std::filesystem::path& name, std::string& out) {
  out = name.native();
  return true;
}

std::string LossyNarrowName(const std::filesystem::path& path) { return path.native(); }

bool IsLink(const std::filesystem::path&, const std::filesystem::file_status& status) {
  return std::filesystem::is_symlink(status);
}

bool StderrIsTerminal() { return isatty(fileno(stderr)) != 0; }

// Standard output has no text mode here.
void UseBinaryStandardOutput() {}

}  // namespace repair::publish
