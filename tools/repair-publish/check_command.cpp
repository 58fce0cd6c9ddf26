#include "repair-publish/check_command.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "engine/recovery_state.h"
#include "publish/display.h"
#include "publish/host_files.h"
#include "publish/name_collisions.h"
#include "publish/progress.h"
#include "publish/release_check.h"
#include "strings/string_keys.h"
#include "strings/string_table.h"

namespace repair::publish {

const char kCheckUsage[] = "check [OPTIONS] SOURCE MAJOR MINOR";
const char kCheckHelp[] =
    "Fetches the manifest of build MAJOR.MINOR and every file it lists exactly as the tool\n"
    "does (its agent, its URL escaping, no redirects followed, status 200 and Content-Length\n"
    "required, an empty file restored without a request), several at a time, and reports\n"
    "each file a player's repair would fail on: the message the player would see and why (a\n"
    "redirect and where to, a 403 or 404, no Content-Length because the server compresses or\n"
    "chunks the file, another length or MD5 than the manifest's). For a file of 32 MiB and\n"
    "more it fetches the block index as the tool does and compares it with the file: one\n"
    "that is stale, garbage or differs makes a player's repair fetch the whole file. Exits\n"
    "with 0 only when every file checked would repair and every index found is right.\n"
    "\n"
    "SOURCE is the sealed string file that ships with the client (repair.dat: its\n"
    "SYS_REMOTEPATH, SYS_FILEHASHFNAME and error texts are used), or the remote folder\n"
    "template itself, an http:// or https:// address with $MAJORVER$ and $MINORVER$.\n"
    "\n"
    "  --jobs N             requests at a time (1-64, default 4)\n"
    "  --sample N           check N files chosen at random; the seed is printed\n"
    "  --seed S             the seed of --sample, to check the same files again\n"
    "  --manifest-name NAME with a template: the manifest's name (default filehash.tsf)\n"
    "  --ca-file FILE       also trust these CA certificates (PEM), as SYS_CAFILE does\n"
    "                       for the Linux tool; Windows uses the system's store\n"
    "  --code-page N        the players' ANSI code page (e.g. 1252, 932): warn about\n"
    "                       names Windows takes for one file beyond ASCII letters too\n"
    "                       (ASCII letters always; the Windows build uses its own code\n"
    "                       page unless told otherwise). Warnings go to stderr and do\n"
    "                       not change the exit status\n"
    "  --verbose            list the files that pass too";

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct Arguments {
  std::string source;
  std::string manifestName;
  CheckOptions options;
  bool seedGiven = false;
  bool verbose = false;
  platform::CodePage codePage = DefaultNameCodePage();
};

bool ParseUnsigned(const std::string& text, std::uint64_t max, std::uint64_t& value) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long parsed = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed > max) return false;
  value = parsed;
  return true;
}

bool ParseBuildNumber(const std::string& text, std::int32_t& value) {
  std::uint64_t parsed = 0;
  if (!ParseUnsigned(text, INT32_MAX, parsed)) return false;
  value = static_cast<std::int32_t>(parsed);
  return true;
}

// Options anywhere among the operands; false for an unknown option or a bad value.
bool ParseArguments(const std::vector<std::string>& args, Arguments& out) {
  std::vector<std::string> operands;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--verbose") {
      out.verbose = true;
      continue;
    }
    if (a.size() < 2 || a.compare(0, 2, "--") != 0) {
      operands.push_back(a);
      continue;
    }
    if (i + 1 >= args.size()) return false;
    const std::string& value = args[++i];
    std::uint64_t number = 0;
    if (a == "--jobs" && ParseUnsigned(value, 64, number) && number > 0) {
      out.options.jobs = static_cast<unsigned>(number);
    } else if (a == "--sample" && ParseUnsigned(value, SIZE_MAX, number) && number > 0) {
      out.options.sample = static_cast<std::size_t>(number);
    } else if (a == "--seed" && ParseUnsigned(value, UINT64_MAX, number)) {
      out.options.seed = number;
      out.seedGiven = true;
    } else if (a == "--ca-file" && !value.empty()) {
      out.options.caFile = value;
    } else if (a == "--manifest-name" && !value.empty()) {
      out.manifestName = value;
    } else if (a == "--code-page") {
      std::string error;
      if (!ParseCodePage(value, out.codePage, error)) {
        std::fprintf(stderr, "repair-publish: %s\n", error.c_str());
        return false;
      }
    } else {
      std::fprintf(stderr, "repair-publish: bad option %s %s\n", a.c_str(), value.c_str());
      return false;
    }
  }
  if (operands.size() != 3 || (out.seedGiven && out.options.sample == 0)) return false;
  out.source = operands[0];
  return ParseBuildNumber(operands[1], out.options.major) &&
         ParseBuildNumber(operands[2], out.options.minor);
}

