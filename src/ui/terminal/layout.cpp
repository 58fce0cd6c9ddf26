#include "ui/terminal/layout.h"

#include <algorithm>

#include "ui/terminal/text_fit.h"

namespace repair::terminal {
namespace {

constexpr int kSizeWidth = 9;
constexpr int kProgressWidth = 11;  // "checking..."
constexpr int kFixedLines = 5;      // title, header, frame, status, bar

std::string TitleBar(const ScreenContent& content, std::size_t width) {
  const std::string closeBox = content.closeKey ? "[q] " : "";
  const std::size_t closeWidth = std::min(closeBox.size(), width);
  return FitLeft(" " + content.title, width - closeWidth) + closeBox.substr(0, closeWidth);
}

// One row of the list, or the headers: the name gets what the other columns leave.
std::string ListColumns(const ScreenContent& content, const RowCells& cells) {
  const int nameWidth =
      std::max(4, content.columns - content.numberWidth - kSizeWidth - kProgressWidth - 3);
  return FitLeft(cells[0], static_cast<std::size_t>(content.numberWidth)) + " " +
         FitTail(cells[1], static_cast<std::size_t>(nameWidth)) + " " +
         FitLeft(cells[2], kSizeWidth) + " " + FitLeft(cells[3], kProgressWidth);
}

std::string ProgressBar(int position, int columns) {
  const int clamped = std::max(0, std::min(position, 1000));
  const std::string percent = std::to_string(clamped / 10) + " %";
  const int barWidth = std::max(0, columns - 4 - 6);
  const int filled = barWidth * clamped / 1000;
  return " [" + std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(barWidth - filled), '.') + "] " + percent;
}

// The box's text: its paragraphs, wrapped to the widest of them, the caption or the keys,
// but never wider than the screen allows.
std::vector<std::string> WrapBoxText(const BoxContent& box, std::size_t least, std::size_t most,
                                     std::size_t& inner) {
  std::vector<std::string> paragraphs;
  std::string paragraph;
  for (char c : box.text + "\n") {
    if (c == '\n') {
      paragraphs.push_back(Sanitize(TrimRight(paragraph)));
      paragraph.clear();
    } else {
      paragraph += c;
    }
  }
  inner = least;
  for (const std::string& p : paragraphs) inner = std::max(inner, DisplayWidth(p));
  inner = std::min(inner, most);
  std::vector<std::string> text;
  for (const std::string& p : paragraphs) {
    for (const std::string& line : WrapText(p, inner)) text.push_back(line);
  }
  return text;
}

// The box's lines: caption in the top frame, the text wrapped, the keys that answer it.
std::vector<std::string> BoxLines(const BoxContent& content, int columns, int rows,
                                  std::size_t& inner) {
  const bool question = content.kind == MessageBoxKind::kYesNoQuestion;
  const std::string keys = question ? "[ Yes: y ]   [ No: n ]" : "[ OK: Enter ]";
  const std::string caption = Sanitize(content.caption);
  const std::size_t most = static_cast<std::size_t>(std::max(1, columns - 8));
  const std::vector<std::string> text =
      WrapBoxText(content, std::max(keys.size(), DisplayWidth(caption) + 4), most, inner);

  std::vector<std::string> box;
  const std::size_t captionWidth = std::min(DisplayWidth(caption), inner - 1);
  std::string top = "+- " + FitLeft(caption, captionWidth) + " ";
  top += std::string(inner + 3 - DisplayWidth(top), '-') + "+";
  box.push_back(top);
  box.push_back("| " + std::string(inner, ' ') + " |");
  // A box taller than the screen drops text lines, never the keys.
  const int room = rows - 6;
  for (std::size_t i = 0; i < text.size() && static_cast<int>(i) < room; ++i) {
    box.push_back("| " + FitLeft(text[i], inner) + " |");
  }
  box.push_back("| " + std::string(inner, ' ') + " |");
  const std::size_t pad = (inner - std::min(inner, keys.size())) / 2;
  box.push_back("| " + FitLeft(std::string(pad, ' ') + keys, inner) + " |");
  box.push_back("+" + std::string(inner + 2, '-') + "+");
  return box;
}

// The box centred over `lines`, which are sanitized and exactly `columns` wide: they are cut
// around it.
void OverlayBox(const BoxContent& content, int columns, int rows, std::vector<ScreenLine>& lines) {
  std::size_t inner = 0;
  const std::vector<std::string> box = BoxLines(content, columns, rows, inner);
  const std::size_t width = static_cast<std::size_t>(columns);
  const std::size_t left = (width - std::min(width, inner + 4)) / 2;
  const std::size_t right = std::min(width, left + inner + 4);
  const std::size_t first = (lines.size() - std::min(lines.size(), box.size())) / 2;
  for (std::size_t i = 0; i < box.size() && first + i < lines.size(); ++i) {
    ScreenLine& line = lines[first + i];
    const std::string head = line.text.substr(0, FitLeft(line.text, left).size());
    const std::string tail = line.text.substr(FitLeft(line.text, right).size());
    line.boxFrom = head.size();
    line.text = head + FitLeft(box[i], right - left) + tail;
    line.boxTo = line.text.size() - tail.size();
  }
}

}  // namespace

int ListHeight(int rows) { return std::max(0, rows - kFixedLines); }

int ClampScrollTop(int scrollTop, int visibleRow, int rowCount, int rows) {
  const int height = ListHeight(rows);
  if (visibleRow >= 0 && visibleRow < rowCount && height > 0) {
    if (visibleRow < scrollTop) scrollTop = visibleRow;
    if (visibleRow >= scrollTop + height) scrollTop = visibleRow - height + 1;
  }
  return std::max(0, std::min(scrollTop, rowCount - height));
}

int NumberWidthOf(const std::string& number) {
  return static_cast<int>(std::min<std::size_t>(DisplayWidth(Sanitize(number)), kMaxNumberWidth));
}

std::vector<ScreenLine> ComposeScreen(const ScreenContent& content) {
  const std::size_t width = static_cast<std::size_t>(content.columns);
  std::vector<ScreenLine> lines;
  const auto add = [&](const std::string& text, LineStyle style) {
    lines.push_back(ScreenLine{FitLeft(text, width), style});
  };
  lines.push_back(ScreenLine{TitleBar(content, width), LineStyle::kTitleBar});
  add(ListColumns(content, content.headers), LineStyle::kHeader);
  const int height = ListHeight(content.rows);
  for (int i = 0; i < height; ++i) {
    const std::size_t index =
        static_cast<std::size_t>(content.scrollTop) + static_cast<std::size_t>(i);
    if (index < content.list.size()) {
      const RowCells& cells = content.list[index];
      add(ListColumns(content, {Sanitize(cells[0]), Sanitize(cells[1]), Sanitize(cells[2]),
                                Sanitize(cells[3])}),
          LineStyle::kPlain);
    } else {
      add("", LineStyle::kPlain);
    }
  }
  add(std::string(width, '-'), LineStyle::kPlain);
  add(" " + Sanitize(content.status), LineStyle::kPlain);
  add(ProgressBar(content.position, content.columns), LineStyle::kPlain);

  if (static_cast<int>(lines.size()) > content.rows) {  // a tiny terminal: keep the bottom
    lines.erase(lines.begin(), lines.end() - content.rows);
  }
  if (content.box) OverlayBox(*content.box, content.columns, content.rows, lines);
  return lines;
}

}  // namespace repair::terminal
