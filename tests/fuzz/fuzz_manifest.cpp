// The release tool's manifest rewrite and the installer's FILE_SIZE reading
// on arbitrary manifests. Properties: a rewrite is idempotent; a manifest
// with nothing to update comes back byte for byte; after the rewrite the
// installer's reading of the manifest agrees with the folder for every
// section it would download (so "tiderelease verify" passes right after
// "tiderelease make-manifest"); FILE_SIZE reads as a number exactly when it
// is a decimal number of bytes up to 2^31-1, and numbers read back as written.
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "core/IniDocument.h"
#include "core/manifest.h"
#include "download/release_manifest.h"
#include "fuzz_check.h"

using namespace tide;

namespace {

uint64_t Hash(const std::wstring& s) {
    uint64_t h = 1469598103934665603ull;
    for (wchar_t c : s) h = (h ^ static_cast<uint32_t>(c)) * 1099511628211ull;
    return h;
}

// A release folder that holds every bare name Windows can give a file (at
// most 255 characters), with facts made from the name.
bool Probe(const std::wstring& name, ReleaseFileFacts& facts) {
    if (name.size() > 255) return false;
    const uint64_t h = Hash(name);
    facts.size = h % 100000000;
    facts.md5.clear();
    for (int i = 0; i < 32; ++i) facts.md5 += L"0123456789abcdef"[(h >> ((i % 16) * 4)) & 15];
    return true;
}

// FILE_SIZE by the rule, written independently of the reader.
bool ExpectedSize(const std::wstring& text, int32_t& out) {
    const std::wstring t = Trim(text);
    int64_t v = 0;
    for (wchar_t c : t) {
        if (c < L'0' || c > L'9') return false;
        v = v * 10 + (c - L'0');
        if (v > 2147483647) return false;
    }
    out = static_cast<int32_t>(v);
    return true;
}

void CheckFileSize(const std::wstring& text) {
    int32_t want = 0;
    const bool valid = ExpectedSize(text, want);
    try {
        const int32_t got = ParseComponentFileSize(L"S", text);
        FUZZ_CHECK(valid, "a FILE_SIZE that is no byte count was read as one");
        FUZZ_CHECK(got == want, "FILE_SIZE read as another number");
    } catch (const ManifestError&) {
        FUZZ_CHECK(!valid, "a decimal FILE_SIZE was refused");
    }
}

bool Utf16(const std::string& b) {
    return b.size() >= 2 && ((b[0] == '\xFF' && b[1] == '\xFE') || (b[0] == '\xFE' && b[1] == '\xFF'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes = fuzz::Bytes(data, size);

    if (size <= 64) CheckFileSize(DecodeText(bytes));
    const int32_t n = static_cast<int32_t>(Hash(DecodeText(bytes)) & 0x7FFFFFFF);
    FUZZ_CHECK(ParseComponentFileSize(L"S", L" " + IntToStr(n) + L"\t") == n, "a written size does not read back");

    if (Utf16(bytes)) {
        bool refused = false;
        try {
            UpdateManifestFacts(bytes, Probe);
        } catch (const Error&) {
            refused = true;
        }
        FUZZ_CHECK(refused, "a UTF-16 manifest was rewritten");
        return 0;
    }

    const ManifestUpdate up = UpdateManifestFacts(bytes, Probe);
    FUZZ_CHECK(up.changed == (up.text != bytes), "changed does not tell whether the text changed");
    if (up.updated.empty()) FUZZ_CHECK(up.text == bytes, "a manifest with nothing to update was changed");

    const ManifestUpdate again = UpdateManifestFacts(up.text, Probe);
    FUZZ_CHECK(again.text == up.text && !again.changed, "a second rewrite changes the manifest again");

    const VerifyResult verified = VerifyManifestFacts(up.text, Probe);
    for (const auto& f : verified.failures) {
        ReleaseFileFacts facts;
        // Refused, or not in the folder: the rewrite leaves such a section as it was.
        if (f.what == L"FILE_NAME" || !Probe(f.fileName, facts)) continue;
        std::fprintf(stderr, "after the rewrite: %s\n", WideToUtf8(f.Line()).c_str());
        FUZZ_CHECK(false, "the rewritten manifest does not verify");
    }

    const IniDocument doc = IniDocument::FromBytes(up.text);
    for (const auto& s : doc.SectionNames()) CheckFileSize(doc.ReadString(s, L"FILE_SIZE"));
    return 0;
}
