// DecryptSealed, DigestMd5, the built-in key and the last error text. Blobs are sealed here
// with Crypto++'s encryptor for the same scheme; ecies_reference_test.cpp checks the bytes
// themselves without it.

#include <cryptopp/eccrypto.h>
#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/oids.h>
#include <cryptopp/osrng.h>
#include <cryptopp/queue.h>
#include <cryptopp/sha.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "codec/builtin_key.h"
#include "codec/codec.h"

namespace repair {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Scheme = CryptoPP::ECIES<CryptoPP::ECP, CryptoPP::SHA1, CryptoPP::NoCofactorMultiplication,
                               false, false>;

constexpr std::uint8_t kUntouched = 0xA5;
constexpr std::uint32_t kUntouchedLength = 0xDEADBEEF;

Bytes BuiltinKeyBytes() { return Bytes(BuiltinKey(), BuiltinKey() + BuiltinKeyLength()); }

Bytes RandomBytes(std::size_t size) {
  CryptoPP::AutoSeededRandomPool random;
  Bytes bytes(size);
  if (size != 0) random.GenerateBlock(bytes.data(), bytes.size());
  return bytes;
}

Bytes Save(const CryptoPP::CryptoMaterial& material) {
  CryptoPP::ByteQueue queue;
  material.Save(queue);
  Bytes out(static_cast<std::size_t>(queue.MaxRetrievable()));
  queue.Get(out.data(), out.size());
  return out;
}

// A fresh PKCS#8 key on `curve`, with explicit parameters like the built-in one.
Bytes NewPrivateKey(const CryptoPP::OID& curve) {
  CryptoPP::AutoSeededRandomPool random;
  Scheme::PrivateKey key;
  key.Initialize(random, curve);
  key.AccessGroupParameters().SetEncodeAsOID(false);
  return Save(key);
}

Bytes Seal(const Bytes& privateKeyDer, const Bytes& plaintext) {
  CryptoPP::ArraySource source(privateKeyDer.data(), privateKeyDer.size(), true);
  Scheme::Decryptor decryptor(source);
  Scheme::Encryptor encryptor(decryptor);
  CryptoPP::AutoSeededRandomPool random;
  Bytes sealed(encryptor.CiphertextLength(plaintext.size()));
  encryptor.Encrypt(random, plaintext.data(), plaintext.size(), sealed.data());
  return sealed;
}

// One DecryptSealed call into an area prefilled with kUntouched that is `spare` bytes larger
// than the plaintext needs.
struct Opened {
  int result = -1;
  Bytes area;
  std::uint32_t length = kUntouchedLength;

