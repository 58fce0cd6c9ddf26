#include "publish/sealer.h"

#include <cryptopp/eccrypto.h>
#include <cryptopp/oids.h>
#include <cryptopp/osrng.h>
#include <cryptopp/queue.h>
#include <cryptopp/sha.h>

#include <stdexcept>

#include "codec/codec.h"

namespace repair::publish {
namespace {

// DHAES mode off, no label octets: the stored files fix these options.
using Scheme = CryptoPP::ECIES<CryptoPP::ECP, CryptoPP::SHA1, CryptoPP::NoCofactorMultiplication,
                               false, false>;

Bytes Drain(CryptoPP::ByteQueue& queue) {
  Bytes out(static_cast<std::size_t>(queue.MaxRetrievable()));
  queue.Get(out.data(), out.size());
  return out;
}

Scheme::PrivateKey LoadPrivate(const Bytes& der) {
  Scheme::PrivateKey key;
  try {
    CryptoPP::ByteQueue queue;
    queue.Put(der.data(), der.size());
    queue.MessageEnd();
    key.Load(queue);
  } catch (const CryptoPP::Exception& e) {
    throw std::runtime_error(std::string("private key does not decode: ") + e.what());
  }
  return key;
}

}  // namespace

KeyPair GenerateKeyPair() {
  CryptoPP::AutoSeededRandomPool rng;
  Scheme::PrivateKey privateKey;
  privateKey.Initialize(rng, CryptoPP::ASN1::brainpoolP160r1());
  // Explicit parameters, not the curve's OID: the tool's key form carries the whole curve.
  privateKey.AccessGroupParameters().SetEncodeAsOID(false);
  CryptoPP::ByteQueue queue;
  privateKey.Save(queue);
  KeyPair pair;
  pair.privateKey = Drain(queue);
  pair.publicKey = PublicKeyFromPrivate(pair.privateKey);
  return pair;
}

Bytes PublicKeyFromPrivate(const Bytes& privateKeyDer) {
  Scheme::PrivateKey privateKey = LoadPrivate(privateKeyDer);
  Scheme::PublicKey publicKey;
  privateKey.MakePublicKey(publicKey);
  publicKey.AccessGroupParameters().SetEncodeAsOID(false);
  CryptoPP::ByteQueue queue;
  publicKey.Save(queue);
  return Drain(queue);
}

Bytes Seal(const Bytes& publicKeyDer, const Bytes& plaintext) {
  try {
    CryptoPP::ByteQueue queue;
    queue.Put(publicKeyDer.data(), publicKeyDer.size());
    queue.MessageEnd();
    Scheme::Encryptor encryptor;
    encryptor.AccessPublicKey().Load(queue);
    CryptoPP::AutoSeededRandomPool rng;
    Bytes sealed(encryptor.CiphertextLength(plaintext.size()));
    encryptor.Encrypt(rng, plaintext.data(), plaintext.size(), sealed.data());
    return sealed;
  } catch (const CryptoPP::Exception& e) {
    throw std::runtime_error(std::string("cannot seal: ") + e.what());
  }
}

bool Open(const Bytes& privateKey, const Bytes& sealed, Bytes& plaintext) {
  if (sealed.size() < kSealedOverhead) return false;
  Bytes out(sealed.size() - kSealedOverhead + 1);
  std::uint32_t length = 0;
  if (DecryptSealed(privateKey.data(), static_cast<std::uint32_t>(privateKey.size()), sealed.data(),
                    static_cast<std::uint32_t>(sealed.size()), out.data(), &length) != kCodecOk) {
    return false;
  }
  out.resize(length);
  plaintext = std::move(out);
  return true;
}

}  // namespace repair::publish
