// The status line and the progress bar as the logic sees them.
//
// Both may be called from any thread: the download and command-output
// threads report through them. Window-backed implementations must post the
// update to the window thread, never touch the window from the caller's
// thread. Operations given no status line (nullptr) show nothing.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace tide::platform {

class StatusLine {
public:
    virtual ~StatusLine() = default;
    // Replaces the whole text (shown while the line is in single-text mode).
    virtual void SetText(const std::wstring& text) = 0;
};

class ProgressBar {
public:
    virtual ~ProgressBar() = default;
    virtual void SetMax(int max) = 0;
    virtual void SetPosition(int position) = 0;
};

// Records what arrived, in order; for tests and for headless runs.
class RecordingStatusLine : public StatusLine {
public:
    void SetText(const std::wstring& text) override {
        std::lock_guard<std::mutex> lock(mu_);
        texts_.push_back(text);
    }
    std::vector<std::wstring> Texts() {
        std::lock_guard<std::mutex> lock(mu_);
        return texts_;
    }
    std::wstring Last() {
        std::lock_guard<std::mutex> lock(mu_);
        return texts_.empty() ? std::wstring() : texts_.back();
    }

private:
    std::mutex mu_;
    std::vector<std::wstring> texts_;
};

class RecordingProgressBar : public ProgressBar {
public:
    void SetMax(int max) override {
        std::lock_guard<std::mutex> lock(mu_);
        max_ = max;
    }
    void SetPosition(int position) override {
        std::lock_guard<std::mutex> lock(mu_);
        positions_.push_back(position);
    }
    int Max() {
        std::lock_guard<std::mutex> lock(mu_);
        return max_;
    }
    std::vector<int> Positions() {
        std::lock_guard<std::mutex> lock(mu_);
        return positions_;
    }

private:
    std::mutex mu_;
    int max_ = 0;
    std::vector<int> positions_;
};

}  // namespace tide::platform
