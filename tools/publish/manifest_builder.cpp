#include "publish/manifest_builder.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <LzmaEnc.h>
#include <cryptopp/md5.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <new>
#include <stdexcept>
#include <system_error>

#include "codec/codec.h"

#ifdef _WIN32
#include <io.h>
#endif

namespace repair::publish {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kReadChunk = 1 << 20;
constexpr std::uint64_t kMaxFileSize = 0xFFFFFFFFull;
// Far beyond any real client's list (a million files of long names stay under 300 MB); a size
// field above it is damage, not a manifest.
constexpr std::uint32_t kMaxSealedSize = 1u << 30;
// lc 3, lp 0, pb 2 and a 64 KiB dictionary: what the tool's decoder assumes for a manifest.
constexpr std::uint8_t kFixedProperties[LZMA_PROPS_SIZE] = {0x5D, 0x00, 0x00, 0x01, 0x00};

void PutLe16(Bytes& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void PutLe32(Bytes& out, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

std::uint32_t GetLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// A file or folder name as the tool will see it: on Windows in the ANSI code page (main()
// selects the system's with setlocale), elsewhere the bytes the file system holds.
bool NarrowName(const fs::path& leaf, std::string& out) {
#ifdef _WIN32
  const std::wstring& wide = leaf.native();
  std::size_t length = std::wcstombs(nullptr, wide.c_str(), 0);
  if (length == static_cast<std::size_t>(-1)) return false;
  std::string narrow(length + 1, '\0');
  if (std::wcstombs(&narrow[0], wide.c_str(), narrow.size()) != length) return false;
  narrow.resize(length);
  out = std::move(narrow);
#else
  out = leaf.native();
#endif
  return true;
}

// A symbolic link or junction. std::filesystem tells links apart on POSIX systems, but
// libstdc++ on Windows reads link status with stat(), which follows them; the C library's file
// search passes the entry's attributes through, the reparse-point bit among them.
bool IsLink(const fs::path& path, const fs::file_status& status) {
  if (fs::is_symlink(status)) return true;
#ifdef _WIN32
  constexpr unsigned kReparsePoint = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT
  struct _wfinddata64_t found;
  const intptr_t search = _wfindfirst64(path.c_str(), &found);
  if (search == -1) return false;
  _findclose(search);
  return (found.attrib & kReparsePoint) != 0;
#else
  (void)path;
  return false;
#endif
}

std::string NormalizeName(std::string name) {
  std::replace(name.begin(), name.end(), '/', '\\');
  while (name.size() > 2 && name.compare(0, 2, ".\\") == 0) name.erase(0, 2);
  while (!name.empty() && name.back() == '\\') name.pop_back();
  return name;
}

bool NameMatches(const std::string& name, const std::string& pattern) {
  if (pattern.empty()) return false;
  if (name == pattern) return true;
  return name.size() > pattern.size() && name.compare(0, pattern.size(), pattern) == 0 &&
         name[pattern.size()] == '\\';
}

// Names a client for Windows must not use; reported, not refused, since the operator may know
// better (a file only the Linux client uses, say).
void NoteDoubtfulNames(const std::vector<ClientFile>& files, std::vector<std::string>& notes) {
  std::map<std::string, const std::string*> folded;
  bool nonAscii = false;
  for (const ClientFile& f : files) {
    const std::string& name = f.name;
    bool badChar = false;
    for (std::size_t i = 0; i < name.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(name[i]);
      if (c < 0x20 || std::strchr("<>:\"|?*", c) != nullptr) badChar = true;
      if (c >= 0x80) nonAscii = true;
    }
    if (badChar) {
      notes.push_back(PrintableName(name) +
                      ": Windows cannot create a file of this name (it holds one of "
                      "< > : \" | ? * or a control character)");
    }
    std::string key = name;
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    auto [it, fresh] = folded.emplace(key, &name);
    if (!fresh) {
      notes.push_back(PrintableName(*it->second) + " and " + PrintableName(name) +
                      " differ only in letter case: on Windows they are one file, and the "
                      "tool there refuses the manifest unless both hold the same bytes");
    }
  }
#ifndef _WIN32
  if (nonAscii) {
    notes.push_back(
        "some names are not plain ASCII; they are stored as the bytes this system uses (UTF-8 on "
        "most), while the tool on Windows reads names in the system's ANSI code page");
  }
#else
  (void)nonAscii;
#endif
}

void* LzmaAlloc(void*, size_t size) { return std::malloc(size); }
void LzmaFree(void*, void* address) { std::free(address); }

// The SDK passes the address of the interface member; it is the first member of each struct.
struct MemoryIn {
  ISeqInStream vt;
  const std::uint8_t* data;
  std::size_t left;
};

SRes ReadMemory(void* p, void* buffer, size_t* size) {
  auto* self = static_cast<MemoryIn*>(p);
  std::size_t n = std::min(*size, self->left);
  if (n > 0) std::memcpy(buffer, self->data, n);
  self->data += n;
  self->left -= n;
  *size = n;
  return SZ_OK;
}

struct VectorOut {
  ISeqOutStream vt;
  Bytes* out;
};

size_t WriteVector(void* p, const void* buffer, size_t size) {
  auto* self = static_cast<VectorOut*>(p);
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  try {
    self->out->insert(self->out->end(), bytes, bytes + size);
  } catch (const std::bad_alloc&) {
    return 0;  // the encoder turns a short write into SZ_ERROR_WRITE
  }
  return size;
}

}  // namespace

bool NameExcluded(const std::string& name, const std::vector<std::string>& patterns) {
  for (const std::string& p : patterns) {
    if (NameMatches(name, NormalizeName(p))) return true;
  }
  return false;
}

std::string Md5Hex(const Md5Digest& md5) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t b : md5) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}

