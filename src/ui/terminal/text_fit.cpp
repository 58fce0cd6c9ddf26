#include "ui/terminal/text_fit.h"

#include <cstdint>

namespace repair::terminal {
namespace {

// Length of the UTF-8 sequence that starts at text[i], or 0 when it is not a valid one or
// encodes a control character of the C1 range.
std::size_t ValidSequenceLength(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length;
  std::uint32_t code;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  if (overlong || surrogate || code > 0x10FFFF || (code >= 0x80 && code <= 0x9F)) return 0;
  return length;
}

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Byte offset of column `column` in a sanitized text (its size when the text is shorter).
std::size_t OffsetOfColumn(const std::string& sanitized, std::size_t column) {
  std::size_t i = 0;
  for (std::size_t seen = 0; i < sanitized.size(); ++i) {
    if (IsContinuation(sanitized[i])) continue;
    if (seen == column) return i;
    ++seen;
  }
  return i;
}

}  // namespace

std::string Sanitize(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out += (c == '\t') ? ' ' : (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
      ++i;
      continue;
    }
    const std::size_t length = ValidSequenceLength(text, i);
    if (length == 0) {
      out += '?';
      ++i;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  return out;
}

std::size_t DisplayWidth(const std::string& sanitized) {
  std::size_t width = 0;
  for (char c : sanitized) width += IsContinuation(c) ? 0 : 1;
  return width;
}

std::string FitLeft(const std::string& sanitized, std::size_t width) {
  std::string out = sanitized.substr(0, OffsetOfColumn(sanitized, width));
  out.append(width - DisplayWidth(out), ' ');
  return out;
}

std::string FitTail(const std::string& sanitized, std::size_t width) {
  const std::size_t have = DisplayWidth(sanitized);
  if (have <= width) return FitLeft(sanitized, width);
  if (width <= 3) return FitLeft(sanitized, width);
  return "..." + sanitized.substr(OffsetOfColumn(sanitized, have - (width - 3)));
}

std::vector<std::string> WrapText(const std::string& sanitized, std::size_t width) {
  std::vector<std::string> lines;
  if (width == 0) return lines;
  std::string rest = sanitized;
  while (DisplayWidth(rest) > width) {
    std::size_t cut = OffsetOfColumn(rest, width);
    std::size_t space = rest.rfind(' ', cut);
    std::size_t next = cut;
    if (space != std::string::npos && space > 0) {
      cut = space;
      next = space + 1;
    }
    lines.push_back(TrimRight(rest.substr(0, cut)));
    rest.erase(0, next);
  }
  lines.push_back(rest);
  return lines;
}

std::string WithoutTrailingDots(const std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && text[end - 1] == '.') --end;
  return text.substr(0, end);
}

std::string TrimRight(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace repair::terminal
