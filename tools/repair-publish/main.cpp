// repair-publish: the operator's side of the repair tool. It makes key pairs, seals files for
// the key this build embeds, writes the string and version files that ship with a client, and
// builds the manifest and the whole release that a static HTTP host serves.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "codec/builtin_key.h"
#include "engine/block_index.h"
#include "publish/display.h"
#include "publish/file_util.h"
#include "publish/host_files.h"
#include "publish/manifest_format.h"
#include "publish/name_collisions.h"
#include "publish/release.h"
#include "publish/sealer.h"
#include "publish/string_file.h"
#include "publish/version_file.h"
#include "repair-publish/check_command.h"
#include "strings/string_table.h"

namespace {

using repair::publish::Bytes;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct Command {
  const char* name;
  const char* usage;
  const char* help;
  int (*run)(const std::vector<std::string>& args);
};

int Fail(const std::string& message) {
  std::fprintf(stderr, "repair-publish: %s\n", message.c_str());
  return kExitFailed;
}

Bytes EmbeddedKey() {
  return Bytes(repair::BuiltinKey(), repair::BuiltinKey() + repair::BuiltinKeyLength());
}

bool Write(const std::string& path, const Bytes& bytes) {
  std::string error;
  if (repair::publish::WriteFile(path, bytes, error)) return true;
  Fail(error);
  return false;
}

bool Read(const std::string& path, Bytes& bytes) {
  std::string error;
  if (repair::publish::ReadFile(path, bytes, error)) return true;
  Fail(error);
  return false;
}

// Takes "--NAME VALUE" out of args; false when the option is given without a value.
bool TakeOption(std::vector<std::string>& args, const char* name, std::string& value) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] != name) continue;
    if (i + 1 >= args.size()) return false;
    value = args[i + 1];
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
               args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    return true;
  }
  return true;
}

// Takes every "--NAME VALUE" out of args; false when one is given without a value.
bool TakeRepeated(std::vector<std::string>& args, const char* name,
                  std::vector<std::string>& values) {
  for (std::string value;;) {
    std::size_t before = args.size();
    if (!TakeOption(args, name, value)) return false;
    if (args.size() == before) return true;
    values.push_back(value);
  }
}

// Takes "--NAME" out of args; true when it was there.
bool TakeFlag(std::vector<std::string>& args, const char* name) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] != name) continue;
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
    return true;
  }
  return false;
}

// An option this command does not know, left among the operands.
bool HasUnknownOption(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      std::fprintf(stderr, "repair-publish: unknown option %s\n", a.c_str());
      return true;
    }
  }
  return false;
}

// Takes "--code-page N" out of args into `codePage`, which keeps its default without it. False,
// with a message, for a value that is no code page this system can read.
bool TakeCodePage(std::vector<std::string>& args, repair::platform::CodePage& codePage) {
  std::string text;
  if (!TakeOption(args, "--code-page", text)) return false;
  if (text.empty()) return true;
  std::string error;
  if (repair::publish::ParseCodePage(text, codePage, error)) return true;
  std::fprintf(stderr, "repair-publish: %s\n", error.c_str());
  return false;
}

void Note(const std::string& text) {
  std::fprintf(stderr, "repair-publish: note: %s\n", text.c_str());
}

// A decimal signed 32-bit number, nothing else.
bool ParseInt32(const std::string& text, std::int32_t& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed < INT32_MIN || parsed > INT32_MAX) return false;
  if (!(text[0] == '-' || (text[0] >= '0' && text[0] <= '9'))) return false;
  value = static_cast<std::int32_t>(parsed);
  return true;
}

int RunKeygen(const std::vector<std::string>& args) {
  if (args.size() != 2) return kExitUsage;
  repair::publish::KeyPair pair = repair::publish::GenerateKeyPair();
  if (!Write(args[0], pair.privateKey) || !Write(args[1], pair.publicKey)) return kExitFailed;
  std::printf("private key (%zu bytes, keep it secret; build the tool with it): %s\n",
              pair.privateKey.size(), args[0].c_str());
  std::printf("public key (%zu bytes): %s\n", pair.publicKey.size(), args[1].c_str());
  return kExitOk;
}

