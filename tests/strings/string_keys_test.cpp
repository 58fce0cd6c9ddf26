#include "strings/string_keys.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/recovery_state.h"
#include "publish/string_file.h"

namespace repair {
namespace {

StringTable Parse(const std::string& text) {
  StringTable table;
  ParseStringText(text.data(), text.size(), table);
  return table;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// What the loader makes of a text written with "\n" for each line feed: a space before every
// line feed that has none.
std::string WithSpaceBeforeLineFeeds(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n' && (out.empty() || out.back() != ' ')) out += ' ';
    out += c;
  }
  return out;
}

TEST(StringKeys, EveryKeyIsListedOnceAndFitsTheFile) {
  std::set<std::string> seen;
  for (const StringKey* entry : kStringKeys) {
    const std::string key = entry->key;
    EXPECT_TRUE(seen.insert(key).second) << key << " is listed twice";
    EXPECT_TRUE(key.rfind("SYS_", 0) == 0 || key.rfind("STR_", 0) == 0 || key.rfind("ERR_", 0) == 0)
        << key;
    EXPECT_LE(std::string(entry->defaultText).size(), kStringFieldSize - 1) << key;
    EXPECT_EQ(FindStringKey(entry->key), entry);
    EXPECT_EQ(entry->otherDefault == nullptr, entry->otherWhere == nullptr) << key;
  }
  EXPECT_EQ(FindStringKey("STR_EROR"), nullptr);
  EXPECT_EQ(FindStringKey("str_error"), nullptr);
}

// The end of a run shows the engine's message key and default for its error code: each row
// must be the catalogue's, and every error text of the catalogue must be one of them.
TEST(StringKeys, EngineErrorTableIsTheCatalogues) {
  std::set<std::string> reached;
  for (std::int32_t code = 1; code <= 10; ++code) {
    const StringKey* entry = FindStringKey(ErrorMessageKey(code));
    ASSERT_NE(entry, nullptr) << "code " << code << ": " << ErrorMessageKey(code);
    EXPECT_STREQ(ErrorDefaultText(code), entry->defaultText) << entry->key;
    reached.insert(entry->key);
  }
  for (const StringKey* entry : kStringKeys) {
    if (std::string(entry->key).rfind("ERR_", 0) == 0) {
      EXPECT_EQ(reached.count(entry->key), 1u) << entry->key;
    }
  }
}

// Sealed as it stands, the template gives the tool every built-in text; the one thing a file
// cannot hold, a line feed without a space before it, is named in the notes.
TEST(StringTemplate, ReadsBackAsEveryDefault) {
  std::vector<std::string> notes;
  const std::string text = publish::StringTemplateText(notes);
  const StringTable table = Parse(text);
  EXPECT_EQ(table.size(), std::size(kStringKeys));

  std::set<std::string> approximated;
  for (const StringKey* entry : kStringKeys) {
    const std::string* value = table.Find(entry->key);
    ASSERT_NE(value, nullptr) << entry->key;
    const std::string expected = WithSpaceBeforeLineFeeds(entry->defaultText);
    EXPECT_EQ(*value, expected) << entry->key;
    if (expected != entry->defaultText) approximated.insert(entry->key);
  }
  std::set<std::string> noted;
  for (const std::string& note : notes) noted.insert(note.substr(0, note.find(':')));
  EXPECT_EQ(noted, approximated);
  EXPECT_EQ(approximated.count("STR_CONFIRM_RECOVERY"), 1u);

  // Each entry has the comment that says where it appears right above it.
  const std::vector<std::string> lines = Lines(text);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const StringKey* entry = FindStringKey(lines[i].substr(0, lines[i].find('=')).c_str());
    if (entry == nullptr) continue;
    std::string comment;
    for (std::size_t j = i; j > 0 && lines[j - 1].rfind(';', 0) == 0; --j) {
      comment = lines[j - 1] + comment;
    }
    EXPECT_EQ(comment.find(std::string("; ") + StringUseName(entry->use) + ": "), 0u) << entry->key;
  }
}

TEST(StringTemplate, EncodeStringValueSaysWhenTheFileCannotHoldAText) {
  struct Case {
    std::string text;
    std::string encoded;
    bool exact;
  };
  const Case cases[] = {
      {"plain = text %s", "plain = text %s", true},
      {"one \ntwo", "one\\ntwo", true},
      {"one\ntwo", "one\\ntwo", false},
      {"back\\ \nslash", "back\\\\nslash", true},
      {"literal \\n", "literal \\n", false},
      {"cr\rhere", "crhere", false},
      {std::string(255, 'v'), std::string(255, 'v'), true},
      {std::string(256, 'v'), std::string(256, 'v'), false},
  };
  for (const Case& c : cases) {
    std::string encoded;
    std::string why;
    EXPECT_EQ(publish::EncodeStringValue(c.text, encoded, &why), c.exact) << c.text;
    EXPECT_EQ(encoded, c.encoded) << c.text;
    EXPECT_EQ(why.empty(), c.exact) << c.text;
  }
}

TEST(StringListing, MarksUnreadKeysAndListsDefaults) {
  const StringTable table = Parse("STR_EROR=Oops\nFOO=1\nSTR_ERROR=Fehler\nSYS_WINDOWTITLE=a\\nb");
  const std::vector<std::string> lines = Lines(publish::StringListing(table));
  const std::vector<std::string> head = {
      "; not read by the tool",
      "FOO=1",
      "; not read by the tool (did you mean STR_ERROR?)",
      "STR_EROR=Oops",
      "STR_ERROR=Fehler",
      "SYS_WINDOWTITLE=a \\nb",
      "; left to their built-in texts:",
  };
  ASSERT_GE(lines.size(), head.size());
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + head.size()), head);

  std::set<std::string> defaults(lines.begin() + head.size(), lines.end());
  EXPECT_EQ(defaults.size(), std::size(kStringKeys) - 2);
  EXPECT_EQ(defaults.count("; STR_CONFIRM=Confirm"), 1u);
  EXPECT_EQ(defaults.count("; STR_ERROR=Error"), 0u);
  EXPECT_EQ(defaults.count("; SYS_WINDOWTITLE="), 0u);

  // A table that sets every key lists nothing more.
  std::vector<std::string> notes;
  const std::string all = publish::StringListing(Parse(publish::StringTemplateText(notes)));
  EXPECT_EQ(all.find(';'), std::string::npos);
}

TEST(StringListing, NearestKeyForCommonSlips) {
  const struct {
    const char* typed;
    const char* meant;  // null: no key is near enough
  } cases[] = {
      {"STR_EROR", "STR_ERROR"},       {" str_error ", "STR_ERROR"},
      {"STR_PROGRES", "STR_PROGRESS"}, {"SYS_REMOTEPAHT", "SYS_REMOTEPATH"},
      {"STR_CONFIRMX", "STR_CONFIRM"}, {"FOO", nullptr},
      {"STR_COMPLETE", nullptr},       {"", nullptr},
  };
  for (const auto& c : cases) {
    const StringKey* nearest = publish::NearestStringKey(c.typed);
    EXPECT_STREQ(nearest != nullptr ? nearest->key : nullptr, c.meant) << c.typed;
  }
}

}  // namespace
}  // namespace repair
