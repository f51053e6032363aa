#include "download/sha256.h"

#include <sodium.h>

#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "platform/message_box.h"

namespace tide {

namespace {

std::wstring Hex(const unsigned char (&digest)[crypto_hash_sha256_BYTES]) {
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring hex;
    for (unsigned char b : digest) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return hex;
}

}  // namespace

struct Sha256::State {
    crypto_hash_sha256_state st;
};

Sha256::Sha256() : st_(std::make_unique<State>()) { crypto_hash_sha256_init(&st_->st); }
Sha256::~Sha256() = default;

void Sha256::Feed(const void* bytes, size_t count) {
    crypto_hash_sha256_update(&st_->st, static_cast<const unsigned char*>(bytes), count);
}

std::wstring Sha256::FinishHex() {
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256_final(&st_->st, digest);
    return Hex(digest);
}

std::wstring Sha256OfStream(platform::File& stream) {
    const uint64_t was = stream.Position();
    Sha256 digest;
    std::vector<unsigned char> buf(64 * 1024);
    try {
        stream.Seek(0);
        for (size_t n; (n = stream.Read(buf.data(), buf.size())) > 0;) digest.Feed(buf.data(), n);
    } catch (...) {
        stream.Seek(was);
        throw;
    }
    stream.Seek(was);
    return digest.FinishHex();
}

std::wstring Sha256OfFile(const std::wstring& path) {
    std::unique_ptr<platform::File> f =
        platform::Files().Open(path, platform::OpenMode::ReadExisting, platform::Share::Read);
    if (!f) throw IoError(L"Cannot open file " + path);
    return Sha256OfStream(*f);
}

bool Sha256Matches(const std::wstring& path, const std::wstring& expected, std::wstring* actual) {
    const std::wstring want = Trim(expected);
    if (want.empty()) return true;
    const std::wstring got = Sha256OfFile(path);
    if (actual) *actual = got;
    return SameText(got, want);
}

void ShowSha256Mismatch(const std::wstring& computed, const std::wstring& expected) {
    platform::ShowMessage(
        L"It looks like the file you downloaded was corrupted during the transfer.\n\nThe computed SHA-256 is " +
            computed + L"\n" + L"The expected SHA-256 is " + Trim(expected) + L"\n" + L"\n" +
            L"You will have to re-download the file.",
        L"Notice", platform::MbIcon::Error);
}

}  // namespace tide
