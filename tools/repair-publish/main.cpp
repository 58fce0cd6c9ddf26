// repair-publish: the operator's side of the repair tool. It makes key pairs, seals files for
// the key this build embeds, and writes the string and version files that ship with a client.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codec/builtin_key.h"
#include "publish/file_util.h"
#include "publish/sealer.h"
#include "publish/version_file.h"
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
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    return true;
  }
  return true;
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

// Seals `plaintext` for the public key named with --public, or the embedded key's.
int SealTo(const std::string& publicPath, const Bytes& plaintext, const std::string& out) {
  try {
    Bytes publicKey;
    if (publicPath.empty()) {
      publicKey = repair::publish::PublicKeyFromPrivate(EmbeddedKey());
    } else if (!Read(publicPath, publicKey)) {
      return kExitFailed;
    }
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

// Reports lines the tool would not load as the operator meant them.
void LintStringText(const Bytes& text, const std::string& name) {
  std::size_t line = 0, start = 0;
  while (start <= text.size()) {
    std::size_t end = start;
    while (end < text.size() && text[end] != '\n' && text[end] != '\r' && text[end] != 0) ++end;
    ++line;
    std::string row(text.begin() + static_cast<std::ptrdiff_t>(start), text.begin() + static_cast<std::ptrdiff_t>(end));
    std::size_t eq = row.find('=');
    if (!row.empty() && row[0] != ';' && eq != std::string::npos) {
      if (eq == 0) {
        std::fprintf(stderr, "%s:%zu: warning: empty key, line ignored\n", name.c_str(), line);
      } else if (eq > 255 || row.size() - eq - 1 > 255) {
        std::fprintf(stderr, "%s:%zu: warning: key or value over 255 bytes, line ignored\n",
                     name.c_str(), line);
      } else if (row[eq - 1] == ' ' || (eq + 1 < row.size() && row[eq + 1] == ' ')) {
        std::fprintf(stderr, "%s:%zu: note: spaces around '=' belong to the key or value\n",
                     name.c_str(), line);
      }
    }
    if (end < text.size() && text[end] == 0) {
      std::fprintf(stderr, "%s:%zu: warning: NUL byte ends the text here\n", name.c_str(), line);
      break;
    }
    if (end >= text.size()) break;
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
}

int RunStrings(const std::vector<std::string>& argsIn) {
  std::vector<std::string> args = argsIn;
  std::string publicPath;
  if (!TakeOption(args, "--public", publicPath) || args.size() != 2) return kExitUsage;
  Bytes text;
  if (!Read(args[0], text)) return kExitFailed;
  LintStringText(text, args[0]);
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
  for (const auto& [k, v] : table.entries()) {
    std::string shown;
    for (char c : v) shown += (c == '\n') ? std::string("\\n") : std::string(1, c);
    std::printf("%s=%s\n", k.c_str(), shown.c_str());
  }
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
    {"strings", "strings [--public KEY.der] TEXT OUT",
     "Seals a key=value text as the tool's string file (repair.dat), warning about lines the\n"
     "tool would ignore.",
     RunStrings},
    {"show-strings", "show-strings [--private KEY.der] FILE",
     "Lists the entries of a string file as the tool reads them.", RunShowStrings},
    {"version", "version [--public KEY.der] MAJOR MINOR [THIRD [FOURTH]] OUT",
     "Writes a sealed version file: 12 bytes of plaintext (73-byte file), or 16 with FOURTH\n"
     "(77-byte file). THIRD defaults to 0.",
     RunVersion},
};

void PrintOverview(std::FILE* out) {
  std::fprintf(out, "usage: repair-publish COMMAND [ARGS]\n\ncommands:\n");
  for (const Command& c : kCommands) std::fprintf(out, "  %s\n", c.usage);
  std::fprintf(out, "\n'repair-publish COMMAND --help' explains a command.\n");
}

}  // namespace

int main(int argc, char** argv) {
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
    int result = c.run(args);
    if (result == kExitUsage) std::fprintf(stderr, "usage: repair-publish %s\n", c.usage);
    return result;
  }
  std::fprintf(stderr, "repair-publish: unknown command '%s'\n", name.c_str());
  PrintOverview(stderr);
  return kExitUsage;
}
