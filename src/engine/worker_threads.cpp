#include "engine/worker_threads.h"

#include <system_error>
#include <thread>
#include <vector>

namespace repair {

unsigned RunWorkers(unsigned count, const std::function<void(unsigned worker)>& body) {
  if (count == 0) return 0;
  std::vector<std::thread> threads;
  threads.reserve(count - 1);
  for (unsigned worker = 1; worker < count; ++worker) {
    try {
      threads.emplace_back(body, worker);
    } catch (const std::system_error&) {
      break;  // no more threads: the ones running take the rest
    }
  }
  body(0);
  for (std::thread& thread : threads) thread.join();
  return static_cast<unsigned>(threads.size()) + 1;
}

}  // namespace repair
