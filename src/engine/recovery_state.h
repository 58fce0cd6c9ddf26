// The one record through which the worker thread that runs a recovery and the UI thread meet:
// the phase with its handshake flag, the run-active flag, the error code and the file list.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace repair {

enum class RecoveryPhase : std::int32_t {
  Ready = 0,
  CheckVersion = 1,
  DownloadManifest = 2,
  CheckFiles = 3,
  DownloadFiles = 4,
  RecoverFiles = 5,
  Finished = 6,
};

// Each state is one bit, so that several can be counted with one mask.
enum FileState : std::uint32_t {
  Listed = 1,
  Checking = 2,
  Invalid = 4,
  Downloading = 8,
  Downloaded = 16,
  Recovered = 32,
  Intact = 64,
};

// Codes are named by their message keys; the numbers are what the string file and the
// error boxes rely on.
enum class RecoveryError : std::int32_t {
  None = 0,
  Unknown = 1,                // "ERR_UNKNOWN"
  NetworkDisconnected = 2,    // "ERR_NETWORKDISCONNECTED"
  FailNetworkConnection = 3,  // "ERR_FAILNETWORKCONNECTION"
  MemoryAllocation = 4,       // "ERR_MEMORYALLOCATION"
  InvalidData = 5,            // "ERR_INVALIDDATA"
  NotExistFile = 6,           // "ERR_NOTEXISTFILE"
  NotExistVersionFile = 7,    // "ERR_NOTEXISTVERSIONFILE"
  NotExistHashFile = 8,       // "ERR_NOTEXISTHASHFILE"
  LinkedFolder = 9,           // "ERR_LINKEDFOLDER"
  DiskSpace = 10,             // "ERR_DISKSPACE"
};

// The message key and default text of an error code; any code outside 1..10 gets the
// "ERR_UNKNOWN" row.
const char* ErrorMessageKey(std::int32_t code);
const char* ErrorDefaultText(std::int32_t code);

constexpr std::size_t kMd5Length = 16;

// One client file. `done` and `state` are written by the worker and read by the UI thread
// while the run goes on: atomics, so that no read tears.
struct FileEntry {
  FileEntry(const char* entryName, std::uint32_t entrySize, const std::uint8_t* digest);

  std::string name;  // relative to the base folder, exactly as the manifest gives it
  std::uint8_t md5[kMd5Length];
  std::uint32_t size;
  std::atomic<std::uint32_t> done{0};
  // The bytes the download of this entry fetches: its size, unless a block repair found most of
  // them in the local file. What the row's percentage and the bar's share of bytes count.
  std::atomic<std::uint32_t> toFetch;
  std::atomic<std::uint32_t> state{Listed};
};

// The entries of a run in manifest order. Index access is constant-time: the refresh visits
// every row twice a second.
class FileList {
 public:
  using Storage = std::vector<std::unique_ptr<FileEntry>>;
  using iterator = Storage::iterator;

  void Append(std::unique_ptr<FileEntry> entry) { entries_.push_back(std::move(entry)); }
  iterator begin() { return entries_.begin(); }
  iterator end() { return entries_.end(); }
  std::size_t size() const { return entries_.size(); }
  FileEntry* At(std::size_t index) const {
    return index < entries_.size() ? entries_[index].get() : nullptr;
  }
  void Clear() { entries_.clear(); }

 private:
  Storage entries_;
};

struct RecoveryState {
  std::atomic<std::int32_t> phase{0};
  std::atomic<std::uint8_t> phaseChanged{0};
  std::atomic<std::uint8_t> running{0};
  std::atomic<std::int32_t> error{0};
  // Raised by the UI thread when the user ended the run (a declined question, a closed
  // window); the worker looks at it between files and between blocks of a file.
  std::atomic<std::uint8_t> stopRequested{0};
  FileList files;
  // What failed, for people: the detail of the error code (see engine/status.h), stored with
  // it where the run ends. Empty while the run goes on and after a run that did not fail.
  std::string errorDetail;
  mutable std::mutex detailMutex;
  // What the download phase fetches: files and bytes, once planned. Under filesMutex.
  bool planKnown = false;
  std::uint32_t planFiles = 0;
  std::uint64_t planBytes = 0;
  // Held by the worker while it changes the list's shape (append, removal, reset) and by
  // the UI while it reads entries, so that no read meets an entry being destroyed.
  mutable std::mutex filesMutex;
};

// The process-wide state: all zero and an empty list until the first run.
RecoveryState& GlobalRecoveryState();

// Store into the global state's error code; SetErrorDetail stores the failure's detail with it.
// The engine stores once, where a run ends; a run's steps return what failed (engine/status.h).
void SetError(RecoveryError code);
void SetErrorDetail(RecoveryError code, const std::string& detail);
// The detail of the last run's failure: "move /game/a.dat: Permission denied (OS error 13)";
// empty when there is none.
std::string GetErrorDetail();

RecoveryPhase GetPhase();
std::uint8_t IsPhaseChanged();
void AcknowledgePhase();
bool IsFinished();
std::int32_t GetError();
// Stores the phase, raises the flag, then sleeps 500 ms at a time until the UI has cleared it
// or a stop is requested (nobody acknowledges a phase once the UI has let the run go). False
// when it returned for a stop: the run then goes no further.
bool SetPhaseAndWait(RecoveryPhase phase);

// A stop of their own for the threads of one group of transfers (the downloads at once): raised
// when one of them fails, it ends the others as a stop request would (StopRequested is true on
// those threads), while the run ends with the failure's code, not as a stopped run. A thread
// honours `cancel` while a CancelScope for it lives on that thread; scopes do not nest.
class CancelScope {
 public:
  explicit CancelScope(const std::atomic<bool>& cancel);
  ~CancelScope();
  CancelScope(const CancelScope&) = delete;
  CancelScope& operator=(const CancelScope&) = delete;
};

// Asks the run to end at its next file or block boundary; any thread may ask, at any time,
// before the run has begun included. A run that stops leaves the error code None, its phase
// where it was and each entry's state as it stood, and clears `running`.
void RequestStop();
// True once a stop was requested, and on a thread whose CancelScope's flag is raised.
bool StopRequested();

// The run guard: false, changing nothing, while a run is active. Otherwise resets the state
// as ResetRecoveryState does, except that a stop requested already stays requested (it ends
// the run at its first check), and marks the run active.
bool BeginRun();
// Empties the list and zeroes phase, flag, error and the stop request; false (nothing
// changed) during a run.
bool ResetRecoveryState();
// Entries whose state shares a bit with mask; all entries for mask 0.
std::uint32_t CountFiles(std::uint32_t mask);
// The entry's name; empty past the end.
std::string FileNameAt(std::uint32_t index);
std::uint32_t FileStateAt(std::uint32_t index);
std::uint32_t FileSizeAt(std::uint32_t index);
std::uint32_t FileDoneAt(std::uint32_t index);
std::uint32_t FileToFetchAt(std::uint32_t index);
// The download plan's totals for the window: files to fetch and their bytes. False until the
// run has planned its downloads.
void PublishPlanTotals(std::uint32_t files, std::uint64_t bytes);
bool PlanTotals(std::uint32_t& files, std::uint64_t& bytes);
// Sums toFetch and done over entries exactly Invalid, Downloading, Downloaded or Recovered
// (wrapping modulo 2^32). Always true.
bool SumTransfer(std::uint32_t& total, std::uint32_t& done);

}  // namespace repair
