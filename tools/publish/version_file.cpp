#include "publish/version_file.h"

namespace repair::publish {
namespace {

void PutLe32(std::vector<std::uint8_t>& out, std::int32_t value) {
  auto v = static_cast<std::uint32_t>(value);
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

}  // namespace

std::vector<std::uint8_t> EncodeVersionPlaintext(const VersionWords& words) {
  std::vector<std::uint8_t> out;
  PutLe32(out, words.major);
  PutLe32(out, words.minor);
  PutLe32(out, words.third);
  if (words.hasFourth) PutLe32(out, words.fourth);
  return out;
}

}  // namespace repair::publish
