// The engine's operations on local files: whole-file reading and writing, existence, folder
// creation, and deletion and moving with retries. Paths are narrow strings in the system's own
// form (see platform/paths.h for the separator), at most 259 characters. Folder creation,
// deletion and moving are retried 100 ms apart, because another program (a virus scanner, the
// game's own launcher) may hold a file or folder for a moment.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/heap_buffer.h"
#include "engine/status.h"

namespace repair {

// Creates every missing folder of the path of a file, from the root down, with up to 10
// attempts per folder 100 ms apart. Ok when every folder exists; a path without a folder
// part needs none. A file, FIFO, socket or device below the write root (platform/file_system.h)
// where a folder has to be is removed and the folder made in its place; a folder where a link
// is fails. Unknown, naming the folder and the OS error, when one cannot be made; Unknown for a
// path whose folder part does not fit (drive over 2 or directory over 255 characters).
Status EnsureParentFolders(const char* path);

// True when a folder of `path` below `baseFolder` (which `path` starts with) is a link, a
// junction or a mount point. The folders are looked at down to the first one that is missing
// or not a folder. Sets no error.
bool LinkedFolderOnPath(const char* baseFolder, const char* path);

// The work buffer through which client files are read: large enough for the disk to stream,
// small enough for a 32-bit process. One is allocated per run and reused for every file.
constexpr std::size_t kFileBlockSize = std::size_t{1} << 20;

// Digests the file at `path` block by block through `block` (the run's work buffer; any
// non-zero size). An empty file has the digest of zero bytes. Fails with NotExistFile (cannot
// open), MemoryAllocation (4 GiB or more) or Unknown (a read failed, or the file changed length
// while read), each naming the path and the OS error. A stop request (StopRequested) ends it
// between blocks: Stopped().
Status DigestFile(const char* path, HeapBuffer& block, std::uint8_t* digest);

// Reads the whole file into `buffer` and its size into `size`. Fails with NotExistFile (cannot
// open), MemoryAllocation (no memory) or Unknown (read failed), leaving `buffer` empty and
// `size` 0.
Status ReadWholeFile(const char* path, HeapBuffer& buffer, std::uint32_t& size);

// Creates the file's folders, then creates or truncates the file and writes `length` bytes. A
// read-only file is replaced. Ok when the file holds exactly the data; otherwise Unknown.
Status WriteWholeFile(const char* path, const std::uint8_t* data, std::uint32_t length);

// True when the path names an existing file or folder. Sets no error.
bool FileExists(const char* path);

// Deletes the file (read-only or not) with up to 11 attempts 100 ms apart. False when there
// was nothing to delete or it could not be deleted; `osError` (optional) then receives the last
// attempt's OS error (0 when there was nothing to delete). The caller chooses the code.
bool DeleteFileRetry(const char* path, int* osError = nullptr);

// Moves source to target: creates the target's folders, removes an existing target, then moves
// with up to 11 attempts 100 ms apart. Ok when the target exists afterwards. NotExistFile, with
// the target untouched, when the source is missing; otherwise Unknown naming the step that
// failed ("make folder", "delete", "move"), its path and the OS error.
Status MoveFileRetry(const char* source, const char* target);

}  // namespace repair
