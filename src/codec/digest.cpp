// MD5 digests, by which the manifest identifies a file's content.

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/cryptlib.h>
#include <cryptopp/md5.h>

#include <cstring>
#include <exception>
#include <stdexcept>

#include "codec/codec.h"
#include "codec/codec_error.h"

namespace repair {

int DigestMd5(const std::uint8_t* data, std::uint32_t length, std::uint8_t* digest,
              std::uint32_t* digestLength) {
  if (data == nullptr || length == 0 || digest == nullptr) return kCodecMissingArgument;

  static_assert(CryptoPP::Weak1::MD5::DIGESTSIZE == kMd5Size, "MD5 digests are 16 bytes");
  CryptoPP::byte result[kMd5Size];
  try {
    CryptoPP::Weak1::MD5().CalculateDigest(result, data, length);
  } catch (const CryptoPP::Exception& e) {
    codec_internal::SetLastCodecError(e.what());
    return kCodecFailed;
  } catch (const std::runtime_error& e) {
    codec_internal::SetLastCodecError(e.what());
    return kCodecFailed;
  } catch (const std::exception& e) {
    codec_internal::SetLastCodecError(e.what());
    return kCodecFailed;
  } catch (...) {
    codec_internal::SetLastCodecError("DigestMd5: unknown exception");
    return kCodecFailed;
  }
  std::memcpy(digest, result, kMd5Size);
  if (digestLength != nullptr) *digestLength = kMd5Size;
  return kCodecOk;
}

// MD5 in Crypto++ only hashes: it throws nothing for any input.
struct Md5Stream::State {
  CryptoPP::Weak1::MD5 hash;
};

Md5Stream::Md5Stream() : state_(std::make_unique<State>()) {}
Md5Stream::~Md5Stream() = default;

void Md5Stream::Update(const std::uint8_t* data, std::size_t length) {
  if (length != 0) state_->hash.Update(data, length);
}

void Md5Stream::Final(std::uint8_t* digest) { state_->hash.Final(digest); }

}  // namespace repair
