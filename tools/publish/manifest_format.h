// Client manifests: the list of every client file with its size and MD5, sealed and packed the
// way the repair tool downloads it:
//
//   u32le sealedSize | raw LZMA stream (lc 3, lp 0, pb 2, 64 KiB dictionary, end marker)
//
// where the stream unpacks to one sealed blob whose plaintext is a run of records
// `u16le n | name (n bytes) | u32le size | md5 (16)` with names relative to the client folder,
// backslash-separated, at most 259 bytes.
//
// Every function reports failure by its result and a message; none throws for bad input.
// Making the records from a client folder is client_scan.h's and client_digest.h's job.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "publish/sealer.h"

namespace repair::publish {

// The tool's path buffers hold 260 bytes with the terminator.
constexpr std::size_t kMaxNameLength = 259;
// Length field, size and MD5 around each name.
constexpr std::size_t kRecordOverhead = 22;

using Md5Digest = std::array<std::uint8_t, 16>;

struct ManifestRecord {
  std::string name;  // as stored: relative, backslash-separated
  std::uint32_t size = 0;
  Md5Digest md5{};
};

// Sorts the records by name, seals their plaintext for `publicKey` (X.509 DER) and packs it.
bool BuildManifest(std::vector<ManifestRecord> records, const Bytes& publicKey, Bytes& manifest,
                   std::string& error);

// The record run the manifest seals. Names must be at most 259 bytes (false otherwise).
bool EncodeManifestPlaintext(const std::vector<ManifestRecord>& records, Bytes& plaintext,
                             std::string& error);

// `u32le sealed.size() | LZMA stream`, with the SDK encoder's properties checked to be the
// fixed ones the tool decodes with.
bool PackManifest(const Bytes& sealed, Bytes& manifest, std::string& error);

// The reverse of the above, with the tool's own decoder and every bound of the format checked:
// a body of at least 4 bytes, a stream that unpacks within its size field, a blob that opens
// with the PKCS#8 `privateKey`, every record wholly inside the plaintext with a name length of
// 0 to 259. `notes` receives what is legal but odd (a size field larger than the stream).
bool ReadManifest(const Bytes& manifest, const Bytes& privateKey,
                  std::vector<ManifestRecord>& records, std::vector<std::string>& notes,
                  std::string& error);

// Parses a record run; false with the offending offset in `error` when a bound is broken.
bool ParseManifestPlaintext(const Bytes& plaintext, std::vector<ManifestRecord>& records,
                            std::string& error);

}  // namespace repair::publish
