#include "app/logging_ports.h"

#include <atomic>

#include "base/text.h"
#include "core/run_log.h"
#include "core/run_options.h"
#include "download/URLFetcher2.h"

namespace tide {

using platform::MbButtons;

std::wstring ButtonName(int answer) {
    switch (answer) {
        case platform::kIdOk: return L"OK";
        case platform::kIdCancel: return L"Cancel";
        case platform::kIdYes: return L"Yes";
        case platform::kIdNo: return L"No";
        case platform::kMbFailed: return L"none (the box could not be shown)";
    }
    return IntToStr(answer);
}

namespace {

void LogBox(const std::wstring& caption, const std::wstring& text, int answer, const wchar_t* how) {
    LogEntry(L"message", L"\"" + caption + L"\": " + text + L" -> " + ButtonName(answer) + how);
}

}  // namespace

int LoggingMessageBoxes::Show(const std::wstring& text, const std::wstring& caption, MbButtons buttons,
                              platform::MbIcon icon) {
    const int answer = inner_.Show(text, caption, buttons, icon);
    LogBox(caption, text, answer, L"");
    return answer;
}

int UnattendedMessageBoxes::Answer(const std::wstring& caption, MbButtons buttons) {
    if (buttons == MbButtons::Ok) return platform::kIdOk;
    // "/silent" on an uninstall is the administrator's answer to its
    // confirmation. Any other question gets the answer that changes
    // nothing (Cancel, No): a run nobody watches must not lose data on a
    // guess.
    if (caption == L"Uninstall Tidewell" && buttons == MbButtons::OkCancelDefaultCancel) return platform::kIdOk;
    return buttons == MbButtons::YesNo || buttons == MbButtons::YesNoCancel ? platform::kIdNo : platform::kIdCancel;
}

int UnattendedMessageBoxes::Show(const std::wstring& text, const std::wstring& caption, MbButtons buttons,
                                 platform::MbIcon) {
    const int answer = Answer(caption, buttons);
    LogBox(caption, text, answer, L" (unattended)");
    return answer;
}

// --- registry ---

namespace {

std::wstring RootName(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE) return L"HKLM";
    if (key == HKEY_CURRENT_USER) return L"HKCU";
    if (key == HKEY_CLASSES_ROOT) return L"HKCR";
    if (key == HKEY_USERS) return L"HKU";
    return std::wstring();
}

std::wstring ViewOf(uint32_t sam) {
    if (sam & KEY_WOW64_32KEY) return L" (32-bit view)";
    if (sam & KEY_WOW64_64KEY) return L" (64-bit view)";
    return std::wstring();
}

std::wstring Result(long rc) { return rc == platform::kRegOk ? L"ok" : L"error " + IntToStr(rc); }

std::wstring Join(const std::wstring& parent, const std::wstring& subKey) {
    std::wstring sub = subKey;
    while (!sub.empty() && sub.front() == L'\\') sub.erase(0, 1);
    if (sub.empty()) return parent;
    return parent + L"\\" + sub;
}

// RegDeleteKeyExW is handed out as a plain function: the decorator puts a
// function of its own in its place, which logs and calls the real one.
std::atomic<platform::TRegDeleteKeyEx> gRealDeleteKeyEx{nullptr};
std::atomic<LoggingRegistry*> gLoggingRegistry{nullptr};

long TIDE_WINAPI LoggedDeleteKeyEx(HKEY key, const wchar_t* subKey, uint32_t sam, uint32_t reserved) {
    const long rc = gRealDeleteKeyEx.load()(key, subKey, sam, reserved);
    LoggingRegistry* self = gLoggingRegistry.load();
    const std::wstring name = self ? self->KeyName(key, subKey) : std::wstring(subKey);
    LogEntry(L"registry", L"delete key " + name + ViewOf(sam) + L": " + Result(rc));
    return rc;
}

}  // namespace

LoggingRegistry::LoggingRegistry(platform::Registry& inner) : inner_(inner) { gLoggingRegistry = this; }
LoggingRegistry::~LoggingRegistry() {
    LoggingRegistry* self = this;
    gLoggingRegistry.compare_exchange_strong(self, nullptr);
}

