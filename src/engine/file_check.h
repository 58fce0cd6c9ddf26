// The check phase: each listed file's local copy digested and compared with the manifest,
// several files at once where the disk allows it.
#pragma once

#include <string>
#include <vector>

#include "common/heap_buffer.h"
#include "engine/recovery_state.h"
#include "engine/status.h"
#include "platform/disk_info.h"

namespace repair {

// At most this many files are digested at once (never more than the cores): each reader
// holds a 1 MiB block, and more readers than cores gained nothing where it was measured.
constexpr unsigned kMostCheckThreads = 4;

// How many files to digest at once on a disk of `kind` with `cores` processor cores: one on a
// spinning disk, where two streams are slower than one; otherwise the cores, at most
// kMostCheckThreads. `cores` 0 (unknown) counts as 1.
unsigned CheckThreads(platform::DiskKind kind, unsigned cores);
// The same for the disk that holds `baseFolder`, on this machine.
unsigned CheckThreadsFor(const char* baseFolder);

// Checks one entry: Checking, then Intact (done := size) when the local file's digest is the
// manifest's, else Invalid. A file that cannot be read is Invalid (a file to repair), and so,
// without being read, is a file whose length is not the entry's size; `why` then says what
// was wrong with it (empty when its digest simply differed). Fails (Unknown) when the local
// path does not fit the tool's buffers; Stopped() leaves the entry Checking.
Status CheckEntry(FileEntry& entry, const char* baseFolder, HeapBuffer& block, std::string& why);

// Checks every entry of `files`, whose shape must not change meanwhile, `threads` at a time,
// taking them in list order; each thread reads through a block of its own. After a failure or
// a stop no further entry is started, and the ones started end first. Returns the first
// failure (MemoryAllocation when no thread had a block), Stopped() after a stop request.
// `why` (optional) receives CheckEntry's `why` of each entry, by list index, for the log.
Status CheckFiles(FileList& files, const char* baseFolder, unsigned threads,
                  std::vector<std::string>* why = nullptr);

}  // namespace repair
