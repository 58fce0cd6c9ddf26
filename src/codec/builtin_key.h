// The private key compiled into this build: 202 bytes of PKCS#8 DER for brainpoolP160r1 with
// explicit domain parameters. Every file the tool opens must be sealed for its public key.
#pragma once

#include <cstdint>

namespace repair {

constexpr std::uint32_t kBuiltinKeySize = 202;

const std::uint8_t* BuiltinKey();
std::uint32_t BuiltinKeyLength();

}  // namespace repair
