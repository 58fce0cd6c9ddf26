#include "publish/client_scan.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <system_error>

#include "publish/display.h"
#include "publish/host_files.h"
#include "publish/manifest_format.h"
#include "publish/name_collisions.h"
#include "platform/paths.h"

namespace repair::publish {
namespace fs = std::filesystem;
namespace {

std::string NormalizeName(std::string name) {
  std::replace(name.begin(), name.end(), '/', '\\');
  while (name.size() > 2 && name.compare(0, 2, ".\\") == 0) name.erase(0, 2);
  while (!name.empty() && name.back() == '\\') name.pop_back();
  return name;
}

bool NameMatches(const std::string& name, const std::string& pattern) {
  if (pattern.empty()) return false;
  if (name == pattern) return true;
  return name.size() > pattern.size() && name.compare(0, pattern.size(), pattern) == 0 &&
         name[pattern.size()] == '\\';
}

// Names a client for Windows must not use; reported, not refused, since the operator may know
// better (a file only the Linux client uses, say).
void NoteDoubtfulNames(const std::vector<ClientFile>& files, platform::CodePage codePage,
                       std::vector<std::string>& notes) {
  std::vector<std::string> names;
  bool nonAscii = false;
  for (const ClientFile& f : files) {
    const std::string& name = f.name;
    names.push_back(name);
    bool badChar = false;
    for (std::size_t i = 0; i < name.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(name[i]);
      if (c < 0x20 || std::strchr("<>:\"|?*", c) != nullptr) badChar = true;
      if (c >= 0x80) nonAscii = true;
    }
    if (badChar) {
      notes.push_back(PrintableName(name) +
                      ": Windows cannot create a file of this name (it holds one of "
                      "< > : \" | ? * or a control character)");
    }
  }
  for (std::string& warning : WindowsNameCollisions(names, codePage)) {
    notes.push_back(std::move(warning));
  }
  // On Windows names are in the code page the tool reads them in; here they are raw bytes.
  if (nonAscii && NamesAreFileSystemBytes()) {
    notes.push_back(
        "some names are not plain ASCII; they are stored as the bytes this system uses (UTF-8 on "
        "most), while the tool on Windows reads names in the system's ANSI code page" +
        std::string(codePage == platform::kBytesOnly
                        ? " (--code-page names it, to compare them as Windows does)"
                        : ""));
  }
}

// One folder still to read: its native path below the root and its manifest name.
struct Folder {
  fs::path relative;
  std::string name;
};

// The walk itself. Folders wait on a stack rather than in a recursion, so a deep tree costs
// heap, not stack.
class ClientWalk {
 public:
  ClientWalk(const fs::path& root, const ScanOptions& options, ScanResult& result);
  bool Run(std::string& error);

 private:
  bool ReadFolder(const Folder& folder, std::string& error);
  bool Visit(const fs::directory_entry& entry, const Folder& folder, std::string& error);
  bool LeafName(const fs::path& path, std::string& leafName, std::string& error) const;
  bool LeftOut(const std::string& name);
  bool AddFile(const fs::directory_entry& entry, const std::string& name, const fs::path& relative,
               std::string& error);

