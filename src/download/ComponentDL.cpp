#include "download/ComponentDL.h"

#include "core/layout.h"
#include "core/manifest.h"
#include "core/servers.h"
#include "core/settings.h"
#include "base/encoding.h"
#include "base/text.h"
#include "core/local_file.h"
#include "download/verification.h"
#include "platform/files.h"
#include "platform/message_box.h"

namespace tide {

TComponentDownloader::TComponentDownloader(bool CreateSuspended)
    : oDL(L"TComponentDownloader"), slDownloaded(std::make_unique<TComponentList>()) {
    if (!CreateSuspended) BeginDownload();
}

TComponentDownloader::~TComponentDownloader() {
    if (thread_.joinable()) {
        AbortDownload();
        thread_.join();
    }
}

void TComponentDownloader::SetComponents(const TComponentList& sl) { aComponents = sl; }

void TComponentDownloader::BeginDownload() {
    if (thread_.joinable() || finished_.load()) return;  // one run per object
    // Say "in progress" before the thread exists, so that a poll right after
    // this call cannot mistake the initial DOWNLOAD_FAILED for the end.
    if (!aComponents.empty()) {
        TDownloadStatus cur = dlStatus.load();
        while (cur != ABORT_PENDING && !dlStatus.compare_exchange_weak(cur, DOWNLOAD_IN_PROGRESS)) {
        }
    }
    thread_ = std::thread([this] { Execute(); });
}

void TComponentDownloader::AbortDownload() {
    // The flag first: from here on every step of the thread sees the abort,
    // the URL downloader included (it reads the flag as its own).
    abortRequested_.store(true);
    // Ends the open or read in progress at once.
    oDL.Abort();
    // Only a run that is going becomes ABORT_PENDING; a final status stays,
    // or the window would wait for an end that already happened.
    TDownloadStatus cur = dlStatus.load();
    while ((cur == DOWNLOAD_IN_PROGRESS || cur == ABORT_PENDING) &&
           !dlStatus.compare_exchange_weak(cur, ABORT_PENDING)) {
    }
}

std::unique_ptr<TComponentList> TComponentDownloader::getDownloadedComponents() {
    if (thread_.joinable()) thread_.join();
    if (!slDownloaded) return std::make_unique<TComponentList>();
    return std::move(slDownloaded);
}

std::wstring TComponentDownloader::FailureMessage() const {
    std::lock_guard<std::mutex> lock(mu_);
    return failure_;
}

bool TComponentDownloader::WaitUntilFinished(std::chrono::milliseconds timeout) {
    if (!thread_.joinable() && !finished_.load()) return true;  // never started
    std::unique_lock<std::mutex> lock(finishedMu_);
    return finishedCv_.wait_for(lock, timeout, [&] { return finished_.load(); });
}

void TComponentDownloader::EnterComponent() {
    TDownloadStatus cur = dlStatus.load();
    while (cur != ABORT_PENDING && !dlStatus.compare_exchange_weak(cur, DOWNLOAD_IN_PROGRESS)) {
    }
}

void TComponentDownloader::Aborted() {
    if (sb) sb->SetText(L"Download aborted");
    dlStatus.store(DOWNLOAD_ABORTED);
}

void TComponentDownloader::Finish(TDownloadStatus status) {
    if (abortRequested_.load()) {
        Aborted();
        return;
    }
    TDownloadStatus cur = dlStatus.load();
    for (;;) {
        if (cur == ABORT_PENDING) {
            Aborted();
            return;
        }
        if (dlStatus.compare_exchange_weak(cur, status)) return;
    }
}

void TComponentDownloader::Fail(const std::wstring& message) {
    // An error that the abort itself brought about (or that came after it)
    // is not news to a user who asked the run to stop.
    if (abortRequested_.load()) return Aborted();
    {
        std::lock_guard<std::mutex> lock(mu_);
        failure_ = message;
    }
    if (sb) sb->SetText(message);
    platform::ShowMessage(message, L"Notice", platform::MbIcon::Error);
    Finish(DOWNLOAD_FAILED);
}

void TComponentDownloader::Execute() {
    try {
        Run();
    } catch (const Error& e) {
        Fail(e.Message());
    } catch (const std::exception& e) {
        Fail(L"The download stopped: " + Utf8ToWide(e.what()));
    }
    {
        std::lock_guard<std::mutex> lock(finishedMu_);
        finished_.store(true);
    }
    finishedCv_.notify_all();
}

void TComponentDownloader::Run() {
    auto& files = platform::Files();
    if (pb) pb->SetMax(100);
    oDL.pb = pb;
    oDL.sb = sb;
    oDL.AgentName = AgentName;
    oDL.OwnerAbort = &abortRequested_;

    bool ok = false;
    for (const std::wstring& name : aComponents) {
        if (abortRequested_.load()) return Aborted();
        EnterComponent();

        // A FILE_NAME with a folder in it is refused here (ManifestError),
        // before anything is joined onto the install directory.
        const std::wstring file = CheckedComponentFileName(name);
        const std::wstring url = ComponentUrl(ManifestValue(L"GENERAL", L"BINARY_BASE"), file);
        const std::wstring destination = InstallDirectory() + file;
        // Read (and check) the expected facts before anything is copied, so a
        // malformed FILE_SIZE stops the component before it touches the disk.
        const std::wstring md5 = ManifestValue(name, L"FILE_MD5SUM");
        const std::wstring sha256 = ManifestValue(name, L"FILE_SHA256");
        const int32_t size = ComponentFileSize(name);

        // Complete on disk only when the size and every digest the manifest
        // gives match; a file of unknown size and a missing one never are.
        ok = ComponentFileComplete(destination, size, md5, sha256);
        if (!ok && !Alt_Path.empty() && files.FileExists(Alt_Path + file)) {
            const std::wstring source = Alt_Path + file;
            // A file there of another size cannot be the component: copying
            // it would only replace a partial download here.
            if (size < 1 || LocalFileSize(source) == static_cast<uint64_t>(size)) {
                if (sb) sb->SetText(L"Copying file " + source + L" to " + destination);
                // A failed or wrong copy is not reported: the component is
                // then downloaded like any other.
                ok = files.Copy(source, destination, false) && ComponentFileComplete(destination, size, md5, sha256);
                if (pb) pb->SetPosition(100);
                if (ok) slDownloaded->push_back(name);
            }
        }
        if (abortRequested_.load()) return Aborted();
        if (ok) continue;  // complete on disk: nothing to fetch

        // What lies here now failed its check. When it is as long as the
        // component or longer it cannot be the beginning of it (a junk or
        // tampered copy, another release's file): it goes, and is never
        // resumed, listed or run. A shorter one is resumed, and the digests
        // judge the whole file at the end.
        if (size >= 1 && LocalFileSize(destination) >= static_cast<uint64_t>(size)) files.RemoveFile(destination);

        // Listed only once the download has succeeded: a failure, an abort
        // or an error raised on the way leaves it out.
        oDL.Sha256 = sha256;
        ok = oDL.downloadURL(url, destination, md5, size);
        if (abortRequested_.load()) return Aborted();
        if (!ok) return Finish(DOWNLOAD_FAILED);
        slDownloaded->push_back(name);
    }
    if (ok)
        Finish(DOWNLOAD_SUCCEEDED);
    else
        Finish(DOWNLOAD_FAILED);
}

}  // namespace tide