std::string PrintableName(const std::string& name) {
  std::string shown;
  for (char ch : name) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      shown += escaped;
    } else {
      shown += ch;
    }
  }
  return shown;
}

std::string DisplayPath(const fs::path& path) {
  std::string narrow;
  if (NarrowName(path, narrow)) return narrow;
#ifdef _WIN32
  for (wchar_t c : path.native()) narrow += (c > 0 && c < 0x80) ? static_cast<char>(c) : '?';
#endif
  return narrow;
}

bool ScanClientFolder(const fs::path& root, const ScanOptions& options, ScanResult& result,
                      std::string& error) {
  result = ScanResult();
  std::error_code ec;
  if (!fs::is_directory(root, ec)) {
    error = DisplayPath(root) + ": " + (ec ? ec.message() : std::string("not a folder"));
    return false;
  }
  std::vector<std::string> exclude, ignore;
  for (const std::string& e : options.exclude) exclude.push_back(NormalizeName(e));
  for (const std::string& e : options.ignore) ignore.push_back(NormalizeName(e));
  std::vector<bool> excludeUsed(exclude.size(), false);

  struct Folder {
    fs::path relative;
    std::string name;
  };
  std::vector<Folder> pending{{fs::path(), std::string()}};
  while (!pending.empty()) {
    Folder folder = std::move(pending.back());
    pending.pop_back();
    const fs::path dir = folder.relative.empty() ? root : root / folder.relative;
    fs::directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
      const fs::path leaf = it->path().filename();
      std::string leafName;
      if (!NarrowName(leaf, leafName)) {
        error = DisplayPath(it->path()) +
                ": the name holds characters the system's code page cannot hold";
        return false;
      }
#ifndef _WIN32
      if (leafName.find('\\') != std::string::npos) {
        error = DisplayPath(it->path()) +
                ": a backslash in a name cannot be told apart from the folder separator";
        return false;
      }
#endif
      const std::string name = folder.name.empty() ? leafName : folder.name + "\\" + leafName;
      const fs::path relative = folder.relative / leaf;
      if (std::find(ignore.begin(), ignore.end(), name) != ignore.end()) continue;
      bool excluded = false;
      for (std::size_t i = 0; i < exclude.size(); ++i) {
        if (NameMatches(name, exclude[i])) excluded = excludeUsed[i] = true;
      }
      if (excluded) continue;

      const fs::file_status status = it->symlink_status(ec);
      if (ec) {
        error = DisplayPath(it->path()) + ": " + ec.message();
        return false;
      }
      if (IsLink(it->path(), status)) {
        result.notes.push_back("skipped " + PrintableName(name) +
                               ": a symbolic link (links are not followed)");
        continue;
      }
      if (!leafName.empty() && (leafName.back() == '.' || leafName.back() == ' ')) {
        error = PrintableName(name) +
                ": the name ends with a dot or a space, which Windows drops; the tool refuses "
                "a manifest that lists such a name";
        return false;
      }
      if (fs::is_directory(status)) {
        pending.push_back({relative, name});
        continue;
      }
      if (!fs::is_regular_file(status)) {
        result.notes.push_back("skipped " + PrintableName(name) + ": not a regular file");
        continue;
      }
      const std::uint64_t size = it->file_size(ec);
      if (ec) {
        error = DisplayPath(it->path()) + ": " + ec.message();
        return false;
      }
      if (name.size() > kMaxNameLength) {
        error = PrintableName(name) + ": the name is " + std::to_string(name.size()) +
                " bytes; the tool takes at most " + std::to_string(kMaxNameLength);
        return false;
      }
      if (size > kMaxFileSize) {
        error = PrintableName(name) + ": " + std::to_string(size) +
                " bytes; the tool's sizes are 32-bit, so a file must be under 4 GiB";
        return false;
      }
      result.files.push_back({it->path(), relative, name, size});
      result.totalBytes += size;
    }
    if (ec) {
      error = DisplayPath(dir) + ": cannot read the folder (" + ec.message() + ")";
      return false;
    }
  }

  // std::string compares as unsigned bytes, the stable order the manifest is written in.
  std::sort(result.files.begin(), result.files.end(),
            [](const ClientFile& a, const ClientFile& b) { return a.name < b.name; });
  for (std::size_t i = 0; i < exclude.size(); ++i) {
    if (!excludeUsed[i]) result.notes.push_back("--exclude " + exclude[i] + " matched nothing");
  }
  NoteDoubtfulNames(result.files, result.notes);
  return true;
}

