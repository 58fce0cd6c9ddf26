#include "platform/paths.h"

#include <cstring>

#include "common/format.h"
#include "platform/file_system.h"
#include "platform/paths_test_helper.h"

namespace repair::platform {
namespace {

// Marks a component kept as bytes under a code page; UTF-8 never holds the byte.
constexpr char kBytesMark = '\xFF';

bool IsSeparatorByte(char c, const NameRules& rules) {
  return c == '/' || (rules.backslashSeparates && c == '\\');
}

// Each UTF-16 unit on its own, surrogates too, so that every unit sequence has one spelling. A
// backslash that is a name's own character takes an overlong form, which holds no 0x5C byte.
void AppendUnit(std::string& key, char16_t unit) {
  if (unit == '\\') {
    key += "\xC1\x9C";
  } else if (unit < 0x80) {
    key += static_cast<char>(unit);
  } else if (unit < 0x800) {
    key += static_cast<char>(0xC0 | (unit >> 6));
    key += static_cast<char>(0x80 | (unit & 0x3F));
  } else {
    key += static_cast<char>(0xE0 | (unit >> 12));
    key += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
    key += static_cast<char>(0x80 | (unit & 0x3F));
  }
}

// The bytes themselves, ASCII letters folded when asked; the mark and the backslash are escaped
// so that a component's key never holds a separator and never reads as another's.
void AppendBytes(std::string& key, std::string_view bytes, bool foldAscii) {
  for (char c : bytes) {
    if (c == kBytesMark || c == '\\') {
      key += kBytesMark;
      key += c == kBytesMark ? kBytesMark : '\x01';
    } else if (foldAscii && c >= 'a' && c <= 'z') {
      key += static_cast<char>(c - 'a' + 'A');
    } else {
      key += c;
    }
  }
}

void AppendComponentKey(std::string& key, std::string_view component, const NameRules& rules) {
  if (!rules.ignoreCase) {
    AppendBytes(key, component, false);
    return;
  }
  if (rules.codePage == kBytesOnly) {
    AppendBytes(key, component, true);
    return;
  }
  // Every ANSI code page reads the bytes below 0x80 as ASCII, whose only letters are A-Z and a-z:
  // most names need no conversion at all.
  bool ascii = true;
  for (char c : component) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) {
    for (char c : component) {
      AppendUnit(key, static_cast<char16_t>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c));
    }
    return;
  }
  std::u16string units;
  if (UpcaseInCodePage(component, rules.codePage, units)) {
    for (char16_t unit : units) AppendUnit(key, unit);
    return;
  }
  key += kBytesMark;
  AppendBytes(key, component, true);
}

// How a local path is read: by Windows rules (a drive, both slash kinds) or by the others ('/'
// alone, and a leading dot is part of the name), in `codePage`.
struct LocalRules {
  bool windows;
  CodePage codePage;
};

LocalRules HostLocalRules() { return LocalRules{kPathSeparator == '\\', HostCodePage()}; }

NameRules SeparatorRules(const LocalRules& local) {
  NameRules rules;
  rules.backslashSeparates = local.windows;
  rules.codePage = local.codePage;
  return rules;
}

std::size_t DriveLength(std::string_view path, const LocalRules& local) {
  return local.windows && path.size() >= 2 && path[1] == ':' ? 2 : 0;
}

// Where the name after the folder part starts: one past the last separator after the drive.
std::size_t NameStart(std::string_view path, std::size_t driveLength, const LocalRules& local) {
  return driveLength + LastComponentStart(path.substr(driveLength), SeparatorRules(local));
}

bool CopyPart(char* field, std::size_t capacity, const char* begin, std::size_t length) {
  if (length >= capacity) return false;
  std::memcpy(field, begin, length);
  field[length] = '\0';
  return true;
}

bool SplitPathBy(const char* path, PathParts& parts, const LocalRules& local) {
  std::memset(&parts, 0, sizeof parts);
  const std::string_view text(path);
  const std::size_t driveLength = DriveLength(text, local);
  const std::size_t nameStart = NameStart(text, driveLength, local);
  // No trail byte is a dot in any double-byte code page, so the extension's dot is found from
  // the end.
  const std::string_view name = text.substr(nameStart);
  const std::size_t dot = name.rfind('.');
  std::size_t baseLength = dot == std::string_view::npos ? name.size() : dot;
  // Elsewhere than on Windows a leading dot marks a hidden file, not an extension.
  if (!local.windows && baseLength == 0) baseLength = name.size();
  const bool fits =
      CopyPart(parts.drive, sizeof parts.drive, path, driveLength) &&
      CopyPart(parts.folder, sizeof parts.folder, path + driveLength, nameStart - driveLength) &&
      CopyPart(parts.name, sizeof parts.name, name.data(), baseLength) &&
      CopyPart(parts.ext, sizeof parts.ext, name.data() + baseLength, name.size() - baseLength);
  if (!fits) std::memset(&parts, 0, sizeof parts);
  return fits;
}

