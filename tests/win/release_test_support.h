// Shared by the Windows test programs of the release manifest and the
// component downloader: points the settings store's AppPath at a test folder
// for the life of the program and puts the previous state back afterwards
// (the Wine prefix is shared by every test), and writes result lines.
#pragma once

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "core/ArchAwareRegistry.h"
#include "core/settings.h"
#include "base/encoding.h"
#include "base/text.h"
#include "platform/message_box.h"
#include "platform/wow64.h"

namespace tide::wintest {

class AppPathGuard {
public:
    explicit AppPathGuard(const std::wstring& dir) {
        TArchAwareRegistry reg;
        reg.SetRootKey(HKEY_LOCAL_MACHINE);
        reg.SetAccess(KEY_READ);
        keyExisted_ = reg.KeyExists(kSettingsKey);
        previous_ = ReadSetting(L"AppPath");
        SaveInstallDirectory(dir);
    }
    ~AppPathGuard() {
        if (!previous_.empty()) {
            WriteSetting(L"AppPath", previous_);
            return;
        }
        TArchAwareRegistry reg;
        reg.SetRootKey(HKEY_LOCAL_MACHINE);
        reg.SetAccess(KEY_ALL_ACCESS);
        if (!keyExisted_) {
            reg.DeleteKey(kSettingsKey);
        } else if (reg.OpenKey(kSettingsKey, false)) {
            reg.DeleteValue(L"AppPath");
            reg.CloseKey();
        }
    }

private:
    bool keyExisted_ = false;
    std::wstring previous_;
};

// Appends UTF-8 lines to a file (the programs may run under the dialog
// robot, which does not pass their output on) and to stdout.
class ResultFile {
public:
    explicit ResultFile(const std::wstring& path) { f_ = path.empty() ? nullptr : _wfopen(path.c_str(), L"ab"); }
    ~ResultFile() {
        if (f_) fclose(f_);
    }
    void Line(const std::wstring& s) {
        std::string u = WideToUtf8(s) + "\n";
        if (f_) {
            fwrite(u.data(), 1, u.size(), f_);
            fflush(f_);
        }
        fwrite(u.data(), 1, u.size(), stdout);
        fflush(stdout);
    }

private:
    FILE* f_;
};

inline std::wstring EnvVar(const wchar_t* name) {
    wchar_t buf[4096];
    DWORD n = GetEnvironmentVariableW(name, buf, 4096);
    return n && n < 4096 ? std::wstring(buf, n) : std::wstring();
}

// Message boxes as lines "box=CAPTION|TEXT" with the line breaks of the
// text written as blanks, answered with OK.
inline std::wstring FlatBoxText(std::wstring text) {
    for (auto& c : text)
        if (c == L'\n') c = L' ';
    return text;
}
class CollectedBoxes : public platform::MessageBoxes {
public:
    int Show(const std::wstring& text, const std::wstring& caption, platform::MbButtons, platform::MbIcon) override {
        std::lock_guard<std::mutex> lock(mu_);
        lines.push_back(L"box=" + caption + L"|" + FlatBoxText(text));
        return platform::kIdOk;
    }
    std::vector<std::wstring> lines;

private:
    std::mutex mu_;
};

// An x86_64 test program standing in for the 32-bit installer, which runs
// under WOW64 on a 64-bit prefix: it answers "WOW64" and passes on the
// machine's own processor as Windows reports it.
class Wow64ProductProbes : public platform::Wow64Probes {
public:
    Wow64 IsWow64Process() override { return Wow64::Yes; }
    uint16_t NativeProcessorArchitecture() override {
        SYSTEM_INFO si{};
        GetNativeSystemInfo(&si);
        return si.wProcessorArchitecture;
    }
};

}  // namespace tide::wintest
