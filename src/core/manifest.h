// The release manifest "downloader.ini": where it comes from, when it is
// fetched, and the lookups that answer every question about the release.
//
// The manifest is fetched at most once per run into the install directory
// (again at every lookup while the local copy is missing or empty). The
// bytes the fetcher accepted (their signature checked) are kept in memory
// and answer every lookup of the run: the copy on disk is for the
// administrator and the next run, and a change made to it during the run
// is never read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/error.h"

namespace tide {

// The release manifest says something this program must not act on (a
// malformed number, a file name with a directory in it, a folder outside the
// install directory). The message names the section, the key and the value.
class ManifestError : public Error {
public:
    using Error::Error;
};

// The manifest arrived but may not be used: its signature does not match it,
// or it has none where one is required. Nothing of it was kept. It ends the
// program through its last handler ("Notice" box, error icon): nothing is
// installed or downloaded after it. The message names the manifest's
// location and what was wrong.
class ManifestRefused : public Error {
public:
    using Error::Error;
};

extern const wchar_t kManifestFileName[];          // "downloader.ini"
extern const wchar_t kDownloadErrorCaption[];      // "Error Downloading Software"

// The advice shown when a download fails (manifest fetch here, the
// installation elsewhere): how to get the CD image instead.
std::wstring DownloadFailureAdvice();

// The local copy: InstallDirectory() + "downloader.ini" ("downloader.ini" in
// the current directory while no install directory is recorded).
std::wstring ManifestLocalPath();

// Where to fetch the manifest from, by the command line (index 0 is the
// program): the argument after the first "/i", "/I" or "/testini" (any
// case); empty when there is none or it is the last argument.
std::wstring ManifestLocationArgument(const std::vector<std::wstring>& args);
// ManifestLocationArgument, or the default URL on the download server when
// that is empty.
std::wstring ManifestLocation(const std::vector<std::wstring>& args);

// True when argument 1 contains "UNINSTALL" (upper case, as the registered
// "/UNINSTALL" and the final stage "/DOUNINSTALL" write it): those runs read
// an existing local copy without fetching.
bool IsUninstallRun(const std::vector<std::wstring>& args);

// Brings the manifest from a location (URL or file) to the local copy and
// hands over the exact bytes it accepted, which answer the lookups from
// then on; false when it could not (a local copy from before stays as it
// was, and the next lookup fetches again). Throws
// ManifestRefused when the manifest came but must not be used. The download layer provides
// the one the program uses (download/manifest_download.h) and the program's
// entry installs it. While none is installed, every fetch fails like a fetch
// without a network.
class ManifestFetcher {
public:
    virtual ~ManifestFetcher() = default;
    virtual bool Fetch(const std::wstring& location, const std::wstring& localPath, std::string& accepted) = 0;
};
void SetManifestFetcher(ManifestFetcher* fetcher);

// The value of key in section (empty when missing), fetching the manifest
// first when this run has not fetched it or the local copy is missing or
// empty. A failed fetch shows the download-failure advice and asks the
// application to quit; the lookup still returns what the local copy holds.
std::wstring ManifestValue(const std::wstring& section, const std::wstring& key);

// ManifestValue(section, "FILE_NAME"), as written in the manifest. Use
// ComponentFilePath (core/layout.h) to place it in the install directory.
std::wstring ComponentFileName(const std::wstring& section);

// ManifestValue(section, "FILE_SIZE") as a byte count; absent or empty is 0.
// Throws ManifestError naming the section and the value when it is not a
// decimal number of bytes (letters, a sign, more than 32 bits).
int32_t ComponentFileSize(const std::wstring& section);

// The conversion ComponentFileSize applies to a FILE_SIZE text.
int32_t ParseComponentFileSize(const std::wstring& section, const std::wstring& text);

// Whether this run has fetched the manifest (or decided not to). A run that
// does not fetch (an uninstall) reads the local copy once, at its first
// lookup, and keeps what it read for the rest of the run.
bool ManifestFetchedThisRun();
// From now on in this run every lookup reads the manifest already in the
// install directory, as an uninstall run does: removing an installation
// never goes to the download server.
void UseLocalManifest();
// Tests only: forget the fetch, as at the start of a new run.
void ResetManifestFetchedForTest();

}  // namespace tide
