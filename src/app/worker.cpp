#include "app/worker.h"

#include <string>

#include "engine/recovery_run.h"
#include "strings/string_keys.h"

namespace repair {

void RunWorker(void* parameter) {
  const auto* context = static_cast<const RecoveryContext*>(parameter);
  // The outcome travels through the recovery state; the end of run reads it there.
  RunRecovery(context->request);
  if (context->window != nullptr) context->window->EndRun();
}

bool StartWorker(AppHost& host, WindowControls& window, RecoveryContext& context) {
  window.KillTimer(kStartWorkerTimer);
  if (host.StartThread(RunWorker, &context)) return true;

  // Failures inside the run show this key with its longer default; a worker that never
  // started has its own short one.
  std::string text;
  std::string caption;
  LookupText(kErrUnknown.key, text, kErrUnknown.otherDefault);
  LookupText(kStrError, caption);
  window.Activate();
  window.ShowMessageBox(text.c_str(), caption.c_str(), MessageBoxKind::kOkError);
  window.EndRun();
  return false;
}

}  // namespace repair