int RunExportKey(const std::vector<std::string>& argsIn) {
  std::vector<std::string> args = argsIn;
  std::string privatePath, publicPath;
  if (!TakeOption(args, "--private", privatePath) || !TakeOption(args, "--public", publicPath) ||
      !args.empty() || (privatePath.empty() && publicPath.empty())) {
    return kExitUsage;
  }
  Bytes key = EmbeddedKey();
  if (!privatePath.empty() && !Write(privatePath, key)) return kExitFailed;
  if (!publicPath.empty()) {
    try {
      if (!Write(publicPath, repair::publish::PublicKeyFromPrivate(key))) return kExitFailed;
    } catch (const std::exception& e) {
      return Fail(e.what());
    }
  }
  return kExitOk;
}

// The public key named with --public, or the embedded key's.
bool PublicKeyFor(const std::string& publicPath, Bytes& publicKey) {
  if (!publicPath.empty()) return Read(publicPath, publicKey);
  try {
    publicKey = repair::publish::PublicKeyFromPrivate(EmbeddedKey());
  } catch (const std::exception& e) {
    Fail(e.what());
    return false;
  }
  return true;
}

// Seals `plaintext` for the public key named with --public, or the embedded key's.
int SealTo(const std::string& publicPath, const Bytes& plaintext, const std::string& out) {
  try {
    Bytes publicKey;
    if (!PublicKeyFor(publicPath, publicKey)) return kExitFailed;
    return Write(out, repair::publish::Seal(publicKey, plaintext)) ? kExitOk : kExitFailed;
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}

int RunSeal(const std::vector<std::string>& argsIn) {
  std::vector<std::string> args = argsIn;
  std::string publicPath;
  if (!TakeOption(args, "--public", publicPath) || args.size() != 2) return kExitUsage;
  Bytes plaintext;
  if (!Read(args[0], plaintext)) return kExitFailed;
  return SealTo(publicPath, plaintext, args[1]);
}

int RunOpen(const std::vector<std::string>& argsIn) {
  std::vector<std::string> args = argsIn;
  std::string privatePath;
  if (!TakeOption(args, "--private", privatePath) || args.size() != 2) return kExitUsage;
  Bytes key = EmbeddedKey();
  if (!privatePath.empty() && !Read(privatePath, key)) return kExitFailed;
  Bytes sealed, plaintext;
  if (!Read(args[0], sealed)) return kExitFailed;
  if (!repair::publish::Open(key, sealed, plaintext)) {
    return Fail(args[0] + ": does not open with this key (not sealed for it, or damaged)");
  }
  return Write(args[1], plaintext) ? kExitOk : kExitFailed;
}

// Writes the translation template: every key the tool reads, with its built-in text.
int WriteStringTemplate(const std::string& out) {
  std::vector<std::string> notes;
  const std::string text = repair::publish::StringTemplateText(notes);
  for (const std::string& n : notes) Note(n);
  return Write(out, Bytes(text.begin(), text.end())) ? kExitOk : kExitFailed;
}

int RunStrings(const std::vector<std::string>& argsIn) {
  std::vector<std::string> args = argsIn;
  std::string publicPath, templatePath;
  if (!TakeOption(args, "--public", publicPath) || !TakeOption(args, "--template", templatePath) ||
      HasUnknownOption(args)) {
    return kExitUsage;
  }
  if (!templatePath.empty()) {
    if (!args.empty() || !publicPath.empty()) return kExitUsage;
    return WriteStringTemplate(templatePath);
  }
  if (args.size() != 2) return kExitUsage;
  Bytes text;
  if (!Read(args[0], text)) return kExitFailed;
  for (const std::string& w : repair::publish::LintStringText(text, args[0])) {
    std::fprintf(stderr, "%s\n", w.c_str());
  }
  repair::StringTable table;
  repair::ParseStringText(reinterpret_cast<const char*>(text.data()), text.size(), table);
  int result = SealTo(publicPath, text, args[1]);
  if (result == kExitOk) std::printf("%s: %zu entries\n", args[1].c_str(), table.size());
  return result;
}

int RunShowStrings(const std::vector<std::string>& argsIn) {
  std::vector<std::string> args = argsIn;
  std::string privatePath;
  if (!TakeOption(args, "--private", privatePath) || args.size() != 1) return kExitUsage;
  Bytes key = EmbeddedKey();
  if (!privatePath.empty() && !Read(privatePath, key)) return kExitFailed;
  Bytes sealed, plaintext;
  if (!Read(args[0], sealed)) return kExitFailed;
  if (!repair::publish::Open(key, sealed, plaintext)) {
    return Fail(args[0] + ": does not open with this key (not sealed for it, or damaged)");
  }
  repair::StringTable table;
  repair::ParseStringText(reinterpret_cast<const char*>(plaintext.data()), plaintext.size(), table);
  const std::string listing = repair::publish::StringListing(table);
  std::fwrite(listing.data(), 1, listing.size(), stdout);
  return kExitOk;
}

int RunVersion(const std::vector<std::string>& argsIn) {
  std::vector<std::string> args = argsIn;
  std::string publicPath;
  if (!TakeOption(args, "--public", publicPath) || args.size() < 3 || args.size() > 5) {
    return kExitUsage;
  }
  repair::publish::VersionWords words;
  std::int32_t* fields[] = {&words.major, &words.minor, &words.third, &words.fourth};
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    if (!ParseInt32(args[i], *fields[i])) {
      return Fail("'" + args[i] + "' is not a whole number in the signed 32-bit range");
    }
  }
  if (words.major < 0 || words.minor < 0) {
    return Fail("major and minor must not be negative: the tool refuses such a version");
  }
  words.hasFourth = args.size() == 5;
  return SealTo(publicPath, repair::publish::EncodeVersionPlaintext(words), args.back());
}

