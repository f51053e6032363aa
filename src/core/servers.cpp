#include "core/servers.h"

namespace tide {
namespace {

// The only place that names the vendor's hosts.
constexpr wchar_t kDownloadServerHost[] = L"download.quorvanlabs.com";
constexpr wchar_t kWebSiteHost[] = L"www.quorvanlabs.com";
constexpr wchar_t kTrialServerHost[] = L"trial.quorvanlabs.com";

// The download server is reached over plain HTTP: the manifest and the
// components are checked by size and MD5 digest, and WinInet on old Windows
// versions cannot negotiate current TLS. The pages opened in the browser use
// HTTPS, which every browser the installer meets speaks.
constexpr wchar_t kDownloadScheme[] = L"http://";
constexpr wchar_t kBrowserScheme[] = L"https://";

}  // namespace

const wchar_t kManifestPath[] = L"/loader/downloader.ini";

std::wstring DownloadServerBase() { return std::wstring(kDownloadScheme) + kDownloadServerHost; }
std::wstring WebSiteBase() { return std::wstring(kBrowserScheme) + kWebSiteHost; }
std::wstring TrialServerBase() { return std::wstring(kBrowserScheme) + kTrialServerHost; }

std::wstring DefaultManifestUrl() { return DownloadServerBase() + kManifestPath; }

std::wstring ComponentUrl(const std::wstring& binaryBase, const std::wstring& fileName) {
    return binaryBase + fileName;
}

std::wstring LicenseUrl() { return WebSiteBase() + L"/loader/LICENSE.html"; }
std::wstring HostedServiceUrl() { return WebSiteBase() + L"/trial/TrialSignup.html?from=installer"; }
std::wstring ExitSurveyUrl() { return TrialServerBase() + L"/ExitSurvey.html?online=no"; }
std::wstring DiscImageUrl() { return WebSiteBase() + L"/bin/tidewell.iso"; }

}  // namespace tide
