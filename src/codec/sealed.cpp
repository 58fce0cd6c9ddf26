// Opening SealedData blobs: ECIES over a 160-bit prime curve with the built-in private key.
//
// Blob layout, for a plaintext of n bytes:
//   0x04 | R.x (20) | R.y (20) | body (n) | tag (20)
// Z is the x-coordinate of d·R (20 bytes), K = KDF2-SHA1(Z) of n + 16 bytes, the body is the
// plaintext XOR K[0, n), and the tag is HMAC-SHA1 keyed with K[n, n + 16) over the body alone.
// That is Crypto++'s ECIES with DHAES mode off; its default ECIES<ECP> has DHAES mode on (the
// ephemeral point goes into the KDF and a length block into the MAC), which the stored files
// do not use.

#include <cryptopp/cryptlib.h>
#include <cryptopp/eccrypto.h>
#include <cryptopp/filters.h>
#include <cryptopp/osrng.h>
#include <cryptopp/secblock.h>
#include <cryptopp/sha.h>

#include <cstring>
#include <exception>
#include <stdexcept>

#include "codec/codec.h"
#include "codec/codec_error.h"

namespace repair {
namespace {

using SealedScheme = CryptoPP::ECIES<CryptoPP::ECP, CryptoPP::SHA1,
                                     CryptoPP::NoCofactorMultiplication, false, false>;

// An uncompressed point on a curve over a 160-bit field: 0x04 and two 20-byte coordinates.
constexpr unsigned kEphemeralPointSize = 41;

int Open(const std::uint8_t* key, std::uint32_t keyLength, const std::uint8_t* sealed,
         std::uint32_t sealedLength, std::uint8_t* plaintext, std::uint32_t* plaintextLength) {
  const std::uint32_t bodyLength = sealedLength - kSealedOverhead;

  // The key is raw DER: no filter between the source and the key decoder.
  CryptoPP::StringSource keySource(key, keyLength, true);
  SealedScheme::Decryptor decryptor(keySource);

  // A well-formed EC key on a curve of another size would make the library read an ephemeral
  // point of another length, and write a plaintext of another length than the caller sized
  // the area for. Only keys that give exactly this layout are used.
  if (decryptor.GetKey().GetAbstractGroupParameters().GetEncodedElementSize(true) !=
          kEphemeralPointSize ||
      decryptor.MaxPlaintextLength(sealedLength) != bodyLength) {
    throw CryptoPP::InvalidArgument("SealedData: the key is not on a 160-bit prime curve");
  }

  // Opening draws nothing from it, but the interface requires a random source.
  CryptoPP::AutoSeededRandomPool random;

  // Whatever the library writes goes to scratch memory first: the caller's area is written
  // only once the tag has verified, whatever happens inside Decrypt.
  CryptoPP::SecByteBlock scratch(bodyLength);
  CryptoPP::byte emptyArea = 0;
  CryptoPP::byte* scratchArea = bodyLength != 0 ? scratch.data() : &emptyArea;
  const CryptoPP::DecodingResult result =
      decryptor.Decrypt(random, sealed, sealedLength, scratchArea, CryptoPP::g_nullNameValuePairs);
  if (!result.isValidCoding || result.messageLength != bodyLength) return kCodecFailed;

  if (bodyLength != 0) std::memcpy(plaintext, scratch.data(), bodyLength);
  if (plaintextLength != nullptr) *plaintextLength = bodyLength;
  return kCodecOk;
}

}  // namespace

int DecryptSealed(const std::uint8_t* key, std::uint32_t keyLength, const std::uint8_t* sealed,
                  std::uint32_t sealedLength, std::uint8_t* plaintext,
                  std::uint32_t* plaintextLength) {
  // Without an area there is nowhere to put a plaintext: treated like the other missing
  // arguments.
  if (key == nullptr || keyLength == 0 || sealed == nullptr || sealedLength == 0 ||
      plaintext == nullptr) {
    return kCodecMissingArgument;
  }
  if (sealedLength < kSealedOverhead) return kCodecFailed;

  try {
    return Open(key, keyLength, sealed, sealedLength, plaintext, plaintextLength);
  } catch (const CryptoPP::Exception& e) {
    codec_internal::SetLastCodecError(e.what());
  } catch (const std::runtime_error& e) {
    codec_internal::SetLastCodecError(e.what());
  } catch (const std::exception& e) {
    codec_internal::SetLastCodecError(e.what());
  } catch (...) {
    codec_internal::SetLastCodecError("DecryptSealed: unknown exception");
  }
  return kCodecFailed;
}

}  // namespace repair
