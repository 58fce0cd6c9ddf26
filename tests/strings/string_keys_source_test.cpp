// Reads the product's sources: every string key the tool looks up must come from the catalogue,
// so that the translation template lists exactly the keys the tool reads.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

#include "strings/string_keys.h"

namespace repair {
namespace {

namespace fs = std::filesystem;

// The engine's table of error codes names its message keys itself; the strings suite checks
// it row by row against the catalogue (EngineErrorTableIsTheCatalogues).
const std::set<std::string> kCheckedElsewhere = {"engine/recovery_state.h",
                                                 "engine/recovery_state.cpp"};
const char kCatalogue[] = "strings/string_keys.h";

struct SourceScan {
  std::map<std::string, std::string> strayLiterals;  // "file:line" -> key
  std::set<std::string> catalogueLiterals;
  std::set<std::string> engineLiterals;
  std::map<std::string, std::string> catalogueNames;  // C++ name -> key
  std::string otherSources;                           // every file but the catalogue
};

SourceScan ScanSources() {
  const std::regex keyLiteral("\"((SYS|STR|ERR)_[A-Z0-9_]*)\"");
  const std::regex definition("inline constexpr StringKey (k\\w+)\\{");
  const fs::path root = REPAIR_SOURCE_DIR;
  SourceScan scan;
  std::string pendingName;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    const std::string ext = item.path().extension().string();
    if (!item.is_regular_file() || (ext != ".h" && ext != ".cpp" && ext != ".c")) continue;
    const std::string name = item.path().lexically_relative(root).generic_string();
    std::ifstream in(item.path());
    int number = 0;
    for (std::string line; std::getline(in, line);) {
      ++number;
      if (name != kCatalogue) scan.otherSources += line + "\n";
      std::smatch match;
      if (name == kCatalogue && std::regex_search(line, match, definition)) pendingName = match[1];
      for (auto it = std::sregex_iterator(line.begin(), line.end(), keyLiteral);
           it != std::sregex_iterator(); ++it) {
        const std::string key = (*it)[1];
        if (name == kCatalogue) {
          scan.catalogueLiterals.insert(key);
          if (!pendingName.empty()) scan.catalogueNames[pendingName] = key;
          pendingName.clear();
        } else if (kCheckedElsewhere.count(name) != 0) {
          scan.engineLiterals.insert(key);
        } else {
          scan.strayLiterals[name + ":" + std::to_string(number)] = key;
        }
      }
    }
  }
  return scan;
}

TEST(StringKeysSource, EveryKeyTheToolReadsComesFromTheCatalogue) {
  const SourceScan scan = ScanSources();
  for (const auto& [where, key] : scan.strayLiterals) {
    ADD_FAILURE() << where << ": key literal \"" << key << "\" outside " << kCatalogue
                  << "; add it to the catalogue and look it up through its entry";
  }

  // Every entry written in the catalogue is in its list, and each is read somewhere.
  std::set<std::string> listed;
  for (const StringKey* entry : kStringKeys) listed.insert(entry->key);
  EXPECT_EQ(scan.catalogueLiterals, listed);
  EXPECT_EQ(scan.catalogueNames.size(), listed.size());
  for (const std::string& key : scan.engineLiterals) EXPECT_EQ(listed.count(key), 1u) << key;
  for (const auto& [name, key] : scan.catalogueNames) {
    const bool named = std::regex_search(scan.otherSources, std::regex("\\b" + name + "\\b"));
    EXPECT_TRUE(named || scan.engineLiterals.count(key) != 0)
        << key << " (" << name << ") is in the catalogue but nothing reads it";
  }
}

}  // namespace
}  // namespace repair
