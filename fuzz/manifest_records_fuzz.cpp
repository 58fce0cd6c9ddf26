// Fuzzes the manifest's record parser: the plaintext of a sealed manifest as any bytes.
// Besides the sanitizers' checks, a refused plaintext must add nothing, and every entry of an
// accepted one must carry a name that stays inside the client folder.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "engine/manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > std::numeric_limits<std::uint32_t>::max()) return 0;
  repair::FileList files;
  const bool ok = repair::ParseManifestRecords(data, static_cast<std::uint32_t>(size), files) ==
                  repair::RecoveryError::None;
  if (!ok && files.size() != 0) std::abort();
  for (const auto& entry : files) {
    if (entry->name.size() > static_cast<std::size_t>(repair::kMaxManifestNameLength) ||
        !repair::IsSafeRelativeName(entry->name)) {
      std::abort();
    }
  }
  return 0;
}
