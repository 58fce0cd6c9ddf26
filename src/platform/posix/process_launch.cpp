#include "platform/posix/process_launch.h"

#include <signal.h>
#include <spawn.h>
#include <unistd.h>

extern char** environ;

namespace repair::platform {
namespace {

// Signals that the started program must get with their default action, whatever this
// process did with them.
constexpr int kResetForChild[] = {SIGINT, SIGTERM, SIGHUP, SIGWINCH, SIGPIPE, SIGCHLD};

// posix_spawn's attributes, destroyed when their owner goes.
class SpawnAttributes {
 public:
  SpawnAttributes() : ok_(::posix_spawnattr_init(&attributes_) == 0) {}
  ~SpawnAttributes() {
    if (ok_) ::posix_spawnattr_destroy(&attributes_);
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  bool ok() const { return ok_; }
  posix_spawnattr_t* get() { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
  bool ok_;
};

}  // namespace

bool StartDetachedProgram(const std::string& program, const std::vector<std::string>& arguments) {
  if (program.empty()) return false;
  std::string found = program;
  if (program.find('/') == std::string::npos && ::access(program.c_str(), X_OK) == 0) {
    found = "./" + program;
  }
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  SpawnAttributes attributes;
  if (!attributes.ok()) return false;
  sigset_t defaults;
  sigset_t none;
  ::sigemptyset(&defaults);
  ::sigemptyset(&none);
  for (int signal : kResetForChild) ::sigaddset(&defaults, signal);
  ::posix_spawnattr_setsigdefault(attributes.get(), &defaults);
  ::posix_spawnattr_setsigmask(attributes.get(), &none);
  ::posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t child = 0;
  return ::posix_spawnp(&child, found.c_str(), nullptr, attributes.get(), argv.data(), environ) ==
         0;
}

}  // namespace repair::platform
