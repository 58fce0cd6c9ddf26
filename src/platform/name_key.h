// File names as a file system tells them apart: where a name's separators are, in the code page
// the name is written in, and the key under which two names that reach one file are equal.
//
// A name is a run of bytes in an ANSI code page. In a double-byte code page (932, 936, 949,
// 950, ...) a lead byte and the byte after it are one character, and that second byte may be
// 0x5C, the backslash: it separates nothing. Every walk over a name's separators goes through
// here, from left to right, so that the engine, the file operations and the path splitter agree
// on one reading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace repair::platform {

// A Windows code page number (1252, 932, ...). kBytesOnly reads a name byte by byte: no
// double-byte characters, and no letter case beyond ASCII.
using CodePage = std::uint32_t;
constexpr CodePage kBytesOnly = 0;

// How names are read and compared.
struct NameRules {
  bool backslashSeparates = true;  // '/' always separates; '\\' too unless this is false
  bool ignoreCase = false;         // letter case does not tell two names apart
  CodePage codePage = kBytesOnly;  // the code page of the names' bytes
};

// The ANSI code page this system's programs name files in: the system's own on Windows,
// kBytesOnly elsewhere, where file names are bytes.
CodePage HostCodePage();

// The rules of manifest names on this system: both slash kinds separate; on Windows letter case
// is ignored in the ANSI code page, elsewhere names are compared byte for byte.
NameRules HostManifestRules();

// True when `byte` opens a two-byte character in `codePage`. Windows asks the system; elsewhere
// KnownLeadByte answers.
bool IsLeadByte(CodePage codePage, unsigned char byte);

// The lead-byte ranges of the double-byte code pages 932, 936, 949, 950 and 1361, known without
// asking a system; no other code page has lead bytes here.
bool KnownLeadByte(CodePage codePage, unsigned char byte);

// The offset of the first separator of `text` at or after `from` (a character boundary), or
// text.size() when there is none. A lead byte takes the byte after it, whatever that is, as the
// system's conversion does; a lead byte at the end stands alone.
std::size_t NextSeparator(std::string_view text, std::size_t from, const NameRules& rules);

// One past the last separator of `text`, or 0 when it has none: where its last component
// starts.
std::size_t LastComponentStart(std::string_view text, const NameRules& rules);

// Converts `bytes` from `codePage` to UTF-16 and upper-cases each unit on its own, as the file
// system compares names without letter case; surrogates stay as they are. False, with `units`
// empty, when a byte sequence has no character in the code page or the system does not know
// the code page (elsewhere than Windows: when iconv does not, or no UTF-8 locale is installed).
bool UpcaseInCodePage(std::string_view bytes, CodePage codePage, std::u16string& units);

// True when UpcaseInCodePage can read names in `codePage` here.
bool CodePageKnown(CodePage codePage);

// The key under which `name` and every other name of the same file are equal under `rules`:
// its components joined by '\\' (the only 0x5C bytes in a key). With ignoreCase and a code
// page, a component that converts is its upper-cased UTF-16 text, each unit written as UTF-8;
// one that does not keeps its bytes with ASCII letters upper-cased, marked so that it cannot
// equal a converted one (the file system would read it with replacement characters, which
// cannot be foreseen here). Under kBytesOnly, ignoreCase upper-cases ASCII letters only. The
// key is for sets and maps; it is never a file name.
std::string NameKey(std::string_view name, const NameRules& rules);

// True when Windows takes the name component `component` for a device rather than a file: CON,
// PRN, AUX, NUL, CONIN$, CONOUT$, COM1-COM9 and LPT1-LPT9 (and COM/LPT with a superscript 1, 2
// or 3 of the Western code page), in any letter case, alone or before a dot ("nul.txt"), with
// or without spaces after them ("aux .dat"). Opening such a name opens the device, in every
// folder.
bool IsWindowsDeviceName(std::string_view component);

}  // namespace repair::platform
