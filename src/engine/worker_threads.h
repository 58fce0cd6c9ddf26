// A few threads that share one job: each runs the job's loop with its own number, taking work
// from whatever queue the job keeps.
#pragma once

#include <functional>

namespace repair {

// Runs body(0) to body(count - 1) at once and returns when every one has returned. body(0)
// runs on the calling thread, so that one worker keeps what the caller's thread holds (its
// HTTP connection among them); each other one on a thread of its own. A thread the system
// refuses to start is done without: the bodies must take their work from a shared queue, so
// that the others take its share. Returns how many bodies ran (at least 1 for count >= 1).
unsigned RunWorkers(unsigned count, const std::function<void(unsigned worker)>& body);

}  // namespace repair
