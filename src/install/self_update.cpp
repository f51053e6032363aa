#include "install/self_update.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/command_line.h"
#include "base/text.h"
#include "core/Tidestart.h"
#include "core/layout.h"
#include "core/manifest.h"
#include "core/proxy_options.h"
#include "core/run_options.h"
#include "download/URLFetcher2.h"
#include "install/uninstall_entry.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/os_info.h"
#include "platform/shell_execute.h"
#include "system/CommandRunner.h"

namespace tide {
namespace {

const wchar_t kUpdatedInstallerText[] =
    L"An updated version of the installer was found.\n\nThe downloader will now re-start.";
const wchar_t kNoRightsText[] =
    L"An error ocurred creating the uninstall registry key for \nthe application. It appears that you don't have "
    L"the\nnecessary permissions to install this program. Please logon as an\nadministrator and run the "
    L"installation program again.";

// The text of each dot-separated part; "" gives one empty part.
std::vector<std::wstring> Parts(const std::wstring& v) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (;;) {
        size_t dot = v.find(L'.', start);
        parts.push_back(v.substr(start, dot == std::wstring::npos ? std::wstring::npos : dot - start));
        if (dot == std::wstring::npos) return parts;
        start = dot + 1;
    }
}

bool IsNumber(const std::wstring& s) {
    if (s.empty()) return false;
    for (wchar_t c : s)
        if (c < L'0' || c > L'9') return false;
    return true;
}

int Sign(int v) { return (v > 0) - (v < 0); }

int ComparePart(const std::wstring& a, const std::wstring& b) {
    if (!IsNumber(a) || !IsNumber(b)) return Sign(a.compare(b));
    std::wstring x = a.substr(std::min(a.find_first_not_of(L'0'), a.size()));
    std::wstring y = b.substr(std::min(b.find_first_not_of(L'0'), b.size()));
    if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
    return Sign(x.compare(y));
}

std::optional<uint32_t> gUpdatedInstallerExit;

// The arguments text without the words that are "/proxypassword=" switches,
// each with the blanks after it; everything else exactly as written. Words
// are read as SplitCommandLine reads them.
std::wstring WithoutProxyPassword(const std::wstring& arguments) {
    std::wstring out;
    size_t i = 0;
    auto blank = [](wchar_t c) { return c == L' ' || c == L'\t'; };
    while (i < arguments.size()) {
        const size_t start = i;
        std::wstring word;
        bool quoted = false;
        for (; i < arguments.size() && (quoted || !blank(arguments[i])); ++i) {
            if (arguments[i] == L'"')
                quoted = !quoted;
            else
                word += arguments[i];
        }
        while (i < arguments.size() && blank(arguments[i])) ++i;
        if (!IsProxyPasswordArgument(word)) out += arguments.substr(start, i - start);
    }
    return out;
}

// This run's words for the newer installer, marked as started by an update.
// The proxy password is not among them (it goes in the environment).
std::wstring UpdatedInstallerArguments(const std::wstring& commandLine) {
    std::wstring arguments = WithoutProxyPassword(CommandLineArguments(commandLine));
    while (!arguments.empty() && (arguments.back() == L' ' || arguments.back() == L'\t')) arguments.pop_back();
    // A quoted run left open would swallow the mark.
    if (std::count(arguments.begin(), arguments.end(), L'"') % 2) arguments += L'"';
    return arguments.empty() ? std::wstring(kUpdatedWord) : arguments + L" " + kUpdatedWord;
}

// Downloads the announced installer (version newest) and starts it; true
// once it runs.
bool StartNewerInstaller(const std::wstring& newest) {
    const std::wstring name = CheckedComponentFileName(L"DOWNLOADER");
    const std::wstring local = TempDirectory() + name;
    TUrlDownloader downloader(AgentName());
    downloader.Sha256 = ManifestValue(L"DOWNLOADER", L"FILE_SHA256");
    if (!downloader.downloadURL(ManifestValue(L"GENERAL", L"BINARY_BASE") + name, local,
                                ManifestValue(L"DOWNLOADER", L"FILE_MD5SUM"), ComponentFileSize(L"DOWNLOADER")))
        return false;
    // A file that is not the announced version (a release whose FILE_VERSION
    // is ahead of what it serves) would find itself outdated too and update
    // again, each copy starting the next: only the announced version starts.
    const std::wstring got = ExeVersionString(local);
    if (got.empty() || CompareVersions(got, newest) != 0) {
        platform::ShowMessage(L"The updated installer " + local + L" " +
                                  (got.empty() ? std::wstring(L"has no version") : L"is version " + got) +
                                  L", but the release announces version " + newest +
                                  L".\n\nIt is not started; the installation goes on with this installer.",
                              L"Notice", platform::MbIcon::Error);
        return false;
    }
    platform::ShowMessage(kUpdatedInstallerText, L"Updated Installer");
    auto& env = platform::Env();
    const std::wstring arguments = UpdatedInstallerArguments(env.CommandLine());
    // The new installer inherits the proxy password in its environment; it
    // is in this process's environment only while that one is started.
    struct PasswordHandover {
        explicit PasswordHandover(std::wstring password) {
            if (!password.empty()) platform::Env().PutVariable(kProxyPasswordVariable, password);
            password.assign(password.size(), L'\0');
        }
        ~PasswordHandover() { platform::Env().RemoveVariable(kProxyPasswordVariable); }
    } handover(ProxyCredentialsFromArguments(env.Arguments()).password);
    if (ParseRunOptions(env.Arguments()).silent) {
        // Whoever started this run waits for its exit code: it is the new
        // installer's. (RunAndWaitForExit has said why when it cannot start.)
        // It starts where this one runs, as the shell starts it below, so
        // relative paths in the arguments name the same files.
        gUpdatedInstallerExit = RunAndWaitForExit(local, L"\"" + local + L"\" " + arguments, std::nullopt);
        return gUpdatedInstallerExit.has_value();
    }
    intptr_t started = platform::Shell().Execute(L"open", local, arguments, std::nullopt, platform::kSwShowNormal);
    if (started > 32) return true;
    // Ending now would leave the administrator with no installer running
    // after being told it restarts; this one can still do the work.
    platform::ShowMessage(L"The updated installer " + local + L" could not be started (error " +
                              IntToStr(started) + L").\n\nThe installation goes on with this installer.",
                          L"Notice", platform::MbIcon::Error);
    return false;
}

}  // namespace

