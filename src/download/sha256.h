// SHA-256 (libsodium) of a component file, and the check of the optional
// FILE_SHA256 value of its manifest section: a stronger proof than MD5 that
// the file is the one the publisher released.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/files.h"

namespace tide {

// A running digest, fed piece by piece.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void Feed(const void* bytes, size_t count);
    // 64 lower-case hexadecimal digits; the object is spent afterwards.
    std::wstring FinishHex();

private:
    struct State;
    std::unique_ptr<State> st_;
};

// 64 lower-case hexadecimal digits of the digest of the whole stream from
// its first byte; the position is restored afterwards.
std::wstring Sha256OfStream(platform::File& stream);
// The same of the file at path (opened read-only through platform::Files());
// throws IoError naming the file when it cannot be opened.
std::wstring Sha256OfFile(const std::wstring& path);

// Whether the file passes the FILE_SHA256 value `expected`: an empty value
// (no key) always passes, otherwise its digits must equal the file's digest,
// letter case ignored. `actual` receives the file's digest when it was
// computed.
bool Sha256Matches(const std::wstring& path, const std::wstring& expected, std::wstring* actual = nullptr);

// The box of a mismatch, like the one of an MD5 mismatch ("Notice", error
// icon), naming SHA-256 and both digests; the caller deletes the file.
void ShowSha256Mismatch(const std::wstring& computed, const std::wstring& expected);

}  // namespace tide
