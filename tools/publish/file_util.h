// Whole-file reads and all-or-nothing writes for the operator tool.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace repair::publish {

// Reads the whole file; false with a message in `error` when it cannot.
bool ReadFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error);

// Writes through a temporary file beside `path` and renames it into place, so that a failed
// write never leaves a half-written file under the real name. "-" writes to standard output.
bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string& error);

}  // namespace repair::publish
