// The vendor's servers and every request this program makes of them.
//
// Three servers are involved: the download server (release manifest,
// component files, newest installer), the web site (licence and
// hosted-service pages, disc image) and the trial-signup server (exit
// survey). Their host names live in servers.cpp and nowhere else: a rebrand
// or a staging server is a change of those constants only. Paths and query
// strings are fixed by the servers and must not change.
#pragma once

#include <string>

namespace tide {

// Scheme and host of each server, e.g. "http://download.example.com" (no
// trailing slash).
std::wstring DownloadServerBase();
std::wstring WebSiteBase();
std::wstring TrialServerBase();

// Path of the release manifest on the download server.
extern const wchar_t kManifestPath[];  // "/loader/downloader.ini"

// Default location of the release manifest (plain HTTP).
std::wstring DefaultManifestUrl();

// Download URL of a component or of the newest installer: the manifest's
// BINARY_BASE followed directly by the file name (no separator inserted;
// BINARY_BASE ends in "/").
std::wstring ComponentUrl(const std::wstring& binaryBase, const std::wstring& fileName);

// Pages opened in the browser.
std::wstring LicenseUrl();        // web site, "/loader/LICENSE.html"
std::wstring HostedServiceUrl();  // web site, "/trial/TrialSignup.html?from=installer"
std::wstring ExitSurveyUrl();     // trial-signup server, "/ExitSurvey.html?online=no"

// The CD image named in the download-failure advice (only shown, never
// requested): web site, "/bin/tidewell.iso".
std::wstring DiscImageUrl();

}  // namespace tide
