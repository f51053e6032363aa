// The command runner on Windows: real processes, pipes, cmd.exe scripts and
// the Info-ZIP unzip tool.
//
//   sys_runner_test.exe all DIR UNZIPDIR   runs every case; DIR is a scratch
//       folder holding nested.zip and corrupt.zip, UNZIPDIR holds UNZIP.EXE.
//       Prints "ok: case" or "FAIL: case: why" per case; exit code = failures.
//   sys_runner_test.exe unzip DIR UNZIPDIR   only the first extraction.
//   sys_runner_test.exe missing            RunCommand of a missing program
//       with the real message boxes (for the dialog robot); exit 1 = false.
//   sys_runner_test.exe window             exit 0 when windows can be shown
//   sys_runner_test.exe message CODE       prints the system's text for CODE
//       as the robot prints box texts.
//   sys_runner_test.exe emit HEX | sleep MS | exit CODE   child programs.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/ArchAwareRegistry.h"
#include "core/settings.h"
#include "base/encoding.h"
#include "base/text.h"
#include "platform/message_box.h"
#include "platform/progress.h"
#include "platform/win32/win32_util.h"
#include "system/CommandRunner.h"
#include "report.h"

using namespace tide;
using Clock = std::chrono::steady_clock;

namespace {

const Clock::time_point gStart = Clock::now();

// One line per case; the time since the start goes to stderr.
void Check(bool ok, const char* name, const std::wstring& why = L"") {
    Report(name, ok, why);
    std::fprintf(stderr, "[%.1f s] %s\n",
                 std::chrono::duration<double>(Clock::now() - gStart).count(), name);
}

std::wstring Join(const TStringList& l) {
    std::wstring s = L"[";
    for (size_t i = 0; i < l.size(); ++i) s += (i ? L"|" : L"") + l[i];
    return s + L"]";
}

using Box = platform::ShownBox;
using RecordingBoxes = platform::RecordingMessageBoxes;

std::wstring Self() {
    wchar_t buf[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
    return std::wstring(buf, n);
}

std::wstring ComSpec() {
    wchar_t buf[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"ComSpec", buf, MAX_PATH);
    return std::wstring(buf, n);
}

void WriteText(const std::wstring& path, const std::string& text) {
    std::ofstream f(WideToUtf8(path).c_str(), std::ios::binary);  // path is ASCII here
    f << text;
}

std::string ReadText(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    char buf[4096];
    DWORD n = 0;
    ReadFile(h, buf, sizeof buf, &n, nullptr);
    CloseHandle(h);
    return std::string(buf, n);
}

// ---- child programs ----

int Emit(const std::wstring& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    DWORD n = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
    return 0;
}

// ---- a window that counts the messages it handles ----

std::atomic<bool> gInWait{false};
std::atomic<int> gHandledInWait{0};
std::atomic<long long> gMaxGapMs{0};
Clock::time_point gLastHandled;

LRESULT CALLBACK CountingProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_APP + 1) {
        if (gInWait) {
            auto now = Clock::now();
            if (gHandledInWait > 0) {
                long long gap = std::chrono::duration_cast<std::chrono::milliseconds>(now - gLastHandled).count();
                if (gap > gMaxGapMs) gMaxGapMs = gap;
            }
            gLastHandled = now;
            ++gHandledInWait;
        }
        return 0;
    }
    return DefWindowProcW(w, msg, wp, lp);
}

HWND MakeCountingWindow() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = CountingProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TideCounting";
    RegisterClassW(&wc);
    return CreateWindowExW(0, L"TideCounting", L"counting", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                           wc.hInstance, nullptr);
}

// Posts to w every 50 ms while the returned flag is clear; runs fn meanwhile.
template <class F>
void WhilePosting(HWND w, F fn) {
    std::atomic<bool> stop{false};
    std::thread poster([&] {
        while (!stop) {
            PostMessageW(w, WM_APP + 1, 0, 0);
            Sleep(50);
        }
    });
    gHandledInWait = 0;
    gMaxGapMs = 0;
    gInWait = true;
    fn();
    gInWait = false;
    stop = true;
    poster.join();
}

// ---- the cases ----

