// The component downloader: fetches the components of an installation on a
// thread of its own while the window stays responsive.
//
// The window creates it, sets AgentName, Alt_Path, pb and sb, hands it the
// component list, calls BeginDownload and then polls Status() until it is
// neither DOWNLOAD_IN_PROGRESS nor ABORT_PENDING; then it takes the list of
// components obtained in this run with getDownloadedComponents().
//
// For each component (a manifest section) the file FILE_NAME is skipped
// when the install directory already holds it complete (FILE_SIZE bytes
// whose FILE_MD5SUM, and FILE_SHA256 where given, match), copied from
// Alt_Path when a file of that size lies there and the copy proves
// complete, and otherwise downloaded from BINARY_BASE + FILE_NAME with
// resume and the same digest checks. A file that fails its check and is not
// shorter than the component is deleted before the download. A component
// is listed as obtained only once it is complete. The first failure ends
// the run.
//
// Aborts: AbortDownload may come at any moment, from any thread. It is kept
// in a flag of this object that only ever goes from false to true and that
// the URL downloader reads as its own, so an abort that arrives between two
// components, while a file is copied or its size compared, or before the
// URL downloader has opened its session, is acted on at the next step; an
// open or read in progress returns at once. The run ends in
// DOWNLOAD_ABORTED without a failure message, and the partial file stays
// for a later resume.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "download/URLFetcher2.h"
#include "platform/progress.h"

namespace tide {

enum TDownloadStatus {
    DOWNLOAD_IN_PROGRESS,
    DOWNLOAD_SUCCEEDED,
    DOWNLOAD_FAILED,
    ABORT_PENDING,
    DOWNLOAD_ABORTED,
};

using TComponentList = std::vector<std::wstring>;

class TComponentDownloader {
public:
    // With CreateSuspended false the thread starts at once (with whatever
    // list and settings it has then, i.e. none: the run fails at once).
    explicit TComponentDownloader(bool CreateSuspended = true);
    // Aborts a run that is still going and waits for the thread to end.
    ~TComponentDownloader();
    TComponentDownloader(const TComponentDownloader&) = delete;
    TComponentDownloader& operator=(const TComponentDownloader&) = delete;

    // Set before BeginDownload.
    std::wstring AgentName = L"TComponentDownloader";
    // Folder prefix (ending in "\") where component files may already lie.
    std::wstring Alt_Path;
    platform::ProgressBar* pb = nullptr;
    platform::StatusLine* sb = nullptr;

    // Copies the names; the list itself is not kept.
    void SetComponents(const TComponentList& sl);
    // Starts the thread. From here until the thread ends the status is
    // DOWNLOAD_IN_PROGRESS or ABORT_PENDING, unless the list is empty (the
    // status then stays DOWNLOAD_FAILED).
    void BeginDownload();
    // Asks the run to stop; returns at once. The status becomes
    // ABORT_PENDING while the run is going; a run that has already ended
    // keeps its final status.
    void AbortDownload();
    TDownloadStatus Status() const { return dlStatus.load(); }

    // The names of the components fetched or copied in this run, in list
    // order. Ownership passes to the caller; a second call gets an empty
    // list. Waits for the thread to end (call it once Status() says the run
    // is over).
    std::unique_ptr<TComponentList> getDownloadedComponents();

    // Why the run failed when the manifest itself was at fault (a malformed
    // FILE_SIZE, a FILE_NAME with a folder in it); empty otherwise.
    std::wstring FailureMessage() const;

    // Waits until the run is over (woken by the thread's end, no polling);
    // false on timeout.
    bool WaitUntilFinished(std::chrono::milliseconds timeout);

private:
    void Execute();
    void Run();
    // Status changes made by the thread; none of them hides a pending abort.
    void EnterComponent();
    void Finish(TDownloadStatus status);
    void Aborted();
    void Fail(const std::wstring& message);

    TComponentList aComponents;
    std::atomic<TDownloadStatus> dlStatus{DOWNLOAD_FAILED};
    std::atomic<bool> abortRequested_{false};
    std::atomic<bool> finished_{false};
    std::mutex finishedMu_;
    std::condition_variable finishedCv_;
    TUrlDownloader oDL;
    std::unique_ptr<TComponentList> slDownloaded;
    mutable std::mutex mu_;
    std::wstring failure_;
    std::thread thread_;
};

}  // namespace tide
