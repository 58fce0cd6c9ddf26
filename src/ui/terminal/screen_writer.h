// Puts composed screens on the terminal: each change as one write that moves to and redraws
// only the lines that differ from what the terminal shows.
#pragma once

#include <string>
#include <vector>

#include "ui/terminal/layout.h"

namespace repair::terminal {

// A line with its style's escape sequences around the parts a message box leaves uncovered.
std::string RenderLine(const ScreenLine& line);

class ScreenWriter {
 public:
  explicit ScreenWriter(int fd) : fd_(fd) {}

  // The bytes that turn what is shown into `lines` (empty when nothing differs); from then on
  // `lines` count as shown.
  std::string NextFrame(const std::vector<ScreenLine>& lines);
  // NextFrame, written to the terminal.
  void Draw(const std::vector<ScreenLine>& lines);
  // What the terminal shows is unknown (resized, written over by another program): the next
  // frame clears it and draws every line.
  void Invalidate();

 private:
  int fd_;
  std::vector<std::string> shown_;  // the lines on the terminal, as written
  bool clearFirst_ = true;
};

}  // namespace repair::terminal
