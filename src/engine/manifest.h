// The manifest: the remote list of every client file with its size and MD5 digest. As served
// it is a 32-bit little-endian unpacked length followed by a raw LZMA stream (fixed properties)
// of one sealed blob, whose plaintext is a run of records:
//   name length n (signed 16-bit LE, 0..259) | n name bytes | size (u32 LE) | md5 (16 bytes)
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/heap_buffer.h"
#include "engine/recovery_state.h"
#include "engine/status.h"
#include "platform/paths.h"

namespace repair {

constexpr std::int32_t kMaxManifestNameLength = 259;
// The largest manifest body the tool takes: 16 MiB, room for some 250,000 files (a record is
// 22 bytes and its name, and sealed data does not shrink when packed). A server that announces
// more is refused before anything is allocated; unpacking and opening the largest body then
// hold at most 64 MiB at a time.
constexpr std::uint32_t kMaxManifestLength = 16u << 20;
constexpr std::uint32_t kManifestRecordOverhead = 2 + 4 + 16;  // length field, size, md5

// Reading a manifest takes four steps: FetchManifest, MakeOwnEntry, OpenManifestBody and
// ParseManifestRecords, which ReadManifest runs in that order. Each returns what the run
// reports (the fetch and the whole read a Status, the pure steps a code) and leaves the recovery
// state alone; the entries go to the caller's own list, which the run then publishes
// (PublishEntries).

// Downloads the manifest body at `url` (at most 259 characters) into `body`, of `length`
// bytes. Codes: NotExistHashFile when the server has no such manifest, InvalidData for a body
// announced or sent over kMaxManifestLength, Unknown for a URL over 259 characters, otherwise
// the download's code (FetchUrl). `caFile` as for FetchUrl.
Status FetchManifest(const char* url, const char* caFile, HeapBuffer& body, std::uint32_t& length);

// The entry that keeps the client's own copy of the manifest current: named by the URL's last
// component, sized and digested from the `length` bytes of `body`. InvalidData when that
// component is no safe file name. A body that cannot be digested gets no entry (`entry` stays
// empty), which is no failure.
RecoveryError MakeOwnEntry(const char* url, const std::uint8_t* body, std::uint32_t length,
                           std::unique_ptr<FileEntry>& entry);

// Unpacks and opens a manifest body of `length` bytes into `plaintext`, whose first
// `plaintextLength` bytes are then the records. The body is released once unpacked, so that it
// and the plaintext are never held at once. Codes: InvalidData for a body under 4 bytes, a
// declared length over twice the packed length and 64 KiB (refused before anything is
// allocated: packed ciphertext does not shrink), LZMA data that does not end within the
// declared length, or a blob that does not open; MemoryAllocation when a buffer cannot be had.
// Memory stays within the declared length for the unpacked blob and the unpacked length less
// 61 for the plaintext.
RecoveryError OpenManifestBody(HeapBuffer body, std::uint32_t length, HeapBuffer& plaintext,
                               std::uint32_t& plaintextLength);

// Appends one entry per record of the `length` bytes of `plaintext` to `entries`, all or
// nothing. Refuses with InvalidData, appending nothing, a record that does not lie wholly
// inside the plaintext, a name length outside 0..259, and a name (cut at its first zero byte)
// that IsSafeRelativeName rejects; MemoryAllocation when memory runs out. An empty plaintext
// holds no records and succeeds. Touches nothing but `entries`.
RecoveryError ParseManifestRecords(const std::uint8_t* plaintext, std::uint32_t length,
                                   FileList& entries);

// Fetches, opens and parses the manifest at `url` into `entries`: the manifest's own entry
// first, then one per record. On failure the entries read so far stay: the own entry, never a
// record's.
Status ReadManifest(const char* url, const char* caFile, FileList& entries);

// True when `name` can only name a file inside the client folder, and only by its one spelling.
// The manifest travels over plain HTTP and its seal opens with a key every copy of the tool
// carries, so its names are untrusted while the tool runs elevated. Rejected: an empty name (it
// names the client folder itself); a leading or trailing separator ('\\' or '/'); any colon
// (drives, alternate data streams); and any component that Windows rewrites before it reaches
// the file system: an empty one (a doubled separator) and one that ends with a dot or a space,
// "." and ".." among them, and "..." or ".. ", which Windows may read as "..". Each of these
// would let a name reach a file other entries, or the tool's own executable, name otherwise.
// Names are read in the system's ANSI code page, where a double-byte character's second byte
// separates nothing (platform::HostManifestRules); the second form takes other rules.
bool IsSafeRelativeName(const std::string& name);
bool IsSafeRelativeName(const std::string& name, const platform::NameRules& rules);

}  // namespace repair
