// The manifest fetch of the program: the release manifest is downloaded with
// the URL downloader, identified by the agent name, without resume (a stale
// partial copy must never be completed with a newer manifest's tail).
//
// Its detached signature (the manifest's location + ".sig", see
// download/signature.h) is fetched beside it and checked against the
// build's public key before the manifest becomes the local copy. A
// signature that does not match, or none where one is required, throws
// ManifestRefused: nothing of that manifest is kept or acted on (a local
// copy from before stays as it was). A signature that cannot be fetched for any other reason (no
// network, a server error) fails the fetch like the manifest's own download.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/manifest.h"

namespace tide {

class TManifestDownload : public ManifestFetcher {
public:
    // The build's key and requirement (download/release_key.h).
    TManifestDownload();
    TManifestDownload(std::vector<uint8_t> publicKey, bool signatureRequired);
    bool Fetch(const std::wstring& location, const std::wstring& localPath, std::string& accepted) override;

private:
    std::vector<uint8_t> publicKey_;
    bool signatureRequired_;
};

// The one the program installs with SetManifestFetcher.
ManifestFetcher& ManifestDownload();

// The texts of a refusal (thrown as ManifestRefused).
std::wstring SignatureMismatchMessage(const std::wstring& location);
std::wstring SignatureMissingMessage(const std::wstring& location);
std::wstring SignatureMalformedMessage(const std::wstring& location);

}  // namespace tide
