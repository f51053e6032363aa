// Message boxes, the process environment and version resources on Windows.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <exception>
#include <mutex>
#include <vector>

#include "platform/environment.h"
#include "platform/message_box.h"
#include "platform/version_info.h"
#include "platform/win32/win32_util.h"

namespace tide::platform::win32 {
namespace {

std::mutex gTitleMu;
std::wstring gTitle;
std::atomic<bool> gQuit{false};

// The window thread: the one that starts the program (static
// initialisation runs on it, before the entry function). Its message queue
// is made here, so that a quit posted by another thread before the first
// window exists is not refused.
DWORD WindowThreadWithQueue() {
    MSG msg;
    PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    return GetCurrentThreadId();
}
const DWORD gWindowThread = WindowThreadWithQueue();

bool OnWindowThread() { return GetCurrentThreadId() == gWindowThread; }

// A quit must not reach the window thread while one of its message boxes is
// up: the box's own message loop would take it and close the box before it
// is read. gQuitMu orders the posting of a quit against the opening and
// closing of boxes.
std::mutex gQuitMu;
int gBoxesUp = 0;          // message boxes of the window thread now up
bool gQuitHeld = false;    // a quit waiting for them to close
int gHeldQuitCode = 0;
std::exception_ptr gLoopError;

// With gQuitMu held.
void PostQuitToWindowThread(int code) {
    if (gBoxesUp > 0) {
        gQuitHeld = true;
        gHeldQuitCode = code;
    } else if (OnWindowThread()) {
        PostQuitMessage(code);
    } else {
        PostThreadMessageW(gWindowThread, WM_QUIT, static_cast<WPARAM>(code), 0);
    }
}

class Win32MessageBoxes : public MessageBoxes {
public:
    int Show(const std::wstring& text, const std::wstring& caption, MbButtons buttons, MbIcon icon) override {
        UINT flags = 0;
        switch (buttons) {
            case MbButtons::Ok: flags |= MB_OK; break;
            case MbButtons::OkCancel: flags |= MB_OKCANCEL; break;
            case MbButtons::YesNo: flags |= MB_YESNO; break;
            case MbButtons::YesNoCancel: flags |= MB_YESNOCANCEL; break;
            case MbButtons::OkCancelDefaultCancel: flags |= MB_OKCANCEL | MB_DEFBUTTON2; break;
        }
        switch (icon) {
            case MbIcon::None: break;
            case MbIcon::Warning: flags |= MB_ICONWARNING; break;
            case MbIcon::Information: flags |= MB_ICONINFORMATION; break;
            case MbIcon::Error: flags |= MB_ICONERROR; break;
            case MbIcon::Stop: flags |= MB_ICONSTOP; break;
        }
        // A quit already waiting (requested earlier in the same handler) is
        // held back while the box is up, as is one requested meanwhile by
        // any thread; it goes to the main loop once the last box is closed.
        const bool windowThread = OnWindowThread();
        if (windowThread) {
            std::lock_guard<std::mutex> lock(gQuitMu);
            ++gBoxesUp;
            MSG pendingQuit;
            if (PeekMessageW(&pendingQuit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
                gQuitHeld = true;
                gHeldQuitCode = static_cast<int>(pendingQuit.wParam);
            }
        }
        int r = MessageBoxW(OwnerWindow(), text.c_str(), caption.c_str(), flags);
        if (windowThread) {
            std::lock_guard<std::mutex> lock(gQuitMu);
            if (--gBoxesUp == 0 && gQuitHeld) {
                gQuitHeld = false;
                PostQuitMessage(gHeldQuitCode);
            }
        }
        return r <= 0 ? kMbFailed : r;
    }
};

class Win32Environment : public Environment {
public:
    std::wstring CommandLine() override { return GetCommandLineW(); }
    std::wstring Variable(const std::wstring& name) override {
        DWORD n = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
        if (n == 0) return std::wstring();
        std::vector<wchar_t> buf(n + 1);
        n = GetEnvironmentVariableW(name.c_str(), buf.data(), n + 1);
        return std::wstring(buf.data(), n);
    }
    void PutVariable(const std::wstring& name, const std::wstring& value) override {
        SetEnvironmentVariableW(name.c_str(), value.c_str());
    }
    void RemoveVariable(const std::wstring& name) override { SetEnvironmentVariableW(name.c_str(), nullptr); }
    std::wstring ExecutablePath() override {
        std::vector<wchar_t> buf(MAX_PATH);
        for (;;) {
            DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
            if (n < buf.size()) return std::wstring(buf.data(), n);
            buf.resize(buf.size() * 2);
        }
    }
    void SetApplicationTitle(const std::wstring& title) override {
        std::lock_guard<std::mutex> lock(gTitleMu);
        gTitle = title;
    }
    std::wstring ApplicationTitle() override {
        std::lock_guard<std::mutex> lock(gTitleMu);
        return gTitle;
    }
    void RequestQuit() override {
        gQuit = true;
        std::lock_guard<std::mutex> lock(gQuitMu);
        PostQuitToWindowThread(0);
    }
    bool QuitRequested() override { return gQuit; }
    void ProcessMessages() override {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                gQuit = true;
                // Leave the quit for the main message loop to see.
                std::lock_guard<std::mutex> lock(gQuitMu);
                PostQuitToWindowThread(static_cast<int>(msg.wParam));
                return;
            }
            if (FilterMessage(&msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    void ProcessMessagesFor(uint32_t ms) override {
        // A clock finer than the tick count: the wait lasts at least ms.
        using namespace std::chrono;
        const steady_clock::time_point end = steady_clock::now() + milliseconds(ms);
        for (;;) {
            ProcessMessages();
            const steady_clock::time_point now = steady_clock::now();
            if (now >= end) return;
            const DWORD left = static_cast<DWORD>(ceil<milliseconds>(end - now).count());
            // Once the quit is on its way it stays in the queue for the
            // main loop, and would wake the wait at once, again and again.
            if (gQuit)
                Sleep(left < 20 ? left : 20);
            else
                MsgWaitForMultipleObjectsEx(0, nullptr, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        }
    }
    void RunMessageLoop() override {
        MSG msg;
        BOOL r;
        while ((r = GetMessageW(&msg, nullptr, 0, 0)) != 0 && r != -1) {
            if (FilterMessage(&msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        gQuit = true;
        std::exception_ptr error;
        {
            std::lock_guard<std::mutex> lock(gQuitMu);
            error.swap(gLoopError);
        }
        if (error) std::rethrow_exception(error);
    }
    void PassToMessageLoop(std::exception_ptr error) override {
        {
            std::lock_guard<std::mutex> lock(gQuitMu);
            if (!gLoopError) gLoopError = error;
        }
        RequestQuit();
    }
};

class Win32VersionInfo : public VersionInfo {
public:
    bool ReadFixedFileVersion(const std::wstring& path, FixedFileVersion& out) override {
        DWORD handle = 0;
        DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
        if (size == 0) return false;
        std::vector<unsigned char> buf(size);
        if (!GetFileVersionInfoW(path.c_str(), 0, size, buf.data())) return false;
        VS_FIXEDFILEINFO* info = nullptr;
        UINT len = 0;
        if (!VerQueryValueW(buf.data(), L"\\", reinterpret_cast<void**>(&info), &len) || len == 0 || !info)
            return false;
        out.ms = info->dwFileVersionMS;
        out.ls = info->dwFileVersionLS;
        return true;
    }
};

}  // namespace
}  // namespace tide::platform::win32

namespace tide::platform {
template <>
MessageBoxes& Port<MessageBoxes>::Default() {
    static win32::Win32MessageBoxes instance;
    return instance;
}
template <>
Environment& Port<Environment>::Default() {
    static win32::Win32Environment instance;
    return instance;
}
template <>
VersionInfo& Port<VersionInfo>::Default() {
    static win32::Win32VersionInfo instance;
    return instance;
}
}  // namespace tide::platform
