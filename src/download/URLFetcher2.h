// TUrlDownloader: fetches one URL into one local file, with retries, resume
// of a partial file by an HTTP range request, progress on an optional
// progress bar and status line, abort from another thread, and a final MD5
// check.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/progress.h"

namespace tide {

class TUrlDownloader {
public:
    TUrlDownloader();
    explicit TUrlDownloader(const std::wstring& agent);

    // Fetches aUrl into localName. sMD5Sum: expected digest (hex, any case)
    // or empty for no check. size: expected length in bytes, or below 1
    // when unknown. True when the file is complete and, when a digest was
    // given, matches it. Shows its own message boxes ("Error Dowloading" on
    // failure unless SilentFail or AbortFlag; "Notice" on a digest mismatch,
    // always). Throws tide::IoError when the local file cannot be written.
    bool downloadURL(const std::wstring& aUrl, const std::wstring& localName, const std::wstring& sMD5Sum,
                     int32_t size);

    std::wstring AgentName = L"TUrlDownloader";
    platform::ProgressBar* pb = nullptr;   // receives the percentage after every piece
    platform::StatusLine* sb = nullptr;    // receives the status texts
    bool AllowResume = true;
    bool KeepPartialDownload = true;
    int32_t MaximumRetries = 10;
    // Set by another thread to stop the running call; cleared when a call
    // starts.
    std::atomic<bool> AbortFlag{false};
    bool SilentFail = false;
    double UpdateInterval = 10.0;  // seconds between two progress texts

    // Largest piece read from the network at once.
    static constexpr size_t kPieceSize = 256 * 1024;

private:
    struct Attempt;
    uint32_t TransferBody(Attempt& at, int32_t expected);

    uint32_t dwPosition = 0;
};

}  // namespace tide
