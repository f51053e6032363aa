// Test scaffolding for the manifest, layout, install-record and component
// download tests: one machine of fakes (files, registry, command line,
// message boxes, internet) with helpers to look at what happened.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/manifest.h"
#include "core/settings.h"
#include "base/encoding.h"
#include "base/text.h"
#include "download/manifest_download.h"
#include "download/md5.h"
#include "download/signature.h"
#include "platform/fake/fake_files.h"
#include "platform/fake/fake_http.h"
#include "platform/fake/fake_registry.h"
#include "platform/fake/fake_ui.h"
#include "platform/files.h"
#include "platform/http.h"

namespace tide::testing {

inline std::wstring Md5Hex(const std::string& bytes) {
    Md5State st;
    Md5Start(st);
    Md5Feed(st, bytes.data(), static_cast<uint32_t>(bytes.size()));
    return DigestToHex(Md5Finish(st));
}

inline std::string Pattern(size_t n, char seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + (i * 7) % 23);
    return s;
}

// One machine: files, registry (64-bit Windows, 32-bit process), command
// line, message boxes and internet, all fakes, installed for the scope.
struct FakeMachine {
    platform::fake::TempFileSystem fs;
    platform::fake::ScopedFakeMachine machine;
    platform::fake::FakeEnvironment env;
    platform::fake::RecordingMessageBoxes boxes;
    platform::fake::FakeHttp http;
    platform::ScopedPort<platform::FileSystem> fsPort{fs};
    platform::ScopedPort<platform::Environment> envPort{env};
    platform::ScopedPort<platform::MessageBoxes> boxPort{boxes};
    platform::ScopedPort<platform::Http> httpPort{http};
    // The publisher's key pair of this machine; the fetcher requires its
    // signature, as the product does.
    std::string publicKeyText, secretKeyText;
    std::unique_ptr<TManifestDownload> fetcher;

private:
    std::atomic<size_t> answerIndex_{0}, answerBytes_{0}, delivered_{0};

public:

    FakeMachine() {
        ResetManifestFetchedForTest();
        MakeKeyPair(publicKeyText, secretKeyText);
        std::vector<uint8_t> key;
        ParseHexKey(publicKeyText, kPublicKeyBytes, key);
        fetcher = std::make_unique<TManifestDownload>(key, true);
        SetManifestFetcher(fetcher.get());
        OnRead(nullptr);
    }
    ~FakeMachine() {
        SetManifestFetcher(nullptr);
        ResetManifestFetchedForTest();
    }

    // Serves a release manifest and its signature (url + ".sig").
    void ServeManifest(const std::wstring& url, const std::string& text) {
        std::string sig;
        SignMessage(text, secretKeyText, sig);
        http.Serve(url, text);
        http.Serve(url + L".sig", sig);
    }

    // The file helpers go through the current file-system port (a test may
    // install its own on top of fs).
    void WriteFile(const std::wstring& path, const std::string& bytes) {
        auto f = platform::Files().Open(path, platform::OpenMode::CreateAlways, platform::Share::None);
        if (!f) throw IoError(L"cannot create " + path);
        f->Write(bytes.data(), bytes.size());
    }
    bool ReadFile(const std::wstring& path, std::string& bytes) {
        auto f = platform::Files().Open(path, platform::OpenMode::ReadExisting, platform::Share::Read);
        if (!f) return false;
        bytes.assign(static_cast<size_t>(f->Size()), '\0');
        size_t n = bytes.empty() ? 0 : f->Read(&bytes[0], bytes.size());
        bytes.resize(n);
        return true;
    }
    std::string ReadFile(const std::wstring& path) {
        std::string s;
        ReadFile(path, s);
        return s;
    }
    void MakeDirs(const std::wstring& dir) {
        std::wstring acc;
        size_t i = 0;
        while (i <= dir.size()) {
            size_t j = dir.find(L'\\', i);
            if (j == std::wstring::npos) j = dir.size();
            acc = dir.substr(0, j);
            if (acc.size() > 2 && !platform::Files().DirectoryExists(acc)) platform::Files().MakeDirectory(acc);
            i = j + 1;
        }
    }
    void Args(std::vector<std::wstring> rest) {
        rest.insert(rest.begin(), L"C:\\Downloads\\Tidestart.exe");
        env.SetArguments(rest);
    }
    // Calls f with the URL being read and the bytes of this answer so far,
    // after every read (on the reading thread); nullptr to stop.
    void OnRead(std::function<void(const std::wstring&, size_t)> f) {
        http.SetReadHook([this, f](size_t n) {
            auto reqs = http.Requests();
            if (reqs.size() != answerIndex_) {
                answerIndex_ = reqs.size();
                answerBytes_ = 0;
            }
            answerBytes_ += n;
            delivered_ += n;
            if (f) f(reqs.back().url, answerBytes_);
        });
    }
    size_t BytesDelivered() { return delivered_; }
    int CountFor(const std::wstring& url) {
        int n = 0;
        for (const auto& r : http.Requests()) n += r.url == url;
        return n;
    }
    // Shown boxes with this caption.
    int BoxesCaptioned(const std::wstring& caption) {
        int n = 0;
        for (const auto& b : boxes.Shown()) n += b.caption == caption;
        return n;
    }
};

}  // namespace tide::testing
