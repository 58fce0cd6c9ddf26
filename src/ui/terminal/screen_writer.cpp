#include "ui/terminal/screen_writer.h"

#include <cstdio>
#include <utility>

#include "platform/posix/fd_io.h"

namespace repair::terminal {
namespace {

const char* StyleOn(LineStyle style) {
  switch (style) {
    case LineStyle::kTitleBar: return "\x1b[7m";
    case LineStyle::kHeader: return "\x1b[1;4m";
    default: return "";
  }
}

}  // namespace

std::string RenderLine(const ScreenLine& line) {
  const std::string on = StyleOn(line.style);
  const auto styled = [&](std::size_t from, std::size_t to) {
    if (from >= to) return std::string();
    const std::string part = line.text.substr(from, to - from);
    return on.empty() ? part : on + part + "\x1b[0m";
  };
  if (line.boxFrom >= line.boxTo) return styled(0, line.text.size());
  return styled(0, line.boxFrom) + line.text.substr(line.boxFrom, line.boxTo - line.boxFrom) +
         styled(line.boxTo, line.text.size());
}

std::string ScreenWriter::NextFrame(const std::vector<ScreenLine>& lines) {
  std::string frame;
  if (clearFirst_) {
    frame += "\x1b[0m\x1b[2J";
    shown_.clear();
    clearFirst_ = false;
  }
  std::vector<std::string> drawn;
  drawn.reserve(lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string text = RenderLine(lines[i]);
    if (i >= shown_.size() || shown_[i] != text) {
      char move[32];
      std::snprintf(move, sizeof(move), "\x1b[%zu;1H", i + 1);
      frame += move;
      frame += text;
    }
    drawn.push_back(std::move(text));
  }
  shown_ = std::move(drawn);
  return frame;
}

void ScreenWriter::Draw(const std::vector<ScreenLine>& lines) {
  const std::string frame = NextFrame(lines);
  if (!frame.empty()) platform::WriteAll(fd_, frame);
}

void ScreenWriter::Invalidate() {
  shown_.clear();
  clearFirst_ = true;
}

}  // namespace repair::terminal
