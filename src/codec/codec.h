// The payload codec: sealed data, MD5 digests and LZMA unpacking over caller-owned memory.
// Each function returns 0 on success, 1 on failure, 2 when a required argument is missing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace repair {

constexpr int kCodecOk = 0;
constexpr int kCodecFailed = 1;
constexpr int kCodecMissingArgument = 2;

// Bytes a SealedData blob adds to its plaintext: 0x04, R.x, R.y (41) and the HMAC-SHA1 tag (20).
constexpr std::uint32_t kSealedOverhead = 61;
constexpr std::uint32_t kMd5Size = 16;

// Opens a SealedData blob with the PKCS#8 DER private key `key`. `plaintext` must hold at least
// sealedLength - 61 bytes. On 0 it holds exactly that many bytes (no terminator, the rest of the
// area untouched) and *plaintextLength (optional) receives the count; on 1 or 2 neither is written.
// 2: key, sealed or plaintext null, or a length zero. 1: a blob under 61 bytes, a key that does
// not decode or is not on a 160-bit curve (LastCodecError() tells which), a bad ephemeral point
// or a tag mismatch (LastCodecError() unchanged).
int DecryptSealed(const std::uint8_t* key, std::uint32_t keyLength, const std::uint8_t* sealed,
                  std::uint32_t sealedLength, std::uint8_t* plaintext,
                  std::uint32_t* plaintextLength);

// MD5 of `length` bytes into the 16-byte `digest`; *digestLength (optional) receives 16.
// A zero length counts as a missing argument: 2, and nothing is written.
int DigestMd5(const std::uint8_t* data, std::uint32_t length, std::uint8_t* digest,
              std::uint32_t* digestLength);

// An MD5 digest over data that arrives piece by piece: a file read block by block, or a body
// as it comes off the network. No piece is too small or too large; no pieces at all give the
// digest of zero bytes.
class Md5Stream {
 public:
  Md5Stream();
  ~Md5Stream();
  Md5Stream(const Md5Stream&) = delete;
  Md5Stream& operator=(const Md5Stream&) = delete;

  void Update(const std::uint8_t* data, std::size_t length);
  // Writes the 16-byte digest of everything since construction or the last Final, and starts
  // over.
  void Final(std::uint8_t* digest);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Unpacks a raw LZMA stream. *destinationLength is the capacity on entry and the bytes produced
// on return (0 on failure). propertiesFlag 1: the first five source bytes are the properties;
// any other value: the fixed properties 5D 00 00 01 00 (lc 3, lp 0, pb 2, 64 KiB dictionary).
// Accepted: a stream that ends with its end marker within the capacity, or one that fills the
// capacity exactly. 2: source, destination or destinationLength null, or sourceLength zero, with
// nothing touched. 1: any decoder error, with LastCodecError() "LZMA_UncompressBuffer : error
// code = N" (6 when the input ends early, including a flag-1 source under five bytes).
int UnpackLzma(const std::uint8_t* source, std::uint32_t sourceLength, std::uint8_t* destination,
               std::uint32_t* destinationLength, std::uint8_t propertiesFlag);

// The message of the last codec failure that carried one; empty until then. Diagnostic only;
// safe to call from any thread.
std::string LastCodecError();

}  // namespace repair
