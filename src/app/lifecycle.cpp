#include "app/lifecycle.h"

#include "app/end_of_run.h"
#include "app/run_context.h"
#include "app/worker.h"
#include "common/format.h"
#include "engine/recovery_state.h"
#include "platform/paths.h"
#include "platform/process_info.h"
#include "strings/string_table.h"
#include "ui/refresh.h"
#include "ui/window_texts.h"

namespace repair {
namespace {

constexpr char kInstanceName[] = "tovak_recovery";
constexpr std::uint32_t kStartWorkerDelayMs = 2000;
constexpr std::uint32_t kExitDelayMs = 500;

// The string file lies beside the executable and has its base name: repair.dat for
// repair.exe on Windows, for repair on Linux. False when the path cannot be built.
bool BuildStringFilePath(char* path) {
  char executable[kPathBufferSize] = {};
  platform::PathParts parts{};
  return platform::GetExecutablePath(executable, sizeof(executable)) &&
         platform::SplitPath(executable, parts) &&
         FormatPath(path, "%s%s%s.dat", parts.drive, parts.folder, parts.name);
}

// The arguments as tokens: the raw text split by the tool's own rules, or the tokens the
// system split already. False for an unmatched quote.
bool GatherTokens(const ProgramArguments& arguments, TokenList& tokens, std::uint32_t& count) {
  if (arguments.text != nullptr) return SplitCommandLine(arguments.text, tokens, count);
  tokens.clear();
  if (arguments.tokens != nullptr) tokens = *arguments.tokens;
  count = static_cast<std::uint32_t>(tokens.size());
  return true;
}

}  // namespace

// Early returns leave the instance marker and the shell to the process exit, which releases
// them; only a run that reached the message loop cleans up itself.
RunOutcome RunApplication(AppHost& host, const ProgramArguments& arguments,
                          RecoveryContext& context) {
  if (!host.AcquireInstance(kInstanceName)) return RunOutcome::kAnotherCopy;
  host.InitializeShell();

  TokenList tokens;
  std::uint32_t count = 0;
  if (!GatherTokens(arguments, tokens, count)) return RunOutcome::kStartFailed;
  const CommandLineOptions options = ParseSwitches(tokens, count);

  char stringFilePath[kPathBufferSize] = {};
  if (!BuildStringFilePath(stringFilePath) || !LoadStringTable(stringFilePath)) {
    return RunOutcome::kStartFailed;
  }

  WindowControls* window = host.CreateMainWindow(LookupWindowTexts());
  if (window == nullptr) return RunOutcome::kNoWindow;
  window->Activate();
  window->SetTimer(kStartWorkerTimer, kStartWorkerDelayMs);
  window->SetTimer(kRefreshTimer, 0);

  // The timers cannot fire before the loop runs, so the context is complete before either
  // handler sees it. Filling it fails only when the executable's own path cannot be read
  // again; a run must not then start with an empty base folder, which would repair relative
  // to the current folder.
  if (!FillRunContext(window, options, context)) return RunOutcome::kStartFailed;

  RefreshState refresh;
  bool workerStarted = true;
  const bool windowClosed = host.RunMessageLoop([&](int timerId) {
    if (timerId == kStartWorkerTimer) {
      workerStarted = StartWorker(host, *window, context);
    } else if (timerId == kRefreshTimer) {
      RefreshProgress(*window, refresh, context.quiet != 0);
    }
  });

  // Whatever ended the loop, the run goes no further: after a declined question or a closed
  // window the worker stops at its next file or block and leaves no error of its own. Once it
  // has returned, the state holds the outcome for good.
  RequestStop();
  host.JoinWorker();

  LoopEnd end;
  end.windowClosed = windowClosed;
  end.declined = refresh.declined;
  end.runFailed = !workerStarted || GetError() != 0;
  end.finished = IsFinished();
  const RunOutcome outcome = OutcomeAfterLoop(end);
  ReportOutcome(*window, options.quiet, windowClosed);
  LaunchChained(host, options.execPath, options.passThrough);

  ResetRecoveryState();
  host.CloseStreams();
  host.ShutdownShell();
  host.ReleaseInstance();
  host.Sleep(kExitDelayMs);
  return outcome;
}

}  // namespace repair
