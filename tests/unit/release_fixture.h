// Test scaffolding for the manifest, layout, install-record and component
// download tests: a scripted internet layer that serves byte strings by URL
// (with range requests, failures and a hook inside transfers), and a machine
// with a settings store, an install directory and a release on "the server".
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/manifest.h"
#include "core/settings.h"
#include "core/text.h"
#include "download/md5.h"
#include "platform/fake/fake_files.h"
#include "platform/fake/fake_registry.h"
#include "platform/fake/fake_ui.h"
#include "platform/files.h"
#include "platform/http.h"

namespace tide::testing {

class ScriptedHttp : public platform::Http {
public:
    struct Request {
        std::wstring url;
        std::wstring headers;
        std::wstring agent;
    };

    void Serve(const std::wstring& url, const std::string& body) {
        std::lock_guard<std::mutex> lock(mu_);
        bodies_[url] = body;
    }
    void Remove(const std::wstring& url) {
        std::lock_guard<std::mutex> lock(mu_);
        bodies_.erase(url);
    }
    // Most bytes handed out per read (0: as many as asked).
    void SetPieceLimit(size_t n) { pieceLimit_ = n; }
    // Runs on the reading thread after each piece is handed out, with the
    // URL and the bytes delivered on this request so far.
    void SetOnRead(std::function<void(const std::wstring&, size_t)> f) {
        std::lock_guard<std::mutex> lock(mu_);
        onRead_ = std::move(f);
    }
    std::vector<Request> Requests() {
        std::lock_guard<std::mutex> lock(mu_);
        return requests_;
    }
    int CountFor(const std::wstring& url) {
        int n = 0;
        for (const auto& r : Requests()) n += r.url == url;
        return n;
    }
    size_t BytesDelivered() {
        std::lock_guard<std::mutex> lock(mu_);
        return delivered_;
    }

    std::unique_ptr<platform::HttpSession> OpenSession(const std::wstring& agent) override {
        return std::make_unique<Session>(*this, agent);
    }

private:
    class Handle : public platform::UrlHandle {
    public:
        Handle(ScriptedHttp& owner, std::wstring url, std::string body)
            : owner_(owner), url_(std::move(url)), body_(std::move(body)) {}
        int StatusCode() override { return 200; }
        size_t Read(void* buffer, size_t count) override {
            size_t limit = owner_.pieceLimit_ ? std::min(count, owner_.pieceLimit_) : count;
            size_t n = std::min(limit, body_.size() - pos_);
            std::memcpy(buffer, body_.data() + pos_, n);
            pos_ += n;
            std::function<void(const std::wstring&, size_t)> hook;
            {
                std::lock_guard<std::mutex> lock(owner_.mu_);
                owner_.delivered_ += n;
                hook = owner_.onRead_;
            }
            if (hook && n) hook(url_, pos_);
            return n;
        }

    private:
        ScriptedHttp& owner_;
        std::wstring url_;
        std::string body_;
        size_t pos_ = 0;
    };
    class Session : public platform::HttpSession {
    public:
        Session(ScriptedHttp& owner, std::wstring agent) : owner_(owner), agent_(std::move(agent)) {}
        std::unique_ptr<platform::UrlHandle> OpenUrl(const std::wstring& url, const std::wstring& headers) override {
            std::string body;
            {
                std::lock_guard<std::mutex> lock(owner_.mu_);
                owner_.requests_.push_back({url, headers, agent_});
                auto it = owner_.bodies_.find(url);
                if (it == owner_.bodies_.end()) return nullptr;
                body = it->second;
            }
            // "Range: bytes=N-" or "Range: bytes=N-M": the rest from N on.
            size_t at = headers.find(L"bytes=");
            if (at != std::wstring::npos) {
                size_t from = static_cast<size_t>(std::stoul(headers.substr(at + 6)));
                body = from < body.size() ? body.substr(from) : std::string();
            }
            return std::make_unique<Handle>(owner_, url, body);
        }

    private:
        ScriptedHttp& owner_;
        std::wstring agent_;
    };

    std::mutex mu_;
    std::map<std::wstring, std::string> bodies_;
    std::vector<Request> requests_;
    std::function<void(const std::wstring&, size_t)> onRead_;
    size_t pieceLimit_ = 0;
    size_t delivered_ = 0;
};

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
    ScriptedHttp http;
    platform::ScopedPort<platform::FileSystem> fsPort{fs};
    platform::ScopedPort<platform::Environment> envPort{env};
    platform::ScopedPort<platform::MessageBoxes> boxPort{boxes};
    platform::ScopedPort<platform::Http> httpPort{http};

    FakeMachine() { ResetManifestFetchedForTest(); }
    ~FakeMachine() { ResetManifestFetchedForTest(); }

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
    // Shown boxes with this caption.
    int BoxesCaptioned(const std::wstring& caption) {
        int n = 0;
        for (const auto& b : boxes.Shown()) n += b.caption == caption;
        return n;
    }
};

}  // namespace tide::testing