bool DigestClientFile(const ClientFile& file, const fs::path* copyTo, ManifestRecord& record,
                      const std::function<void(std::uint64_t)>& onBytes, std::string& error) {
  std::ifstream in(file.source, std::ios::binary);
  if (!in) {
    error = DisplayPath(file.source) + ": cannot open (" + std::strerror(errno) + ")";
    return false;
  }
  std::ofstream out;
  if (copyTo != nullptr) {
    std::error_code ec;
    fs::create_directories(copyTo->parent_path(), ec);
    out.open(*copyTo, std::ios::binary | std::ios::trunc);
    if (ec || !out) {
      error = DisplayPath(*copyTo) + ": cannot create (" +
              (ec ? ec.message() : std::string(std::strerror(errno))) + ")";
      return false;
    }
  }
  CryptoPP::Weak1::MD5 md5;
  std::vector<char> buffer(kReadChunk);
  std::uint64_t total = 0;
  for (;;) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const std::streamsize got = in.gcount();
    if (got > 0) {
      total += static_cast<std::uint64_t>(got);
      if (total > kMaxFileSize) break;  // grew past the limit while being read
      md5.Update(reinterpret_cast<const CryptoPP::byte*>(buffer.data()),
                 static_cast<std::size_t>(got));
      if (copyTo != nullptr && !out.write(buffer.data(), got)) {
        error = DisplayPath(*copyTo) + ": write failed";
        return false;
      }
      if (onBytes) onBytes(static_cast<std::uint64_t>(got));
    }
    if (in.bad()) {
      error = DisplayPath(file.source) + ": read failed";
      return false;
    }
    if (in.eof()) break;
  }
  if (total != file.size) {
    error = DisplayPath(file.source) + ": changed while being read (" + std::to_string(file.size) +
            " bytes listed, " + (total > kMaxFileSize ? "over 4 GiB" : std::to_string(total)) +
            " read)";
    return false;
  }
  if (copyTo != nullptr) {
    out.close();
    if (!out) {
      error = DisplayPath(*copyTo) + ": write failed";
      return false;
    }
  }
  record.name = file.name;
  record.size = static_cast<std::uint32_t>(total);
  md5.Final(record.md5.data());
  return true;
}