  bool AreaUntouched() const {
    return std::all_of(area.begin(), area.end(), [](std::uint8_t b) { return b == kUntouched; });
  }
  Bytes Plaintext() const { return Bytes(area.begin(), area.begin() + length); }
};

Opened Open(const Bytes& key, const Bytes& sealed, std::size_t spare = 16) {
  Opened opened;
  const std::size_t needed = sealed.size() >= kSealedOverhead ? sealed.size() - kSealedOverhead : 0;
  opened.area.assign(needed + spare, kUntouched);
  opened.result =
      DecryptSealed(key.data(), static_cast<std::uint32_t>(key.size()), sealed.data(),
                    static_cast<std::uint32_t>(sealed.size()), opened.area.data(), &opened.length);
  return opened;
}

// Puts a recognisable text into the last error slot, to show a later call left it alone.
void MarkLastError() {
  const std::uint8_t tooShort[2] = {0x00, 0x01};
  std::uint8_t out[4];
  std::uint32_t outLength = sizeof out;
  ASSERT_EQ(kCodecFailed, UnpackLzma(tooShort, sizeof tooShort, out, &outLength, 0));
  ASSERT_EQ("LZMA_UncompressBuffer : error code = 6", LastCodecError());
}

std::string Hex(const std::uint8_t* data, std::size_t size) {
  std::string out;
  CryptoPP::ArraySource(data, size, true,
                        new CryptoPP::HexEncoder(new CryptoPP::StringSink(out), false));
  return out;
}

// ---------------------------------------------------------------------------------------------
// The built-in key

TEST(BuiltinKey, IsPkcs8OnBrainpoolP160r1WithExplicitParameters) {
  const Bytes der = BuiltinKeyBytes();
  ASSERT_EQ(202u, der.size());

  Scheme::PrivateKey key;
  CryptoPP::ArraySource source(der.data(), der.size(), true);
  ASSERT_NO_THROW(key.Load(source));

  const CryptoPP::DL_GroupParameters_EC<CryptoPP::ECP> reference(CryptoPP::ASN1::brainpoolP160r1());
  const auto& group = key.GetGroupParameters();
  EXPECT_EQ(reference.GetCurve().GetField().GetModulus(), group.GetCurve().GetField().GetModulus());
  EXPECT_EQ(reference.GetCurve().GetA(), group.GetCurve().GetA());
  EXPECT_EQ(reference.GetCurve().GetB(), group.GetCurve().GetB());
  EXPECT_EQ(reference.GetSubgroupGenerator().x, group.GetSubgroupGenerator().x);
  EXPECT_EQ(reference.GetSubgroupGenerator().y, group.GetSubgroupGenerator().y);
  EXPECT_EQ(reference.GetSubgroupOrder(), group.GetSubgroupOrder());
  EXPECT_EQ(CryptoPP::Integer::One(), group.GetCofactor());

  CryptoPP::AutoSeededRandomPool random;
  EXPECT_TRUE(key.Validate(random, 3));

  // Explicit parameters: the prime-field OID is present, the curve's own OID is not.
  const Bytes primeField = {0x06, 0x07, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x01, 0x01};
  const Bytes curveOid = {0x06, 0x09, 0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x01};
  EXPECT_NE(der.end(), std::search(der.begin(), der.end(), primeField.begin(), primeField.end()));
  EXPECT_EQ(der.end(), std::search(der.begin(), der.end(), curveOid.begin(), curveOid.end()));

  // The ECPrivateKey closes the structure: version 1 and the 20-byte scalar, with neither
  // parameters nor public key after it.
  const Bytes ecPrivateKeyHead = {0x04, 0x1B, 0x30, 0x19, 0x02, 0x01, 0x01, 0x04, 0x14};
  EXPECT_TRUE(std::equal(ecPrivateKeyHead.begin(), ecPrivateKeyHead.end(), der.end() - 29));
  CryptoPP::Integer scalar;
  scalar.Decode(der.data() + der.size() - 20, 20);
  EXPECT_EQ(key.GetPrivateExponent(), scalar);
}

// ---------------------------------------------------------------------------------------------
// DecryptSealed: blobs that open

TEST(DecryptSealed, OpensPlaintextsOfManyLengthsAndWritesNothingPastThem) {
  const Bytes key = BuiltinKeyBytes();
  // Lengths around the KDF's 20-byte blocks (n + 16 key bytes) and a few larger ones.
  for (std::size_t length : {1u, 3u, 4u, 5u, 20u, 24u, 25u, 44u, 45u, 255u, 4097u}) {
    SCOPED_TRACE(length);
    const Bytes plaintext = RandomBytes(length);
    const Bytes sealed = Seal(key, plaintext);
    ASSERT_EQ(length + kSealedOverhead, sealed.size());

    const Opened opened = Open(key, sealed);
    ASSERT_EQ(kCodecOk, opened.result);
    ASSERT_EQ(length, opened.length);
    EXPECT_EQ(plaintext, opened.Plaintext());
    // No terminator, no scratch use of the spare bytes.
    EXPECT_TRUE(std::all_of(opened.area.begin() + length, opened.area.end(),
                            [](std::uint8_t b) { return b == kUntouched; }));
  }
}

TEST(DecryptSealed, SixtyOneByteBlobOpensToEmptyPlaintext) {
  const Bytes key = BuiltinKeyBytes();
  const Bytes sealed = Seal(key, Bytes());
  ASSERT_EQ(61u, sealed.size());
  const Opened opened = Open(key, sealed);
  EXPECT_EQ(kCodecOk, opened.result);
  EXPECT_EQ(0u, opened.length);
  EXPECT_TRUE(opened.AreaUntouched());
}

TEST(DecryptSealed, LengthOutputIsOptional) {
  const Bytes key = BuiltinKeyBytes();
  const Bytes plaintext = {'b', 'u', 'i', 'l', 'd'};
  const Bytes sealed = Seal(key, plaintext);
  Bytes area(plaintext.size(), kUntouched);
  ASSERT_EQ(kCodecOk,
            DecryptSealed(key.data(), static_cast<std::uint32_t>(key.size()), sealed.data(),
                          static_cast<std::uint32_t>(sealed.size()), area.data(), nullptr));
  EXPECT_EQ(plaintext, area);
}

TEST(DecryptSealed, OpensFiveMegabyteBlob) {
  const Bytes key = BuiltinKeyBytes();
  const Bytes plaintext = RandomBytes(5 * 1024 * 1024 + 7);
  const Opened opened = Open(key, Seal(key, plaintext), 1);
  ASSERT_EQ(kCodecOk, opened.result);
  EXPECT_EQ(plaintext.size(), opened.length);
  EXPECT_TRUE(opened.Plaintext() == plaintext);
  EXPECT_EQ(kUntouched, opened.area.back());
}

// ---------------------------------------------------------------------------------------------
// DecryptSealed: blobs that do not open

TEST(DecryptSealed, AnyChangedByteIsRefusedAndLeavesOutputsAlone) {
  const Bytes key = BuiltinKeyBytes();
  const Bytes sealed = Seal(key, RandomBytes(33));
  MarkLastError();
  // Every byte of R, the body and the tag, each with a low and a high bit flipped.
  for (std::size_t i = 0; i < sealed.size(); ++i) {
    for (std::uint8_t flip : {0x01, 0x80}) {
      SCOPED_TRACE(testing::Message() << "byte " << i << " ^ " << int(flip));
      Bytes tampered = sealed;
      tampered[i] ^= flip;
      const Opened opened = Open(key, tampered);
      ASSERT_EQ(kCodecFailed, opened.result);
      EXPECT_EQ(kUntouchedLength, opened.length);
      EXPECT_TRUE(opened.AreaUntouched());
    }
  }
  // Bad points and tag mismatches are verdicts, not library errors: the text stays.
  EXPECT_EQ("LZMA_UncompressBuffer : error code = 6", LastCodecError());
}

TEST(DecryptSealed, RefusesEphemeralPointsThatAreNotUncompressedCurvePoints) {
  const Bytes key = BuiltinKeyBytes();
  const Bytes sealed = Seal(key, RandomBytes(40));

  // Point at infinity, compressed markers and the hybrid form, all with the same 41 bytes.
  for (std::uint8_t marker : {0x00, 0x02, 0x03, 0x06, 0x07}) {
    SCOPED_TRACE(int(marker));
    Bytes tampered = sealed;
    tampered[0] = marker;
    const Opened opened = Open(key, tampered);
    EXPECT_EQ(kCodecFailed, opened.result);
    EXPECT_TRUE(opened.AreaUntouched());
  }

  // An all-zero point: (0, 0) is not on the curve since b != 0.
  Bytes zeroPoint = sealed;
  std::fill(zeroPoint.begin() + 1, zeroPoint.begin() + 41, 0);
  EXPECT_EQ(kCodecFailed, Open(key, zeroPoint).result);

  // A valid point of another blob: the point decodes, the tag cannot match.
  const Bytes other = Seal(key, RandomBytes(40));
  Bytes swapped = sealed;
  std::copy(other.begin(), other.begin() + 41, swapped.begin());
  EXPECT_EQ(kCodecFailed, Open(key, swapped).result);
}

TEST(DecryptSealed, RefusesBlobsCutShortOrExtended) {
  const Bytes key = BuiltinKeyBytes();
  const Bytes sealed = Seal(key, RandomBytes(50));

  Bytes shorter(sealed.begin(), sealed.end() - 1);
  EXPECT_EQ(kCodecFailed, Open(key, shorter).result);
  Bytes longer = sealed;
  longer.push_back(0);
  EXPECT_EQ(kCodecFailed, Open(key, longer).result);
  // The tag of a blob cut right after its body is part of the new tag's place.
  Bytes bodyOnly(sealed.begin(), sealed.end() - 20);
  EXPECT_EQ(kCodecFailed, Open(key, bodyOnly).result);
}

TEST(DecryptSealed, BlobsBelowSixtyOneBytesAreRefusedWithoutReadingPastThem) {
  const Bytes key = BuiltinKeyBytes();
  const Bytes valid = Seal(key, Bytes());
  MarkLastError();
  for (std::size_t length : {1u, 40u, 41u, 42u, 60u}) {
    SCOPED_TRACE(length);
    // An exactly sized heap block, so a sanitizer build sees any read past it.
    std::unique_ptr<std::uint8_t[]> blob(new std::uint8_t[length]);
    std::copy(valid.begin(), valid.begin() + length, blob.get());
    std::uint8_t area[4] = {kUntouched, kUntouched, kUntouched, kUntouched};
    std::uint32_t outLength = kUntouchedLength;
    EXPECT_EQ(kCodecFailed,
              DecryptSealed(key.data(), static_cast<std::uint32_t>(key.size()), blob.get(),
                            static_cast<std::uint32_t>(length), area, &outLength));
    EXPECT_EQ(kUntouchedLength, outLength);
    EXPECT_EQ(kUntouched, area[0]);
  }
  // Refused on its length alone, before any library call that could leave a message.
  EXPECT_EQ("LZMA_UncompressBuffer : error code = 6", LastCodecError());
}

TEST(DecryptSealed, RefusesBlobSealedForAnotherKey) {
  const Bytes sealed = Seal(BuiltinKeyBytes(), RandomBytes(64));
  // Another key on the same curve, and one on another 160-bit curve: same layout, other Z.
  for (const CryptoPP::OID& curve :
       {CryptoPP::ASN1::brainpoolP160r1(), CryptoPP::ASN1::secp160r1()}) {
    const Bytes otherKey = NewPrivateKey(curve);
    ASSERT_EQ(kCodecOk, Open(otherKey, Seal(otherKey, RandomBytes(64))).result);

    MarkLastError();
    const Opened opened = Open(otherKey, sealed);
    EXPECT_EQ(kCodecFailed, opened.result);
    EXPECT_EQ(kUntouchedLength, opened.length);
    EXPECT_TRUE(opened.AreaUntouched());
    EXPECT_EQ("LZMA_UncompressBuffer : error code = 6", LastCodecError());
  }
}

TEST(DecryptSealed, MissingArgumentsGiveTwoAndTouchNothing) {
  const Bytes key = BuiltinKeyBytes();
  const Bytes sealed = Seal(key, RandomBytes(8));
  const auto keyLength = static_cast<std::uint32_t>(key.size());
  const auto sealedLength = static_cast<std::uint32_t>(sealed.size());
  std::uint8_t area[8];
  std::fill(std::begin(area), std::end(area), kUntouched);
  std::uint32_t length = kUntouchedLength;

  MarkLastError();
  EXPECT_EQ(kCodecMissingArgument,
            DecryptSealed(nullptr, keyLength, sealed.data(), sealedLength, area, &length));
  EXPECT_EQ(kCodecMissingArgument,
            DecryptSealed(key.data(), 0, sealed.data(), sealedLength, area, &length));
  EXPECT_EQ(kCodecMissingArgument,
            DecryptSealed(key.data(), keyLength, nullptr, sealedLength, area, &length));
  EXPECT_EQ(kCodecMissingArgument,
            DecryptSealed(key.data(), keyLength, sealed.data(), 0, area, &length));
  EXPECT_EQ(kCodecMissingArgument,
            DecryptSealed(key.data(), keyLength, sealed.data(), sealedLength, nullptr, &length));
  EXPECT_EQ(kUntouchedLength, length);
  EXPECT_TRUE(std::all_of(std::begin(area), std::end(area),
                          [](std::uint8_t b) { return b == kUntouched; }));
  EXPECT_EQ("LZMA_UncompressBuffer : error code = 6", LastCodecError());
}

// ---------------------------------------------------------------------------------------------
// DecryptSealed: keys that cannot be used

TEST(DecryptSealed, KeysThatDoNotDecodeGiveOneWithTheLibraryMessage) {
  const Bytes good = BuiltinKeyBytes();
  const Bytes sealed = Seal(good, RandomBytes(16));

  // Crypto++ answers a truncated key with the message of the first field it cannot read
  // ("Integer: input length is too small" for a cut scalar), a malformed one with its BER
  // decoder's message.
  struct Case {
    const char* name;
    Bytes key;
    const char* message;
  };
  std::vector<Case> cases;
  cases.push_back({"truncated by one byte", Bytes(good.begin(), good.end() - 1), ""});
  cases.push_back({"truncated to half", Bytes(good.begin(), good.begin() + 101), ""});
  cases.push_back({"one byte", Bytes(1, 0x30), ""});
  Bytes notASequence = good;
  notASequence[0] = 0x31;
  cases.push_back({"outer tag changed", notASequence, "BER decode error"});
  Bytes badAlgorithm = good;
  badAlgorithm[16] ^= 0x01;  // last byte of the id-ecPublicKey OID
  cases.push_back({"algorithm OID changed", badAlgorithm, "BER decode error"});
  Bytes badVersion = good;
  badVersion[5] = 0x07;  // PrivateKeyInfo version 7
  cases.push_back({"unknown version", badVersion, "BER decode error"});
  Bytes garbage = RandomBytes(202);
  garbage[0] = 0x04;  // never a SEQUENCE
  cases.push_back({"random bytes", garbage, "BER decode error"});
  cases.push_back({"text", Bytes{'n', 'o', 't', ' ', 'a', ' ', 'k', 'e', 'y'}, "BER decode error"});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MarkLastError();
    const Opened opened = Open(c.key, sealed);
    EXPECT_EQ(kCodecFailed, opened.result);
    EXPECT_EQ(kUntouchedLength, opened.length);
    EXPECT_TRUE(opened.AreaUntouched());
    const std::string text = LastCodecError();
    EXPECT_FALSE(text.empty());
    EXPECT_NE("LZMA_UncompressBuffer : error code = 6", text);
    EXPECT_NE(std::string::npos, text.find(c.message)) << text;
  }
}

