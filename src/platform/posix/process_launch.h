// Starting another program that this one does not wait for.
#pragma once

#include <string>
#include <vector>

namespace repair::platform {

// Starts `program` with `arguments` (argv[0] first) and this process's environment. A name
// without a slash is looked for in the current folder first, then on PATH. The program
// gets the default action for the signals this process handles and no blocked signals, and
// none of this process's close-on-exec descriptors. False when it could not be started.
bool StartDetachedProgram(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace repair::platform