bool IsRemoteAddress(const std::string& text) {
  auto startsWith = [&](const char* prefix) {
    std::string head = text.substr(0, std::char_traits<char>::length(prefix));
    for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return head == prefix;
  };
  return startsWith("http://") || startsWith("https://");
}

// Fills the template and manifest name from the source; the string table is loaded for the
// error texts. False (with a message) when the source cannot be used.
int ResolveSource(Arguments& args) {
  if (IsRemoteAddress(args.source)) {
    GlobalStringTable().Clear();
    args.options.remoteTemplate = args.source;
    args.options.manifestName =
        args.manifestName.empty() ? kSysFileHashFName.defaultText : args.manifestName;
    return kExitOk;
  }
  if (!args.manifestName.empty()) {
    std::fprintf(stderr,
                 "repair-publish: --manifest-name goes with a template; the string "
                 "file names the manifest\n");
    return kExitUsage;
  }
  if (!LoadStringTable(args.source.c_str())) {
    std::fprintf(stderr,
                 "repair-publish: %s: cannot be read, or does not open with the key this build "
                 "embeds\n",
                 args.source.c_str());
    return kExitFailed;
  }
  LookupText(kSysRemotePath.key, args.options.remoteTemplate, kSysRemotePath.defaultText);
  LookupText(kSysFileHashFName.key, args.options.manifestName, kSysFileHashFName.defaultText);
  if (args.options.remoteTemplate.empty()) {
    std::fprintf(stderr,
                 "repair-publish: %s sets no SYS_REMOTEPATH: the tool has nowhere to "
                 "fetch from\n",
                 args.source.c_str());
    return kExitFailed;
  }
  return kExitOk;
}

// The message box text a player gets for `error`: the string file's, or the built-in one.
std::string PlayerText(RecoveryError error) {
  const auto code = static_cast<std::int32_t>(error);
  std::string text;
  LookupText(ErrorMessageKey(code), text, ErrorDefaultText(code));
  std::string shown;
  for (char c : text) shown += c == '\n' ? std::string("\n               ") : std::string(1, c);
  return std::string("[") + ErrorMessageKey(code) + "] " + shown;
}

void PrintFailure(const std::string& what, const std::string& url, const Verdict& verdict) {
  std::printf("FAIL %s\n", what.c_str());
  if (!url.empty()) std::printf("  url:         %s\n", url.c_str());
  std::printf("  why:         %s\n", verdict.reason.c_str());
  std::printf("  player sees: %s\n", PlayerText(verdict.error).c_str());
  std::fflush(stdout);
}

bool IndexFails(const FileCheck& check) {
  return check.blockIndex == IndexCheck::kUnusable || check.blockIndex == IndexCheck::kDiffers;
}

void PrintFile(const FileCheck& check, bool verbose) {
  const std::string what =
      PrintableName(check.name) + " (" + std::to_string(check.size) + " bytes)";
  if (check.verdict.error != RecoveryError::None) {
    PrintFailure(what, check.url, check.verdict);
  } else if (verbose) {
    std::printf("ok   %s%s%s\n", what.c_str(), check.requested ? "" : ": empty, no request made",
                check.blockIndex == IndexCheck::kMatches ? ", its block index matches" : "");
    std::fflush(stdout);
  }
  if (IndexFails(check)) {
    // The file repairs, but the damaged copy of a player costs the whole file.
    std::printf("FAIL %s: block index\n  why:         %s\n", what.c_str(), check.indexNote.c_str());
    std::fflush(stdout);
  }
}