std::wstring TempDirectory() { return platform::Os().TempPath(); }

std::optional<uint32_t> UpdatedInstallerExitCode() { return gUpdatedInstallerExit; }

int CompareVersions(const std::wstring& a, const std::wstring& b) {
    std::vector<std::wstring> x = Parts(a), y = Parts(b);
    for (size_t i = 0; i < std::max(x.size(), y.size()); ++i) {
        int c = ComparePart(i < x.size() ? x[i] : L"0", i < y.size() ? y[i] : L"0");
        if (c != 0) return c;
    }
    return 0;
}

bool IsNewerInstaller(const std::wstring& newest, const std::wstring& own) {
    return !newest.empty() && (own.empty() || CompareVersions(newest, own) > 0);
}

bool SelfUpdateAndRegister() {
    gUpdatedInstallerExit.reset();
    const std::wstring self = platform::Env().ExecutablePath();
    const std::wstring newest = ManifestValue(L"DOWNLOADER", L"FILE_VERSION");
    // An installer an update started is the newest there is: it never
    // updates again, so no release can chain updates without end.
    const bool updated = ParseRunOptions(platform::Env().Arguments()).updated;
    if (!updated && IsNewerInstaller(newest, ExeVersionString(self)) && StartNewerInstaller(newest)) {
        platform::Env().RequestQuit();
        return false;
    }
    const std::wstring target = InstallerCopyPath();
    if (SameText(self, target)) return true;
    // Without the copy the entry below names a missing file and the product
    // cannot be uninstalled from the list of programs: say so now.
    if (!platform::Files().Copy(self, target, false)) {
        uint32_t error = platform::Files().LastError();
        platform::ShowMessage(L"The installer could not be copied to " + target + L":\n" +
                                  Trim(platform::Os().SystemMessage(error, 512)) +
                                  L"\n\nWithout that copy Tidewell cannot be uninstalled from the list of "
                                  L"installed programs.",
                              L"Notice", platform::MbIcon::Error);
    }
    if (!WriteUninstallEntry(target)) {
        platform::ShowMessage(kNoRightsText, L"Notice", platform::MbIcon::Error);
        platform::Env().RequestQuit();
        return false;
    }
    return true;
}

}  // namespace tide
