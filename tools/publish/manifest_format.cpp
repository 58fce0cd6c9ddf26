#include "publish/manifest_format.h"

#include <LzmaEnc.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include "codec/codec.h"
#include "common/little_endian.h"
#include "publish/display.h"

namespace repair::publish {
namespace {

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
    r.size = LoadLe32(p + n);
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
  const std::uint32_t sealedSize = LoadLe32(manifest.data());
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
