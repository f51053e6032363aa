#include "core/Tidestart.h"

#include <clocale>

#include "base/text.h"
#include "core/proxy_options.h"
#include "platform/environment.h"
#include "platform/message_box.h"
#include "platform/version_info.h"

namespace tide {

const wchar_t kApplicationTitle[] = L"Tidewell Downloader";

Mode SelectMode(const std::wstring& argument1) {
    std::wstring a = LowerCase(argument1);
    if (a == L"/uninstall") return Mode::Uninstall;
    if (a == L"/douninstall") return Mode::DoUninstall;
    if (a == L"/testini") return Mode::TestIni;
    return Mode::Installer;
}

std::wstring ExeVersionString(const std::wstring& path) {
    platform::FixedFileVersion v;
    if (!platform::Port<platform::VersionInfo>::Get().ReadFixedFileVersion(path, v)) return std::wstring();
    return IntToStr(v.ms >> 16) + L"." + IntToStr(v.ms & 0xFFFF) + L"." + IntToStr(v.ls >> 16) + L"." +
           IntToStr(v.ls & 0xFFFF);
}

std::wstring AgentName() {
    return L"Tidewell Downloader V " + ExeVersionString(platform::Env().ExecutablePath());
}

namespace {
void NotAvailable() {
    platform::ShowMessage(L"This mode is not available in this build.", L"Notice", platform::MbIcon::Information);
}
}  // namespace

int RunTidestart(const ModeHandlers& handlers) {
    auto& env = platform::Env();
    env.SetApplicationTitle(kApplicationTitle);
    // Numbers are always written with "." as decimal separator.
    std::setlocale(LC_NUMERIC, "C");

    auto args = env.Arguments();
    // Before any mode fetches anything (the manifest, a component).
    ApplyProxyCredentials(args);
    Mode mode = SelectMode(args.size() > 1 ? args[1] : std::wstring());
    const std::function<void()>* run = nullptr;
    switch (mode) {
        case Mode::Installer: run = &handlers.installer; break;
        case Mode::Uninstall: run = &handlers.uninstall; break;
        case Mode::DoUninstall: run = &handlers.doUninstall; break;
        case Mode::TestIni: run = &handlers.testIni; break;
    }
    if (*run)
        (*run)();
    else
        NotAvailable();
    return 0;
}

}  // namespace tide
