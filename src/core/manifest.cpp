#include "core/manifest.h"

#include <atomic>

#include "core/IniDocument.h"
#include "core/local_file.h"
#include "core/servers.h"
#include "core/settings.h"
#include "base/text.h"
#include "platform/environment.h"
#include "platform/message_box.h"

namespace tide {

const wchar_t kManifestFileName[] = L"downloader.ini";
const wchar_t kDownloadErrorCaption[] = L"Error Downloading Software";

namespace {
// Set by the first lookup of the run and never cleared (outside tests). The
// component download thread reads it too, hence atomic.
std::atomic<bool> gFetched{false};
std::atomic<ManifestFetcher*> gFetcher{nullptr};
}  // namespace

void SetManifestFetcher(ManifestFetcher* fetcher) { gFetcher.store(fetcher); }

std::wstring DownloadFailureAdvice() {
    return L"An error happened downloading a file.\n\n"
           L"Usually this is caused by a firewall or mandatory proxy on corporate \n"
           L"networks. This prevents the downloader from working. Contact your firewall/proxy \n"
           L"administrator. You can also download a CDROM image of Tidewell to\n"
           L"install.\n\n"
           L"Download the file:\n\n" +
           DiscImageUrl() +
           L"\n\nand burn it to a CDROM using the software's \"Burn Image\" function.\n\n"
           L"Once you have created the CD, insert it into the computer and choose CDROM install.";
}

std::wstring ManifestLocalPath() { return InstallDirectory() + kManifestFileName; }

std::wstring ManifestLocationArgument(const std::vector<std::wstring>& args) {
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == L"/i" || args[i] == L"/I" || LowerCase(args[i]) == L"/testini")
            return i + 1 < args.size() ? args[i + 1] : std::wstring();
    }
    return std::wstring();
}

std::wstring ManifestLocation(const std::vector<std::wstring>& args) {
    std::wstring location = ManifestLocationArgument(args);
    return location.empty() ? DefaultManifestUrl() : location;
}

bool IsUninstallRun(const std::vector<std::wstring>& args) {
    return args.size() > 1 && args[1].find(L"UNINSTALL") != std::wstring::npos;
}

namespace {

void FetchManifest(const std::wstring& localPath, const std::vector<std::wstring>& args) {
    std::wstring location = ManifestLocation(args);
    ManifestFetcher* fetcher = gFetcher.load();
    if (!fetcher || !fetcher->Fetch(location, localPath)) {
        platform::ShowMessage(DownloadFailureAdvice(), kDownloadErrorCaption, platform::MbIcon::Warning);
        platform::Env().RequestQuit();
    }
}

}  // namespace

std::wstring ManifestValue(const std::wstring& section, const std::wstring& key) {
    const std::wstring localPath = ManifestLocalPath();
    const std::vector<std::wstring> args = platform::Env().Arguments();
    if (IsUninstallRun(args)) gFetched.store(true);
    if (LocalFileSize(localPath) == 0 || !gFetched.load()) FetchManifest(localPath, args);
    gFetched.store(true);
    return ReadIniString(localPath, section, key);
}

std::wstring ComponentFileName(const std::wstring& section) { return ManifestValue(section, L"FILE_NAME"); }

int32_t ParseComponentFileSize(const std::wstring& section, const std::wstring& text) {
    std::wstring t = Trim(text);
    if (t.empty()) return 0;
    int64_t value = 0;
    bool ok = true;
    for (wchar_t c : t) {
        if (c < L'0' || c > L'9') {
            ok = false;
            break;
        }
        value = value * 10 + (c - L'0');
        if (value > INT32_MAX) {
            ok = false;
            break;
        }
    }
    if (!ok)
        throw ManifestError(L"The release manifest is malformed: FILE_SIZE of section [" + section + L"] is \"" +
                            text + L"\", which is not a decimal number of bytes.");
    return static_cast<int32_t>(value);
}

int32_t ComponentFileSize(const std::wstring& section) {
    return ParseComponentFileSize(section, ManifestValue(section, L"FILE_SIZE"));
}

bool ManifestFetchedThisRun() { return gFetched.load(); }
void UseLocalManifest() { gFetched.store(true); }
void ResetManifestFetchedForTest() { gFetched.store(false); }

}  // namespace tide
