#include "app/end_of_run.h"

#include "engine/recovery_state.h"
#include "strings/string_keys.h"

namespace repair {

void ReportOutcome(WindowControls& window, bool quiet, bool windowClosed) {
  if (!windowClosed) window.Activate();

  const std::int32_t error = GetError();
  if (error != 0) {
    std::string text;
    std::string caption;
    LookupText(ErrorMessageKey(error), text, ErrorDefaultText(error));
    LookupText(kStrError, caption);
    if (!windowClosed) window.Activate();
    window.ShowMessageBox(text.c_str(), caption.c_str(), MessageBoxKind::kOkError);
    window.ShowFailureDetail(GetErrorDetail().c_str());
  }

  if (IsFinished() && !quiet) {
    std::string text;
    std::string caption;
    if (CountFiles(Recovered) > 0) {
      LookupText(kStrCompleteRecovery, text);
    } else {
      LookupText(kStrCompleteNotExistFile, text);
    }
    LookupText(kStrConfirm, caption);
    window.ShowMessageBox(text.c_str(), caption.c_str(), MessageBoxKind::kOkInformation);
  }
}

std::string BuildChainedParameters(bool finished, std::int32_t error,
                                   const std::string& passThrough) {
  std::string parameters;
  if (!finished || error != 0) parameters = "/recoverfail";
  if (!passThrough.empty()) {
    if (!parameters.empty()) parameters += ' ';
    parameters += passThrough;
  }
  return parameters;
}

void LaunchChained(AppHost& host, const char* execPath, const std::string& passThrough) {
  if (execPath == nullptr || execPath[0] == '\0') return;
  const std::string parameters = BuildChainedParameters(IsFinished(), GetError(), passThrough);
  host.LaunchProgram(execPath, parameters.c_str());
}

}  // namespace repair
