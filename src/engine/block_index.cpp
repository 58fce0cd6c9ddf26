#include "engine/block_index.h"

#include <algorithm>
#include <cstring>

#include "codec/codec.h"
#include "common/little_endian.h"

namespace repair {
namespace {

constexpr char kMagic[8] = {'t', 'o', 'v', 'a', 'k', '-', 'b', 'i'};
constexpr std::uint32_t kFormatVersion = 1;

}  // namespace

std::uint32_t BlockIndex::BlockLength(std::uint32_t block) const {
  const std::uint64_t start = std::uint64_t{block} * blockSize;
  if (start >= fileSize) return 0;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(blockSize, fileSize - start));
}

bool IsIndexBlockSize(std::uint32_t blockSize) {
  return blockSize >= kMinIndexBlockSize && blockSize <= kMaxIndexBlockSize &&
         (blockSize & (blockSize - 1)) == 0;
}

std::uint32_t BlockCountFor(std::uint32_t fileSize, std::uint32_t blockSize) {
  return static_cast<std::uint32_t>((std::uint64_t{fileSize} + blockSize - 1) / blockSize);
}

std::uint64_t BlockIndexLength(std::uint32_t fileSize, std::uint32_t blockSize) {
  return kBlockIndexHeaderSize +
         std::uint64_t{kBlockDigestSize} * BlockCountFor(fileSize, blockSize);
}

std::uint64_t MaxBlockIndexLength(std::uint32_t fileSize) {
  return BlockIndexLength(fileSize, kMinIndexBlockSize);
}

std::vector<std::uint8_t> FormatBlockIndex(const BlockIndex& index) {
  std::vector<std::uint8_t> bytes(kBlockIndexHeaderSize + index.digests.size());
  std::memcpy(bytes.data(), kMagic, sizeof kMagic);
  StoreLe32(&bytes[8], kFormatVersion);
  StoreLe32(&bytes[12], index.blockSize);
  StoreLe32(&bytes[16], index.fileSize);
  std::memcpy(&bytes[20], index.fileMd5, sizeof index.fileMd5);
  StoreLe32(&bytes[36], index.BlockCount());
  if (!index.digests.empty()) {
    std::memcpy(&bytes[kBlockIndexHeaderSize], index.digests.data(), index.digests.size());
  }
  return bytes;
}

IndexVerdict ParseBlockIndex(const std::uint8_t* data, std::size_t length, std::uint32_t fileSize,
                             const std::uint8_t* fileMd5, BlockIndex& index) {
  index = BlockIndex();
  if (data == nullptr || length < kBlockIndexHeaderSize ||
      std::memcmp(data, kMagic, sizeof kMagic) != 0 || LoadLe32(data + 8) != kFormatVersion) {
    return IndexVerdict::kGarbage;
  }
  const std::uint32_t blockSize = LoadLe32(data + 12);
  const std::uint32_t size = LoadLe32(data + 16);
  const std::uint32_t count = LoadLe32(data + 36);
  if (!IsIndexBlockSize(blockSize) || count != BlockCountFor(size, blockSize)) {
    return IndexVerdict::kGarbage;
  }
  // The header's own length first: a stale index is as long as its own file makes it.
  if (length != BlockIndexLength(size, blockSize)) return IndexVerdict::kWrongLength;
  if (size != fileSize || std::memcmp(data + 20, fileMd5, sizeof index.fileMd5) != 0) {
    return IndexVerdict::kStale;
  }
  index.blockSize = blockSize;
  index.fileSize = size;
  std::memcpy(index.fileMd5, data + 20, sizeof index.fileMd5);
  index.digests.assign(data + kBlockIndexHeaderSize, data + length);
  return IndexVerdict::kOk;
}

const char* IndexVerdictText(IndexVerdict verdict) {
  switch (verdict) {
    case IndexVerdict::kOk: return "is usable";
    case IndexVerdict::kGarbage: return "is not a block index";
    case IndexVerdict::kWrongLength: return "is not the length its header gives";
    case IndexVerdict::kStale: return "describes another version of the file";
  }
  return "unknown";
}

BlockIndexBuilder::BlockIndexBuilder(std::uint32_t blockSize)
    : blockSize_(blockSize), block_(std::make_unique<Md5Stream>()) {}

BlockIndexBuilder::~BlockIndexBuilder() = default;

void BlockIndexBuilder::Update(const std::uint8_t* data, std::size_t length) {
  while (length > 0) {
    const std::size_t take = std::min<std::size_t>(length, blockSize_ - inBlock_);
    block_->Update(data, take);
    data += take;
    length -= take;
    total_ += take;
    inBlock_ += static_cast<std::uint32_t>(take);
    if (inBlock_ == blockSize_) {
      digests_.resize(digests_.size() + kBlockDigestSize);
      block_->Final(&digests_[digests_.size() - kBlockDigestSize]);
      inBlock_ = 0;
    }
  }
}

bool BlockIndexBuilder::Finish(const std::uint8_t* fileMd5, BlockIndex& index) {
  index = BlockIndex();
  if (total_ > UINT32_MAX) return false;
  if (inBlock_ > 0) {
    digests_.resize(digests_.size() + kBlockDigestSize);
    block_->Final(&digests_[digests_.size() - kBlockDigestSize]);
    inBlock_ = 0;
  }
  index.blockSize = blockSize_;
  index.fileSize = static_cast<std::uint32_t>(total_);
  std::memcpy(index.fileMd5, fileMd5, sizeof index.fileMd5);
  index.digests = std::move(digests_);
  digests_.clear();
  total_ = 0;
  return true;
}

}  // namespace repair