int RunManifest(const std::vector<std::string>& argsIn) {
  std::vector<std::string> args = argsIn;
  std::string publicPath;
  repair::publish::ScanOptions scan;
  scan.codePage = repair::publish::DefaultNameCodePage();
  if (!TakeOption(args, "--public", publicPath) || !TakeRepeated(args, "--exclude", scan.exclude) ||
      !TakeCodePage(args, scan.codePage)) {
    return kExitUsage;
  }
  // Empty files are listed like any other; the switch that once asked for that is still taken.
  TakeFlag(args, "--keep-empty");
  if (HasUnknownOption(args) || args.size() != 2) return kExitUsage;
  Bytes publicKey;
  if (!PublicKeyFor(publicPath, publicKey)) return kExitFailed;
  std::size_t records = 0;
  std::string summary, error;
  if (!repair::publish::WriteClientManifest(args[0], scan, publicKey, args[1], Note, records,
                                            summary, error)) {
    return Fail(error);
  }
  std::printf("%s: %zu files listed (digested %s)\n", args[1].c_str(), records, summary.c_str());
  return kExitOk;
}

// What inspect says of the block index of `record`, looked for beside the manifest at `folder`
// as a release lays it out; empty for a file the tool looks for no index for.
std::string DescribeBlockIndex(const std::filesystem::path& folder,
                               const repair::publish::ManifestRecord& record) {
  if (record.size < repair::kBlockRepairMinSize) return {};
  std::string relative = record.name;
  for (char& c : relative) {
    if (c == '\\') c = '/';
  }
  const std::filesystem::path path = folder / (relative + repair::kBlockIndexSuffix);
  const std::string shown = repair::publish::PrintableName(record.name) + ": ";
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    return shown + "no block index beside the manifest: a damaged copy is fetched whole";
  }
  Bytes bytes;
  std::string error;
  if (std::filesystem::file_size(path, ec) > repair::MaxBlockIndexLength(record.size) || ec) {
    return shown + "block index longer than any of this file: the tool refuses it";
  }
  if (!repair::publish::ReadFile(path.string(), bytes, error)) return shown + error;
  repair::BlockIndex index;
  const repair::IndexVerdict verdict =
      repair::ParseBlockIndex(bytes.data(), bytes.size(), record.size, record.md5.data(), index);
  if (verdict != repair::IndexVerdict::kOk) {
    return shown + "block index " + repair::IndexVerdictText(verdict) + ": the tool refuses it";
  }
  return shown + "block index of " + std::to_string(index.BlockCount()) + " blocks of " +
         std::to_string(index.blockSize >> 10) + " KiB, bound to this entry";
}

