// Names in an ANSI code page, read and upper-cased by the system itself.
#include <windows.h>

#include <string>

#include "platform/paths.h"

namespace repair::platform {
namespace {

bool IsSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

// The invariant locale's simple case mapping, unit by unit as the file system compares: no
// Turkish dotless i, no pair of surrogates taken as one character. `upper` is scratch space.
void Upcase(std::wstring& wide, std::wstring& upper) {
  const int length = static_cast<int>(wide.size());
  upper.resize(wide.size());
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
  // Every ANSI code page makes at most one UTF-16 unit of each byte, so one call does; the
  // buffers stay with the thread, since a cache plan keys every name several times.
  thread_local std::wstring wide;
  thread_local std::wstring upper;
  wide.resize(bytes.size());
  const int length = static_cast<int>(bytes.size());
  const int wideLength = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), length,
                                             wide.data(), length);
  if (wideLength <= 0) return false;
  wide.resize(static_cast<std::size_t>(wideLength));
  Upcase(wide, upper);
  units.assign(wide.begin(), wide.end());
  return true;
}

}  // namespace repair::platform
