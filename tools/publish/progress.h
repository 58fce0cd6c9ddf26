// A one-line progress display for the long steps of the operator tool (digesting and copying
// a client): files and bytes done of the total and the rate, redrawn in place with '\r' on a
// terminal. Off a terminal it draws nothing, so logs and pipes stay clean.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace repair::publish {

class ProgressLine {
 public:
  // Draws on `out` (normally stderr when it is a terminal); a null `out` draws nothing but
  // still counts, so the summary is available either way.
  ProgressLine(std::string label, std::uint64_t totalFiles, std::uint64_t totalBytes,
               std::FILE* out);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void AddBytes(std::uint64_t bytes);
  void FileDone();
  // Erases the line so that other output can go where it was; the next call draws it again.
  void Clear();
  // Erases the line; later calls draw nothing.
  void Finish();

  double Seconds() const;
  // "12 files, 3.4 MB in 0.5 s (6.8 MB/s)".
  std::string Summary() const;

 private:
  void Draw(bool force);

  std::string label_;
  std::uint64_t totalFiles_;
  std::uint64_t totalBytes_;
  std::uint64_t filesDone_ = 0;
  std::uint64_t bytesDone_ = 0;
  std::FILE* out_;
  std::size_t drawnWidth_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace repair::publish
