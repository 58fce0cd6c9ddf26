// UnpackLzma over streams made by xz (fixtures in tests/data) and by the LZMA SDK's encoder.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#endif
#include <LzmaEnc.h>

#include "codec/codec.h"
#include "support/test_support.h"

namespace repair {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kGuard = 0xEE;
constexpr std::size_t kGuardSize = 64;
const Bytes kFixedProperties = {0x5D, 0x00, 0x00, 0x01, 0x00};

std::string ErrorText(int code) {
  return "LZMA_UncompressBuffer : error code = " + std::to_string(code);
}

struct Unpacked {
  int result = -1;
  std::uint32_t length = 0;
  Bytes output;  // the first `length` bytes of the destination
  bool guardIntact = false;
};

// One UnpackLzma call from an exactly sized heap copy of `source` (so a sanitizer build sees any
// read past it) into a destination of `capacity` bytes followed by guard bytes.
Unpacked Unpack(const Bytes& source, std::uint32_t capacity, std::uint8_t flag = 0) {
  std::unique_ptr<std::uint8_t[]> input(new std::uint8_t[source.size() + (source.empty() ? 1 : 0)]);
  std::copy(source.begin(), source.end(), input.get());
  Bytes destination(static_cast<std::size_t>(capacity) + kGuardSize, kGuard);

  Unpacked unpacked;
  unpacked.length = capacity;
  unpacked.result = UnpackLzma(input.get(), static_cast<std::uint32_t>(source.size()),
                               destination.data(), &unpacked.length, flag);
  if (unpacked.result == kCodecOk && unpacked.length <= capacity) {
    unpacked.output.assign(destination.begin(), destination.begin() + unpacked.length);
  }
  unpacked.guardIntact = std::all_of(destination.begin() + capacity, destination.end(),
                                     [](std::uint8_t b) { return b == kGuard; });
  return unpacked;
}

Bytes Concat(const Bytes& head, const Bytes& tail) {
  Bytes out = head;
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

class LzmaFixture : public testing::Test {
 protected:
  void SetUp() override {
    text_ = test::ReadAll(test::DataPath("lzma_input.txt"));
    stream_ = test::ReadAll(test::DataPath("lzma_input.lzma"));
    ASSERT_GT(text_.size(), 10000u);
    ASSERT_GT(stream_.size(), 100u);
  }
  std::uint32_t TextSize() const { return static_cast<std::uint32_t>(text_.size()); }

  Bytes text_;
  Bytes stream_;
};

// ---------------------------------------------------------------------------------------------
// Streams that unpack

TEST_F(LzmaFixture, FixedPropertiesWithExactCapacity) {
  // Every flag value other than 1 means the fixed properties.
  for (std::uint8_t flag : {0x00, 0x02, 0x5D, 0xFF}) {
    SCOPED_TRACE(int(flag));
    const Unpacked unpacked = Unpack(stream_, TextSize(), flag);
    ASSERT_EQ(kCodecOk, unpacked.result);
    EXPECT_EQ(TextSize(), unpacked.length);
    EXPECT_TRUE(unpacked.output == text_);
    EXPECT_TRUE(unpacked.guardIntact);
  }
}

TEST_F(LzmaFixture, LargerCapacityStopsAtTheEndMarker) {
  for (std::uint32_t extra : {1u, 1000u, 1u << 20}) {
    SCOPED_TRACE(extra);
    const Unpacked unpacked = Unpack(stream_, TextSize() + extra);
    ASSERT_EQ(kCodecOk, unpacked.result);
    EXPECT_EQ(TextSize(), unpacked.length);
    EXPECT_TRUE(unpacked.output == text_);
  }
}

TEST_F(LzmaFixture, PropertiesHeaderWithFlagOne) {
  const Unpacked unpacked = Unpack(Concat(kFixedProperties, stream_), TextSize(), 1);
  ASSERT_EQ(kCodecOk, unpacked.result);
  EXPECT_EQ(TextSize(), unpacked.length);
  EXPECT_TRUE(unpacked.output == text_);

  // Without the flag those five bytes are taken as the start of the stream.
  EXPECT_EQ(kCodecFailed, Unpack(Concat(kFixedProperties, stream_), TextSize(), 0).result);
}

TEST_F(LzmaFixture, FlagOneUsesThePropertiesItIsGiven) {
  // xz with lc 0, lp 2, pb 0 and a 1 MiB dictionary: properties byte (0*5 + 2)*9 + 0 = 0x12.
  const Bytes other = test::ReadAll(test::DataPath("lzma_input_lc0_lp2_pb0.lzma"));
  const Bytes header = {0x12, 0x00, 0x00, 0x10, 0x00};
  const Unpacked withHeader = Unpack(Concat(header, other), TextSize(), 1);
  ASSERT_EQ(kCodecOk, withHeader.result);
  EXPECT_TRUE(withHeader.output == text_);

  const Unpacked withFixed = Unpack(other, TextSize(), 0);
  EXPECT_FALSE(withFixed.result == kCodecOk && withFixed.output == text_);
}

// ---------------------------------------------------------------------------------------------
// Streams that do not

TEST_F(LzmaFixture, StreamCutShortGivesInputEnded) {
  // Cut by one byte, every content byte still comes out, but the end marker is incomplete:
  // a stream that carries a marker must carry all of it, even at the exact capacity.
  for (std::size_t keep :
       {stream_.size() / 2, stream_.size() - 20, stream_.size() - 1, std::size_t{5}}) {
    SCOPED_TRACE(keep);
    const Unpacked unpacked = Unpack(Bytes(stream_.begin(), stream_.begin() + keep), TextSize());
    EXPECT_EQ(kCodecFailed, unpacked.result);
    EXPECT_EQ(0u, unpacked.length);
    EXPECT_EQ(ErrorText(6), LastCodecError());
    EXPECT_TRUE(unpacked.guardIntact);
  }
}

TEST_F(LzmaFixture, CapacitySmallerThanTheContentFails) {
  for (std::uint32_t shortBy : {1u, 100u, TextSize() - 1, TextSize()}) {
    SCOPED_TRACE(shortBy);
    const Unpacked unpacked = Unpack(stream_, TextSize() - shortBy);
    EXPECT_EQ(kCodecFailed, unpacked.result);
    EXPECT_EQ(0u, unpacked.length);
    // The stream goes on past a full destination: corrupt data as far as the decoder knows.
    EXPECT_EQ(ErrorText(1), LastCodecError());
    EXPECT_TRUE(unpacked.guardIntact);
  }
}

TEST_F(LzmaFixture, CorruptedStreamFailsOrDiffersButStaysInBounds) {
  // A flipped bit deep in a range-coded stream may still decode to something; it must never
  // write past the capacity or report more than it.
  std::mt19937 random(20240611);
  int failures = 0;
  for (int round = 0; round < 200; ++round) {
    Bytes corrupt = stream_;
    corrupt[random() % corrupt.size()] ^= static_cast<std::uint8_t>(1u << (random() % 8));
    const Unpacked unpacked = Unpack(corrupt, TextSize());
    ASSERT_TRUE(unpacked.guardIntact);
    ASSERT_LE(unpacked.length, TextSize());
    if (unpacked.result == kCodecFailed) {
      ++failures;
      EXPECT_EQ(0u, unpacked.length);
    } else {
      ASSERT_EQ(kCodecOk, unpacked.result);
    }
  }
  EXPECT_GT(failures, 100);
}

TEST(UnpackLzma, StreamsOfFewerThanFiveBytesGiveInputEnded) {
  for (std::size_t length = 1; length <= 4; ++length) {
    for (std::uint8_t flag : {0, 1}) {
      SCOPED_TRACE(testing::Message() << length << " bytes, flag " << int(flag));
      const Unpacked unpacked = Unpack(Bytes(length, 0x00), 100, flag);
      EXPECT_EQ(kCodecFailed, unpacked.result);
      EXPECT_EQ(0u, unpacked.length);
      EXPECT_EQ(ErrorText(6), LastCodecError());
      EXPECT_TRUE(unpacked.guardIntact);
    }
  }
  // Flag 1 with the five property bytes and no stream after them.
  const Unpacked propertiesOnly = Unpack(kFixedProperties, 100, 1);
  EXPECT_EQ(kCodecFailed, propertiesOnly.result);
  EXPECT_EQ(ErrorText(6), LastCodecError());
}

TEST(UnpackLzma, UnsupportedPropertiesGiveFour) {
  // lc/lp/pb byte above 9*5*5 - 1 = 224.
  Bytes source = {0xE1, 0x00, 0x00, 0x01, 0x00};
  source.resize(source.size() + 32, 0x00);
  const Unpacked unpacked = Unpack(source, 100, 1);
  EXPECT_EQ(kCodecFailed, unpacked.result);
  EXPECT_EQ(0u, unpacked.length);
  EXPECT_EQ(ErrorText(4), LastCodecError());
}

TEST(UnpackLzma, RandomGarbageFailsWithoutHarm) {
  std::mt19937 random(77);
  for (int round = 0; round < 300; ++round) {
    Bytes garbage(5 + random() % 2000);
    for (auto& b : garbage) b = static_cast<std::uint8_t>(random());
    const std::uint8_t flag = static_cast<std::uint8_t>(round % 2);
    const std::uint32_t capacity = random() % 5000;
    const Unpacked unpacked = Unpack(garbage, capacity, flag);
    ASSERT_TRUE(unpacked.guardIntact) << round;
    ASSERT_LE(unpacked.length, capacity);
    if (unpacked.result != kCodecOk) {
      ASSERT_EQ(kCodecFailed, unpacked.result);
      EXPECT_EQ(0u, unpacked.length);
      EXPECT_EQ(0u, LastCodecError().find("LZMA_UncompressBuffer : error code = "));
    }
  }
}

TEST(UnpackLzma, MissingSourceGivesTwoAndTouchesNothing) {
  const std::uint8_t source[8] = {};
  std::uint8_t destination[8];
  std::fill(std::begin(destination), std::end(destination), kGuard);
  std::uint32_t length = 8;

  // Set a recognisable text first: a refused call must leave it.
  const std::uint8_t shortStream[2] = {};
  std::uint32_t shortLength = 8;
  ASSERT_EQ(kCodecFailed, UnpackLzma(shortStream, 2, destination, &shortLength, 0));
  ASSERT_EQ(ErrorText(6), LastCodecError());

  EXPECT_EQ(kCodecMissingArgument, UnpackLzma(nullptr, 8, destination, &length, 0));
  EXPECT_EQ(kCodecMissingArgument, UnpackLzma(source, 0, destination, &length, 0));
  EXPECT_EQ(kCodecMissingArgument, UnpackLzma(source, 0, destination, &length, 1));
  EXPECT_EQ(8u, length);
  // The destination and its length are required as well; missing, they give 2 too.
  EXPECT_EQ(kCodecMissingArgument, UnpackLzma(source, 8, nullptr, &length, 0));
  EXPECT_EQ(kCodecMissingArgument, UnpackLzma(source, 8, destination, nullptr, 0));
  EXPECT_EQ(8u, length);
  EXPECT_TRUE(std::all_of(std::begin(destination), std::end(destination),
                          [](std::uint8_t b) { return b == kGuard; }));
  EXPECT_EQ(ErrorText(6), LastCodecError());
}

// ---------------------------------------------------------------------------------------------
// Round trips through the LZMA SDK's encoder

void* EncoderAlloc(void*, size_t size) { return std::malloc(size); }
void EncoderFree(void*, void* address) { std::free(address); }

// Raw stream (no properties) with lc 3, lp 0, pb 2 and a 64 KiB dictionary. `properties`
// receives the five bytes the encoder would store for it.
Bytes Encode(const Bytes& data, bool endMark, Bytes* properties = nullptr) {
  CLzmaEncProps props;
  LzmaEncProps_Init(&props);
  props.lc = 3;
  props.lp = 0;
  props.pb = 2;
  props.dictSize = 1 << 16;
  props.level = 5;
  Bytes out(data.size() + data.size() / 3 + 256);
  SizeT outLength = out.size();
  Byte encodedProps[LZMA_PROPS_SIZE];
  SizeT encodedPropsSize = LZMA_PROPS_SIZE;
  ISzAlloc alloc = {EncoderAlloc, EncoderFree};
  const Byte dummy = 0;
  const SRes result =
      LzmaEncode(out.data(), &outLength, data.empty() ? &dummy : data.data(), data.size(), &props,
                 encodedProps, &encodedPropsSize, endMark ? 1 : 0, nullptr, &alloc, &alloc);
  if (result != SZ_OK) return Bytes();
  out.resize(outLength);
  if (properties != nullptr) properties->assign(encodedProps, encodedProps + encodedPropsSize);
  return out;
}

Bytes RandomData(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  Bytes data(size);
  for (auto& b : data) b = static_cast<std::uint8_t>(random());
  return data;
}

TEST(UnpackLzmaRoundTrip, EncoderPropertiesAreTheFixedOnes) {
  Bytes properties;
  ASSERT_FALSE(Encode(Bytes(100, 'x'), true, &properties).empty());
  EXPECT_EQ(kFixedProperties, properties);
}

TEST(UnpackLzmaRoundTrip, WithEndMarker) {
  struct Case {
    const char* name;
    Bytes data;
  };
  const Case cases[] = {
      {"one byte", Bytes(1, 0x42)},
      {"two distinct bytes", Bytes{0x00, 0xFF}},
      {"incompressible, larger than the dictionary", RandomData(200000, 1)},
      {"a megabyte of zeros", Bytes(1 << 20, 0x00)},
      {"short repeats",
       [] {
         Bytes b(70000);
         for (std::size_t i = 0; i < b.size(); ++i)
           b[i] = static_cast<std::uint8_t>("abcab"[i % 5]);
         return b;
       }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes stream = Encode(c.data, true);
    ASSERT_FALSE(stream.empty());
    const auto size = static_cast<std::uint32_t>(c.data.size());

    const Unpacked exact = Unpack(stream, size);
    ASSERT_EQ(kCodecOk, exact.result);
    EXPECT_TRUE(exact.output == c.data);
    EXPECT_TRUE(exact.guardIntact);

    const Unpacked roomy = Unpack(stream, size + 4096);
    ASSERT_EQ(kCodecOk, roomy.result);
    EXPECT_EQ(size, roomy.length);

    const Unpacked withHeader = Unpack(Concat(kFixedProperties, stream), size, 1);
    ASSERT_EQ(kCodecOk, withHeader.result);
    EXPECT_TRUE(withHeader.output == c.data);
  }
}

TEST(UnpackLzmaRoundTrip, EmptyContentWithEndMarker) {
  const Bytes stream = Encode(Bytes(), true);
  ASSERT_GE(stream.size(), 5u);
  const Unpacked none = Unpack(stream, 0);
  EXPECT_EQ(kCodecOk, none.result);
  EXPECT_EQ(0u, none.length);
  const Unpacked roomy = Unpack(stream, 64);
  EXPECT_EQ(kCodecOk, roomy.result);
  EXPECT_EQ(0u, roomy.length);
  EXPECT_TRUE(roomy.guardIntact);
}

TEST(UnpackLzmaRoundTrip, WithoutEndMarkerOnlyTheExactCapacityWorks) {
  // No end marker: the decoder can only know the end from a destination that fills up.
  const Bytes data = RandomData(3000, 2);
  const Bytes stream = Encode(data, false);
  ASSERT_FALSE(stream.empty());

  const Unpacked exact = Unpack(stream, 3000);
  ASSERT_EQ(kCodecOk, exact.result);
  EXPECT_TRUE(exact.output == data);

  const Unpacked roomy = Unpack(stream, 3001);
  EXPECT_EQ(kCodecFailed, roomy.result);
  EXPECT_EQ(0u, roomy.length);
  EXPECT_EQ(ErrorText(6), LastCodecError());
}

}  // namespace
}  // namespace repair
