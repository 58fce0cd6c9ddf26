// Paths and file names: the one place that knows where a name's separators are, how a local
// path splits into drive, folder, name and extension, which paths are rooted, how a manifest
// name becomes a local path, and the key under which two names of one file are equal.
//
// A name is a run of bytes in an ANSI code page. In a double-byte code page (932, 936, 949,
// 950, ...) a lead byte and the byte after it are one character, and that second byte may be
// 0x5C, the backslash: it separates nothing. Every walk over a name's separators goes through
// here, from left to right, so that the engine, the file operations and the OS layer agree on
// one reading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace repair::platform {

// The separator this system's local paths are built with. Windows also takes '/'.
#if defined(_WIN32)
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

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

// The rules of local paths on this system, for finding their separators: on Windows both slash
// kinds separate and paths are read in the ANSI code page; elsewhere only '/' separates and a
// backslash is a name's own byte.
NameRules HostPathRules();

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

// The last component of `path` under `rules`: its file name and extension. Read by the
// manifest's rules, a URL's last component is its file name too.
std::string LastComponent(std::string_view path, const NameRules& rules);

// The length of `text` without the separators it ends with: 3 for "a/b//", 0 for "/".
std::size_t LengthWithoutTrailingSeparators(std::string_view text, const NameRules& rules);

// The parts of a local path, in the areas of the C run-time's path splitter.
struct PathParts {
  char drive[3];     // "C:" on Windows; always empty elsewhere
  char folder[256];  // with its trailing separator, e.g. "\Games\Client\"
  char name[256];    // base name without extension
  char ext[256];     // extension with its dot, or empty
};

// Splits the local path `path` under HostPathRules. On Windows a path may start with a drive
// ("C:"); elsewhere a leading dot belongs to the name (".config" has no extension). Returns
// false (all fields empty) when a part does not fit its field.
bool SplitPath(const char* path, PathParts& parts);

// The folder part of a local path: its drive and its directory up to and including the last
// separator, each within its PathParts field (2 + 255 characters).
struct PathFolder {
  char path[sizeof(PathParts::drive) - 1 + sizeof(PathParts::folder)];  // NUL-terminated
  std::size_t driveLength;
};

// Takes the folder part of the local path `path` as SplitPath reads it; how long the name
// after the last separator is does not matter. False, with an empty result, when the
// directory does not fit. A path without a separator has an empty directory ("C:x" gives "C:").
bool SplitFolder(const char* path, PathFolder& folder);

// True when `path` names its own start, read alike on either system: from a root
// (/etc/ssl/ca.pem, \\server\share\ca.pem) or a drive (C:\ca.pem); any other path is relative
// to some folder.
bool IsRootedPath(std::string_view path);

// The local path of a manifest name into `out` (kPathBufferSize bytes): the base folder, which
// ends with its separator, then the name, whose backslashes become kPathSeparator where that
// is not the backslash. False, with `out` empty, when it exceeds 259 characters.
bool BuildLocalPath(char* out, const char* baseFolder, const char* name);

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
