#include "core/manifest.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <utility>

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
// Set by UseLocalManifest: the run reads the copy already there.
std::atomic<bool> gLocalOnly{false};
std::atomic<ManifestFetcher*> gFetcher{nullptr};

// The manifest of this run as it was accepted, and the local path it
// belongs to. The verified bytes are kept rather than the signature checked
// again at each read: the signature lives only on the server, and a copy
// read back from disk could have been changed by anyone who may write in
// the install directory; what was checked is what is used. The download
// thread reads it too.
struct KeptManifest {
    std::wstring path;
    std::shared_ptr<const IniDocument> doc;
};
std::mutex gKeptMutex;
KeptManifest gKept;

std::shared_ptr<const IniDocument> Kept(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(gKeptMutex);
    return gKept.path == path ? gKept.doc : nullptr;
}

std::shared_ptr<const IniDocument> Keep(const std::wstring& path, IniDocument read) {
    auto doc = std::make_shared<const IniDocument>(std::move(read));
    std::lock_guard<std::mutex> lock(gKeptMutex);
    gKept = KeptManifest{path, doc};
    return doc;
}

void ForgetKept() {
    std::lock_guard<std::mutex> lock(gKeptMutex);
    gKept = KeptManifest{};
}
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

std::shared_ptr<const IniDocument> FetchManifest(const std::wstring& localPath, const std::vector<std::wstring>& args) {
    std::wstring location = ManifestLocation(args);
    ManifestFetcher* fetcher = gFetcher.load();
    ForgetKept();  // whatever this fetch brings, the earlier manifest is done with
    std::string accepted;
    if (!fetcher || !fetcher->Fetch(location, localPath, accepted)) {
        platform::ShowMessage(DownloadFailureAdvice(), kDownloadErrorCaption, platform::MbIcon::Warning);
        platform::Env().RequestQuit();
        return nullptr;
    }
    return Keep(localPath, IniDocument::FromBytes(accepted));
}

}  // namespace

std::wstring ManifestValue(const std::wstring& section, const std::wstring& key) {
    const std::wstring localPath = ManifestLocalPath();
    const std::vector<std::wstring> args = platform::Env().Arguments();
    const bool localOnly = gLocalOnly.load() || IsUninstallRun(args);
    if (localOnly) gFetched.store(true);
    std::shared_ptr<const IniDocument> doc = Kept(localPath);
    if (LocalFileSize(localPath) == 0 || !gFetched.load() || (!doc && !localOnly)) {
        // A copy at another path than the one fetched (the install
        // directory changed) is fetched again rather than trusted.
        doc = FetchManifest(localPath, args);
    } else if (!doc) {
        IniDocument read;
        if (IniDocument::Load(localPath, read)) doc = Keep(localPath, std::move(read));
    }
    gFetched.store(true);
    return doc ? doc->ReadString(section, key) : std::wstring();
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
void UseLocalManifest() {
    gFetched.store(true);
    gLocalOnly.store(true);
}
void ResetManifestFetchedForTest() {
    gFetched.store(false);
    gLocalOnly.store(false);
    ForgetKept();
}

}  // namespace tide
