// What a failed step of the engine says about itself: the code the player is shown, and for
// the player's support what failed and why (the operation, the path or URL, the system's error
// number or the server's status). Returned by the engine's steps; stored in the recovery state
// once, where the run ends.
#pragma once

#include <cstdint>
#include <string>

#include "engine/recovery_state.h"

namespace repair {

struct Status {
  RecoveryError code = RecoveryError::None;
  std::string operation;         // what was being done: "open", "fetch", "move", ...
  std::string subject;           // the path or URL it was done to
  int osError = 0;               // errno or GetLastError() of the failed call; 0: none
  std::uint32_t httpStatus = 0;  // the status of the response that was refused; 0: none
  std::string note;              // a fact neither number carries ("length 12, not 40")
  // The step was cut short by a stop request (or by the run giving up on it): no failure of
  // its own, and nothing the run reports.
  bool stopped = false;

  bool ok() const { return code == RecoveryError::None && !stopped; }

  // One line for a person: "move /game/a.dat: Permission denied (OS error 13)",
  // "fetch http://host/a.dat: HTTP status 404". Empty for success and for a stopped step.
  std::string Detail() const;
};

inline Status Ok() { return Status(); }
inline Status Stopped() {
  Status status;
  status.stopped = true;
  return status;
}
Status Failure(RecoveryError code, std::string operation, std::string subject,
               std::string note = std::string());
// `osError` as the failed call left it (platform::LastOsError() read before anything else).
Status OsFailure(RecoveryError code, std::string operation, std::string subject, int osError);
Status HttpFailure(RecoveryError code, std::string url, std::uint32_t httpStatus,
                   std::string note = std::string());

}  // namespace repair
