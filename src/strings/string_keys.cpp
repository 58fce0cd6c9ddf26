#include "strings/string_keys.h"

#include <cstring>

namespace repair {

const char* StringUseName(StringUse use) {
  switch (use) {
    case StringUse::kSetting: return "setting";
    case StringUse::kWindow: return "window";
    case StringUse::kQuestion: return "question";
    case StringUse::kBox: return "box";
  }
  return "";
}

const StringKey* FindStringKey(const char* key) {
  if (key == nullptr) return nullptr;
  for (const StringKey* entry : kStringKeys) {
    if (std::strcmp(entry->key, key) == 0) return entry;
  }
  return nullptr;
}

bool LookupText(const StringKey& entry, std::string& text) {
  return LookupText(entry.key, text, entry.defaultText);
}

bool LookupTextInto(const StringKey& entry, char* buffer) {
  return LookupTextInto(entry.key, buffer, entry.defaultText);
}

}  // namespace repair