bool EncodeManifestPlaintext(const std::vector<ManifestRecord>& records, Bytes& plaintext,
                             std::string& error) {
  std::uint64_t length = 0;
  for (const ManifestRecord& r : records) {
    if (r.name.size() > kMaxNameLength) {
      error =
          PrintableName(r.name) + ": the name is over " + std::to_string(kMaxNameLength) + " bytes";
      return false;
    }
    length += r.name.size() + kRecordOverhead;
  }
  if (length > kMaxSealedSize) {
    error = "the file list is " + std::to_string(length) + " bytes, more than a manifest can hold";
    return false;
  }
  Bytes out;
  out.reserve(static_cast<std::size_t>(length));
  for (const ManifestRecord& r : records) {
    PutLe16(out, static_cast<std::uint16_t>(r.name.size()));
    out.insert(out.end(), r.name.begin(), r.name.end());
    PutLe32(out, r.size);
    out.insert(out.end(), r.md5.begin(), r.md5.end());
  }
  plaintext = std::move(out);
  return true;
}

bool PackManifest(const Bytes& sealed, Bytes& manifest, std::string& error) {
  if (sealed.size() > kMaxSealedSize) {
    error = "the sealed list is too large for a manifest";
    return false;
  }
  ISzAlloc alloc = {LzmaAlloc, LzmaFree};
  std::unique_ptr<void, void (*)(void*)> encoder(LzmaEnc_Create(&alloc), [](void* p) {
    ISzAlloc a = {LzmaAlloc, LzmaFree};
    LzmaEnc_Destroy(p, &a, &a);
  });
  if (!encoder) {
    error = "LZMA encoder: out of memory";
    return false;
  }
  CLzmaEncProps props;
  LzmaEncProps_Init(&props);
  props.level = 5;
  props.dictSize = 1 << 16;
  props.lc = 3;
  props.lp = 0;
  props.pb = 2;
  props.writeEndMark = 1;  // the decoder may then be given a larger capacity than needed
  props.numThreads = 1;
  Byte written[LZMA_PROPS_SIZE];
  SizeT writtenSize = sizeof written;
  if (LzmaEnc_SetProps(encoder.get(), &props) != SZ_OK ||
      LzmaEnc_WriteProperties(encoder.get(), written, &writtenSize) != SZ_OK ||
      writtenSize != LZMA_PROPS_SIZE ||
      std::memcmp(written, kFixedProperties, LZMA_PROPS_SIZE) != 0) {
    error = "LZMA encoder: its properties are not the fixed 5D 00 00 01 00 the tool decodes with";
    return false;
  }
  Bytes out;
  PutLe32(out, static_cast<std::uint32_t>(sealed.size()));
  MemoryIn in{{ReadMemory}, sealed.data(), sealed.size()};
  VectorOut sink{{WriteVector}, &out};
  SRes result = LzmaEnc_Encode(encoder.get(), &sink.vt, &in.vt, nullptr, &alloc, &alloc);
  if (result != SZ_OK) {
    error = "LZMA encoder failed with code " + std::to_string(result);
    return false;
  }
  manifest = std::move(out);
  return true;
}

