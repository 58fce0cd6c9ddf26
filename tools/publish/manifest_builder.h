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
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
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

// One regular file found under a client folder.
struct ClientFile {
  std::filesystem::path source;    // where to read it
  std::filesystem::path relative;  // its native path below the client folder
  std::string name;                // its manifest name
  std::uint64_t size = 0;          // as listed by the folder walk
};

struct ScanOptions {
  // Left out, each with a note when it matches nothing: a file's name, or a folder's name and
  // everything below it. '/' and '\' both separate folders.
  std::vector<std::string> exclude;
  // Left out without a note: the tool's own files that a release provides itself.
  std::vector<std::string> ignore;
};

struct ScanResult {
  std::vector<ClientFile> files;  // sorted byte-wise by name
  std::uint64_t totalBytes = 0;
  std::vector<std::string> notes;  // what was left out and why, and names worth a second look
};

// True when `name` is one of `patterns` or lies below one of them (a folder), after turning
// '/' into '\' in the patterns.
bool NameExcluded(const std::string& name, const std::vector<std::string>& patterns);

// Walks `root` for regular files. Symbolic links are reported and never followed; other
// non-regular entries are reported and skipped. Empty files are listed like any other. Refuses
// (false, `error`) a folder it cannot read, a name over 259 bytes, a file of 4 GiB or more, a
// name part that ends with a dot or a space (the tool refuses such a manifest), and a name the
// tool could not use.
bool ScanClientFolder(const std::filesystem::path& root, const ScanOptions& options,
                      ScanResult& result, std::string& error);

// Reads `file` in 1 MiB pieces into an MD5; with `copyTo`, writes the same bytes there as well
// (creating its folders), so the copy is exactly what the record describes. `onBytes` gets each
// piece's length. Fails when the file cannot be read, changes size, or the copy fails.
bool DigestClientFile(const ClientFile& file, const std::filesystem::path* copyTo,
                      ManifestRecord& record, const std::function<void(std::uint64_t)>& onBytes,
                      std::string& error);

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

std::string Md5Hex(const Md5Digest& md5);

// A manifest name for display: control bytes (below 0x20, and 0x7F) are shown as \xNN.
std::string PrintableName(const std::string& name);

// A path for messages, in the form the console shows; never fails.
std::string DisplayPath(const std::filesystem::path& path);

}  // namespace repair::publish
