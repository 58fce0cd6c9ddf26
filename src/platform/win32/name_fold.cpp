// Names in an ANSI code page, read and upper-cased by the system itself.
#include <windows.h>

#include <string>

#include "platform/name_key.h"

namespace repair::platform {
namespace {

bool IsSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

// The invariant locale's simple case mapping, unit by unit as the file system compares: no
// Turkish dotless i, no pair of surrogates taken as one character.
void Upcase(std::wstring& wide) {
  const int length = static_cast<int>(wide.size());
  std::wstring upper(wide.size(), L'\0');
  if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, wide.data(), length, upper.data(), length) !=
      length) {
    for (std::size_t i = 0; i < wide.size(); ++i) {
      if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, &wide[i], 1, &upper[i], 1) != 1) {
        upper[i] = wide[i];
      }
    }
  }
  for (std::size_t i = 0; i < wide.size(); ++i) {
    if (!IsSurrogate(wide[i]) && !IsSurrogate(upper[i])) wide[i] = upper[i];
  }
}

}  // namespace

CodePage HostCodePage() { return GetACP(); }

bool IsLeadByte(CodePage codePage, unsigned char byte) {
  // Code page 0 would be CP_ACP to the system.
  return codePage != kBytesOnly && IsDBCSLeadByteEx(codePage, byte) != FALSE;
}

bool CodePageKnown(CodePage codePage) {
  return codePage != kBytesOnly && IsValidCodePage(codePage) != FALSE;
}

bool UpcaseInCodePage(std::string_view bytes, CodePage codePage, std::u16string& units) {
  units.clear();
  if (codePage == kBytesOnly) return false;
  if (bytes.empty()) return true;
  const int length = static_cast<int>(bytes.size());
  const int wideLength =
      MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
  if (wideLength <= 0) return false;
  std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
  if (MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), length, wide.data(),
                          wideLength) != wideLength) {
    return false;
  }
  Upcase(wide);
  units.assign(wide.begin(), wide.end());
  return true;
}

}  // namespace repair::platform