TEST(DecryptSealed, KeysOnCurvesOfAnotherSizeAreRefusedWithoutOverrun) {
  // With a 112-bit curve the library would take a 29-byte point and return 12 more plaintext
  // bytes than the area holds; with a 256-bit one it would read a 65-byte point out of a
  // 61-byte blob.
  for (const CryptoPP::OID& curve : {CryptoPP::ASN1::secp112r1(), CryptoPP::ASN1::secp256r1()}) {
    const Bytes key = NewPrivateKey(curve);
    for (std::size_t plaintextLength : {0u, 4u, 100u}) {
      SCOPED_TRACE(plaintextLength);
      const Bytes sealed = Seal(key, RandomBytes(plaintextLength));
      // Sized to the 61-byte overhead the codec promises, whatever the curve needs: the
      // library's blob cut or zero-padded to that length.
      const std::size_t blobLength = kSealedOverhead + plaintextLength;
      std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[blobLength]());
      std::copy(sealed.begin(), sealed.begin() + std::min(blobLength, sealed.size()), exact.get());
      Opened opened;
      opened.area.assign(plaintextLength + 1, kUntouched);
      opened.result =
          DecryptSealed(key.data(), static_cast<std::uint32_t>(key.size()), exact.get(),
                        kSealedOverhead + plaintextLength, opened.area.data(), &opened.length);
      EXPECT_EQ(kCodecFailed, opened.result);
      EXPECT_EQ(kUntouchedLength, opened.length);
      EXPECT_TRUE(opened.AreaUntouched());
      EXPECT_FALSE(LastCodecError().empty());
    }
  }
}

