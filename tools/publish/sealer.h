// The publishing side of the sealed format: key pairs and sealing for a public key.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace repair::publish {

using Bytes = std::vector<std::uint8_t>;

struct KeyPair {
  Bytes privateKey;  // 202-byte PKCS#8 DER, explicit brainpoolP160r1 parameters
  Bytes publicKey;   // X.509 SubjectPublicKeyInfo DER, explicit parameters
};

// A new brainpoolP160r1 key pair in the form the tool embeds.
KeyPair GenerateKeyPair();

// The public key (X.509 DER) that belongs to a PKCS#8 DER private key. Throws
// std::runtime_error when the key does not decode.
Bytes PublicKeyFromPrivate(const Bytes& privateKey);

// Seals `plaintext` for the X.509 DER `publicKey`: 0x04 | R.x | R.y | body | HMAC-SHA1 tag,
// 61 bytes longer than the plaintext. Throws std::runtime_error on a bad key.
Bytes Seal(const Bytes& publicKey, const Bytes& plaintext);

// Opens a sealed blob with the PKCS#8 DER `privateKey`; false when it does not verify.
bool Open(const Bytes& privateKey, const Bytes& sealed, Bytes& plaintext);

}  // namespace repair::publish
