// The window as lines of text, for output that is not a terminal (a file, a pipe): one line
// per status change (the animated dots left out), one line per file as its check or
// download completes, and each message box's text as it stands. Every line is sanitized.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace repair::terminal {

// True for a progress cell that ends a file's line: "Ok", or a download at 100 % or more.
bool IsFinalProgress(const std::string& progress);
// "#1 data\a.txt (20 B): Ok" for the cells "#", name, size, progress.
std::string CompletedFileLine(const std::array<std::string, 4>& cells);
// "Caption: text", the text unchanged; each line feed in it starts a new line, indented to
// where the text starts. A line feed at the very end adds no line.
std::vector<std::string> PlainBoxLines(const char* caption, const char* text);

class PlainOutput {
 public:
  explicit PlainOutput(int fd) : fd_(fd) {}

  void WriteLine(const std::string& line) const;
  void WriteLines(const std::vector<std::string>& lines) const;
  // Prints `status` without its trailing dots, unless that is empty or what was printed last.
  void Status(const std::string& status);
  // The last words of a window that leaves the screen: its status and what its boxes said.
  // Later statuses print only when they differ from this one.
  void Outcome(const std::string& status, const std::vector<std::string>& boxLines);

 private:
  int fd_;
  std::string lastStatus_;
  bool statusShown_ = false;
};

}  // namespace repair::terminal