bool BuildManifest(std::vector<ManifestRecord> records, const Bytes& publicKey, Bytes& manifest,
                   std::string& error) {
  std::sort(records.begin(), records.end(),
            [](const ManifestRecord& a, const ManifestRecord& b) { return a.name < b.name; });
  Bytes plaintext;
  if (!EncodeManifestPlaintext(records, plaintext, error)) return false;
  Bytes sealed;
  try {
    sealed = Seal(publicKey, plaintext);
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
  return PackManifest(sealed, manifest, error);
}

bool ParseManifestPlaintext(const Bytes& plaintext, std::vector<ManifestRecord>& records,
                            std::string& error) {
  std::vector<ManifestRecord> parsed;
  std::size_t pos = 0;
  while (pos < plaintext.size()) {
    const std::size_t left = plaintext.size() - pos;
    const std::string where =
        "record " + std::to_string(parsed.size() + 1) + " at offset " + std::to_string(pos);
    if (left < 2) {
      error = where + ": its length field runs past the end of the list";
      return false;
    }
    const auto n = static_cast<std::int16_t>(plaintext[pos] | plaintext[pos + 1] << 8);
    if (n < 0 || static_cast<std::size_t>(n) > kMaxNameLength) {
      error = where + ": name length " + std::to_string(n) + " is outside 0 to " +
              std::to_string(kMaxNameLength);
      return false;
    }
    const std::size_t length = static_cast<std::size_t>(n) + kRecordOverhead;
    if (left < length) {
      error = where + ": needs " + std::to_string(length) + " bytes, the list has " +
              std::to_string(left) + " left";
      return false;
    }
    ManifestRecord r;
    const std::uint8_t* p = plaintext.data() + pos + 2;
    r.name.assign(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n));
    r.size = GetLe32(p + n);
    std::memcpy(r.md5.data(), p + n + 4, r.md5.size());
    parsed.push_back(std::move(r));
    pos += length;
  }
  records = std::move(parsed);
  return true;
}

bool ReadManifest(const Bytes& manifest, const Bytes& privateKey,
                  std::vector<ManifestRecord>& records, std::vector<std::string>& notes,
                  std::string& error) {
  if (manifest.size() < 4) {
    error = "the manifest is " + std::to_string(manifest.size()) +
            " bytes, shorter than its 4-byte size field";
    return false;
  }
  if (manifest.size() == 4) {
    error = "the manifest holds a size field and no LZMA data";
    return false;
  }
  if (manifest.size() - 4 > 0xFFFFFFFFu) {
    error = "the manifest is over 4 GiB";
    return false;
  }
  const std::uint32_t sealedSize = GetLe32(manifest.data());
  if (sealedSize < kSealedOverhead || sealedSize > kMaxSealedSize) {
    error = "the size field says " + std::to_string(sealedSize) +
            " bytes, which no sealed file list can be";
    return false;
  }
  Bytes unpacked(sealedSize);
  std::uint32_t length = sealedSize;
  if (UnpackLzma(manifest.data() + 4, static_cast<std::uint32_t>(manifest.size() - 4),
                 unpacked.data(), &length, 0) != kCodecOk) {
    error = "the LZMA data does not unpack within the size field's " + std::to_string(sealedSize) +
            " bytes (" + LastCodecError() + ")";
    return false;
  }
  if (length != sealedSize) {
    notes.push_back("the size field says " + std::to_string(sealedSize) +
                    " bytes, the stream holds " + std::to_string(length) +
                    " and ends with its end marker");
  }
  unpacked.resize(length);
  if (length < kSealedOverhead) {
    error = "the unpacked data is " + std::to_string(length) + " bytes, shorter than a sealed blob";
    return false;
  }
  Bytes plaintext;
  if (!Open(privateKey, unpacked, plaintext)) {
    error = "the file list does not open with this key (sealed for another key, or damaged)";
    return false;
  }
  if (!ParseManifestPlaintext(plaintext, records, error)) return false;
  for (const ManifestRecord& r : records) {
    if (r.name.find('\0') != std::string::npos) {
      notes.push_back(PrintableName(r.name) +
                      ": the name holds a zero byte; the tool reads it as " +
                      PrintableName(r.name.substr(0, r.name.find('\0'))));
    }
  }
  return true;
}

}  // namespace repair::publish
