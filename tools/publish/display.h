// How the operator tool shows names, paths, digests, sizes and rates to the operator. Every
// function returns text for a message or a listing and never fails.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

namespace repair::publish {

// 32 lower-case hex digits.
std::string Md5Hex(const std::array<std::uint8_t, 16>& md5);

// A manifest name for display: control bytes (below 0x20, and 0x7F) are shown as \xNN.
std::string PrintableName(const std::string& name);

// A path for messages, in the form the console shows.
std::string DisplayPath(const std::filesystem::path& path);

// Decimal units, as transfer rates are usually given: "512 B", "1.5 KB", "12.3 MB", "4.0 GB".
std::string FormatByteCount(std::uint64_t bytes);

// "6.8 MB/s"; "-" when too little time has passed to say.
std::string FormatRate(std::uint64_t bytes, double seconds);

}  // namespace repair::publish