void CmdScripts(const std::wstring& dir) {
    WriteText(dir + L"\\ab.bat", "@echo a\r\n@echo b\r\n");
    platform::RecordingStatusLine status;
    TStringList sl;
    {
        TCommandRunner r(true);
        r.sb = &status;
        r.sl = &sl;
        // The form the service installation uses: program = ComSpec, command
        // line "/C" and the quoted script.
        bool ok = r.RunCommand(ComSpec(), L"/C \"" + dir + L"\\ab.bat\"", dir);
        Check(ok, "cmd script: exit code 0 is success");
    }
    Check(sl == TStringList({L"a", L"b"}), "cmd script: collects exactly a, b", Join(sl));
    Check(status.Last() == L"b", "cmd script: status line shows b", status.Last());

    CreateDirectoryW((dir + L"\\with space").c_str(), nullptr);
    WriteText(dir + L"\\with space\\two.bat", "@echo %CD%\r\n@exit /b 0\r\n");
    sl.clear();
    {
        TCommandRunner r(true);
        r.sl = &sl;
        bool ok = r.RunCommand(ComSpec(), L"/C \"" + dir + L"\\with space\\two.bat\"", dir + L"\\with space");
        Check(ok && sl.size() == 1 && SameText(sl[0], dir + L"\\with space"),
              "cmd script in a folder with a blank runs there", Join(sl));
    }

    WriteText(dir + L"\\fail.bat", "@echo failing\r\n@exit /b 1\r\n");
    {
        TCommandRunner r(true);
        bool ok = r.RunCommand(ComSpec(), L"/C \"" + dir + L"\\fail.bat\"", L"");
        Check(!ok, "cmd script ending with exit code 1 is failure");
    }
}

void Bytes(RecordingBoxes& boxes) {
    platform::RecordingStatusLine status;
    TStringList sl;
    {
        TCommandRunner r(true);
        r.sb = &status;
        r.sl = &sl;
        // "caf\xE9\r\n" then an unfinished "tail".
        r.RunCommand(Self(), L"sys_runner_test.exe emit 636166E90D0A7461696C", L"");
    }
    Check(sl == TStringList({L"caf\u00E9"}), "byte 233 becomes U+00E9, unfinished line dropped", Join(sl));
    Check(status.Last() == L"caf\u00E9", "status line shows the complete line", status.Last());

    platform::RecordingStatusLine empty;
    sl.clear();
    {
        TCommandRunner r(true);
        r.sb = &empty;
        r.sl = &sl;
        r.RunCommand(Self(), L"sys_runner_test.exe emit 0D0A0D0A0A", L"");
    }
    Check(!empty.Texts().empty() && empty.Last().empty() && sl.empty(),
          "only line breaks leave the status line empty", empty.Last());

    // More output than the pipe holds, in many chunks.
    std::string big;
    for (int i = 0; i < 3000; ++i) big += "line " + std::to_string(i) + "\r\n";
    sl.clear();
    {
        WriteText(L"big.txt", big);
        TCommandRunner r(true);
        r.sl = &sl;
        bool ok = r.RunCommand(ComSpec(), L"/C type big.txt", L"");
        Check(ok && sl.size() == 3000 && sl.back() == L"line 2999",
              "30 KB of output through the 2 KB pipe arrives whole", std::to_wstring(sl.size()));
    }
    Check(boxes.Take().empty(), "no boxes from successful runs");
}

void Missing(RecordingBoxes& boxes) {
    auto t0 = Clock::now();
    bool ok = true;
    {
        TCommandRunner r(true);
        ok = r.RunCommand(L"Z:\\no\\such\\folder\\none.exe", L"none.exe", L"");
    }
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    auto shown = boxes.Take();
    std::wstring expected = platform::win32::SystemMessage(ERROR_PATH_NOT_FOUND, 512);
    std::wstring expected2 = platform::win32::SystemMessage(ERROR_FILE_NOT_FOUND, 512);
    Check(!ok, "missing program: result false");
    Check(shown.size() == 1 && shown[0].caption == L"Notice" && shown[0].icon == platform::MbIcon::Warning &&
              (shown[0].text == expected || shown[0].text == expected2) && !shown[0].text.empty(),
          "missing program: one Notice box with the system's text",
          shown.empty() ? L"none" : shown[0].caption + L"|" + shown[0].text);
    Check(ms < 2000, "missing program: runner freed at once", std::to_wstring(ms) + L" ms");

    // A missing program in an existing folder: the file-not-found text.
    {
        TCommandRunner r(true);
        ok = r.RunCommand(Self() + L".missing.exe", L"x", L"");
    }
    shown = boxes.Take();
    Check(!ok && shown.size() == 1 && shown[0].text == expected2, "file-not-found text for a missing file",
          shown.empty() ? L"none" : shown[0].text);

    // RunAndWait reports the same way.
    std::wstring dir(MAX_PATH, L'\0');
    dir.resize(GetCurrentDirectoryW(MAX_PATH, &dir[0]));
    ok = RunAndWait(Self() + L".missing.exe", L"x", dir);
    shown = boxes.Take();
    Check(!ok && shown.size() == 1 && shown[0].text == expected2 && shown[0].caption == L"Notice",
          "RunAndWait: missing program shown once", shown.empty() ? L"none" : shown[0].text);

    // RunAndWait hands an empty working directory to the system as it is
    // (RunCommand passes none instead), and the system refuses it.
    ok = RunAndWait(Self(), L"sys_runner_test.exe exit 0", L"");
    shown = boxes.Take();
    std::wstring invalidDir = platform::win32::SystemMessage(ERROR_DIRECTORY, 512);
    Check(!ok && shown.size() == 1 && shown[0].text == invalidDir,
          "RunAndWait: empty working directory is passed as empty text",
          shown.empty() ? L"none" : shown[0].text);
}