int RunInspect(const std::vector<std::string>& argsIn) {
  std::vector<std::string> args = argsIn;
  std::string privatePath;
  if (!TakeOption(args, "--private", privatePath) || HasUnknownOption(args) || args.size() != 1) {
    return kExitUsage;
  }
  Bytes key = EmbeddedKey();
  if (!privatePath.empty() && !Read(privatePath, key)) return kExitFailed;
  Bytes manifest;
  if (!Read(args[0], manifest)) return kExitFailed;
  std::vector<repair::publish::ManifestRecord> records;
  std::vector<std::string> notes;
  std::string error;
  if (!repair::publish::ReadManifest(manifest, key, records, notes, error)) {
    return Fail(args[0] + ": " + error);
  }
  for (const std::string& n : notes) Note(n);
  unsigned long long total = 0;
  for (const auto& r : records) {
    std::printf("%s %lu %s\n", repair::publish::Md5Hex(r.md5).c_str(),
                static_cast<unsigned long>(r.size), repair::publish::PrintableName(r.name).c_str());
    total += r.size;
  }
  // On stderr: the listing itself stays "MD5 size name" lines.
  const std::filesystem::path folder = std::filesystem::path(args[0]).parent_path();
  for (const auto& r : records) {
    const std::string index = DescribeBlockIndex(folder, r);
    if (!index.empty()) std::fprintf(stderr, "%s\n", index.c_str());
  }
  std::fprintf(stderr, "%s: %zu files, %llu bytes in all\n", args[0].c_str(), records.size(),
               total);
  return kExitOk;
}

// Reads --block-index-min (whole MiB, or "off") and --block-size (KiB) into `options`; they
// keep their defaults when absent. The bounds are the release's to check.
bool TakeBlockIndexOptions(std::vector<std::string>& args,
                           repair::publish::ReleaseOptions& options) {
  std::string minimum, blockSize;
  if (!TakeOption(args, "--block-index-min", minimum) ||
      !TakeOption(args, "--block-size", blockSize)) {
    return false;
  }
  std::int32_t value = 0;
  if (minimum == "off") {
    options.blockIndexMin = 0;
  } else if (!minimum.empty()) {
    if (!ParseInt32(minimum, value) || value <= 0 || value > 4095) {
      std::fprintf(stderr, "repair-publish: --block-index-min takes MiB from 32 to 4095, or off\n");
      return false;
    }
    options.blockIndexMin = static_cast<std::uint32_t>(value) << 20;
  }
  if (!blockSize.empty()) {
    if (!ParseInt32(blockSize, value) || value <= 0 || value > 16384) {
      std::fprintf(stderr,
                   "repair-publish: --block-size takes KiB, a power of two from 64 to "
                   "16384\n");
      return false;
    }
    options.blockSize = static_cast<std::uint32_t>(value) << 10;
  }
  return true;
}

