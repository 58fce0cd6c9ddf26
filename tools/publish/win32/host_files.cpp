// Windows: names are wide, converted into the ANSI code page the tool reads them in; links
// and junctions are reparse points, which std::filesystem does not report here.
#include "publish/host_files.h"

#include <fcntl.h>
#include <io.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace repair::publish {

void UseHostNameEncoding() { std::setlocale(LC_CTYPE, ""); }

bool NamesAreFileSystemBytes() { return false; }

bool NarrowName(const std::filesystem::path& name, std::string& out) {
  const std::wstring& wide = name.native();
  std::size_t length = std::wcstombs(nullptr, wide.c_str(), 0);
  if (length == static_cast<std::size_t>(-1)) return false;
  std::string narrow(length + 1, '\0');
  if (std::wcstombs(&narrow[0], wide.c_str(), narrow.size()) != length) return false;
  narrow.resize(length);
  out = std::move(narrow);
  return true;
}

std::string LossyNarrowName(const std::filesystem::path& path) {
  std::string narrow;
  for (wchar_t c : path.native()) narrow += (c > 0 && c < 0x80) ? static_cast<char>(c) : '?';
  return narrow;
}

// libstdc++ on Windows reads link status with stat(), which follows links; the C library's
// file search passes the entry's attributes through, the reparse-point bit among them.
bool IsLink(const std::filesystem::path& path, const std::filesystem::file_status& status) {
  if (std::filesystem::is_symlink(status)) return true;
  constexpr unsigned kReparsePoint = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT
  struct _wfinddata64_t found;
  const intptr_t search = _wfindfirst64(path.c_str(), &found);
  if (search == -1) return false;
  _findclose(search);
  return (found.attrib & kReparsePoint) != 0;
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

// Text mode would turn every LF byte of a binary file into CR LF.
void UseBinaryStandardOutput() { _setmode(_fileno(stdout), _O_BINARY); }

}  // namespace repair::publish
