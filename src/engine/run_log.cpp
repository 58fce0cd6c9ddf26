#include "engine/run_log.h"

#include <cstdio>

namespace repair {
namespace {

constexpr char kCutLine[] = "log cut here: it reached its size limit\n";

}  // namespace

bool RunLog::Start(const std::string& path) {
  Close();
  cut_ = false;
  written_ = 0;
  start_ = std::chrono::steady_clock::now();
  on_ = !path.empty() && file_.Open(path.c_str(), 0);
  return on_;
}

void RunLog::Line(const std::string& text) {
  if (!on_ || cut_) return;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%8.3f ", seconds);
  std::string line = stamp + text;
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  line += '\n';
  // The last line that fits leaves room for the one that says the log was cut.
  if (written_ + line.size() + sizeof kCutLine > kMaxBytes) {
    Write(kCutLine);
    cut_ = true;
    return;
  }
  Write(line);
}

void RunLog::Failure(const Status& status) {
  if (status.code == RecoveryError::None) return;
  Line("failed: " + std::string(ErrorMessageKey(static_cast<std::int32_t>(status.code))) + " " +
       status.Detail());
}

void RunLog::Close() {
  if (on_) file_.Close();
  on_ = false;
}

void RunLog::Write(const std::string& line) {
  if (!file_.Write(reinterpret_cast<const std::uint8_t*>(line.data()),
                   static_cast<std::uint32_t>(line.size()))) {
    Close();  // a full disk or a lost file: the run goes on without its log
    return;
  }
  written_ += line.size();
}

}  // namespace repair
