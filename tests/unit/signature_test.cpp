// The release manifest's signature: the check itself, and the manifest
// fetch that keeps, refuses or fails a manifest by its signature.
#include <gtest/gtest.h>

#include "base/encoding.h"
#include "core/settings.h"
#include "download/manifest_download.h"
#include "download/signature.h"
#include "release_fixture.h"

using namespace tide;

namespace {

struct KeyPair {
    std::string pub, secret;
    std::vector<uint8_t> key;
    KeyPair() {
        MakeKeyPair(pub, secret);
        ParseHexKey(pub, kPublicKeyBytes, key);
    }
};

std::string Signed(const std::string& message, const KeyPair& k) {
    std::string sig;
    EXPECT_TRUE(SignMessage(message, k.secret, sig));
    return sig;
}

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

const std::string kManifest = "[GENERAL]\r\nBINARY_BASE=http://x/\r\n[TW]\r\nFILE_VERSION=4.2.1\r\n";

}  // namespace

TEST(Signature, KeyFilesAreHexTextOfTheRightLength) {
    KeyPair k;
    EXPECT_EQ(k.pub.size(), 65u);
    EXPECT_EQ(k.secret.size(), 129u);
    EXPECT_EQ(k.pub.back(), '\n');
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(ParseHexKey(k.secret, kSecretKeyBytes, bytes));
    EXPECT_FALSE(ParseHexKey(k.pub, kSecretKeyBytes, bytes)) << "a public key is no secret key";
    std::string sig;
    EXPECT_FALSE(SignMessage(kManifest, k.pub, sig));
}

TEST(Signature, ChecksTheExactBytesWithTheRightKey) {
    KeyPair k, other;
    const std::string good = Signed(kManifest, k);
    std::string changed = kManifest;
    changed[kManifest.find("4.2.1")] = '5';
    std::string flipped = good;
    flipped[10] = flipped[10] == '0' ? '1' : '0';
    struct Row {
        const char* what;
        std::string message, signature;
        std::vector<uint8_t> key;
        SignatureCheck want;
    } rows[] = {
        {"good", kManifest, good, k.key, SignatureCheck::Good},
        {"upper-case digits, CR LF after", kManifest, Upper(good.substr(0, 128)) + "\r\n", k.key, SignatureCheck::Good},
        {"one byte of the manifest changed", changed, good, k.key, SignatureCheck::Mismatch},
        {"one byte more", kManifest + "\n", good, k.key, SignatureCheck::Mismatch},
        {"one digit of the signature changed", kManifest, flipped, k.key, SignatureCheck::Mismatch},
        {"another publisher's key", kManifest, good, other.key, SignatureCheck::Mismatch},
        {"truncated", kManifest, good.substr(0, 100), k.key, SignatureCheck::Malformed},
        {"one digit short", kManifest, good.substr(0, 127), k.key, SignatureCheck::Malformed},
        {"garbled", kManifest, "zz" + good.substr(2), k.key, SignatureCheck::Malformed},
        {"an HTML error page", kManifest, "<html><body>Not Found</body></html>", k.key, SignatureCheck::Malformed},
        {"empty", kManifest, "", k.key, SignatureCheck::Malformed},
        {"two signatures", kManifest, good + good, k.key, SignatureCheck::Malformed},
    };
    for (const Row& r : rows) EXPECT_EQ(CheckSignature(r.message, r.signature, r.key), r.want) << r.what;
}

// The fetch: the manifest becomes the local copy only with a good signature.
class SignedFetchTest : public ::testing::Test {
protected:
    void SetUp() override {
        SaveInstallDirectory(L"C:\\Apps\\Tidewell\\");
        m.MakeDirs(L"C:\\Apps\\Tidewell");
    }
    tide::testing::FakeMachine m;
    const std::wstring kUrl = L"http://127.0.0.1:9/rel/downloader.ini";
    const std::wstring kLocal = L"C:\\Apps\\Tidewell\\downloader.ini";
};

