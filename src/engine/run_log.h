// The run log: what a player's support asks for, written as the run goes when the string file
// names a log. The build resolved, the manifest's address and outcome, each file's verdict and
// bytes fetched, every failure with its detail (status.h), and the time of each phase.
//
// Only the worker writes it. A log never fails a run: one that cannot be made or written is
// simply off. It starts empty each run and stops growing at kMaxBytes, with one line saying so.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "engine/status.h"
#include "platform/file_io.h"

namespace repair {

class RunLog {
 public:
  // About 40,000 files' verdicts, and more than any failed run needs.
  static constexpr std::uint64_t kMaxBytes = std::uint64_t{4} << 20;

  RunLog() = default;
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  // Starts the log at `path`, anew. Empty: no log. True when the log is on.
  bool Start(const std::string& path);
  bool on() const { return on_; }

  // One line, after the seconds since Start: "  12.345 text". Line breaks in `text` become
  // spaces, so that every line of the log is one record.
  void Line(const std::string& text);
  // "failed: <code> <detail>" for a failure; nothing for success.
  void Failure(const Status& status);

  // Ends the log (a late write error shows up here, and is ignored as every other).
  void Close();

 private:
  void Write(const std::string& line);

  platform::FileWriter file_;
  bool on_ = false;
  bool cut_ = false;
  std::uint64_t written_ = 0;
  std::chrono::steady_clock::time_point start_{};
};

}  // namespace repair
