#include "publish/progress.h"

#include <utility>

#include "publish/display.h"

namespace repair::publish {
namespace {

// Often enough to look alive, rarely enough that drawing costs nothing next to the work.
constexpr std::chrono::milliseconds kRedrawInterval(100);

}  // namespace

ProgressLine::ProgressLine(std::string label, std::uint64_t totalFiles, std::uint64_t totalBytes,
                           std::FILE* out)
    : label_(std::move(label)),
      totalFiles_(totalFiles),
      totalBytes_(totalBytes),
      out_(out),
      start_(std::chrono::steady_clock::now()),
      lastDraw_(start_) {}

ProgressLine::~ProgressLine() { Finish(); }

void ProgressLine::AddBytes(std::uint64_t bytes) {
  bytesDone_ += bytes;
  Draw(false);
}

void ProgressLine::FileDone() {
  ++filesDone_;
  Draw(filesDone_ == totalFiles_);
}

void ProgressLine::Clear() {
  if (out_ == nullptr || drawnWidth_ == 0) return;
  std::fprintf(out_, "\r%*s\r", static_cast<int>(drawnWidth_), "");
  std::fflush(out_);
  drawnWidth_ = 0;
}

void ProgressLine::Finish() {
  Clear();
  out_ = nullptr;
}

double ProgressLine::Seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

std::string ProgressLine::Summary() const {
  double seconds = Seconds();
  char text[160];
  std::snprintf(text, sizeof text, "%llu files, %s in %.1f s (%s)",
                static_cast<unsigned long long>(filesDone_), FormatByteCount(bytesDone_).c_str(),
                seconds, FormatRate(bytesDone_, seconds).c_str());
  return text;
}

void ProgressLine::Draw(bool force) {
  if (out_ == nullptr) return;
  auto now = std::chrono::steady_clock::now();
  if (!force && now - lastDraw_ < kRedrawInterval) return;
  lastDraw_ = now;
  char text[200];
  int width = std::snprintf(
      text, sizeof text, "%s %llu/%llu files  %s of %s  %s", label_.c_str(),
      static_cast<unsigned long long>(filesDone_), static_cast<unsigned long long>(totalFiles_),
      FormatByteCount(bytesDone_).c_str(), FormatByteCount(totalBytes_).c_str(),
      FormatRate(bytesDone_, Seconds()).c_str());
  if (width < 0) return;
  std::size_t drawn = static_cast<std::size_t>(width) < sizeof text
                          ? static_cast<std::size_t>(width)
                          : sizeof text - 1;
  // Spaces over whatever a longer previous line left behind; no terminal escape codes, which
  // older Windows consoles print literally.
  int pad = drawnWidth_ > drawn ? static_cast<int>(drawnWidth_ - drawn) : 0;
  std::fprintf(out_, "\r%s%*s", text, pad, "");
  std::fflush(out_);
  drawnWidth_ = drawn;
}

}  // namespace repair::publish
