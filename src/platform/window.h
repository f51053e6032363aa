// The window system as the main window's logic sees it: one top-level frame
// with child controls, timers, the folder browser and the program's own
// resources.
//
// The logic decides everything (which controls, where, which font, what a
// click does); the adapter only creates and changes the native objects and
// passes the window's events back through WindowEvents. Positions and font
// heights given here are device pixels: the logic has already scaled them
// for the frame's DPI.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/port.h"

namespace tide::platform {

// An opaque handle of one frame (the native window handle on Windows).
using FrameHandle = uintptr_t;

enum class ControlKind {
    Picture,      // a bitmap, drawn at its own size
    Label,        // one line of static text
    LinkLabel,    // a label drawn in the link colour, hand cursor, clickable
    Edit,         // one-line edit field
    Button,       // push button (never the default button)
    RadioButton,  // radio button; the logic checks and unchecks it
    ProgressBar,
    StatusBar,    // one simple text panel
    GroupBox,     // frame without caption
};

struct PixelRect {
    int left = 0, top = 0, width = 0, height = 0;
};

struct FontChoice {
    std::wstring face;
    int pixelHeight = 0;  // character height in device pixels
    bool bold = false;
    bool underline = false;
};

struct ControlLayout {
    int id = 0;  // unique in its frame; 2 is the control that Escape presses
    ControlKind kind = ControlKind::Label;
    std::wstring text;
    PixelRect rect;  // in the frame's client area
    FontChoice font;
    // Text colour as 0xRRGGBB; -1 for the system's colour of the kind.
    int32_t textRgb = -1;
    bool visible = true;
    bool enabled = true;
    bool tabStop = false;  // reached by Tab, in the order the controls were added
};

struct FrameLayout {
    std::wstring caption;
    int clientWidth = 0, clientHeight = 0;  // device pixels
    int iconResource = 0;                   // icon of the program's own resources, 0 for none
};

// 32-bit pixels, top row first, each byte order blue, green, red, unused.
struct Bitmap {
    int width = 0, height = 0;
    std::vector<uint8_t> bgrx;
};

// What the frame reports. Every call comes on the window thread, from inside
// the window system's own frames: implementations must not let an error
// escape (RunHandler).
class WindowEvents {
public:
    virtual ~WindowEvents() = default;
    // A button, radio button or link label was clicked (also by Space, by
    // its accelerator letter, or by Escape for control 2).
    virtual void OnClick(int controlId) = 0;
    // Alt with a letter: true when the logic acted on it (or swallows it).
    virtual bool OnAccelerator(wchar_t letter) = 0;
    virtual void OnTimer(int timerId) = 0;
    // Something was posted with Wake (from any thread).
    virtual void OnWake() = 0;
    // The frame moved to a monitor of another DPI; its client area is
    // already resized to the scaled size.
    virtual void OnDpiChanged(int dpi) = 0;
    // The frame is gone (closed by the user or by Close).
    virtual void OnDestroyed() = 0;
};

class WindowSystem {
public:
    virtual ~WindowSystem() = default;
    // Creates the frame hidden; 0 when it cannot be created (no display).
    // events must outlive the frame.
    virtual FrameHandle CreateFrame(const FrameLayout& layout, WindowEvents* events) = 0;
    // Dots per inch of the monitor the frame is on (96 when unknown).
    virtual int Dpi(FrameHandle frame) = 0;
    // Resizes the client area (device pixels), keeping the frame centred
    // where it was.
    virtual void SetClientSize(FrameHandle frame, int width, int height) = 0;
    // Shows the frame centred on its monitor and activates it.
    virtual void Show(FrameHandle frame) = 0;
    // Destroys the frame when control returns to the message loop.
    virtual void Close(FrameHandle frame) = 0;
    // Destroys the frame at once (no events are reported any more).
    virtual void Destroy(FrameHandle frame) = 0;
    // The native window handle of the frame (owner of message boxes).
    virtual uintptr_t NativeHandle(FrameHandle frame) = 0;

    // Size of text in a font, as a label shows it ("&" marks the underlined
    // letter and takes no room).
    virtual void MeasureText(FrameHandle frame, const std::wstring& text, const FontChoice& font, int& width,
                             int& height) = 0;

    virtual void AddControl(FrameHandle frame, const ControlLayout& layout) = 0;
    virtual void SetText(FrameHandle frame, int id, const std::wstring& text) = 0;
    virtual std::wstring Text(FrameHandle frame, int id) = 0;
    virtual void SetRect(FrameHandle frame, int id, const PixelRect& rect) = 0;
    virtual void SetFont(FrameHandle frame, int id, const FontChoice& font) = 0;
    virtual void SetVisible(FrameHandle frame, int id, bool visible) = 0;
    virtual void SetEnabled(FrameHandle frame, int id, bool enabled) = 0;
    virtual void SetChecked(FrameHandle frame, int id, bool checked) = 0;
    virtual void SetFocus(FrameHandle frame, int id) = 0;
    // The control with the keyboard focus; 0 for none.
    virtual int Focused(FrameHandle frame) = 0;
    virtual void SetPicture(FrameHandle frame, int id, const Bitmap& bitmap) = 0;
    virtual void SetProgressMax(FrameHandle frame, int id, int max) = 0;
    virtual void SetProgressPosition(FrameHandle frame, int id, int position) = 0;

    // Starts (or restarts) a repeating timer; OnTimer reports each tick.
    virtual void StartTimer(FrameHandle frame, int timerId, int intervalMs) = 0;
    virtual void StopTimer(FrameHandle frame, int timerId) = 0;
    // Makes OnWake run on the window thread soon. Any thread may call it;
    // a frame already gone ignores it.
    virtual void Wake(FrameHandle frame) = 0;

    // The shell's folder browser owned by the frame, starting at startPath
    // when it names an existing folder (none otherwise). The chosen folder's
    // path, or nothing when the user cancelled.
    virtual std::optional<std::wstring> BrowseForFolder(FrameHandle frame, const std::wstring& startPath) = 0;
    // The shell's Program Files folder (SHGetSpecialFolderPathW with
    // CSIDL_PROGRAM_FILES, the frame as owner, no creation); empty on failure.
    virtual std::wstring ProgramFilesFolder(FrameHandle frame) = 0;
    // The bytes of an RCDATA resource of the program; empty when missing.
    virtual std::vector<uint8_t> ResourceData(int id) = 0;
};

inline WindowSystem& Windows() { return Port<WindowSystem>::Get(); }

}  // namespace tide::platform