std::wstring LoggingRegistry::KeyName(HKEY key, const std::wstring& subKey) {
    std::wstring base = RootName(key);
    if (base.empty()) {
        std::lock_guard<std::mutex> lock(mu_);
        auto it = names_.find(key);
        base = it != names_.end() ? it->second : L"(key)";
    }
    return Join(base, subKey);
}

void LoggingRegistry::Remember(HKEY key, const std::wstring& name) {
    std::lock_guard<std::mutex> lock(mu_);
    names_[key] = name;
}

long LoggingRegistry::OpenKey(HKEY parent, const std::wstring& subKey, uint32_t sam, HKEY* result) {
    const long rc = inner_.OpenKey(parent, subKey, sam, result);
    if (rc == platform::kRegOk && result) Remember(*result, KeyName(parent, subKey) + ViewOf(sam));
    return rc;
}

long LoggingRegistry::CreateKey(HKEY parent, const std::wstring& subKey, uint32_t sam, HKEY* result) {
    const long rc = inner_.CreateKey(parent, subKey, sam, result);
    // Opened for writing is not written yet: the values written say it.
    if (rc == platform::kRegOk && result) Remember(*result, KeyName(parent, subKey) + ViewOf(sam));
    return rc;
}

long LoggingRegistry::CloseKey(HKEY key) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        names_.erase(key);
    }
    return inner_.CloseKey(key);
}

long LoggingRegistry::QueryValue(HKEY key, const std::wstring& name, uint32_t* type, std::vector<uint8_t>* data) {
    return inner_.QueryValue(key, name, type, data);
}

long LoggingRegistry::SetValue(HKEY key, const std::wstring& name, uint32_t type, const void* data, uint32_t size) {
    const long rc = inner_.SetValue(key, name, type, data, size);
    // The name only: a value may hold what the log must not.
    LogEntry(L"registry", L"write value \"" + name + L"\" in " + KeyName(key) + L": " + Result(rc));
    return rc;
}

long LoggingRegistry::DeleteValue(HKEY key, const std::wstring& name) {
    const long rc = inner_.DeleteValue(key, name);
    LogEntry(L"registry", L"delete value \"" + name + L"\" in " + KeyName(key) + L": " + Result(rc));
    return rc;
}

long LoggingRegistry::DeleteKey(HKEY parent, const std::wstring& subKey) {
    const long rc = inner_.DeleteKey(parent, subKey);
    LogEntry(L"registry", L"delete key " + KeyName(parent, subKey) + L": " + Result(rc));
    return rc;
}

long LoggingRegistry::EnumKey(HKEY key, uint32_t index, uint32_t bufferChars, std::wstring* name) {
    return inner_.EnumKey(key, index, bufferChars, name);
}
long LoggingRegistry::EnumValue(HKEY key, uint32_t index, std::wstring* name) {
    return inner_.EnumValue(key, index, name);
}
long LoggingRegistry::QueryInfoKey(HKEY key, platform::RegKeyInfo* info) { return inner_.QueryInfoKey(key, info); }
void* LoggingRegistry::LoadAdvApi32() { return inner_.LoadAdvApi32(); }
void LoggingRegistry::FreeLibrary(void* library) { inner_.FreeLibrary(library); }

platform::TRegDeleteKeyEx LoggingRegistry::FindRegDeleteKeyEx(void* library) {
    platform::TRegDeleteKeyEx real = inner_.FindRegDeleteKeyEx(library);
    if (!real) return nullptr;
    gRealDeleteKeyEx = real;
    return &LoggedDeleteKeyEx;
}

// --- programs ---

