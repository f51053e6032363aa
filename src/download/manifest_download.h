// The manifest fetch of the program: the release manifest is downloaded with
// the URL downloader, identified by the agent name, without resume (a stale
// partial copy must never be completed with a newer manifest's tail).
#pragma once

#include "core/manifest.h"

namespace tide {

class TManifestDownload : public ManifestFetcher {
public:
    bool Fetch(const std::wstring& location, const std::wstring& localPath) override;
};

// The one the program installs with SetManifestFetcher.
ManifestFetcher& ManifestDownload();

}  // namespace tide