int RunPublish(const std::vector<std::string>& argsIn) {
  std::vector<std::string> args = argsIn;
  std::string publicPath;
  repair::publish::ReleaseOptions options;
  options.codePage = repair::publish::DefaultNameCodePage();
  if (!TakeOption(args, "--public", publicPath) || !TakeCodePage(args, options.codePage) ||
      !TakeRepeated(args, "--exclude", options.exclude) ||
      !TakeOption(args, "--manifest-name", options.manifestName) ||
      !TakeOption(args, "--version-file", options.versionFileName) ||
      !TakeOption(args, "--remote-layout", options.remoteLayout) ||
      !TakeOption(args, "--base-url", options.baseUrl) || !TakeBlockIndexOptions(args, options)) {
    return kExitUsage;
  }
  TakeFlag(args, "--keep-empty");  // as for 'manifest': empty files are always listed
  if (HasUnknownOption(args) || args.size() != 4) return kExitUsage;
  if (!ParseInt32(args[1], options.major) || !ParseInt32(args[2], options.minor)) {
    return Fail("MAJOR and MINOR must be whole numbers in the signed 32-bit range");
  }
  while (!options.baseUrl.empty() && options.baseUrl.back() == '/') options.baseUrl.pop_back();
  options.clientDir = args[0];
  options.outDir = args[3];
  if (!PublicKeyFor(publicPath, options.publicKey)) return kExitFailed;

  repair::publish::ReleaseResult result;
  std::string error;
  if (!repair::publish::PublishRelease(options, Note, result, error)) return Fail(error);

  const std::string base = options.baseUrl.empty() ? "<base URL>" : options.baseUrl;
  const std::string remotePath = base + "/" + options.remoteLayout;
  const std::string manifestPath =
      repair::publish::DisplayPath(result.remoteDir / options.manifestName);
  std::printf("build %d.%d: %zu files listed in %s (copied %s)\n", options.major, options.minor,
              result.records, manifestPath.c_str(), result.copySummary.c_str());
  if (result.blockIndexes > 0) {
    std::printf("block indexes: %zu (files of %u MiB and more, %u KiB blocks)\n",
                result.blockIndexes, options.blockIndexMin >> 20, options.blockSize >> 10);
  }
  std::printf("version file to ship in the client folder: %s\n",
              repair::publish::DisplayPath(result.versionFile).c_str());
  std::printf("serve %s at %s; the string file needs:\n",
              repair::publish::DisplayPath(options.outDir / "remote").c_str(), base.c_str());
  std::printf("SYS_REMOTEPATH=%s\n", remotePath.c_str());
  if (options.manifestName != repair::publish::kDefaultManifestName) {
    std::printf("SYS_FILEHASHFNAME=%s\n", options.manifestName.c_str());
  }
  if (options.versionFileName != repair::publish::kDefaultVersionFileName) {
    std::printf("SYS_LOCALVERFNAME=%s\n", options.versionFileName.c_str());
  }
  if (remotePath.size() > 255) {
    Note("the SYS_REMOTEPATH value is over 255 bytes, which the tool ignores");
  }
  return kExitOk;
}

