// Fitting text to a terminal's columns, free of I/O. Widths count code points: a valid UTF-8
// sequence is one column; bytes that are not valid UTF-8, and control characters (C0, DEL,
// C1), become '?' so that no text from a file, a server or the string table can steer the
// terminal.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace repair::terminal {

std::string Sanitize(const std::string& text);
std::size_t DisplayWidth(const std::string& sanitized);
// The first `width` columns of `sanitized`, padded with spaces to exactly `width`.
std::string FitLeft(const std::string& sanitized, std::size_t width);
// As FitLeft, but a text that is too long keeps its end behind "...": the end of a path
// names the file.
std::string FitTail(const std::string& sanitized, std::size_t width);
// `sanitized` cut into lines of at most `width` columns, at spaces where there are any.
std::vector<std::string> WrapText(const std::string& sanitized, std::size_t width);
// The status text without its animated trailing full stops.
std::string WithoutTrailingDots(const std::string& text);
// `text` without its trailing spaces.
std::string TrimRight(std::string text);

}  // namespace repair::terminal
