// The recovery run: version, manifest, check, download into the cache, replace.
#pragma once

#include "engine/recovery_request.h"
#include "engine/recovery_state.h"

namespace repair {

// Runs one recovery on the calling (worker) thread, reporting only through the global
// recovery state. True when the run reached Finished. A second call while a run is active
// returns false and changes nothing. The request's `caFile` serves every request of the run
// (see FetchUrl).
bool RunRecovery(const RecoveryRequest& request);

// Moves the entries read from the manifest into `state`'s list, in their order, dropping every
// entry that names the tool's own executable (see OwnFileMatcher), and leaves `parsed` empty.
// Takes `state`'s list lock while the list changes shape, so the caller must not hold it.
void PublishEntries(RecoveryState& state, FileList& parsed, const char* baseFolder,
                    const char* ownFileName);

}  // namespace repair