  const fs::path& root_;
  ScanResult& result_;
  std::vector<std::string> exclude_;
  std::vector<std::string> ignore_;
  std::vector<bool> excludeUsed_;
  std::vector<Folder> pending_;
  platform::CodePage codePage_;
};

ClientWalk::ClientWalk(const fs::path& root, const ScanOptions& options, ScanResult& result)
    : root_(root), result_(result), codePage_(options.codePage) {
  for (const std::string& e : options.exclude) exclude_.push_back(NormalizeName(e));
  for (const std::string& e : options.ignore) ignore_.push_back(NormalizeName(e));
  excludeUsed_.assign(exclude_.size(), false);
}

bool ClientWalk::Run(std::string& error) {
  pending_.push_back({fs::path(), std::string()});
  while (!pending_.empty()) {
    Folder folder = std::move(pending_.back());
    pending_.pop_back();
    if (!ReadFolder(folder, error)) return false;
  }
  // std::string compares as unsigned bytes, the stable order the manifest is written in.
  std::sort(result_.files.begin(), result_.files.end(),
            [](const ClientFile& a, const ClientFile& b) { return a.name < b.name; });
  for (std::size_t i = 0; i < exclude_.size(); ++i) {
    if (!excludeUsed_[i]) result_.notes.push_back("--exclude " + exclude_[i] + " matched nothing");
  }
  NoteDoubtfulNames(result_.files, codePage_, result_.notes);
  return true;
}

bool ClientWalk::ReadFolder(const Folder& folder, std::string& error) {
  const fs::path dir = folder.relative.empty() ? root_ : root_ / folder.relative;
  std::error_code ec;
  fs::directory_iterator it(dir, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    if (!Visit(*it, folder, error)) return false;
  }
  if (ec) {
    error = DisplayPath(dir) + ": cannot read the folder (" + ec.message() + ")";
    return false;
  }
  return true;
}

// Lists, queues, notes and skips, or refuses one entry; the checks run in this order so that
// a left-out entry is never refused and a link is never looked into.
bool ClientWalk::Visit(const fs::directory_entry& entry, const Folder& folder, std::string& error) {
  std::string leafName;
  if (!LeafName(entry.path(), leafName, error)) return false;
  const std::string name = folder.name.empty() ? leafName : folder.name + "\\" + leafName;
  const fs::path relative = folder.relative / entry.path().filename();
  if (LeftOut(name)) return true;

  std::error_code ec;
  const fs::file_status status = entry.symlink_status(ec);
  if (ec) {
    error = DisplayPath(entry.path()) + ": " + ec.message();
    return false;
  }
  if (IsLink(entry.path(), status)) {
    result_.notes.push_back("skipped " + PrintableName(name) +
                            ": a symbolic link (links are not followed)");
    return true;
  }
  if (!leafName.empty() && (leafName.back() == '.' || leafName.back() == ' ')) {
    error = PrintableName(name) +
            ": the name ends with a dot or a space, which Windows drops; the tool refuses "
            "a manifest that lists such a name";
    return false;
  }
  if (platform::IsWindowsDeviceName(leafName)) {
    error = PrintableName(name) +
            ": Windows opens a device (CON, PRN, AUX, NUL, COM1-9, LPT1-9) for this name, not a "
            "file; the tool refuses a manifest that lists such a name";
    return false;
  }
  if (fs::is_directory(status)) {
    pending_.push_back({relative, name});
    return true;
  }
  if (!fs::is_regular_file(status)) {
    result_.notes.push_back("skipped " + PrintableName(name) + ": not a regular file");
    return true;
  }
  return AddFile(entry, name, relative, error);
}

bool ClientWalk::LeafName(const fs::path& path, std::string& leafName, std::string& error) const {
  if (!NarrowName(path.filename(), leafName)) {
    error = DisplayPath(path) + ": the name holds characters the system's code page cannot hold";
    return false;
  }
  // Where names are raw bytes, a backslash may be one of them; the manifest separates with it,
  // except as the second byte of a double-byte character in the players' code page.
  platform::NameRules rules;
  rules.codePage = codePage_;
  if (NamesAreFileSystemBytes() && platform::NextSeparator(leafName, 0, rules) != leafName.size()) {
    error = DisplayPath(path) +
            ": a backslash in a name cannot be told apart from the folder separator";
    return false;
  }
  // A lead byte at the end would take the separator after it for its second byte.
  std::size_t end = 0;
  while (end < leafName.size()) {
    end += platform::IsLeadByte(codePage_, static_cast<unsigned char>(leafName[end])) ? 2 : 1;
  }
  if (end > leafName.size()) {
    error = DisplayPath(path) + ": the name ends with the first byte of a double-byte " +
            "character in code page " + std::to_string(codePage_) +
            ", which would take the separator after it for its second byte";
    return false;
  }
  return true;
}

// True for a name the walk leaves out: one of the ignored names, or one an --exclude matches
// (every matching --exclude counts as used).
bool ClientWalk::LeftOut(const std::string& name) {
  if (std::find(ignore_.begin(), ignore_.end(), name) != ignore_.end()) return true;
  bool excluded = false;
  for (std::size_t i = 0; i < exclude_.size(); ++i) {
    if (NameMatches(name, exclude_[i])) excluded = excludeUsed_[i] = true;
  }
  return excluded;
}

bool ClientWalk::AddFile(const fs::directory_entry& entry, const std::string& name,
                         const fs::path& relative, std::string& error) {
  std::error_code ec;
  const std::uint64_t size = entry.file_size(ec);
  if (ec) {
    error = DisplayPath(entry.path()) + ": " + ec.message();
    return false;
  }
  if (name.size() > kMaxNameLength) {
    error = PrintableName(name) + ": the name is " + std::to_string(name.size()) +
            " bytes; the tool takes at most " + std::to_string(kMaxNameLength);
    return false;
  }
  if (size > kMaxFileSize) {
    error = PrintableName(name) + ": " + std::to_string(size) +
            " bytes; the tool's sizes are 32-bit, so a file must be under 4 GiB";
    return false;
  }
  result_.files.push_back({entry.path(), relative, name, size});
  result_.totalBytes += size;
  return true;
}

}  // namespace

bool NameExcluded(const std::string& name, const std::vector<std::string>& patterns) {
  for (const std::string& p : patterns) {
    if (NameMatches(name, NormalizeName(p))) return true;
  }
  return false;
}

bool ScanClientFolder(const fs::path& root, const ScanOptions& options, ScanResult& result,
                      std::string& error) {
  result = ScanResult();
  std::error_code ec;
  if (!fs::is_directory(root, ec)) {
    error = DisplayPath(root) + ": " + (ec ? ec.message() : std::string("not a folder"));
    return false;
  }
  return ClientWalk(root, options, result).Run(error);
}

}  // namespace repair::publish