// ---------------------------------------------------------------------------------------------
// DigestMd5

// The digest as hex, or what went wrong: a result other than 0, a wrong length, or a byte
// written past the 16.
std::string Md5Hex(const std::string& text) {
  std::uint8_t area[kMd5Size + 4];
  std::fill(std::begin(area), std::end(area), kUntouched);
  std::uint32_t length = 0;
  const int result = DigestMd5(reinterpret_cast<const std::uint8_t*>(text.data()),
                               static_cast<std::uint32_t>(text.size()), area, &length);
  if (result != kCodecOk || length != kMd5Size) return "result " + std::to_string(result);
  if (!std::all_of(area + kMd5Size, std::end(area),
                   [](std::uint8_t b) { return b == kUntouched; })) {
    return "wrote past the digest";
  }
  return Hex(area, kMd5Size);
}

TEST(DigestMd5, MatchesPublishedVectors) {
  EXPECT_EQ("0cc175b9c0f1b6a831c399e269772661", Md5Hex("a"));
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Md5Hex("abc"));
  EXPECT_EQ("f96b697d7cb7938d525a2f31aaf161d0", Md5Hex("message digest"));
  EXPECT_EQ("9e107d9d372bb6826bd81d3542a419d6",
            Md5Hex("The quick brown fox jumps over the lazy dog"));
  EXPECT_EQ("e4d909c290d0fb1ca068ffaddf22cbd0",
            Md5Hex("The quick brown fox jumps over the lazy dog."));
  EXPECT_EQ("57edf4a22be3c955ac49da2e2107b67a", Md5Hex("1234567890123456789012345678901234567890"
                                                       "1234567890123456789012345678901234567890"));
  EXPECT_EQ("7707d6ae4e027c70eea2a935c2296f21", Md5Hex(std::string(1000000, 'a')));
}

