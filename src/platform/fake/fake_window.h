// Native stand-in for the window system: frames and controls are records
// that tests read; clicks, timer ticks and wakes are delivered by the test.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/window.h"

namespace tide::platform::fake {

struct FakeControl {
    ControlLayout layout;  // text, rect, font, visible, enabled as last set
    bool checked = false;
    Bitmap picture;
    int progressMax = 100;
    int progressPosition = 0;
    int textsSet = 0;  // SetText calls
};

struct FakeFrame {
    FrameLayout layout;
    WindowEvents* events = nullptr;
    int dpi = 96;
    bool shown = false;
    bool closed = false;     // Close or Destroy
    int focus = 0;
    std::vector<FakeControl> controls;  // in the order they were added
    std::map<int, int> timers;          // running timers: id -> interval
    int wakes = 0;
};

class FakeWindowSystem : public WindowSystem {
public:
    FrameHandle CreateFrame(const FrameLayout& layout, WindowEvents* events) override;
    int Dpi(FrameHandle frame) override;
    void SetClientSize(FrameHandle frame, int width, int height) override;
    void Show(FrameHandle frame) override;
    void Close(FrameHandle frame) override;
    void Destroy(FrameHandle frame) override;
    uintptr_t NativeHandle(FrameHandle frame) override { return frame; }
    // Text width: half the font height per character ("&" takes none;
    // see SetCharWidthEighths);
    // height: the font height and a quarter.
    void MeasureText(FrameHandle frame, const std::wstring& text, const FontChoice& font, int& width,
                     int& height) override;
    void AddControl(FrameHandle frame, const ControlLayout& layout) override;
    void SetText(FrameHandle frame, int id, const std::wstring& text) override;
    std::wstring Text(FrameHandle frame, int id) override;
    void SetRect(FrameHandle frame, int id, const PixelRect& rect) override;
    void SetFont(FrameHandle frame, int id, const FontChoice& font) override;
    void SetVisible(FrameHandle frame, int id, bool visible) override;
    void SetEnabled(FrameHandle frame, int id, bool enabled) override;
    void SetChecked(FrameHandle frame, int id, bool checked) override;
    void SetFocus(FrameHandle frame, int id) override;
    int Focused(FrameHandle frame) override;
    void SetPicture(FrameHandle frame, int id, const Bitmap& bitmap) override;
    void SetProgressMax(FrameHandle frame, int id, int max) override;
    void SetProgressPosition(FrameHandle frame, int id, int position) override;
    void StartTimer(FrameHandle frame, int timerId, int intervalMs) override;
    void StopTimer(FrameHandle frame, int timerId) override;
    void Wake(FrameHandle frame) override;
    std::optional<std::wstring> BrowseForFolder(FrameHandle frame, const std::wstring& startPath) override;
    std::wstring ProgramFilesFolder(FrameHandle frame) override;
    std::vector<uint8_t> ResourceData(int id) override;

    // Set-up.
    void SetDpi(int dpi) { dpi_ = dpi; }
    // Text measures this many eighths of the font height a character
    // (default 4: half the height), for fonts that run wider.
    void SetCharWidthEighths(int eighths) { charEighths_ = eighths; }
    void SetCreateFails(bool fails) { createFails_ = fails; }
    void SetProgramFilesFolder(const std::wstring& dir) { programFiles_ = dir; }
    // The answer of the next folder browser (nothing: cancelled).
    void SetBrowseAnswer(std::optional<std::wstring> answer) { browseAnswer_ = std::move(answer); }
    void SetResource(int id, std::vector<uint8_t> bytes) { resources_[id] = std::move(bytes); }

    // What happened. Frames are numbered from 1.
    FakeFrame& Frame(FrameHandle frame);
    FakeControl& Control(FrameHandle frame, int id);
    std::vector<std::wstring> BrowseStarts() const { return browseStarts_; }
    int ProgramFilesQueries() const { return programFilesQueries_; }

    // A person's actions, delivered as the window system would.
    void Click(FrameHandle frame, int id);  // ignored when hidden or disabled, like a click on screen
    // Wakes the frame when something was posted since the last delivery.
    void DeliverWakes(FrameHandle frame);
    void Tick(FrameHandle frame, int timerId);  // one tick of a running timer
    void ChangeDpi(FrameHandle frame, int dpi);

private:
    std::mutex mu_;  // Wake comes from other threads
    std::map<FrameHandle, FakeFrame> frames_;
    FrameHandle next_ = 1;
    int dpi_ = 96;
    int charEighths_ = 4;
    bool createFails_ = false;
    std::wstring programFiles_ = L"C:\\Program Files (x86)";
    std::optional<std::wstring> browseAnswer_;
    std::vector<std::wstring> browseStarts_;
    int programFilesQueries_ = 0;
    std::map<int, std::vector<uint8_t>> resources_;
    std::map<FrameHandle, int> delivered_;
};

}  // namespace tide::platform::fake
