// The SealedData bytes, checked without Crypto++'s ECIES classes: blobs are opened and sealed
// here step by step from curve arithmetic, SHA-1 and HMAC-SHA1, and compared with DecryptSealed.
// Variants of the scheme (DHAES mode, a length block in the MAC, swapped keys, compressed
// points) are sealed the same way and must be refused.

#include <cryptopp/eccrypto.h>
#include <cryptopp/ecp.h>
#include <cryptopp/hmac.h>
#include <cryptopp/integer.h>
#include <cryptopp/osrng.h>
#include <cryptopp/sha.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "codec/builtin_key.h"
#include "codec/codec.h"
#include "support/test_support.h"

namespace repair {
namespace {

using Bytes = std::vector<std::uint8_t>;
using CryptoPP::ECP;
using CryptoPP::Integer;

constexpr std::size_t kFieldSize = 20;
constexpr std::size_t kTagSize = 20;
constexpr std::size_t kMacKeySize = 16;

// brainpoolP160r1 from its published parameters, not from any key file.
struct Curve {
  Integer p{"0xE95E4A5F737059DC60DFC7AD95B3D8139515620F"};
  Integer a{"0x340E7BE2A280EB74E2BE61BADA745D97E8F7C300"};
  Integer b{"0x1E589A8595423412134FAA2DBDEC95C8D8675E58"};
  ECP::Point g{Integer("0xBED5AF16EA3F6A4F62938C4631EB5AF7BDBCDBC3"),
               Integer("0x1667CB477A1A8EC338F94741669C976316DA6321")};
  Integer n{"0xE95E4A5F737059DC60DF5991D45029409E60FC09"};
  ECP ecp{p, a, b};
};

const Curve& Brainpool() {
  static const Curve curve;
  return curve;
}

// The private scalar closes the key's DER: the last 20 bytes (the BuiltinKey test checks the
// structure around them).
Integer ScalarOf(const Bytes& privateKeyDer) {
  return Integer(privateKeyDer.data() + privateKeyDer.size() - kFieldSize, kFieldSize);
}

Bytes BuiltinKeyBytes() { return Bytes(BuiltinKey(), BuiltinKey() + BuiltinKeyLength()); }

Bytes Encode(const Integer& value) {
  Bytes out(kFieldSize);
  value.Encode(out.data(), out.size());
  return out;
}

Bytes RandomBytes(std::size_t size) {
  CryptoPP::AutoSeededRandomPool random;
  Bytes bytes(size);
  if (size != 0) random.GenerateBlock(bytes.data(), bytes.size());
  return bytes;
}

Bytes Sha1(const Bytes& data) {
  Bytes digest(CryptoPP::SHA1::DIGESTSIZE);
  CryptoPP::SHA1().CalculateDigest(digest.data(), data.data(), data.size());
  return digest;
}

// KDF2 with SHA-1: SHA-1(secret || counter) for counter = 1, 2, ... as 32-bit big-endian,
// concatenated and cut to `length`.
Bytes Kdf2Sha1(const Bytes& secret, std::size_t length) {
  Bytes out;
  for (std::uint32_t counter = 1; out.size() < length; ++counter) {
    Bytes input = secret;
    input.push_back(static_cast<std::uint8_t>(counter >> 24));
    input.push_back(static_cast<std::uint8_t>(counter >> 16));
    input.push_back(static_cast<std::uint8_t>(counter >> 8));
    input.push_back(static_cast<std::uint8_t>(counter));
    const Bytes block = Sha1(input);
    out.insert(out.end(), block.begin(), block.end());
  }
  out.resize(length);
  return out;
}

Bytes HmacSha1(const std::uint8_t* key, std::size_t keyLength, const Bytes& message) {
  CryptoPP::HMAC<CryptoPP::SHA1> mac(key, keyLength);
  Bytes tag(kTagSize);
  mac.CalculateDigest(tag.data(), message.data(), message.size());
  return tag;
}

Bytes Xor(const Bytes& data, const Bytes& keyStream) {
  Bytes out(data.size());
  for (std::size_t i = 0; i < data.size(); ++i) out[i] = data[i] ^ keyStream[i];
  return out;
}

// Opens a blob by hand; false for anything the format does not accept.
bool OpenByHand(const Integer& d, const Bytes& sealed, Bytes& plaintext) {
  const Curve& c = Brainpool();
  if (sealed.size() < kSealedOverhead || sealed[0] != 0x04) return false;
  const ECP::Point r(Integer(&sealed[1], kFieldSize), Integer(&sealed[21], kFieldSize));
  if (!c.ecp.VerifyPoint(r) || r.identity || !c.ecp.ScalarMultiply(r, c.n).identity) {
    return false;
  }
  const Bytes z = Encode(c.ecp.ScalarMultiply(r, d).x);
  const std::size_t n = sealed.size() - kSealedOverhead;
  const Bytes k = Kdf2Sha1(z, n + kMacKeySize);
  const Bytes body(sealed.begin() + 41, sealed.begin() + 41 + n);
  const Bytes tag(sealed.end() - kTagSize, sealed.end());
  if (HmacSha1(k.data() + n, kMacKeySize, body) != tag) return false;
  plaintext = Xor(body, k);
  return true;
}

// What a hand sealer may do differently from the format, to show each detail is checked.
enum class Variant {
  kFormat,            // the format itself
  kPointInKdf,        // DHAES mode: KDF over R || Z
  kLengthBlockInMac,  // DHAES mode: the MAC also covers an 8-byte length block
  kMacKeyFirst,       // the MAC key taken from the front of K
  kTwentyByteMacKey,  // a 20-byte MAC key
  kCompressedPoint,   // R as 0x02/0x03 || x
  kPointOffCurve,     // R.y changed by one
  kTruncatedTag,      // a 10-byte tag, as some ECIES variants use
};

Bytes SealByHand(const ECP::Point& q, const Bytes& plaintext, Variant variant = Variant::kFormat) {
  const Curve& c = Brainpool();
  CryptoPP::AutoSeededRandomPool random;
  const Integer k(random, Integer::One(), c.n - 1);
  ECP::Point r = c.ecp.ScalarMultiply(c.g, k);
  const Bytes z = Encode(c.ecp.ScalarMultiply(q, k).x);
  const std::size_t n = plaintext.size();

  Bytes point;
  if (variant == Variant::kCompressedPoint) {
    point.push_back(r.y.IsOdd() ? 0x03 : 0x02);
    const Bytes x = Encode(r.x);
    point.insert(point.end(), x.begin(), x.end());
  } else {
    if (variant == Variant::kPointOffCurve) r.y += 1;
    point.push_back(0x04);
    const Bytes x = Encode(r.x);
    const Bytes y = Encode(r.y);
    point.insert(point.end(), x.begin(), x.end());
    point.insert(point.end(), y.begin(), y.end());
  }

  Bytes kdfInput = z;
  if (variant == Variant::kPointInKdf)
    kdfInput.insert(kdfInput.begin(), point.begin(), point.end());
  const std::size_t macKeySize = variant == Variant::kTwentyByteMacKey ? 20 : kMacKeySize;
  const Bytes key = Kdf2Sha1(kdfInput, n + macKeySize);
  const bool macKeyFirst = variant == Variant::kMacKeyFirst;
  const Bytes keyStream(key.begin() + (macKeyFirst ? macKeySize : 0), key.end());
  const std::uint8_t* macKey = key.data() + (macKeyFirst ? 0 : n);

  const Bytes body = Xor(plaintext, keyStream);
  Bytes macInput = body;
  if (variant == Variant::kLengthBlockInMac) macInput.resize(macInput.size() + 8, 0);
  Bytes tag = HmacSha1(macKey, macKeySize, macInput);
  if (variant == Variant::kTruncatedTag) tag.resize(10);

  Bytes sealed = point;
  sealed.insert(sealed.end(), body.begin(), body.end());
  sealed.insert(sealed.end(), tag.begin(), tag.end());
  return sealed;
}

ECP::Point PublicPointOf(const Integer& d) {
  return Brainpool().ecp.ScalarMultiply(Brainpool().g, d);
}

int Decrypt(const Bytes& key, const Bytes& sealed, Bytes& plaintext) {
  Bytes area(sealed.size() + 1);
  std::uint32_t length = 0;
  const int result =
      DecryptSealed(key.data(), static_cast<std::uint32_t>(key.size()), sealed.data(),
                    static_cast<std::uint32_t>(sealed.size()), area.data(), &length);
  if (result == kCodecOk) plaintext.assign(area.begin(), area.begin() + length);
  return result;
}

// Lengths around the KDF's 20-byte SHA-1 blocks, given the 16 MAC key bytes after the stream.
const std::size_t kLengths[] = {0, 1, 3, 4, 5, 23, 24, 25, 64, 1000};

TEST(SealedFormat, CryptoppSealedBlobsOpenByHandLikeDecryptSealed) {
  const Bytes key = BuiltinKeyBytes();
  using Scheme = CryptoPP::ECIES<CryptoPP::ECP, CryptoPP::SHA1, CryptoPP::NoCofactorMultiplication,
                                 false, false>;
  CryptoPP::ArraySource source(key.data(), key.size(), true);
  Scheme::Decryptor decryptor(source);
  Scheme::Encryptor encryptor(decryptor);
  CryptoPP::AutoSeededRandomPool random;

  for (std::size_t length : kLengths) {
    SCOPED_TRACE(length);
    const Bytes plaintext = RandomBytes(length);
    Bytes sealed(encryptor.CiphertextLength(length));
    encryptor.Encrypt(random, plaintext.data(), plaintext.size(), sealed.data());
    ASSERT_EQ(length + kSealedOverhead, sealed.size());

    Bytes byHand;
    ASSERT_TRUE(OpenByHand(ScalarOf(key), sealed, byHand));
    EXPECT_EQ(plaintext, byHand);
    Bytes byCodec;
    ASSERT_EQ(kCodecOk, Decrypt(key, sealed, byCodec));
    EXPECT_EQ(plaintext, byCodec);
  }
}

TEST(SealedFormat, HandSealedBlobsOpenWithDecryptSealed) {
  const Bytes key = BuiltinKeyBytes();
  const ECP::Point q = PublicPointOf(ScalarOf(key));
  for (std::size_t length : kLengths) {
    SCOPED_TRACE(length);
    const Bytes plaintext = RandomBytes(length);
    const Bytes sealed = SealByHand(q, plaintext);
    ASSERT_EQ(length + kSealedOverhead, sealed.size());
    Bytes opened;
    ASSERT_EQ(kCodecOk, Decrypt(key, sealed, opened));
    EXPECT_EQ(plaintext, opened);
  }
}

TEST(SealedFormat, VariantsOfTheSchemeAreRefused) {
  const Bytes key = BuiltinKeyBytes();
  const ECP::Point q = PublicPointOf(ScalarOf(key));
  const Bytes plaintext = RandomBytes(37);
  const struct {
    Variant variant;
    const char* name;
  } variants[] = {
      {Variant::kPointInKdf, "ephemeral point in the KDF input"},
      {Variant::kLengthBlockInMac, "length block in the MAC"},
      {Variant::kMacKeyFirst, "MAC key before the key stream"},
      {Variant::kTwentyByteMacKey, "20-byte MAC key"},
      {Variant::kCompressedPoint, "compressed ephemeral point"},
      {Variant::kPointOffCurve, "ephemeral point off the curve"},
      {Variant::kTruncatedTag, "10-byte tag"},
  };
  for (const auto& v : variants) {
    SCOPED_TRACE(v.name);
    const Bytes sealed = SealByHand(q, plaintext, v.variant);
    Bytes opened;
    EXPECT_EQ(kCodecFailed, Decrypt(key, sealed, opened));
    EXPECT_FALSE(OpenByHand(ScalarOf(key), sealed, opened));
  }
}

TEST(SealedFormat, LibraryDefaultEciesBlobsAreRefused) {
  // Crypto++'s ECIES<ECP> defaults to DHAES mode: the ephemeral point goes into the KDF and a
  // length block into the MAC. Same length, different bytes: the stored files cannot use it.
  const Bytes key = BuiltinKeyBytes();
  CryptoPP::ArraySource source(key.data(), key.size(), true);
  CryptoPP::ECIES<CryptoPP::ECP>::Decryptor defaultDecryptor(source);
  CryptoPP::ECIES<CryptoPP::ECP>::Encryptor defaultEncryptor(defaultDecryptor);
  CryptoPP::AutoSeededRandomPool random;

  for (std::size_t length : {0u, 12u, 300u}) {
    SCOPED_TRACE(length);
    const Bytes plaintext = RandomBytes(length);
    Bytes sealed(defaultEncryptor.CiphertextLength(length));
    defaultEncryptor.Encrypt(random, plaintext.data(), plaintext.size(), sealed.data());
    ASSERT_EQ(length + kSealedOverhead, sealed.size());

    // The default scheme opens its own blob, so the refusal below is about the format.
    Bytes roundTrip(length + 1);
    ASSERT_TRUE(defaultDecryptor.Decrypt(random, sealed.data(), sealed.size(), roundTrip.data())
                    .isValidCoding);

    Bytes opened;
    EXPECT_EQ(kCodecFailed, Decrypt(key, sealed, opened));
    EXPECT_FALSE(OpenByHand(ScalarOf(key), sealed, opened));
  }
}

// A blob made by the stand-alone Python implementation (tests/independent/ecies_ref.py) for a
// key of its own; see tests/data/README.md.
TEST(SealedFormat, OpensBlobSealedByTheIndependentImplementation) {
  const Bytes key = test::ReadAll(test::DataPath("sealed_reference_key.der"));
  const Bytes sealed = test::ReadAll(test::DataPath("sealed_reference.bin"));
  const Bytes expected = test::ReadAll(test::DataPath("sealed_reference.txt"));
  ASSERT_EQ(202u, key.size());
  ASSERT_EQ(expected.size() + kSealedOverhead, sealed.size());

  Bytes opened;
  ASSERT_EQ(kCodecOk, Decrypt(key, sealed, opened));
  EXPECT_EQ(expected, opened);
  Bytes byHand;
  ASSERT_TRUE(OpenByHand(ScalarOf(key), sealed, byHand));
  EXPECT_EQ(expected, byHand);

  // Not for the built-in key.
  EXPECT_EQ(kCodecFailed, Decrypt(BuiltinKeyBytes(), sealed, opened));
}

}  // namespace
}  // namespace repair