TEST(DigestMd5, MultiMegabyteBufferMatchesAnotherImplementation) {
  // The bytes (i * 7 + i / 251) mod 256 for i < 6,000,000; the digest was computed with
  // Python's hashlib.
  Bytes data(6000000);
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  std::uint8_t digest[kMd5Size];
  ASSERT_EQ(kCodecOk,
            DigestMd5(data.data(), static_cast<std::uint32_t>(data.size()), digest, nullptr));
  EXPECT_EQ("641ce15df0b5c03a29df298964b5ccfc", Hex(digest, sizeof digest));
}

TEST(DigestMd5, MissingArgumentsGiveTwoAndWriteNothing) {
  const std::uint8_t data[3] = {'a', 'b', 'c'};
  std::uint8_t digest[kMd5Size];
  std::fill(std::begin(digest), std::end(digest), kUntouched);
  std::uint32_t length = kUntouchedLength;

  EXPECT_EQ(kCodecMissingArgument, DigestMd5(data, 0, digest, &length));
  EXPECT_EQ(kCodecMissingArgument, DigestMd5(nullptr, 3, digest, &length));
  EXPECT_EQ(kCodecMissingArgument, DigestMd5(data, 3, nullptr, &length));
  EXPECT_EQ(kUntouchedLength, length);
  EXPECT_TRUE(std::all_of(std::begin(digest), std::end(digest),
                          [](std::uint8_t b) { return b == kUntouched; }));
}

