#include "engine/status.h"

#include <utility>

#include "platform/os_error.h"

namespace repair {

std::string Status::Detail() const {
  if (code == RecoveryError::None) return std::string();
  std::string line = operation.empty() ? std::string("failure") : operation;
  if (!subject.empty()) line += ' ' + subject;
  std::string why;
  if (httpStatus != 0) why = "HTTP status " + std::to_string(httpStatus);
  if (osError != 0) {
    if (!why.empty()) why += ", ";
    why += platform::OsErrorText(osError) + " (OS error " + std::to_string(osError) + ")";
  }
  if (!note.empty()) {
    if (!why.empty()) why += ", ";
    why += note;
  }
  if (!why.empty()) line += ": " + why;
  return line;
}

Status Failure(RecoveryError code, std::string operation, std::string subject, std::string note) {
  Status status;
  status.code = code;
  status.operation = std::move(operation);
  status.subject = std::move(subject);
  status.note = std::move(note);
  return status;
}

Status OsFailure(RecoveryError code, std::string operation, std::string subject, int osError) {
  Status status = Failure(code, std::move(operation), std::move(subject));
  status.osError = osError;
  return status;
}

Status HttpFailure(RecoveryError code, std::string url, std::uint32_t httpStatus,
                   std::string note) {
  Status status = Failure(code, "fetch", std::move(url), std::move(note));
  status.httpStatus = httpStatus;
  return status;
}

}  // namespace repair
