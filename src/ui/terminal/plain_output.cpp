#include "ui/terminal/plain_output.h"

#include <cstdlib>

#include "platform/posix/fd_io.h"
#include "ui/terminal/text_fit.h"

namespace repair::terminal {

bool IsFinalProgress(const std::string& progress) {
  if (progress == "Ok") return true;
  // "%d %%" at 100 or more: downloaded whole.
  std::size_t digits = 0;
  while (digits < progress.size() && progress[digits] >= '0' && progress[digits] <= '9') ++digits;
  if (digits == 0 || digits > 9 || progress.compare(digits, std::string::npos, " %") != 0) {
    return false;
  }
  return std::atoi(progress.c_str()) >= 100;
}

std::string CompletedFileLine(const std::array<std::string, 4>& cells) {
  std::string line = "#" + cells[0] + " " + cells[1];
  const std::string size = TrimRight(cells[2]);
  if (!size.empty()) line += " (" + size + ")";
  return line + ": " + cells[3];
}

std::vector<std::string> PlainBoxLines(const char* caption, const char* text) {
  const std::string head = std::string(caption ? caption : "") + ": ";
  const std::string indent(DisplayWidth(Sanitize(head)), ' ');
  std::vector<std::string> lines;
  const std::string body = text ? text : "";
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = body.find('\n', start);
    std::string piece = body.substr(start, end == std::string::npos ? end : end - start);
    if (!piece.empty() && piece.back() == '\r') piece.pop_back();  // a CR LF line break
    if (lines.empty()) {
      lines.push_back(head + piece);
    } else if (!piece.empty() || end != std::string::npos) {
      lines.push_back(piece.empty() ? std::string() : indent + piece);
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

void PlainOutput::WriteLine(const std::string& line) const {
  platform::WriteAll(fd_, Sanitize(line) + "\n");
}

void PlainOutput::WriteLines(const std::vector<std::string>& lines) const {
  for (const std::string& line : lines) WriteLine(line);
}

void PlainOutput::Status(const std::string& status) {
  const std::string steady = WithoutTrailingDots(status);
  if (!steady.empty() && (!statusShown_ || steady != lastStatus_)) WriteLine(steady);
  statusShown_ = true;
  lastStatus_ = steady;
}

void PlainOutput::Outcome(const std::string& status, const std::vector<std::string>& boxLines) {
  const std::string summary = WithoutTrailingDots(status);
  if (!summary.empty()) WriteLine(summary);
  WriteLines(boxLines);
  lastStatus_ = summary;
  statusShown_ = true;
}

}  // namespace repair::terminal
