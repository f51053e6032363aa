#include "platform/fake/fake_http.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>

#include "base/text.h"

namespace tide::platform::fake {

struct FakeLine {
    std::mutex mu;
    std::condition_variable cv;
    bool aborted = false;
};

namespace {

bool IsAborted(FakeLine& line) {
    std::lock_guard<std::mutex> lock(line.mu);
    return line.aborted;
}

class FakeUrl : public UrlHandle {
public:
    FakeUrl(FakeHttp* owner, std::shared_ptr<FakeLine> line, int status, std::string body)
        : owner_(owner), line_(std::move(line)), status_(status), body_(std::move(body)) {}
    ~FakeUrl() override { owner_->Closed(); }
    int StatusCode() override { return status_; }
    size_t Read(void* buffer, size_t count) override {
        if (IsAborted(*line_)) return 0;
        const size_t allowed = owner_->BytesBeforeHang(pos_);
        if (pos_ < body_.size() && allowed == 0) {
            owner_->Hang(*line_);
            return 0;
        }
        size_t n = std::min({count, body_.size() - pos_, allowed});
        n = owner_->ReadHookAndLimit(count, n);
        std::memcpy(buffer, body_.data() + pos_, n);
        pos_ += n;
        if (n > 0) owner_->ReadHookAndLimit(0, n);
        return n;
    }

private:
    FakeHttp* owner_;
    std::shared_ptr<FakeLine> line_;
    int status_;
    std::string body_;
    size_t pos_ = 0;
};

class FakeSession : public HttpSession {
public:
    FakeSession(FakeHttp* owner, std::wstring agent)
        : owner_(owner), line_(std::make_shared<FakeLine>()), agent_(std::move(agent)) {}
    ~FakeSession() override { owner_->Closed(); }
    std::unique_ptr<UrlHandle> OpenUrl(const std::wstring& url, const std::wstring& headers) override {
        failure_ = HttpFailure::Other;
        if (IsAborted(*line_)) return nullptr;  // nothing goes out any more
        std::unique_ptr<UrlHandle> h = owner_->Open(line_, agent_, url, headers, &failure_);
        if (h) failure_ = HttpFailure::None;
        return h;
    }
    HttpFailure LastFailure() override { return failure_; }
    void Abort() override {
        {
            std::lock_guard<std::mutex> lock(line_->mu);
            if (line_->aborted) return;
            line_->aborted = true;
        }
        line_->cv.notify_all();
        owner_->SessionAborted();
    }

private:
    FakeHttp* owner_;
    std::shared_ptr<FakeLine> line_;
    std::wstring agent_;
    HttpFailure failure_ = HttpFailure::None;
};

// Parses "Range: bytes=A-B" or "Range: bytes=A-"; false for no range.
bool ParseRange(const std::wstring& headers, long long* first, long long* last) {
    size_t p = LowerCase(headers).find(L"range: bytes=");
    if (p == std::wstring::npos) return false;
    std::wstring range = headers.substr(p + 13);
    size_t dash = range.find(L'-');
    if (dash == std::wstring::npos) return false;
    *first = std::stoll(range.substr(0, dash));
    std::wstring rest = Trim(range.substr(dash + 1));
    *last = rest.empty() ? -1 : std::stoll(rest);
    return true;
}

}  // namespace

std::unique_ptr<HttpSession> FakeHttp::OpenSession(const std::wstring& agent, const HttpTimeouts& timeouts) {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(mu_);
        hook = sessionHook_;
    }
    if (hook) hook();
    std::lock_guard<std::mutex> lock(mu_);
    if (failSessions_) return nullptr;
    ++sessions_;
    ++live_;
    timeouts_ = timeouts;
    return std::make_unique<FakeSession>(this, agent);
}

bool FakeHttp::Hang(FakeLine& line) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        ++hanging_;
    }
    bool aborted;
    {
        std::unique_lock<std::mutex> lock(line.mu);
        aborted = line.cv.wait_for(lock, kHangLimit, [&] { return line.aborted; });
    }
    std::lock_guard<std::mutex> lock(mu_);
    --hanging_;
    return aborted;
}

size_t FakeHttp::BytesBeforeHang(size_t delivered) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!hangReads_) return SIZE_MAX;
    return delivered >= hangReadsAfter_ ? 0 : hangReadsAfter_ - delivered;
}

void FakeHttp::SetProxyCredentials(const std::wstring& user, const std::wstring& password) {
    std::lock_guard<std::mutex> lock(mu_);
    proxyUser_ = user;
    proxyPassword_ = password;
}

void FakeHttp::RefuseConnection(const std::wstring& url, HttpFailure why) {
    std::lock_guard<std::mutex> lock(mu_);
    refusals_[url] = why;
}

void FakeHttp::RequireProxyCredentials(const std::wstring& user, const std::wstring& password) {
    std::lock_guard<std::mutex> lock(mu_);
    neededUser_ = user;
    neededPassword_ = password;
}

std::wstring FakeHttp::ProxyUser() {
    std::lock_guard<std::mutex> lock(mu_);
    return proxyUser_;
}

std::wstring FakeHttp::ProxyPassword() {
    std::lock_guard<std::mutex> lock(mu_);
    return proxyPassword_;
}

