#include "download/signature.h"

#include <sodium.h>

namespace tide {

static_assert(kPublicKeyBytes == crypto_sign_PUBLICKEYBYTES, "public key size");
static_assert(kSecretKeyBytes == crypto_sign_SECRETKEYBYTES, "secret key size");
static_assert(kSignatureBytes == crypto_sign_BYTES, "signature size");

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

bool ParseHexKey(const std::string& text, size_t count, std::vector<uint8_t>& bytes) {
    size_t first = 0, last = text.size();
    while (first < last && IsSpace(text[first])) ++first;
    while (last > first && IsSpace(text[last - 1])) --last;
    if (last - first != 2 * count) return false;
    bytes.assign(count, 0);
    size_t got = 0;
    const char* end = nullptr;
    if (sodium_hex2bin(bytes.data(), count, text.data() + first, last - first, nullptr, &got, &end) != 0) return false;
    return got == count && end == text.data() + last;
}

std::string HexLine(const std::vector<uint8_t>& bytes) {
    std::string hex(bytes.size() * 2 + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), bytes.data(), bytes.size());
    hex.back() = '\n';
    return hex;
}

SignatureCheck CheckSignature(const std::string& message, const std::string& signatureText,
                              const std::vector<uint8_t>& publicKey) {
    // No sodium_init here: the Ed25519 check (with SHA-512) has a single
    // implementation and needs no random bytes, so there is nothing to set
    // up. sodium_init would choose implementations for every primitive that
    // has several, and so link them all into the installer (about 80 KB:
    // BLAKE2b, Argon2, X25519 with its base-point table, ChaCha20, Poly1305).
    std::vector<uint8_t> sig;
    if (!ParseHexKey(signatureText, kSignatureBytes, sig)) return SignatureCheck::Malformed;
    if (publicKey.size() != kPublicKeyBytes) return SignatureCheck::Mismatch;
    const int rc = crypto_sign_verify_detached(sig.data(), reinterpret_cast<const unsigned char*>(message.data()),
                                               message.size(), publicKey.data());
    return rc == 0 ? SignatureCheck::Good : SignatureCheck::Mismatch;
}

}  // namespace tide
