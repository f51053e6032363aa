// Modal notices: the message box of the window system.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/port.h"

namespace tide::platform {

enum class MbIcon { None, Warning, Information, Error, Stop };
// OkCancelDefaultCancel: OK and Cancel, Cancel being the default button.
enum class MbButtons { Ok, OkCancel, YesNo, YesNoCancel, OkCancelDefaultCancel };
// Button identifiers as the window system returns them.
enum MbResult : int { kMbFailed = 0, kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Shows a modal box owned by no window (or by the main window when one is
    // registered) and returns the button pressed; kMbFailed when none could
    // be shown.
    virtual int Show(const std::wstring& text, const std::wstring& caption, MbButtons buttons,
                     MbIcon icon) = 0;
};

inline int ShowMessage(const std::wstring& text, const std::wstring& caption,
                       MbIcon icon = MbIcon::None, MbButtons buttons = MbButtons::Ok) {
    return Port<MessageBoxes>::Get().Show(text, caption, buttons, icon);
}

struct ShownBox {
    std::wstring text;
    std::wstring caption;
    MbButtons buttons;
    MbIcon icon;
};

// Records every box instead of showing it; for tests and headless runs.
class RecordingMessageBoxes : public MessageBoxes {
public:
    int Show(const std::wstring& text, const std::wstring& caption, MbButtons buttons, MbIcon icon) override {
        std::lock_guard<std::mutex> lock(mu_);
        shown_.push_back({text, caption, buttons, icon});
        if (!answers_.empty()) {
            int a = answers_.front();
            answers_.pop_front();
            return a;
        }
        return buttons == MbButtons::YesNo || buttons == MbButtons::YesNoCancel ? kIdYes : kIdOk;
    }
    // Answers given to the next boxes, in order; OK (or Yes) when none is
    // queued.
    void QueueAnswer(int button) {
        std::lock_guard<std::mutex> lock(mu_);
        answers_.push_back(button);
    }
    std::vector<ShownBox> Shown() {
        std::lock_guard<std::mutex> lock(mu_);
        return shown_;
    }
    // The boxes shown so far, forgetting them.
    std::vector<ShownBox> Take() {
        std::lock_guard<std::mutex> lock(mu_);
        std::vector<ShownBox> out;
        out.swap(shown_);
        return out;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mu_);
        shown_.clear();
        answers_.clear();
    }

private:
    std::mutex mu_;
    std::vector<ShownBox> shown_;
    std::deque<int> answers_;
};

}  // namespace tide::platform
