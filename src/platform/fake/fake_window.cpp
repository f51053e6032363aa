#include "platform/fake/fake_window.h"

#include <stdexcept>

namespace tide::platform::fake {

FrameHandle FakeWindowSystem::CreateFrame(const FrameLayout& layout, WindowEvents* events) {
    if (createFails_) return 0;
    FrameHandle h = next_++;
    FakeFrame& f = frames_[h];
    f.layout = layout;
    f.events = events;
    f.dpi = dpi_;
    return h;
}

FakeFrame& FakeWindowSystem::Frame(FrameHandle frame) {
    auto it = frames_.find(frame);
    if (it == frames_.end()) throw std::logic_error("no such frame");
    return it->second;
}

FakeControl& FakeWindowSystem::Control(FrameHandle frame, int id) {
    for (FakeControl& c : Frame(frame).controls)
        if (c.layout.id == id) return c;
    throw std::logic_error("no such control");
}

int FakeWindowSystem::Dpi(FrameHandle frame) { return Frame(frame).dpi; }

void FakeWindowSystem::SetClientSize(FrameHandle frame, int width, int height) {
    Frame(frame).layout.clientWidth = width;
    Frame(frame).layout.clientHeight = height;
}

void FakeWindowSystem::Show(FrameHandle frame) { Frame(frame).shown = true; }

void FakeWindowSystem::Close(FrameHandle frame) {
    FakeFrame& f = Frame(frame);
    if (f.closed) return;
    f.closed = true;
    f.shown = false;
    f.timers.clear();
    if (f.events) f.events->OnDestroyed();
}

void FakeWindowSystem::Destroy(FrameHandle frame) {
    FakeFrame& f = Frame(frame);
    f.closed = true;
    f.shown = false;
    f.timers.clear();
}

void FakeWindowSystem::MeasureText(FrameHandle, const std::wstring& text, const FontChoice& font, int& width,
                                   int& height) {
    int chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'&' && i + 1 < text.size() && text[i + 1] != L'&') continue;
        ++chars;
    }
    width = chars * font.pixelHeight * charEighths_ / 8;
    height = font.pixelHeight + font.pixelHeight / 4;
}

void FakeWindowSystem::AddControl(FrameHandle frame, const ControlLayout& layout) {
    FakeFrame& f = Frame(frame);
    for (const FakeControl& c : f.controls)
        if (c.layout.id == layout.id) throw std::logic_error("control added twice");
    FakeControl c;
    c.layout = layout;
    f.controls.push_back(c);
}

void FakeWindowSystem::SetText(FrameHandle frame, int id, const std::wstring& text) {
    Control(frame, id).layout.text = text;
    ++Control(frame, id).textsSet;
}
std::wstring FakeWindowSystem::Text(FrameHandle frame, int id) { return Control(frame, id).layout.text; }
void FakeWindowSystem::SetRect(FrameHandle frame, int id, const PixelRect& rect) { Control(frame, id).layout.rect = rect; }
void FakeWindowSystem::SetFont(FrameHandle frame, int id, const FontChoice& font) { Control(frame, id).layout.font = font; }
void FakeWindowSystem::SetVisible(FrameHandle frame, int id, bool visible) { Control(frame, id).layout.visible = visible; }
void FakeWindowSystem::SetEnabled(FrameHandle frame, int id, bool enabled) { Control(frame, id).layout.enabled = enabled; }
void FakeWindowSystem::SetChecked(FrameHandle frame, int id, bool checked) { Control(frame, id).checked = checked; }

void FakeWindowSystem::SetFocus(FrameHandle frame, int id) {
    Control(frame, id);
    Frame(frame).focus = id;
}

int FakeWindowSystem::Focused(FrameHandle frame) { return Frame(frame).focus; }
void FakeWindowSystem::SetPicture(FrameHandle frame, int id, const Bitmap& bitmap) { Control(frame, id).picture = bitmap; }
void FakeWindowSystem::SetProgressMax(FrameHandle frame, int id, int max) { Control(frame, id).progressMax = max; }
void FakeWindowSystem::SetProgressPosition(FrameHandle frame, int id, int position) {
    Control(frame, id).progressPosition = position;
}

void FakeWindowSystem::StartTimer(FrameHandle frame, int timerId, int intervalMs) { Frame(frame).timers[timerId] = intervalMs; }
void FakeWindowSystem::StopTimer(FrameHandle frame, int timerId) { Frame(frame).timers.erase(timerId); }

void FakeWindowSystem::Wake(FrameHandle frame) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = frames_.find(frame);
    if (it != frames_.end() && !it->second.closed) ++it->second.wakes;
}

std::optional<std::wstring> FakeWindowSystem::BrowseForFolder(FrameHandle frame, const std::wstring& startPath) {
    Frame(frame);
    browseStarts_.push_back(startPath);
    return browseAnswer_;
}

std::wstring FakeWindowSystem::ProgramFilesFolder(FrameHandle) {
    ++programFilesQueries_;
    return programFiles_;
}

std::vector<uint8_t> FakeWindowSystem::ResourceData(int id) {
    auto it = resources_.find(id);
    return it == resources_.end() ? std::vector<uint8_t>() : it->second;
}

void FakeWindowSystem::Click(FrameHandle frame, int id) {
    FakeControl& c = Control(frame, id);
    FakeFrame& f = Frame(frame);
    if (f.closed || !c.layout.visible || !c.layout.enabled) return;
    f.events->OnClick(id);
}

void FakeWindowSystem::DeliverWakes(FrameHandle frame) {
    int wakes;
    {
        std::lock_guard<std::mutex> lock(mu_);
        wakes = Frame(frame).wakes;
    }
    if (wakes != delivered_[frame] && !Frame(frame).closed) {
        delivered_[frame] = wakes;
        Frame(frame).events->OnWake();
    }
}

void FakeWindowSystem::Tick(FrameHandle frame, int timerId) {
    FakeFrame& f = Frame(frame);
    if (f.closed || !f.timers.count(timerId)) return;
    f.events->OnTimer(timerId);
}

void FakeWindowSystem::ChangeDpi(FrameHandle frame, int dpi) {
    FakeFrame& f = Frame(frame);
    f.dpi = dpi;
    f.events->OnDpiChanged(dpi);
}

}  // namespace tide::platform::fake

namespace tide::platform {
template <>
WindowSystem& Port<WindowSystem>::Default() {
    static fake::FakeWindowSystem instance;
    return instance;
}
}  // namespace tide::platform