TEST_F(SignedFetchTest, KeepsRefusesOrFailsByTheSignature) {
    enum Outcome { Kept, Refused, Failed };
    KeyPair other;
    struct Row {
        const char* what;
        bool required;
        std::function<void(tide::testing::FakeMachine&, const std::wstring&)> serve;
        Outcome want;
        std::wstring message;  // of a refusal
    } rows[] = {
        {"signed", true, [](auto& m, auto& u) { m.ServeManifest(u, kManifest); }, Kept, L""},
        {"changed after signing", true,
         [](auto& m, auto& u) {
             m.ServeManifest(u, kManifest);
             m.http.Serve(u, kManifest + "[EVIL]\r\n");
         },
         Refused, SignatureMismatchMessage(kUrl)},
        {"signed by another key", true,
         [&](auto& m, auto& u) {
             m.http.Serve(u, kManifest);
             m.http.Serve(u + L".sig", Signed(kManifest, other));
         },
         Refused, SignatureMismatchMessage(kUrl)},
        {"no signature", true, [](auto& m, auto& u) { m.http.Serve(u, kManifest); }, Refused,
         SignatureMissingMessage(kUrl)},
        {"garbled signature", true,
         [](auto& m, auto& u) {
             m.http.Serve(u, kManifest);
             m.http.Serve(u + L".sig", "not a signature\n");
         },
         Refused, SignatureMalformedMessage(kUrl)},
        {"no signature, none required", false, [](auto& m, auto& u) { m.http.Serve(u, kManifest); }, Kept, L""},
        {"a bad one, none required", false,
         [&](auto& m, auto& u) {
             m.http.Serve(u, kManifest);
             m.http.Serve(u + L".sig", Signed(kManifest, other));
         },
         Refused, SignatureMismatchMessage(kUrl)},
        {"signature server error", true,
         [](auto& m, auto& u) {
             m.http.Serve(u, kManifest);
             m.http.ServeStatus(u + L".sig", 503, "busy");
         },
         Failed, L""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        tide::testing::FakeMachine fresh;
        SaveInstallDirectory(L"C:\\Apps\\Tidewell\\");
        fresh.MakeDirs(L"C:\\Apps\\Tidewell");
        fresh.WriteFile(kLocal, "[TW]\r\nFILE_VERSION=1.0\r\n");  // an earlier copy
        r.serve(fresh, kUrl);
        std::vector<uint8_t> key;
        ParseHexKey(fresh.publicKeyText, kPublicKeyBytes, key);
        TManifestDownload fetch(key, r.required);
        Outcome got = Failed;
        std::wstring message;
        try {
            std::string accepted;
            got = fetch.Fetch(kUrl, kLocal, accepted) ? Kept : Failed;
            if (got == Kept) {
                EXPECT_EQ(accepted, kManifest);
            }
        } catch (const ManifestRefused& e) {
            got = Refused;
            message = e.Message();
        }
        EXPECT_EQ(got, r.want);
        EXPECT_EQ(message, r.message);
        // Refused or failed: the earlier copy stays as it was.
        EXPECT_EQ(fresh.ReadFile(kLocal), r.want == Kept ? kManifest : "[TW]\r\nFILE_VERSION=1.0\r\n");
        EXPECT_FALSE(platform::Files().FileExists(kLocal + L".new"));
        EXPECT_EQ(fresh.CountFor(kUrl + L".sig"), r.want == Failed ? 3 : 1);
    }
}

TEST_F(SignedFetchTest, ARefusalEndsTheLookupWithTheMessageAndNoNetworkFailureAdvice) {
    m.http.Serve(kUrl, kManifest);
    m.Args({L"/i", kUrl});
    try {
        ManifestValue(L"TW", L"FILE_VERSION");
        ADD_FAILURE() << "no refusal";
    } catch (const ManifestRefused& e) {
        EXPECT_NE(e.Message().find(L"The release manifest " + kUrl + L" was refused: it has no signature"),
                  std::wstring::npos)
            << WideToUtf8(e.Message());
    }
    EXPECT_TRUE(m.boxes.Shown().empty()) << "the program's last handler shows it";
    EXPECT_EQ(m.ReadFile(kLocal), "");
}

// The release serial: an older release, signed as it was, is refused once a
// newer one was accepted here; only a signed serial raises the mark.
TEST_F(SignedFetchTest, AnOlderReleaseIsRefusedNamingBothSerials) {
    struct Row {
        const char* what;
        const wchar_t* stored;  // "ReleaseSerial" before the fetch
        std::string general;    // lines of [GENERAL] beyond BINARY_BASE
        bool sign;
        bool kept;
        std::wstring message;
        const wchar_t* after;  // "ReleaseSerial" after it
    } rows[] = {
        {"first release, no serial", L"", "", true, true, L"", L""},
        {"first release with one", L"", "RELEASE_SERIAL=5\r\n", true, true, L"", L"5"},
        {"the same again", L"5", "RELEASE_SERIAL= 5 \r\n", true, true, L"", L"5"},
        {"a newer one", L"5", "RELEASE_SERIAL=12\r\n", true, true, L"", L"12"},
        {"an older one", L"12", "RELEASE_SERIAL=5\r\n", true, false, ReleaseSerialOlderMessage(kUrl, 5, 12), L"12"},
        {"none once one is stored", L"12", "", true, false, ReleaseSerialMissingMessage(kUrl, 12), L"12"},
        {"not a number", L"", "RELEASE_SERIAL=7a\r\n", true, false, ReleaseSerialMalformedMessage(kUrl, L"7a"), L""},
        {"unsigned: never raises the mark", L"", "RELEASE_SERIAL=99\r\n", false, true, L"", L""},
        {"unsigned and older", L"12", "RELEASE_SERIAL=5\r\n", false, false, ReleaseSerialOlderMessage(kUrl, 5, 12), L"12"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        tide::testing::FakeMachine fresh;
        SaveInstallDirectory(L"C:\\Apps\\Tidewell\\");
        fresh.MakeDirs(L"C:\\Apps\\Tidewell");
        if (*r.stored) WriteSetting(kReleaseSerialSetting, r.stored);
        const std::string text = "[GENERAL]\r\nBINARY_BASE=http://x/\r\n" + r.general + "[TW]\r\nFILE_VERSION=4.2.1\r\n";
        if (r.sign)
            fresh.ServeManifest(kUrl, text);
        else
            fresh.http.Serve(kUrl, text);
        std::vector<uint8_t> key;
        ParseHexKey(fresh.publicKeyText, kPublicKeyBytes, key);
        TManifestDownload fetch(key, r.sign);
        std::string accepted;
        std::wstring message;
        bool kept = false;
        try {
            kept = fetch.Fetch(kUrl, kLocal, accepted);
        } catch (const ManifestRefused& e) {
            message = e.Message();
        }
        EXPECT_EQ(kept, r.kept);
        EXPECT_EQ(message, r.message);
        EXPECT_EQ(ReadSetting(kReleaseSerialSetting), r.after);
    }
    EXPECT_NE(ReleaseSerialOlderMessage(kUrl, 5, 12).find(L"release 5, older than release 12"), std::wstring::npos);
}

TEST_F(SignedFetchTest, SignedReleaseMustBindEveryComponentBySha256AndStayUnder1MiB) {
    enum Outcome { Kept, Refused, Failed };
    const std::string sha(64, 'a');
    const std::string unzip = "[UNZIP]\r\nFILE_NAME=UNZIP.EXE\r\nFILE_SIZE=3\r\nFILE_MD5SUM=900150983CD24FB0D6963F7D28E17F72\r\n";
    const std::string tw = "[TOMCAT]\r\nFILE_NAME=tomcat.zip\r\nFILE_SIZE=3\r\nFILE_MD5SUM=900150983CD24FB0D6963F7D28E17F72\r\n";
    const std::string padded = kManifest + "; " + std::string(1024 * 1024, 'p') + "\r\n";
    struct Row {
        const char* what;
        std::string manifest;
        bool shaRequired;
        Outcome want;
        std::wstring message;
    } rows[] = {
        {"every component with FILE_SHA256", kManifest + unzip + "FILE_SHA256=" + sha + "\r\n" + tw +
                                                 "FILE_SHA256=" + sha + "\r\n",
         true, Kept, L""},
        {"MD5 alone", kManifest + unzip + tw + "FILE_SHA256=" + sha + "\r\n", true, Refused,
         Sha256MissingMessage(kUrl, {L"[UNZIP] UNZIP.EXE"})},
        {"a FILE_SHA256 that is no digest", kManifest + unzip + "FILE_SHA256=abc\r\n" + tw, true, Refused,
         Sha256MissingMessage(kUrl, {L"[UNZIP] UNZIP.EXE", L"[TOMCAT] tomcat.zip"})},
        {"MD5 alone, SHA-256 not required", kManifest + unzip, false, Kept, L""},
        {"signed, but longer than 1 MiB", padded, false, Failed, L""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        tide::testing::FakeMachine fresh;
        SaveInstallDirectory(L"C:\\Apps\\Tidewell\\");
        fresh.MakeDirs(L"C:\\Apps\\Tidewell");
        fresh.ServeManifest(kUrl, r.manifest);
        std::vector<uint8_t> key;
        ParseHexKey(fresh.publicKeyText, kPublicKeyBytes, key);
        TManifestDownload fetch(key, true, r.shaRequired);
        Outcome got = Failed;
        std::string accepted;
        std::wstring message;
        try {
            got = fetch.Fetch(kUrl, kLocal, accepted) ? Kept : Failed;
        } catch (const ManifestRefused& e) {
            got = Refused;
            message = e.Message();
        }
        EXPECT_EQ(got, r.want);
        EXPECT_EQ(message, r.message);
        EXPECT_EQ(platform::Files().FileExists(kLocal), r.want == Kept);
        EXPECT_FALSE(platform::Files().FileExists(kLocal + L".new"));
        EXPECT_EQ(fresh.http.Requests().size(), r.want == Failed ? 1u : 2u) << "nothing else is fetched";
    }
}