TEST(Md5Stream, AnySplitOfTheInputGivesTheWholeDigest) {
  Bytes data(3 * 1024 * 1024 + 17);
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<std::uint8_t>(i * 31 + i / 509);
  std::uint8_t whole[kMd5Size];
  ASSERT_EQ(kCodecOk,
            DigestMd5(data.data(), static_cast<std::uint32_t>(data.size()), whole, nullptr));
  // Pieces of one byte, of odd sizes across MD5's 64-byte blocks, of a megabyte, and empty ones.
  for (std::size_t piece :
       {std::size_t{1}, std::size_t{63}, std::size_t{65537}, std::size_t{1} << 20, data.size()}) {
    Md5Stream md5;
    for (std::size_t at = 0; at < data.size(); at += piece) {
      md5.Update(data.data() + at, std::min(piece, data.size() - at));
      md5.Update(data.data(), 0);
    }
    std::uint8_t digest[kMd5Size];
    md5.Final(digest);
    EXPECT_EQ(Hex(whole, kMd5Size), Hex(digest, kMd5Size)) << "pieces of " << piece;
  }
}

TEST(Md5Stream, NothingGivesTheDigestOfNoBytesAndFinalStartsOver) {
  Md5Stream md5;
  std::uint8_t digest[kMd5Size];
  md5.Final(digest);
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", Hex(digest, kMd5Size));
  const std::uint8_t abc[3] = {'a', 'b', 'c'};
  md5.Update(abc, 3);
  md5.Final(digest);
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Hex(digest, kMd5Size));
}

// ---------------------------------------------------------------------------------------------
// The last error text

TEST(LastCodecError, SurvivesCallsFromTwoThreads) {
  // The worker and the UI thread may both call the codec; the text must always be one whole
  // message, never a mix.
  const std::string lzmaText = "LZMA_UncompressBuffer : error code = 6";
  const Bytes badKey = {0x30, 0x03, 0x02, 0x01};
  const Bytes sealed = Seal(BuiltinKeyBytes(), Bytes());
  MarkLastError();
  const std::string berText = [&] {
    std::uint8_t area[1];
    DecryptSealed(badKey.data(), 4, sealed.data(), 61, area, nullptr);
    return LastCodecError();
  }();
  ASSERT_NE(std::string::npos, berText.find("BER decode error"));

  std::atomic<bool> stop{false};
  std::atomic<int> unpacks{0};
  std::atomic<int> decryptions{0};
  std::thread unpacker([&] {
    const std::uint8_t shortStream[3] = {0, 1, 2};
    while (!stop) {
      std::uint8_t out[8];
      std::uint32_t outLength = sizeof out;
      UnpackLzma(shortStream, sizeof shortStream, out, &outLength, 0);
      ++unpacks;
    }
  });
  std::thread decrypter([&] {
    while (!stop) {
      std::uint8_t area[1];
      DecryptSealed(badKey.data(), 4, sealed.data(), 61, area, nullptr);
      ++decryptions;
    }
  });
  int mixed = 0;
  for (int i = 0; i < 20000 || unpacks < 2000 || decryptions < 2000; ++i) {
    const std::string text = LastCodecError();
    if (text != lzmaText && text != berText) ++mixed;
  }
  stop = true;
  unpacker.join();
  decrypter.join();
  EXPECT_EQ(0, mixed);
}

}  // namespace
}  // namespace repair
