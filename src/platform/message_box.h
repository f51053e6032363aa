// Modal notices: the message box of the window system.
#pragma once

#include <string>

#include "platform/port.h"

namespace tide::platform {

enum class MbIcon { None, Warning, Information, Error, Stop };
enum class MbButtons { Ok, OkCancel, YesNo, YesNoCancel };
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

}  // namespace tide::platform