namespace {

// The program and what it was given; the command line alone when it names
// the program itself.
std::wstring ProgramText(const platform::ProcessStart& s) {
    const std::wstring line = s.commandLine ? MaskedCommandLine(*s.commandLine) : std::wstring();
    if (!s.application || s.application->empty()) return line;
    if (line.empty()) return *s.application;
    if (StartsWith(LowerCase(line), LowerCase(*s.application)) ||
        StartsWith(LowerCase(line), L"\"" + LowerCase(*s.application)))
        return line;
    return *s.application + L" " + line;
}

class LoggedProcess : public platform::Process {
public:
    LoggedProcess(std::unique_ptr<platform::Process> inner, std::wstring what)
        : inner_(std::move(inner)), what_(std::move(what)) {}
    bool Wait(uint32_t ms) override {
        const bool ended = inner_->Wait(ms);
        if (ended) Ended();
        return ended;
    }
    uint32_t ExitCode() override {
        Ended();
        return inner_->ExitCode();
    }
    platform::PipeRead ReadOutput(char* buffer, size_t max, size_t& got, uint32_t waitMs) override {
        return inner_->ReadOutput(buffer, max, got, waitMs);
    }
    void CloseOutputWrite() override { inner_->CloseOutputWrite(); }
    void CloseOutputRead() override { inner_->CloseOutputRead(); }

private:
    void Ended() {
        if (logged_.exchange(true)) return;
        LogEntry(L"program", L"ended with exit code " + IntToStr(inner_->ExitCode()) + L": " + what_);
    }
    std::unique_ptr<platform::Process> inner_;
    std::wstring what_;
    std::atomic<bool> logged_{false};
};

}  // namespace

std::unique_ptr<platform::Process> LoggingProcesses::Start(const platform::ProcessStart& start, uint32_t& error) {
    std::unique_ptr<platform::Process> p = inner_.Start(start, error);
    const std::wstring what = ProgramText(start);
    if (!p) {
        LogEntry(L"program", L"could not start (error " + IntToStr(error) + L"): " + what);
        return p;
    }
    LogEntry(L"program", L"started: " + what);
    return std::make_unique<LoggedProcess>(std::move(p), what);
}

namespace {

void LogShellStart(const std::wstring& verb, const std::wstring& file, const std::wstring& parameters, intptr_t rc) {
    std::wstring what = L"shell " + verb + L" " + UrlForLog(file);
    if (!parameters.empty()) what += L" " + MaskedCommandLine(parameters);
    // The shell hands the start over and tells no exit code.
    LogEntry(L"program", what + (rc > 32 ? L": started" : L": failed (" + IntToStr(rc) + L")"));
}

}  // namespace

intptr_t LoggingShell::Execute(const std::wstring& verb, const std::wstring& file, const std::wstring& parameters,
                               const std::optional<std::wstring>& directory, int show) {
    const intptr_t rc = inner_.Execute(verb, file, parameters, directory, show);
    LogShellStart(verb, file, parameters, rc);
    return rc;
}

intptr_t LoggingShell::ExecuteOwned(void* owner, const std::wstring& verb, const std::wstring& file,
                                    const std::wstring& parameters, const std::optional<std::wstring>& directory,
                                    int show) {
    const intptr_t rc = inner_.ExecuteOwned(owner, verb, file, parameters, directory, show);
    LogShellStart(verb, file, parameters, rc);
    return rc;
}

// --- URLs ---

std::wstring UrlForLog(const std::wstring& url) {
    const size_t scheme = url.find(L"://");
    if (scheme == std::wstring::npos) return url;
    const size_t hostStart = scheme + 3;
    const size_t hostEnd = url.find_first_of(L"/?#", hostStart);
    const size_t at = url.rfind(L'@', hostEnd == std::wstring::npos ? url.size() : hostEnd);
    if (at == std::wstring::npos || at < hostStart) return url;
    return url.substr(0, hostStart) + url.substr(at + 1);
}

