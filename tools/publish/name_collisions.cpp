#include "publish/name_collisions.h"

#include <cerrno>
#include <cstdlib>
#include <map>

#include "publish/display.h"

namespace repair::publish {
namespace {

platform::NameRules WindowsRules(platform::CodePage codePage) {
  platform::NameRules rules;
  rules.backslashSeparates = true;
  rules.ignoreCase = true;
  rules.codePage = codePage;
  return rules;
}

std::string Folding(platform::CodePage codePage) {
  return codePage == platform::kBytesOnly ? std::string("letter case")
                                          : "letter case, in code page " + std::to_string(codePage);
}

}  // namespace

platform::CodePage DefaultNameCodePage() { return platform::HostCodePage(); }

bool ParseCodePage(const std::string& text, platform::CodePage& codePage, std::string& error) {
  errno = 0;
  char* end = nullptr;
  const unsigned long parsed = std::strtoul(text.c_str(), &end, 10);
  if (text.empty() || text[0] < '0' || text[0] > '9' || *end != '\0' || errno != 0 || parsed == 0 ||
      parsed > 65535) {
    error = "--code-page takes a Windows code page number such as 1252 or 932, not '" + text + "'";
    return false;
  }
  codePage = static_cast<platform::CodePage>(parsed);
  if (!platform::CodePageKnown(codePage)) {
    error = "code page " + text + " cannot be read on this system (no converter for it, or no " +
            "UTF-8 locale to fold letter case with)";
    return false;
  }
  return true;
}

std::vector<std::string> WindowsNameCollisions(const std::vector<std::string>& names,
                                               platform::CodePage codePage) {
  const platform::NameRules rules = WindowsRules(codePage);
  const std::string folding = Folding(codePage);
  std::map<std::string, const std::string*> files;    // by key, the first name of each file
  std::map<std::string, const std::string*> folders;  // by key, the first name below each
  std::vector<std::string> warnings;
  auto fileWhereFolder = [&](const std::string& file, const std::string& below) {
    warnings.push_back(PrintableName(file) + " is a file on Windows where " + PrintableName(below) +
                       " needs a folder (" + folding +
                       " aside): the tool there refuses the manifest");
  };
  for (const std::string& name : names) {
    const std::string key = platform::NameKey(name, rules);
    auto [file, fresh] = files.emplace(key, &name);
    if (!fresh && *file->second != name) {
      warnings.push_back(PrintableName(*file->second) + " and " + PrintableName(name) +
                         " differ only in " + folding +
                         ": on Windows they are one file, and the tool there refuses the "
                         "manifest unless both hold the same bytes");
    }
    if (auto folder = folders.find(key); fresh && folder != folders.end()) {
      fileWhereFolder(name, *folder->second);
    }
    // Keys hold a backslash only between components.
    for (std::size_t slash = key.find('\\'); slash != std::string::npos;
         slash = key.find('\\', slash + 1)) {
      const std::string folderKey = key.substr(0, slash);
      if (!folders.emplace(folderKey, &name).second) continue;
      if (auto other = files.find(folderKey); other != files.end()) {
        fileWhereFolder(*other->second, name);
      }
    }
  }
  return warnings;
}

std::string BlockIndexCollision(const std::vector<std::string>& names,
                                const std::vector<std::string>& indexNames,
                                platform::CodePage codePage) {
  const platform::NameRules rules = WindowsRules(codePage);
  std::map<std::string, const std::string*> taken;  // files and the folders they lie in
  for (const std::string& name : names) {
    const std::string key = platform::NameKey(name, rules);
    taken.emplace(key, &name);
    for (std::size_t slash = key.find('\\'); slash != std::string::npos;
         slash = key.find('\\', slash + 1)) {
      taken.emplace(key.substr(0, slash), &name);
    }
  }
  for (const std::string& index : indexNames) {
    auto found = taken.find(platform::NameKey(index, rules));
    if (found == taken.end()) continue;
    return PrintableName(index) + ", a block index of the release, is " +
           PrintableName(*found->second) + " or a folder of it on Windows (" + Folding(codePage) +
           " aside)";
  }
  return {};
}

}  // namespace repair::publish
