#include "publish/display.h"

#include <cstdio>

#include "publish/host_files.h"

namespace repair::publish {

std::string Md5Hex(const std::array<std::uint8_t, 16>& md5) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t b : md5) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}

std::string PrintableName(const std::string& name) {
  std::string shown;
  for (char ch : name) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      shown += escaped;
    } else {
      shown += ch;
    }
  }
  return shown;
}

std::string DisplayPath(const std::filesystem::path& path) {
  std::string narrow;
  if (NarrowName(path, narrow)) return narrow;
  return LossyNarrowName(path);
}

std::string FormatByteCount(std::uint64_t bytes) {
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
  char text[32];
  if (bytes < 1000) {
    std::snprintf(text, sizeof text, "%u B", static_cast<unsigned>(bytes));
    return text;
  }
  double value = static_cast<double>(bytes) / 1000.0;
  std::size_t unit = 0;
  while (value >= 999.95 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
    value /= 1000.0;
    ++unit;
  }
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string FormatRate(std::uint64_t bytes, double seconds) {
  if (seconds < 0.001) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB/s", static_cast<double>(bytes) / 1e6 / seconds);
  return text;
}

}  // namespace repair::publish
