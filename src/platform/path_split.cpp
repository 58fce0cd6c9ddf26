#include "platform/path_split.h"

#include <cstddef>
#include <cstring>

namespace repair::platform {
namespace {

bool CopyPart(char* field, std::size_t capacity, const char* begin, std::size_t length) {
  if (length >= capacity) return false;
  std::memcpy(field, begin, length);
  field[length] = '\0';
  return true;
}

}  // namespace

bool SplitPathWithRules(const char* path, PathParts& parts, bool windowsRules, CodePage codePage) {
  std::memset(&parts, 0, sizeof parts);
  std::size_t length = std::strlen(path);
  std::size_t driveLength = (windowsRules && length >= 2 && path[1] == ':') ? 2 : 0;
  NameRules rules;
  rules.backslashSeparates = windowsRules;
  rules.codePage = codePage;
  const std::string_view rest(path + driveLength, length - driveLength);
  const std::size_t nameStart = driveLength + LastComponentStart(rest, rules);
  // No trail byte is a dot in any double-byte code page, so the extension's dot is found from
  // the end.
  const char* name = path + nameStart;
  std::size_t nameLength = length - nameStart;
  std::size_t baseLength = nameLength;
  for (std::size_t i = nameLength; i > 0; --i) {
    if (name[i - 1] == '.') {
      baseLength = i - 1;
      break;
    }
  }
  // On Linux a leading dot marks a hidden file, not an extension: ".config" is all name.
  if (!windowsRules && baseLength == 0) baseLength = nameLength;
  bool fits =
      CopyPart(parts.drive, sizeof parts.drive, path, driveLength) &&
      CopyPart(parts.folder, sizeof parts.folder, path + driveLength, nameStart - driveLength) &&
      CopyPart(parts.name, sizeof parts.name, name, baseLength) &&
      CopyPart(parts.ext, sizeof parts.ext, name + baseLength, nameLength - baseLength);
  if (!fits) std::memset(&parts, 0, sizeof parts);
  return fits;
}

bool SplitPath(const char* path, PathParts& parts) {
#if defined(_WIN32)
  return SplitPathWithRules(path, parts, true, HostCodePage());
#else
  return SplitPathWithRules(path, parts, false, HostCodePage());
#endif
}

}  // namespace repair::platform