std::unique_ptr<UrlHandle> FakeHttp::Open(const std::shared_ptr<FakeLine>& line, const std::wstring& agent,
                                          const std::wstring& url, const std::wstring& headers,
                                          HttpFailure* failure) {
    std::unique_lock<std::mutex> lock(mu_);
    requests_.push_back({agent, url, headers});
    auto refused = refusals_.find(url);
    if (refused != refusals_.end()) {
        *failure = refused->second;
        return nullptr;
    }
    if (hangOpens_) {
        lock.unlock();
        Hang(*line);
        return nullptr;
    }
    if (failOpens_ > 0) {
        --failOpens_;
        return nullptr;
    }
    auto it = resources_.find(url);
    int status = 404;
    std::string body = "<html>404 Not Found</html>";
    if (!neededUser_.empty() && (proxyUser_ != neededUser_ || proxyPassword_ != neededPassword_)) {
        status = 407;
        body = "<html>407 Proxy Authentication Required</html>";
    } else if (it != resources_.end()) {
        status = it->second.status;
        body = it->second.body;
        if (corrupt_ && corruptAt_ < body.size()) body[corruptAt_] = static_cast<char>(body[corruptAt_] ^ 0x5A);
        long long first = 0, last = -1;
        if (status == 200 && !ignoreRange_ && ParseRange(headers, &first, &last)) {
            long long len = static_cast<long long>(body.size());
            if (first >= len) {
                status = 416;
                body = "<html>416 Requested Range Not Satisfiable</html>";
            } else {
                long long end = (last < 0 || last >= len) ? len - 1 : last;
                body = body.substr(static_cast<size_t>(first), static_cast<size_t>(end - first + 1));
                status = 206;
            }
        }
    }
    if (dropTimes_ > 0) {
        --dropTimes_;
        if (body.size() > dropBytes_) body.resize(dropBytes_);
    }
    ++live_;
    return std::make_unique<FakeUrl>(this, line, status, std::move(body));
}

size_t FakeHttp::ReadHookAndLimit(size_t asked, size_t delivered) {
    std::function<void(size_t)> hook;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (asked != 0) return pieceLimit_ ? std::min(pieceLimit_, delivered) : delivered;
        hook = hook_;
    }
    if (hook) hook(delivered);
    return delivered;
}

void FakeHttp::Closed() {
    std::lock_guard<std::mutex> lock(mu_);
    --live_;
}

void FakeHttp::SessionAborted() {
    std::lock_guard<std::mutex> lock(mu_);
    ++aborted_;
}

void FakeHttp::SetSessionHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(mu_);
    sessionHook_ = std::move(hook);
}

void FakeHttp::HangOpens(bool hang) {
    std::lock_guard<std::mutex> lock(mu_);
    hangOpens_ = hang;
}

void FakeHttp::HangReadsAfter(size_t bytes) {
    std::lock_guard<std::mutex> lock(mu_);
    hangReads_ = true;
    hangReadsAfter_ = bytes;
}

void FakeHttp::StopHangingReads() {
    std::lock_guard<std::mutex> lock(mu_);
    hangReads_ = false;
}

int FakeHttp::AbortedSessions() {
    std::lock_guard<std::mutex> lock(mu_);
    return aborted_;
}

int FakeHttp::Hanging() {
    std::lock_guard<std::mutex> lock(mu_);
    return hanging_;
}

HttpTimeouts FakeHttp::LastTimeouts() {
    std::lock_guard<std::mutex> lock(mu_);
    return timeouts_;
}

void FakeHttp::Serve(const std::wstring& url, std::string body) {
    std::lock_guard<std::mutex> lock(mu_);
    resources_[url] = Resource{200, std::move(body)};
}

void FakeHttp::ServeStatus(const std::wstring& url, int status, std::string page) {
    std::lock_guard<std::mutex> lock(mu_);
    resources_[url] = Resource{status, std::move(page)};
}

void FakeHttp::FailSessions(bool fail) {
    std::lock_guard<std::mutex> lock(mu_);
    failSessions_ = fail;
}

void FakeHttp::FailOpens(int n) {
    std::lock_guard<std::mutex> lock(mu_);
    failOpens_ = n;
}

void FakeHttp::DropAfter(size_t bytes, int times) {
    std::lock_guard<std::mutex> lock(mu_);
    dropBytes_ = bytes;
    dropTimes_ = times;
}

void FakeHttp::IgnoreRange(bool ignore) {
    std::lock_guard<std::mutex> lock(mu_);
    ignoreRange_ = ignore;
}

void FakeHttp::CorruptAt(size_t offset) {
    std::lock_guard<std::mutex> lock(mu_);
    corrupt_ = true;
    corruptAt_ = offset;
}

void FakeHttp::SetPieceLimit(size_t n) {
    std::lock_guard<std::mutex> lock(mu_);
    pieceLimit_ = n;
}

void FakeHttp::SetReadHook(std::function<void(size_t)> hook) {
    std::lock_guard<std::mutex> lock(mu_);
    hook_ = std::move(hook);
}

std::vector<HttpRequest> FakeHttp::Requests() {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
}

int FakeHttp::Sessions() {
    std::lock_guard<std::mutex> lock(mu_);
    return sessions_;
}

int FakeHttp::LiveHandles() {
    std::lock_guard<std::mutex> lock(mu_);
    return live_;
}

}  // namespace tide::platform::fake

namespace tide::platform {
// Without a test's own FakeHttp, nothing is reachable.
template <>
Http& Port<Http>::Default() {
    static fake::FakeHttp instance;
    return instance;
}
}  // namespace tide::platform
