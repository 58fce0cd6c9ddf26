// The block index format: what is written reads back, and every bound of a read is checked.
#include "engine/block_index.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "support/test_support.h"

namespace repair {
namespace {

struct Built {
  std::string body;
  std::uint8_t md5[16] = {};
  BlockIndex index;
  std::vector<std::uint8_t> bytes;
};

// The index of `size` pattern bytes in blocks of `blockSize`, handed to the builder in pieces
// of `piece` bytes.
Built Build(std::size_t size, std::uint32_t blockSize, std::size_t piece) {
  Built built;
  built.body = test::Pattern(size);
  const auto* data = reinterpret_cast<const std::uint8_t*>(built.body.data());
  Md5Stream whole;
  whole.Update(data, size);
  whole.Final(built.md5);
  BlockIndexBuilder builder(blockSize);
  for (std::size_t at = 0; at < size; at += piece) {
    builder.Update(data + at, std::min(piece, size - at));
  }
  EXPECT_TRUE(builder.Finish(built.md5, built.index));
  built.bytes = FormatBlockIndex(built.index);
  return built;
}

TEST(BlockIndex, WhatIsWrittenReadsBackWithEachBlocksDigest) {
  constexpr std::uint32_t kBlock = kMinIndexBlockSize;
  // Whole blocks only, a short last block, and pieces that straddle block boundaries.
  const struct {
    std::size_t size;
    std::size_t piece;
  } cases[] = {{4 * kBlock, kBlock}, {4 * kBlock + 1, 1000}, {3 * kBlock - 7, 3 * kBlock}};
  for (const auto& c : cases) {
    const Built built = Build(c.size, kBlock, c.piece);
    const std::uint32_t blocks = static_cast<std::uint32_t>((c.size + kBlock - 1) / kBlock);
    ASSERT_EQ(built.bytes.size(), kBlockIndexHeaderSize + 16u * blocks) << c.size;
    EXPECT_EQ(BlockIndexLength(static_cast<std::uint32_t>(c.size), kBlock), built.bytes.size());
    BlockIndex parsed;
    ASSERT_EQ(ParseBlockIndex(built.bytes.data(), built.bytes.size(),
                              static_cast<std::uint32_t>(c.size), built.md5, parsed),
              IndexVerdict::kOk)
        << c.size;
    ASSERT_EQ(parsed.BlockCount(), blocks);
    for (std::uint32_t i = 0; i < blocks; ++i) {
      std::uint8_t digest[16];
      ASSERT_EQ(DigestMd5(reinterpret_cast<const std::uint8_t*>(built.body.data()) + i * kBlock,
                          parsed.BlockLength(i), digest, nullptr),
                kCodecOk);
      EXPECT_EQ(std::memcmp(digest, parsed.BlockMd5(i), 16), 0) << c.size << " block " << i;
    }
    EXPECT_EQ(parsed.BlockLength(blocks - 1), c.size - std::size_t{blocks - 1} * kBlock);
  }
}

TEST(BlockIndex, AnythingButTheIndexOfThisVersionIsRefused) {
  constexpr std::uint32_t kBlock = kMinIndexBlockSize;
  const Built built = Build(5 * kBlock + 3, kBlock, 4096);
  const std::uint32_t size = static_cast<std::uint32_t>(built.body.size());
  auto patched = [&](std::size_t at, std::uint8_t value) {
    std::vector<std::uint8_t> bytes = built.bytes;
    bytes[at] = value;
    return bytes;
  };
  auto withBlockSize = [&](std::uint32_t blockSize) {
    std::vector<std::uint8_t> bytes = built.bytes;
    for (int i = 0; i < 4; ++i) bytes[12 + i] = static_cast<std::uint8_t>(blockSize >> (8 * i));
    return bytes;
  };
  std::vector<std::uint8_t> longer = built.bytes;
  longer.push_back(0);
  std::vector<std::uint8_t> shorter(built.bytes.begin(), built.bytes.end() - 1);
  std::vector<std::uint8_t> headerOnly(built.bytes.begin(),
                                       built.bytes.begin() + kBlockIndexHeaderSize);
  const Built other = Build(5 * kBlock + 3, kBlock, 4096);  // same pattern: same digests
  std::vector<std::uint8_t> otherVersion = built.bytes;
  otherVersion[20] ^= 1;  // the file MD5 in the header
  const Built otherSize = Build(6 * kBlock, kBlock, 4096);
  const struct {
    const char* what;
    std::vector<std::uint8_t> bytes;
    IndexVerdict verdict;
  } cases[] = {
      {"empty", {}, IndexVerdict::kGarbage},
      {"cut inside the header",
       std::vector<std::uint8_t>(built.bytes.begin(), built.bytes.begin() + 39),
       IndexVerdict::kGarbage},
      {"another magic", patched(0, 'T'), IndexVerdict::kGarbage},
      {"another format version", patched(8, 2), IndexVerdict::kGarbage},
      {"a block size that is no power of two", withBlockSize(kBlock + 1), IndexVerdict::kGarbage},
      {"a block size below the least", withBlockSize(kBlock / 2), IndexVerdict::kGarbage},
      {"a block size above the most", withBlockSize(kMaxIndexBlockSize * 2),
       IndexVerdict::kGarbage},
      {"a count that is not the size's", patched(36, 5), IndexVerdict::kGarbage},
      {"one byte longer", longer, IndexVerdict::kWrongLength},
      {"one byte shorter", shorter, IndexVerdict::kWrongLength},
      {"the header alone", headerOnly, IndexVerdict::kWrongLength},
      {"another version's MD5", otherVersion, IndexVerdict::kStale},
      {"another version's size", otherSize.bytes, IndexVerdict::kStale},
  };
  for (const auto& c : cases) {
    BlockIndex parsed;
    parsed.blockSize = 1;
    EXPECT_EQ(ParseBlockIndex(c.bytes.data(), c.bytes.size(), size, built.md5, parsed), c.verdict)
        << c.what;
    EXPECT_EQ(parsed.blockSize, 0u) << c.what << ": nothing is filled in";
  }
  BlockIndex parsed;
  EXPECT_EQ(ParseBlockIndex(other.bytes.data(), other.bytes.size(), size, built.md5, parsed),
            IndexVerdict::kOk);
}

TEST(BlockIndex, TheLongestIndexOfAFileIsBoundedByTheLeastBlockSize) {
  EXPECT_EQ(MaxBlockIndexLength(0xFFFFFFFFu), kBlockIndexHeaderSize + 16u * 65536u);
  EXPECT_EQ(BlockIndexLength(0xFFFFFFFFu, kDefaultIndexBlockSize),
            kBlockIndexHeaderSize + 16u * 4096u);
  EXPECT_EQ(BlockCountFor(kMinIndexBlockSize, kMinIndexBlockSize), 1u);
  EXPECT_EQ(BlockCountFor(kMinIndexBlockSize + 1, kMinIndexBlockSize), 2u);
  for (std::uint32_t size : {kMinIndexBlockSize, kDefaultIndexBlockSize, kMaxIndexBlockSize}) {
    EXPECT_TRUE(IsIndexBlockSize(size)) << size;
  }
  for (std::uint32_t size : {0u, kMinIndexBlockSize - 1, 3u << 20, kMaxIndexBlockSize * 2}) {
    EXPECT_FALSE(IsIndexBlockSize(size)) << size;
  }
}

}  // namespace
}  // namespace repair
