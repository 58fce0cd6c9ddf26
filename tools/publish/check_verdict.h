// What a player meets when the tool fetches one file of a release: the error the tool would
// end with, and why, from what one GET of the file came to. Pure: the check of a release
// (release_check.h) feeds it what it saw.
#pragma once

#include <cstdint>
#include <string>

#include "engine/recovery_state.h"
#include "platform/http_client.h"

namespace repair::publish {

// What one GET of a listed file came to.
struct FetchOutcome {
  platform::HttpResult result = platform::HttpResult::kOk;
  platform::HttpHeadFacts facts;
  // The head was refused because it declared another length than the manifest's (the tool
  // refuses such a head before any body byte is kept).
  bool wrongLength = false;
  std::uint64_t received = 0;  // body bytes taken
  bool md5Matches = false;     // the whole body's MD5 is the manifest's
};

struct Verdict {
  RecoveryError error = RecoveryError::None;  // None: the tool would take the file
  std::string reason;                         // why, for the operator; empty when None
};

// The tool's verdict on a file the manifest lists with `expectedSize` bytes. The error codes
// are the ones a download into the cache ends with: those of the HTTP fetch for a transfer
// that failed, ERR_INVALIDDATA for a body whose length or MD5 is not the manifest's.
Verdict JudgeFileFetch(std::uint32_t expectedSize, const FetchOutcome& outcome);

// Why the manifest fetch failed, from a GET of it: its length and MD5 are not judged (the
// manifest lists no size for itself). None when that GET was fine.
Verdict JudgeManifestFetch(const FetchOutcome& outcome);

}  // namespace repair::publish
