// The 'check' command of repair-publish: its usage, help and run.
#pragma once

#include <string>
#include <vector>

namespace repair::publish {

extern const char kCheckUsage[];
extern const char kCheckHelp[];

// 0 when every file checked would repair, 1 when one would not (or the manifest fails),
// 2 for bad arguments.
int RunCheckCommand(const std::vector<std::string>& args);

}  // namespace repair::publish