bool SplitFolderBy(const char* path, PathFolder& folder, const LocalRules& local) {
  folder.path[0] = '\0';
  folder.driveLength = 0;
  const std::string_view text(path);
  const std::size_t driveLength = DriveLength(text, local);
  const std::size_t end = NameStart(text, driveLength, local);
  if (driveLength >= sizeof(PathParts::drive) || end - driveLength >= sizeof(PathParts::folder)) {
    return false;
  }
  std::memcpy(folder.path, path, end);
  folder.path[end] = '\0';
  folder.driveLength = driveLength;
  return true;
}

bool BuildLocalPathWith(char* out, const char* baseFolder, const char* name, char separator) {
  if (!FormatPath(out, "%s%s", baseFolder, name)) return false;
  if (separator != '\\') {
    for (char* p = out + std::strlen(baseFolder); *p != '\0'; ++p) {
      if (*p == '\\') *p = separator;
    }
  }
  return true;
}

}  // namespace

bool KnownLeadByte(CodePage codePage, unsigned char byte) {
  switch (codePage) {
    case 932:  // Shift JIS
      return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    case 936:  // GBK
    case 949:  // Unified Hangul Code
    case 950:  // Big5
      return byte >= 0x81 && byte <= 0xFE;
    case 1361:  // Johab
      return (byte >= 0x84 && byte <= 0xD3) || (byte >= 0xD8 && byte <= 0xDE) ||
             (byte >= 0xE0 && byte <= 0xF9);
    default: return false;
  }
}

NameRules HostManifestRules() {
  NameRules rules;
  rules.backslashSeparates = true;
  rules.ignoreCase = kFileNamesIgnoreCase;
  rules.codePage = HostCodePage();
  return rules;
}

NameRules HostPathRules() { return SeparatorRules(HostLocalRules()); }

std::size_t NextSeparator(std::string_view text, std::size_t from, const NameRules& rules) {
  std::size_t i = from;
  while (i < text.size()) {
    const char c = text[i];
    if (IsSeparatorByte(c, rules)) return i;
    const bool pair = rules.codePage != kBytesOnly && i + 1 < text.size() &&
                      IsLeadByte(rules.codePage, static_cast<unsigned char>(c));
    i += pair ? 2 : 1;
  }
  return text.size();
}

std::size_t LastComponentStart(std::string_view text, const NameRules& rules) {
  std::size_t start = 0;
  for (std::size_t sep = NextSeparator(text, 0, rules); sep < text.size();
       sep = NextSeparator(text, sep + 1, rules)) {
    start = sep + 1;
  }
  return start;
}

std::string LastComponent(std::string_view path, const NameRules& rules) {
  return std::string(path.substr(LastComponentStart(path, rules)));
}

std::size_t LengthWithoutTrailingSeparators(std::string_view text, const NameRules& rules) {
  std::size_t end = 0;  // one past the last character that is no separator
  for (std::size_t from = 0; from < text.size();) {
    const std::size_t separator = NextSeparator(text, from, rules);
    if (separator > from) end = separator;
    from = separator + 1;
  }
  return end;
}

bool SplitPath(const char* path, PathParts& parts) {
  return SplitPathBy(path, parts, HostLocalRules());
}

bool SplitFolder(const char* path, PathFolder& folder) {
  return SplitFolderBy(path, folder, HostLocalRules());
}

bool IsRootedPath(std::string_view path) {
  return (!path.empty() && (path[0] == '/' || path[0] == '\\')) ||
         (path.size() >= 2 && path[1] == ':');
}

bool BuildLocalPath(char* out, const char* baseFolder, const char* name) {
  return BuildLocalPathWith(out, baseFolder, name, kPathSeparator);
}

std::string NameKey(std::string_view name, const NameRules& rules) {
  std::string key;
  key.reserve(name.size() + name.size() / 2);
  std::size_t begin = 0;
  for (;;) {
    const std::size_t end = NextSeparator(name, begin, rules);
    AppendComponentKey(key, name.substr(begin, end - begin), rules);
    if (end >= name.size()) return key;
    key += '\\';
    begin = end + 1;
  }
}

bool IsWindowsDeviceName(std::string_view component) {
  std::string_view base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  std::string upper(base);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (upper == device) return true;
  }
  if (upper.size() != 4 || (upper.compare(0, 3, "COM") != 0 && upper.compare(0, 3, "LPT") != 0)) {
    return false;
  }
  // COM0 and LPT0 are files; the superscript digits are 0xB9, 0xB2 and 0xB3 in code page 1252.
  const unsigned char digit = static_cast<unsigned char>(upper[3]);
  return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

bool PathsTestHelper::SplitPath(const char* path, PathParts& parts, bool windowsRules,
                                CodePage codePage) {
  return SplitPathBy(path, parts, LocalRules{windowsRules, codePage});
}

bool PathsTestHelper::SplitFolder(const char* path, PathFolder& folder, bool windowsRules,
                                  CodePage codePage) {
  return SplitFolderBy(path, folder, LocalRules{windowsRules, codePage});
}

bool PathsTestHelper::BuildLocalPath(char* out, const char* baseFolder, const char* name,
                                     char separator) {
  return BuildLocalPathWith(out, baseFolder, name, separator);
}

}  // namespace repair::platform