void Responsive(HWND w, const std::wstring& dir) {
    bool ok = false;
    auto t0 = Clock::now();
    WhilePosting(w, [&] {
        TCommandRunner r(true);
        ok = r.RunCommand(Self(), L"sys_runner_test.exe sleep 10000", L"");
    });
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    Check(ok && ms >= 10000, "10-second command waited for", std::to_wstring(ms) + L" ms");
    // Posted every 50 ms, handled at least every 100 ms slice; the bound on
    // the gap leaves room for a loaded machine.
    Check(gHandledInWait >= 50 && gMaxGapMs < 1000, "window handles messages throughout the wait",
          std::to_wstring(gHandledInWait.load()) + L" handled, largest gap " + std::to_wstring(gMaxGapMs.load()) +
              L" ms");

    t0 = Clock::now();
    WhilePosting(w, [&] { ok = RunAndWait(Self(), L"sys_runner_test.exe sleep 4500", dir); });
    ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    Check(ok && ms >= 4500, "RunAndWait waits for the program", std::to_wstring(ms) + L" ms");
    // Handled as they come, as in the command runner's wait.
    Check(gHandledInWait >= 20 && gMaxGapMs < 1000, "RunAndWait handles messages throughout the wait",
          std::to_wstring(gHandledInWait.load()) + L" handled, largest gap " + std::to_wstring(gMaxGapMs.load()) +
              L" ms");

    Check(!RunAndWait(Self(), L"sys_runner_test.exe exit 3", dir), "RunAndWait: exit code 3 is failure");
    Check(RunAndWait(Self(), L"sys_runner_test.exe exit 0", dir), "RunAndWait: exit code 0 is success");
}

// Points the settings store's AppPath at dir for the scope, then puts back
// what was there (or removes what we created).
class AppPathScope {
public:
    explicit AppPathScope(const std::wstring& dir) {
        TArchAwareRegistry reg;
        reg.SetRootKey(HKEY_LOCAL_MACHINE);
        reg.SetAccess(KEY_READ);
        vendorExisted_ = reg.KeyExists(kSettingsVendorKey);
        keyExisted_ = reg.KeyExists(kSettingsKey);
        if (keyExisted_ && reg.OpenKeyReadOnly(kSettingsKey)) {
            hadValue_ = reg.ValueExists(L"AppPath");
            old_ = reg.ReadString(L"AppPath");
        }
        WriteSetting(L"AppPath", dir);
    }
    ~AppPathScope() {
        TArchAwareRegistry reg;
        reg.SetRootKey(HKEY_LOCAL_MACHINE);
        reg.SetAccess(KEY_ALL_ACCESS);
        if (!vendorExisted_) {
            reg.DeleteKey(kSettingsVendorKey);
        } else if (!keyExisted_) {
            reg.DeleteKey(kSettingsKey);
        } else if (reg.OpenKey(kSettingsKey, false)) {
            if (hadValue_) reg.WriteString(L"AppPath", old_);
            else reg.DeleteValue(L"AppPath");
        }
    }

private:
    bool vendorExisted_ = false, keyExisted_ = false, hadValue_ = false;
    std::wstring old_;
};

