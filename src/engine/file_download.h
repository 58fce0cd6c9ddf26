// Downloading one client file into the recovery cache without holding it in memory, and
// resuming a download that an earlier run left unfinished.
//
// The body goes to "<cache path>.part" as it arrives, digested on the way, and becomes the
// cache file by one rename only when it is complete and its MD5 is the manifest's; a body that
// is short, long or wrong never becomes a cache file. Beside the part file,
// "<cache path>.part.validator" records which entry and which version of the remote file the
// part belongs to (size, MD5, and the server's ETag or Last-Modified). A later call continues
// a part file with a Range request that holds only while the remote file still matches that
// validator (If-Range); a server that answers with the whole file, or a record that does not
// match, starts the file over. Files under 256 KiB keep no record: they are fetched again.
// The digest always covers the whole file, resumed or not.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "common/heap_buffer.h"
#include "engine/status.h"

namespace repair {

// The two files of an unfinished download, from the cache path.
struct PartPaths {
  std::string part;       // "<cache path>.part"
  std::string validator;  // "<cache path>.part.validator"
};
// False when either path would exceed 259 characters.
bool BuildPartPaths(const char* cachePath, PartPaths& paths);

// What the validator file of a part records.
struct PartRecord {
  std::uint32_t size = 0;
  std::uint8_t md5[16] = {};
  std::string validator;  // an ETag or a Last-Modified date, exactly as the server sent it
};
std::string FormatPartRecord(const PartRecord& record);
// False for anything but a record FormatPartRecord wrote (garbage, cut short, a validator
// with control bytes or over 255 bytes).
bool ParsePartRecord(const std::string& text, PartRecord& record);

// Fetches `url` into `cachePath`, resuming its part file when one is usable. `counter`
// (optional) is set to the bytes already on disk, then raised by every piece as it arrives.
// `block` is the run's one work buffer (its size is kept), used to digest a part file.
// Failures: those of FetchUrl, InvalidData for a body whose length or MD5 is not the
// manifest's or a 206 that does not continue the part file (the part is then discarded),
// Unknown when the cache folder or a file in it cannot be written (naming it and the OS error).
// `caFile` as for FetchUrl. A stop request (StopRequested) ends it while the part file is
// digested or the body arrives: Stopped(), the part file holding what was written and its
// record kept, so that the next call continues it.
// `serverBusy` (optional) is set when the failure is a server turning the request away
// rather than a fault of the file: the connection refused or closed before any answer, or a
// 503 or 429 status. A caller with other transfers to the same server under way may take that
// as a sign of too many at once.
Status DownloadToCache(const char* url, const char* cachePath, std::uint32_t size,
                       const std::uint8_t* md5, std::atomic<std::uint32_t>* counter,
                       HeapBuffer& block, const char* caFile = nullptr, bool* serverBusy = nullptr);

// The bytes of the part file of `cachePath` that DownloadToCache would continue from, as its
// record says (the part is not read): 0 when there is no usable part.
std::uint32_t ResumableBytes(const char* cachePath, std::uint32_t size, const std::uint8_t* md5);

}  // namespace repair