namespace {

class LoggedUrl : public platform::UrlHandle {
public:
    LoggedUrl(std::unique_ptr<platform::UrlHandle> inner, std::wstring what)
        : inner_(std::move(inner)), what_(std::move(what)) {}
    ~LoggedUrl() override {
        LogEntry(L"url", what_ + L": status " + IntToStr(inner_->StatusCode()) + L", " + IntToStr(bytes_) +
                             L" bytes");
    }
    int StatusCode() override { return inner_->StatusCode(); }
    size_t Read(void* buffer, size_t count) override {
        const size_t got = inner_->Read(buffer, count);
        bytes_ += got;
        return got;
    }

private:
    std::unique_ptr<platform::UrlHandle> inner_;
    std::wstring what_;
    uint64_t bytes_ = 0;
};

class LoggedSession : public platform::HttpSession {
public:
    explicit LoggedSession(std::unique_ptr<platform::HttpSession> inner) : inner_(std::move(inner)) {}
    std::unique_ptr<platform::UrlHandle> OpenUrl(const std::wstring& url, const std::wstring& headers) override {
        std::wstring what = L"GET " + UrlForLog(url);
        const std::wstring range = L"Range: bytes=";
        if (StartsWith(headers, range)) {
            const std::wstring from = FromPos(headers, range.size());
            what += L" (resume from byte " + LeftStr(from, from.find(L'-')) + L")";
        }
        std::unique_ptr<platform::UrlHandle> h = inner_->OpenUrl(url, headers);
        if (!h) {
            const std::wstring why = CertificateRefusal(inner_->LastFailure());
            LogEntry(L"url", what + L": could not be opened" + (why.empty() ? L"" : L": " + why));
            return h;
        }
        return std::make_unique<LoggedUrl>(std::move(h), what);
    }
    void Abort() override { inner_->Abort(); }
    platform::HttpFailure LastFailure() override { return inner_->LastFailure(); }

private:
    std::unique_ptr<platform::HttpSession> inner_;
};

}  // namespace

std::unique_ptr<platform::HttpSession> LoggingHttp::OpenSession(const std::wstring& agent,
                                                               const platform::HttpTimeouts& timeouts) {
    std::unique_ptr<platform::HttpSession> s = inner_.OpenSession(agent, timeouts);
    if (!s) {
        LogEntry(L"url", L"no internet session could be opened");
        return s;
    }
    return std::make_unique<LoggedSession>(std::move(s));
}

void LoggingHttp::SetProxyCredentials(const std::wstring& user, const std::wstring& password) {
    inner_.SetProxyCredentials(user, password);
}

// --- install steps ---

namespace {

std::wstring Done(bool ok) { return ok ? L": ok" : L": failed"; }

}  // namespace

TInstallSteps LoggingInstallSteps(const TInstallSteps& in) {
    TInstallSteps s;
    s.SelfUpdateAndRegister = [f = in.SelfUpdateAndRegister] {
        const bool ok = f();
        LogEntry(L"step", L"SelfUpdateAndRegister" + Done(ok));
        return ok;
    };
    s.InstallJre = [f = in.InstallJre](platform::StatusLine* sb, const std::wstring& c) {
        const bool ok = f(sb, c);
        LogEntry(L"step", L"InstallJre(" + c + L")" + Done(ok));
        return ok;
    };
    s.RemoveServerService = [f = in.RemoveServerService](bool quiet) {
        f(quiet);
        LogEntry(L"step", L"RemoveServerService: done");
    };
    s.InstallTomcat = [f = in.InstallTomcat](platform::StatusLine* sb, const std::wstring& c) {
        const bool ok = f(sb, c);
        LogEntry(L"step", L"InstallTomcat(" + c + L")" + Done(ok));
        return ok;
    };
    s.ConfigureServerBase = [f = in.ConfigureServerBase](platform::StatusLine* sb) {
        const bool ok = f(sb);
        LogEntry(L"step", L"ConfigureServerBase" + Done(ok));
        return ok;
    };
    s.InstallApplication = [f = in.InstallApplication](platform::StatusLine* sb) {
        const bool ok = f(sb);
        LogEntry(L"step", L"InstallApplication" + Done(ok));
        return ok;
    };
    s.InstallServerService = [f = in.InstallServerService] {
        const bool ok = f();
        LogEntry(L"step", L"InstallServerService" + Done(ok));
        return ok;
    };
    s.SetServerRunning = [f = in.SetServerRunning](bool start) {
        const bool ok = f(start);
        LogEntry(L"step", std::wstring(start ? L"start" : L"stop") + L" the server" + Done(ok));
        return ok;
    };
    s.CreateProgramShortcuts = [f = in.CreateProgramShortcuts](const std::wstring& i, const std::wstring& d) {
        f(i, d);
        LogEntry(L"step", L"CreateProgramShortcuts: done");
    };
    s.CreateServiceShortcuts = [f = in.CreateServiceShortcuts](const std::wstring& d) {
        f(d);
        LogEntry(L"step", L"CreateServiceShortcuts: done");
    };
    return s;
}

}  // namespace tide