void Unzip(const std::wstring& dir, const std::wstring& unzipDir, RecordingBoxes& boxes, bool full) {
    AppPathScope app(unzipDir + L"\\");
    Check(InstallDirectory() == unzipDir + L"\\", "install directory points at the unzip tool", InstallDirectory());
    std::wstring dest = dir + L"\\dest\\";
    CreateDirectoryW(dest.c_str(), nullptr);
    CreateDirectoryW((dest + L"top").c_str(), nullptr);
    WriteText(dest + L"top\\readme.txt", "old content that must be replaced\r\n");

    platform::RecordingStatusLine status;
    auto t0 = Clock::now();
    bool ok = UnzipArchive(dir + L"\\nested.zip", dest, &status);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    Check(ok, "unzip: returns true", std::to_wstring(ms) + L" ms");
    Check(ReadText(dest + L"top\\mid\\deep\\leaf.txt") == "leaf\n", "unzip: nested folders land in the destination",
          Utf8ToWide(ReadText(dest + L"top\\mid\\deep\\leaf.txt")));
    Check(ReadText(dest + L"top\\readme.txt") == "new readme\n", "unzip: existing file replaced without asking",
          Utf8ToWide(ReadText(dest + L"top\\readme.txt")));
    Check(status.Last().find(L"leaf.txt") != std::wstring::npos || status.Last().find(L"readme.txt") != std::wstring::npos,
          "unzip: the tool's last line is on the status line", status.Last());

    if (!full) return;
    // Again over everything that is now there.
    ok = UnzipArchive(dir + L"\\nested.zip", dest, &status);
    Check(ok && ReadText(dest + L"top\\mid\\deep\\leaf.txt") == "leaf\n", "unzip: again over existing files");

    ok = UnzipArchive(dir + L"\\corrupt.zip", dest, &status);
    Check(!ok, "unzip: corrupt archive returns false");
    ok = UnzipArchive(dir + L"\\absent.zip", dest, &status);
    Check(!ok, "unzip: missing archive returns false");
    Check(boxes.Take().empty(), "unzip: no box from the runner on failure");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"emit" && argc > 2) return Emit(argv[2]);
    if (mode == L"sleep" && argc > 2) {
        Sleep(static_cast<DWORD>(std::stoul(argv[2])));
        return 0;
    }
    if (mode == L"exit" && argc > 2) return std::stoi(argv[2]);
    if (mode == L"message" && argc > 2) {
        // The system's text as the dialog robot prints it: line breaks as \n.
        std::wstring t = platform::win32::SystemMessage(static_cast<DWORD>(std::stoul(argv[2])), 512), out;
        for (size_t i = 0; i < t.size(); ++i) {
            if (t[i] == L'\r' && i + 1 < t.size() && t[i + 1] == L'\n') continue;
            out += (t[i] == L'\r' || t[i] == L'\n') ? std::wstring(L"\\n") : std::wstring(1, t[i]);
        }
        std::printf("%s\n", WideToUtf8(out).c_str());
        return 0;
    }
    if (mode == L"window") {
        // Whether this session's desktop can show windows at all.
        HWND w = CreateWindowExW(0, L"STATIC", L"probe", WS_OVERLAPPEDWINDOW, 0, 0, 50, 50, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
        if (w) DestroyWindow(w);
        return w ? 0 : 1;
    }
    if (mode == L"missing") {
        TCommandRunner r(true);
        return r.RunCommand(L"Z:\\no\\such\\file.exe", L"file.exe", L"") ? 0 : 1;
    }
    if ((mode != L"all" && mode != L"unzip") || argc < 4) {
        std::printf("usage: sys_runner_test all|unzip DIR UNZIPDIR\n");
        return 2;
    }
    std::wstring dir = argv[2], unzipDir = argv[3];
    SetCurrentDirectoryW(dir.c_str());
    RecordingBoxes boxes;
    platform::ScopedPort<platform::MessageBoxes> boxPort(boxes);
    if (mode == L"unzip") {
        // One extraction only: with the 32-bit tool every start is slow here.
        Unzip(dir, unzipDir, boxes, false);
        std::printf("%d failure(s)\n", gFailures);
        return gFailures;
    }

    CmdScripts(dir);
    Bytes(boxes);
    Missing(boxes);
    Unzip(dir, unzipDir, boxes, true);
    HWND w = MakeCountingWindow();
    Check(w != nullptr, "counting window created");
    if (w) Responsive(w, dir);
    std::printf("%d failure(s)\n", gFailures);
    return gFailures;
}
