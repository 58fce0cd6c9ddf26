// The block index of a large client file: one MD5 per fixed-size block, so that a damaged copy
// can be repaired by fetching only the blocks that differ. Published beside the file it
// describes, under the file's name with kBlockIndexSuffix appended; static, served by any host.
//
//   offset  size  field (integers little-endian)
//        0     8  "tovak-bi"
//        8     4  format version, 1
//       12     4  block size: a power of two from kMinIndexBlockSize to kMaxIndexBlockSize
//       16     4  size of the file described
//       20    16  MD5 of the file described
//       36     4  block count: the file size divided by the block size, rounded up
//       40  16*n  the MD5 of each block in file order (the last one may be short)
//
// The header binds the index to one version of its file (size and MD5, as the manifest lists
// them): an index left over from another version is recognised as such and not used. The
// index is not sealed: whatever it says, what reaches the client is held to the manifest's
// whole-file MD5, so a false index can cost a download, never a wrong file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace repair {

class Md5Stream;

constexpr char kBlockIndexSuffix[] = ".blockidx";
constexpr std::uint32_t kBlockIndexHeaderSize = 40;
constexpr std::uint32_t kBlockDigestSize = 16;
constexpr std::uint32_t kMinIndexBlockSize = std::uint32_t{1} << 16;  // 64 KiB
constexpr std::uint32_t kMaxIndexBlockSize = std::uint32_t{1} << 24;  // 16 MiB
constexpr std::uint32_t kDefaultIndexBlockSize = std::uint32_t{1} << 20;
// The smallest file the tool looks for an index for (and the smallest the publisher writes one
// for): a missing index costs one request, which beside 32 MiB of download is nothing.
constexpr std::uint32_t kBlockRepairMinSize = std::uint32_t{32} << 20;

struct BlockIndex {
  std::uint32_t blockSize = 0;
  std::uint32_t fileSize = 0;
  std::uint8_t fileMd5[16] = {};
  std::vector<std::uint8_t> digests;  // kBlockDigestSize bytes per block

  std::uint32_t BlockCount() const {
    return static_cast<std::uint32_t>(digests.size() / kBlockDigestSize);
  }
  std::uint32_t BlockOffset(std::uint32_t block) const { return block * blockSize; }
  // The block's length: blockSize, or what is left of the file for the last block.
  std::uint32_t BlockLength(std::uint32_t block) const;
  const std::uint8_t* BlockMd5(std::uint32_t block) const {
    return digests.data() + std::size_t{block} * kBlockDigestSize;
  }
};

bool IsIndexBlockSize(std::uint32_t blockSize);
// ceil(fileSize / blockSize); blockSize must not be 0.
std::uint32_t BlockCountFor(std::uint32_t fileSize, std::uint32_t blockSize);
// The exact length of the index of a file of `fileSize` bytes in blocks of `blockSize`.
std::uint64_t BlockIndexLength(std::uint32_t fileSize, std::uint32_t blockSize);
// The longest index any allowed block size gives a file of `fileSize` bytes: the bound on what
// a client fetches (about 1 MiB for a file of 4 GiB).
std::uint64_t MaxBlockIndexLength(std::uint32_t fileSize);

std::vector<std::uint8_t> FormatBlockIndex(const BlockIndex& index);

enum class IndexVerdict {
  kOk,
  kGarbage,      // no index of this format: wrong magic or version, a bad block size or count
  kWrongLength,  // not exactly the length its file size and block size give
  kStale,        // an index of another version of the file (size or MD5 differ)
};
// Parses `length` bytes into `index`, checking every field against the bounds above and the
// binding against the file the manifest lists (`fileSize`, `fileMd5`). `index` is filled only
// for kOk.
IndexVerdict ParseBlockIndex(const std::uint8_t* data, std::size_t length, std::uint32_t fileSize,
                             const std::uint8_t* fileMd5, BlockIndex& index);
const char* IndexVerdictText(IndexVerdict verdict);

// Builds an index from a file's bytes handed over in order, in pieces of any length.
class BlockIndexBuilder {
 public:
  explicit BlockIndexBuilder(std::uint32_t blockSize);
  ~BlockIndexBuilder();
  BlockIndexBuilder(const BlockIndexBuilder&) = delete;
  BlockIndexBuilder& operator=(const BlockIndexBuilder&) = delete;

  void Update(const std::uint8_t* data, std::size_t length);
  // The index of everything handed over, bound to `fileMd5` (the caller's digest of the same
  // bytes). False when more than 4 GiB - 1 bytes were handed over.
  bool Finish(const std::uint8_t* fileMd5, BlockIndex& index);

 private:
  std::uint32_t blockSize_;
  std::uint64_t total_ = 0;
  std::uint32_t inBlock_ = 0;
  std::unique_ptr<Md5Stream> block_;
  std::vector<std::uint8_t> digests_;
};

}  // namespace repair
