// Ed25519 detached signatures of release files, done by libsodium: the text
// forms of keys and signatures, making a key pair, signing and checking.
//
// Every key and signature is stored as hexadecimal text (either letter
// case), so a reviewer can read and compare them; white space around the
// digits is ignored:
//   public key  64 digits (32 bytes)
//   secret key 128 digits (64 bytes: libsodium's seed followed by the public key)
//   signature  128 digits (64 bytes)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tide {

constexpr size_t kPublicKeyBytes = 32;
constexpr size_t kSecretKeyBytes = 64;
constexpr size_t kSignatureBytes = 64;

// The bytes of a hexadecimal text that holds exactly `count` bytes (with
// white space around it); false for anything else.
bool ParseHexKey(const std::string& text, size_t count, std::vector<uint8_t>& bytes);
// Lower-case hexadecimal digits and a line break.
std::string HexLine(const std::vector<uint8_t>& bytes);

enum class SignatureCheck {
    Good,       // made by the secret key of publicKey over exactly these bytes
    Mismatch,   // a signature, but not of these bytes by that key
    Malformed,  // not a signature text at all (truncated, garbled, empty)
};

// Checks the signature text against the message's bytes. A public key that
// is not kPublicKeyBytes long matches nothing.
SignatureCheck CheckSignature(const std::string& message, const std::string& signatureText,
                              const std::vector<uint8_t>& publicKey);

// Signing (signing.cpp; the installer only checks):

// A fresh key pair, as the texts of the two key files.
void MakeKeyPair(std::string& publicKeyText, std::string& secretKeyText);

// The signature text of the message; false when secretKeyText is not a
// secret key.
bool SignMessage(const std::string& message, const std::string& secretKeyText, std::string& signatureText);

}  // namespace tide
