// Making keys and signing: the release tool's and the tests' side. Apart
// from the checking in signature.cpp, so the installer, which only checks,
// links neither these nor libsodium's signing code and its tables.
#include "download/signature.h"

#include <sodium.h>

#include <stdexcept>

namespace tide {

namespace {

// sodium_init is idempotent and safe from any thread (a key pair needs its
// random bytes); a library that cannot start is an error of its own.
void StartSodium() {
    if (sodium_init() < 0) throw std::runtime_error("The cryptography library could not be initialised.");
}

}  // namespace

void MakeKeyPair(std::string& publicKeyText, std::string& secretKeyText) {
    StartSodium();
    std::vector<uint8_t> pk(crypto_sign_PUBLICKEYBYTES), sk(crypto_sign_SECRETKEYBYTES);
    crypto_sign_keypair(pk.data(), sk.data());
    publicKeyText = HexLine(pk);
    secretKeyText = HexLine(sk);
    sodium_memzero(sk.data(), sk.size());
}

bool SignMessage(const std::string& message, const std::string& secretKeyText, std::string& signatureText) {
    StartSodium();
    std::vector<uint8_t> sk;
    if (!ParseHexKey(secretKeyText, kSecretKeyBytes, sk)) return false;
    std::vector<uint8_t> sig(crypto_sign_BYTES);
    crypto_sign_detached(sig.data(), nullptr, reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                         sk.data());
    sodium_memzero(sk.data(), sk.size());
    signatureText = HexLine(sig);
    return true;
}

}  // namespace tide
