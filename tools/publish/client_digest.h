// The MD5 and size of one listed client file, read once: the same pass may copy it, so that a
// release's copy is exactly what its record describes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "engine/block_index.h"
#include "publish/client_scan.h"
#include "publish/manifest_format.h"

namespace repair::publish {

// Reads `file` in 1 MiB pieces into an MD5; with `copyTo`, writes the same bytes there as well
// (creating its folders), so the copy is exactly what the record describes. `onBytes` gets each
// piece's length; `blocks` (optional) every piece's bytes. Fails when the file cannot be read,
// changes size, or the copy fails.
bool DigestClientFile(const ClientFile& file, const std::filesystem::path* copyTo,
                      ManifestRecord& record, const std::function<void(std::uint64_t)>& onBytes,
                      std::string& error, BlockIndexBuilder* blocks = nullptr);

}  // namespace repair::publish