const Command kCommands[] = {
    {"keygen", "keygen PRIVATE.der PUBLIC.der",
     "Makes a new brainpoolP160r1 key pair: the private key in the 202-byte PKCS#8 form that the\n"
     "tool embeds (configure with -DREPAIR_KEY_FILE=PRIVATE.der) and its X.509 public key.\n"
     "Every game operator must use their own key pair.",
     RunKeygen},
    {"export-key", "export-key [--private FILE] [--public FILE]",
     "Writes the private key this build embeds (DER) and/or its public key.", RunExportKey},
    {"seal", "seal [--public KEY.der] IN OUT",
     "Seals any file for the embedded key's public key, or for the public key given.", RunSeal},
    {"open", "open [--private KEY.der] IN OUT",
     "Opens a sealed file with the embedded key (or the private key given). OUT may be '-'.",
     RunOpen},
    {"strings", "strings [--public KEY.der] TEXT OUT | strings --template OUT",
     "Seals a key=value text as the tool's string file (repair.dat), warning about lines the\n"
     "tool would ignore and keys it never reads.\n"
     "--template OUT writes, unsealed, every key the tool reads with its built-in text and a\n"
     "comment line saying where it appears: the text a translation starts from.",
     RunStrings},
    {"show-strings", "show-strings [--private KEY.der] FILE",
     "Lists the entries of a string file as the tool reads them (a line feed shown as \\n),\n"
     "marks with a '; not read by the tool' line above it each key the tool never reads, and\n"
     "lists at the end, as '; KEY=text' lines, the keys it leaves to their built-in texts.",
     RunShowStrings},
    {"version", "version [--public KEY.der] MAJOR MINOR [THIRD [FOURTH]] OUT",
     "Writes a sealed version file: 12 bytes of plaintext (73-byte file), or 16 with FOURTH\n"
     "(77-byte file). THIRD defaults to 0.",
     RunVersion},
    {"manifest", "manifest [--public KEY.der] [--exclude NAME]... [--code-page N] DIR OUT",
     "Writes the manifest of the client folder DIR: every regular file below it with its size\n"
     "and MD5, in byte order of the backslash-separated names, sealed and LZMA-packed.\n"
     "--exclude leaves out a file, or a folder with all it holds (repeatable). Symbolic links\n"
     "are reported and not followed. Empty files are listed like any other: the tool puts a\n"
     "missing one back without a download. --keep-empty, which once asked for that, is\n"
     "still accepted and changes nothing.\n"
     "Names that Windows takes for one file (letter case aside) are warned about on stderr,\n"
     "and the manifest is written all the same. ASCII letters are always compared so;\n"
     "--code-page N (the players' ANSI code page, e.g. 1252 or 932) compares every letter of\n"
     "that code page, as the tool on Windows does. The Windows build uses its own code page\n"
     "unless told otherwise.",
     RunManifest},
    {"inspect", "inspect [--private KEY.der] MANIFEST",
     "Opens a manifest with the embedded key (or the private key given), checks every bound of\n"
     "its format and lists its files, one a line: MD5, size, name. For each file of 32 MiB\n"
     "and more it says on stderr whether a block index lies beside the manifest, as\n"
     "'publish' lays a release out, and whether the tool would take it.",
     RunInspect},
    {"publish", "publish [OPTIONS] CLIENT_DIR MAJOR MINOR OUT_DIR",
     "Writes the release of build MAJOR.MINOR of CLIENT_DIR:\n"
     "  OUT_DIR/remote/<folder>/   the manifest and a copy of every listed file\n"
     "  OUT_DIR/client-files/      the version file to ship with the client\n"
     "Serve OUT_DIR/remote at a base URL and put the SYS_REMOTEPATH line printed at the end in\n"
     "the string file. The version file is listed too; the client folder's own manifest and\n"
     "version file are not used.\n"
     "\n"
     "  --public KEY.der          seal for this public key instead of the embedded key's\n"
     "  --exclude NAME            leave out a file or folder (repeatable), as for 'manifest'\n"
     "  --keep-empty              accepted for old scripts; empty files are always listed\n"
     "  --manifest-name NAME      default filehash.tsf (SYS_FILEHASHFNAME)\n"
     "  --version-file NAME       default buildver.tvf (SYS_LOCALVERFNAME)\n"
     "  --remote-layout TEMPLATE  <folder>, with $MAJORVER$ and $MINORVER$ replaced; default\n"
     "                            $MAJORVER$.$MINORVER$ (3.7); '/' makes nested folders\n"
     "  --base-url URL            the address of OUT_DIR/remote, to fill in SYS_REMOTEPATH and\n"
     "                            check every file's URL against the tool's 259 characters\n"
     "  --code-page N             the players' ANSI code page (e.g. 1252, 932), to warn about\n"
     "                            names Windows takes for one file beyond ASCII, as for\n"
     "                            'manifest'; the warnings do not stop the release\n"
     "  --block-index-min MIB     give every file of at least MIB MiB (default 32, the least\n"
     "                            the tool looks for) a block index, <name>.blockidx beside\n"
     "                            it, with which the tool repairs a damaged copy by fetching\n"
     "                            only its damaged blocks; 'off' writes none\n"
     "  --block-size KIB          the indexes' block size, a power of two from 64 to 16384\n"
     "                            (default 1024)",
     RunPublish},
    {"check", repair::publish::kCheckUsage, repair::publish::kCheckHelp,
     repair::publish::RunCheckCommand},
};

void PrintOverview(std::FILE* out) {
  std::fprintf(out, "usage: repair-publish COMMAND [ARGS]\n\ncommands:\n");
  for (const Command& c : kCommands) std::fprintf(out, "  %s\n", c.usage);
  std::fprintf(out, "\n'repair-publish COMMAND --help' explains a command.\n");
}

}  // namespace

int main(int argc, char** argv) {
  // File names reach the manifest in the system's ANSI code page, as the tool reads them.
  repair::publish::UseHostNameEncoding();
  if (argc < 2) {
    PrintOverview(stderr);
    return kExitUsage;
  }
  std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintOverview(stdout);
    return kExitOk;
  }
  for (const Command& c : kCommands) {
    if (name != c.name) continue;
    std::vector<std::string> args(argv + 2, argv + argc);
    for (const std::string& a : args) {
      if (a == "--help" || a == "-h") {
        std::printf("usage: repair-publish %s\n\n%s\n", c.usage, c.help);
        return kExitOk;
      }
    }
    int result = kExitFailed;
    try {
      result = c.run(args);
    } catch (const std::exception& e) {
      Fail(e.what());
    }
    if (result == kExitUsage) std::fprintf(stderr, "usage: repair-publish %s\n", c.usage);
    return result;
  }
  std::fprintf(stderr, "repair-publish: unknown command '%s'\n", name.c_str());
  PrintOverview(stderr);
  return kExitUsage;
}
