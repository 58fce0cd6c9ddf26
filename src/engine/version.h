// The first step of a run: which client build to repair towards, and the remote folder that
// holds that build's manifest and files.
#pragma once

#include <cstdint>
#include <string>

#include "common/format.h"
#include "engine/status.h"
#include "engine/version_mode.h"

namespace repair {

// The version file's plaintext: three or four little-endian 32-bit words.
struct VersionStamp {
  std::int32_t major = 0;
  std::int32_t minor = 0;
  std::int32_t third = 0;   // kept, used by nothing in the run
  std::int32_t fourth = 0;  // 0 in the 12-byte form; used by nothing in the run
};

// The only version file sizes: a sealed 12- or 16-byte plaintext.
constexpr std::uint32_t kVersionFileShort = 73;
constexpr std::uint32_t kVersionFileLong = 77;

// Opens the bytes of a version file with the built-in key and fills `stamp`. The length is
// checked before anything is decrypted: false for any length but 73 or 77, or a blob that
// does not open; `stamp` is then untouched. Sets no error code.
bool DecodeVersionStamp(const std::uint8_t* bytes, std::uint32_t length, VersionStamp& stamp);

// Reads and decodes the version file at `path`. Fails with NotExistVersionFile when the file
// cannot be opened, MemoryAllocation or Unknown as the read gives them, InvalidData when the
// contents do not decode.
Status ReadVersionFile(const char* path, VersionStamp& stamp);


// The version step of a run: selects major and minor by `mode` (the version file in
// `baseFolder`, the build before it, or `major`/`minor` as given) and writes into `resolved`
// the template with "$MAJORVER$" and "$MINORVER$" replaced by their decimal texts. Fails with
// the version file's code, Unknown when the version file path does not fit 259 characters,
// NotExistVersionFile when the selected numbers are negative, MemoryAllocation when memory
// runs out; `resolved` is then left as it was.
Status ResolveRemotePath(const char* baseFolder, const char* versionFileName,
                         const char* remoteTemplate, VersionMode mode, std::int32_t major,
                         std::int32_t minor, std::string& resolved);

// The manifest URL: `resolved` and `manifestFileName` joined by a slash into a buffer of
// kPathBufferSize bytes. False, with an empty buffer, when it does not fit 259 characters;
// the caller then ends the run with Unknown.
bool BuildManifestUrl(char out[kPathBufferSize], const std::string& resolved,
                      const char* manifestFileName);

}  // namespace repair