int Summarise(const CheckReport& report, double seconds) {
  std::map<std::int32_t, std::size_t> failures;
  std::size_t empty = 0;
  for (const FileCheck& f : report.files) {
    if (f.verdict.error != RecoveryError::None) {
      ++failures[static_cast<std::int32_t>(f.verdict.error)];
    }
    if (!f.requested && f.verdict.error == RecoveryError::None) ++empty;
  }
  std::size_t failed = 0;
  for (const auto& [code, count] : failures) failed += count;
  std::size_t indexesMatch = 0;
  std::size_t indexesFail = 0;
  for (const FileCheck& f : report.files) {
    if (f.blockIndex == IndexCheck::kMatches) ++indexesMatch;
    if (IndexFails(f)) ++indexesFail;
  }
  std::printf(
      "checked %zu of %zu files (%s received in %.1f s): %zu would repair, %zu would "
      "fail\n",
      report.files.size(), report.listed, FormatByteCount(report.bytes).c_str(), seconds,
      report.files.size() - failed, failed);
  if (empty > 0) std::printf("  %zu empty files: restored by the tool without a request\n", empty);
  for (const auto& [code, count] : failures) {
    std::printf("  %zu with %s\n", count, ErrorMessageKey(code));
  }
  if (indexesMatch + indexesFail > 0) {
    std::printf(
        "  block indexes: %zu match their files, %zu would make the tool fetch whole "
        "files\n",
        indexesMatch, indexesFail);
  }
  for (const FileCheck& f : report.files) {
    if (IndexFails(f)) std::printf("  block index: %s\n", PrintableName(f.name).c_str());
  }
  // The failures again, in manifest order: the lines above come as the files finish.
  for (const FileCheck& f : report.files) {
    if (f.verdict.error == RecoveryError::None) continue;
    std::printf("  %s: %s\n", ErrorMessageKey(static_cast<std::int32_t>(f.verdict.error)),
                PrintableName(f.name).c_str());
  }
  return failed == 0 && indexesFail == 0 ? kExitOk : kExitFailed;
}

void PrintHeading(const CheckReport& report, const CheckOptions& options) {
  std::printf("remote folder: %s\n", report.remote.c_str());
  std::printf("manifest %s: %zu files listed (its own entry among them)\n",
              report.manifestUrl.c_str(), report.listed);
  if (options.sample > 0) {
    std::printf("sample of %zu files, seed %llu (repeat with --seed %llu)\n", report.files.size(),
                static_cast<unsigned long long>(options.seed),
                static_cast<unsigned long long>(options.seed));
  }
  std::fflush(stdout);
}

std::uint64_t FreshSeed() {
  std::random_device device;
  std::uint64_t seed = (static_cast<std::uint64_t>(device()) << 32) ^ device();
  return seed ^
         static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

}  // namespace

int RunCheckCommand(const std::vector<std::string>& argv) {
  Arguments args;
  if (!ParseArguments(argv, args)) return kExitUsage;
  if (int resolved = ResolveSource(args); resolved != kExitOk) return resolved;
  if (args.options.sample > 0 && !args.seedGiven) args.options.seed = FreshSeed();

  std::unique_ptr<ProgressLine> line;
  CheckReport report;
  CheckProgress progress;
  progress.started = [&](std::size_t files, std::uint64_t bytes) {
    PrintHeading(report, args.options);
    line = std::make_unique<ProgressLine>("checking", files, bytes,
                                          StderrIsTerminal() ? stderr : nullptr);
  };
  progress.bytes = [&](std::uint64_t bytes) { line->AddBytes(bytes); };
  progress.fileDone = [&](const FileCheck& check) {
    if (check.verdict.error != RecoveryError::None || args.verbose) line->Clear();
    PrintFile(check, args.verbose);
    line->FileDone();
  };

  const bool manifestOk = CheckRelease(args.options, progress, report);
  const double seconds = line ? line->Seconds() : 0.0;
  if (line) line->Finish();
  for (const std::string& warning : WindowsNameCollisions(report.names, args.codePage)) {
    std::fprintf(stderr, "repair-publish: warning: %s\n", warning.c_str());
  }
  if (!manifestOk) {
    std::printf("remote folder: %s\n", report.remote.c_str());
    PrintFailure("manifest", report.manifestUrl, report.manifest);
    std::printf("no file checked: a player's repair ends here\n");
    return kExitFailed;
  }
  return Summarise(report, seconds);
}

}  // namespace repair::publish
