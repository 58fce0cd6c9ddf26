// Drives one recovery run without a window, for end-to-end tests: the run on a worker thread,
// this thread in the UI's place acknowledging every phase (as with /quiet), printing each
// phase change and the outcome.
//
//   engine_runner BASE_FOLDER REMOTE_TEMPLATE [options]
//     --own NAME             the tool's own file name (default "repair")
//     --rollback             repair towards the build before the installed one
//     --version MAJOR_MINOR  an explicit build
//     --version-file NAME    default "buildver.tvf"
//     --manifest NAME        default "filehash.tsf"
//     --kill-when STATE:N    SIGKILL this process once N entries are in STATE
//                            (downloaded or recovered): a crash in the middle of a phase
// Exit code: 0 when the run finished, 1 when it failed, 2 for bad arguments.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "engine/recovery_run.h"
#include "engine/recovery_state.h"

namespace {

const char* PhaseName(repair::RecoveryPhase phase) {
  static const char* const kNames[] = {"Ready",      "CheckVersion",  "DownloadManifest",
                                       "CheckFiles", "DownloadFiles", "RecoverFiles",
                                       "Finished"};
  auto index = static_cast<int>(phase);
  return (index >= 0 && index <= 6) ? kNames[index] : "?";
}

int Usage() {
  std::fprintf(stderr,
               "usage: engine_runner BASE_FOLDER REMOTE_TEMPLATE [--own NAME] [--rollback]"
               " [--version MAJOR_MINOR] [--version-file NAME] [--manifest NAME]"
               " [--kill-when downloaded|recovered:N]\n");
  return 2;
}

void KillSelf() {
  std::fflush(stdout);
#if defined(_WIN32)
  std::_Exit(137);
#else
  ::kill(::getpid(), SIGKILL);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  repair::RecoveryRequest request;
  request.baseFolder = argv[1];
  request.remotePath = argv[2];
  request.ownFileName = "repair";
  request.versionFileName = "buildver.tvf";
  request.manifestFileName = "filehash.tsf";
  std::uint32_t killMask = 0, killCount = 0;
  for (int i = 3; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "--own" && value(request.ownFileName)) continue;
    if (arg == "--version-file" && value(request.versionFileName)) continue;
    if (arg == "--manifest" && value(request.manifestFileName)) continue;
    if (arg == "--rollback") {
      request.versionMode = repair::VersionMode::Rollback;
    } else if (arg == "--version" && value(v) && v.find('_') != std::string::npos) {
      request.versionMode = repair::VersionMode::Explicit;
      request.major = std::atoi(v.c_str());
      request.minor = std::atoi(v.c_str() + v.find('_') + 1);
    } else if (arg == "--kill-when" && value(v) && v.find(':') != std::string::npos) {
      std::string which = v.substr(0, v.find(':'));
      killCount = static_cast<std::uint32_t>(std::atoi(v.c_str() + v.find(':') + 1));
      if (which == "downloaded")
        killMask = repair::Downloaded | repair::Recovered;
      else if (which == "recovered")
        killMask = repair::Recovered;
      else
        return Usage();
    } else {
      return Usage();
    }
  }

  const auto start = std::chrono::steady_clock::now();
  auto elapsed = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  std::atomic<bool> done{false};
  bool finished = false;
  std::thread worker([&] {
    finished = repair::RunRecovery(request);
    done.store(true);
  });
  while (!done.load()) {
    if (repair::IsPhaseChanged()) {
      std::printf("phase %s at %.3f s\n", PhaseName(repair::GetPhase()), elapsed());
      std::fflush(stdout);
      repair::AcknowledgePhase();
    }
    if (killMask != 0 && repair::GetPhase() >= repair::RecoveryPhase::CheckFiles &&
        repair::CountFiles(killMask) >= killCount) {
      KillSelf();
    }
    // Waiting for a crash point polls without sleeping, so that the kill lands mid-phase.
    if (killMask != 0) {
      std::this_thread::yield();
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  worker.join();
  std::printf("end at %.3f s\n", elapsed());
  std::printf("outcome phase=%s error=%d files=%u intact=%u recovered=%u\n",
              PhaseName(repair::GetPhase()), repair::GetError(), repair::CountFiles(0),
              repair::CountFiles(repair::Intact), repair::CountFiles(repair::Recovered));
  return finished ? 0 : 1;
}
