// What the terminal window's tests read besides WindowControls: the screen as it would be
// drawn now, and whether it is drawn at all. Only tests include this header.
#pragma once

#include <string>
#include <vector>

#include "ui/terminal/layout.h"
#include "ui/terminal/terminal_window.h"

namespace repair {

class TerminalWindowTestHelper {
 public:
  // Text only, one string per line, whether or not the window draws on a screen.
  static std::vector<std::string> ScreenText(const TerminalWindow& window) {
    std::vector<std::string> text;
    for (const terminal::ScreenLine& line : terminal::ComposeScreen(window.content_)) {
      text.push_back(line.text);
    }
    return text;
  }

  // True while the window draws in place; false for plain output and once the terminal is
  // released.
  static bool IsScreen(const TerminalWindow& window) { return window.screen_; }
};

}  // namespace repair
