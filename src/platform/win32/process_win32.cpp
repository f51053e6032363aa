// Process creation with CreateProcessW, the output pipe, waits and exit codes.
#include <windows.h>

#include <vector>

#include "platform/process.h"

namespace tide::platform::win32 {
namespace {

void CloseIfOpen(HANDLE& h) {
    if (h) {
        CloseHandle(h);
        h = nullptr;
    }
}

class Win32Process : public Process {
public:
    Win32Process(HANDLE process, HANDLE read, HANDLE write) : process_(process), read_(read), write_(write) {}
    ~Win32Process() override {
        CloseIfOpen(write_);
        CloseIfOpen(read_);
        CloseIfOpen(process_);
    }
    bool Wait(uint32_t ms) override {
        // A quit on its way stays queued for the main loop: it must not
        // wake every wait at once.
        MSG quit;
        if (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE))
            return WaitForSingleObject(process_, ms) != WAIT_TIMEOUT;
        return MsgWaitForMultipleObjectsEx(1, &process_, ms, QS_ALLINPUT, 0) == WAIT_OBJECT_0;
    }
    uint32_t ExitCode() override {
        DWORD code = 0;
        // An unreadable exit code must not read as success.
        if (!GetExitCodeProcess(process_, &code)) return 0xFFFFFFFF;
        return code;
    }
    PipeRead ReadOutput(char* buffer, size_t max, size_t& got, uint32_t waitMs) override {
        got = 0;
        if (!read_) return PipeRead::Closed;
        // A plain ReadFile would block for as long as any process holds a
        // write end (a program the child started may inherit it and outlive
        // the child), so look first and read only what is there.
        DWORD start = GetTickCount();
        for (;;) {
            DWORD avail = 0;
            if (!PeekNamedPipe(read_, nullptr, 0, nullptr, &avail, nullptr)) return PipeRead::Closed;
            if (avail > 0) {
                DWORD want = avail < max ? avail : static_cast<DWORD>(max);
                DWORD n = 0;
                if (!ReadFile(read_, buffer, want, &n, nullptr)) return PipeRead::Closed;
                got = n;
                return PipeRead::Data;
            }
            DWORD waited = GetTickCount() - start;
            if (waited >= waitMs) return PipeRead::Nothing;
            DWORD left = waitMs - waited;
            Sleep(left < 10 ? left : 10);
        }
    }
    void CloseOutputWrite() override { CloseIfOpen(write_); }
    void CloseOutputRead() override { CloseIfOpen(read_); }

private:
    HANDLE process_;
    HANDLE read_;
    HANDLE write_;
};

class Win32Processes : public Processes {
public:
    std::unique_ptr<Process> Start(const ProcessStart& start, uint32_t& error) override {
        STARTUPINFOW si;
        ZeroMemory(&si, sizeof si);
        si.cb = sizeof si;
        HANDLE read = nullptr, write = nullptr;
        if (start.captureOutput) {
            SECURITY_ATTRIBUTES sa;
            sa.nLength = sizeof sa;
            sa.bInheritHandle = TRUE;
            sa.lpSecurityDescriptor = nullptr;
            if (CreatePipe(&read, &write, &sa, start.pipeBuffer)) {
                // Only the write end is meant for the child: a child (or its
                // children) holding the read end too would gain nothing and
                // keep the pipe alive.
                SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
            } else {
                read = write = nullptr;
            }
            si.hStdOutput = write;
            si.dwFlags |= STARTF_USESTDHANDLES;
        }
        if (start.hideWindow) {
            si.dwFlags |= STARTF_USESHOWWINDOW;
            si.wShowWindow = SW_HIDE;
        }
        if (start.detachConsole) FreeConsole();

        // CreateProcessW may write into the command line: give it a copy.
        std::vector<wchar_t> cmd;
        if (start.commandLine) {
            cmd.assign(start.commandLine->begin(), start.commandLine->end());
            cmd.push_back(L'\0');
        }
        PROCESS_INFORMATION pi;
        ZeroMemory(&pi, sizeof pi);
        BOOL ok = CreateProcessW(start.application ? start.application->c_str() : nullptr,
                                 start.commandLine ? cmd.data() : nullptr, nullptr, nullptr,
                                 start.inheritHandles ? TRUE : FALSE, start.flags, nullptr,
                                 start.workDir ? start.workDir->c_str() : nullptr, &si, &pi);
        if (!ok) {
            error = GetLastError();
            CloseIfOpen(read);
            CloseIfOpen(write);
            return nullptr;
        }
        error = 0;
        // The thread handle is never needed; the process handle lives with
        // the returned object.
        CloseHandle(pi.hThread);
        return std::make_unique<Win32Process>(pi.hProcess, read, write);
    }
};

}  // namespace
}  // namespace tide::platform::win32

namespace tide::platform {
template <>
Processes& Port<Processes>::Default() {
    static win32::Win32Processes instance;
    return instance;
}
}  // namespace tide::platform
