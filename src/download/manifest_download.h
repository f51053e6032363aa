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
//
// A release carries its serial number, RELEASE_SERIAL in [GENERAL] (written
// by tiderelease, covered by the signature). The highest serial of a signed
// manifest this machine accepted is kept in the settings store as
// "ReleaseSerial"; a manifest with a lower one is an older release served
// again (its signature still holds, its components may have known holes)
// and is refused like a bad signature, naming both serials.
//
// The manifest is at most 1 MiB (its signature far less): a longer answer
// is cut off there and fails the fetch. Where SHA-256 is required, every
// section that names a file must carry its FILE_SHA256 (the signature binds
// the components to the release only through digests that cannot be
// forged; MD5 can), or the manifest is refused before anything it names is
// fetched.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/manifest.h"

namespace tide {

class TManifestDownload : public ManifestFetcher {
public:
    // The build's key and requirement (download/release_key.h); a build
    // that requires the signature requires FILE_SHA256 as well.
    TManifestDownload();
    TManifestDownload(std::vector<uint8_t> publicKey, bool signatureRequired, bool sha256Required = false);
    bool Fetch(const std::wstring& location, const std::wstring& localPath, std::string& accepted) override;

private:
    std::vector<uint8_t> publicKey_;
    bool signatureRequired_;
    bool sha256Required_;
};

// The largest release manifest accepted.
constexpr uint64_t kMaxManifestBytes = 1024 * 1024;

// The one the program installs with SetManifestFetcher.
ManifestFetcher& ManifestDownload();

// The texts of a refusal (thrown as ManifestRefused).
std::wstring SignatureMismatchMessage(const std::wstring& location);
std::wstring SignatureMissingMessage(const std::wstring& location);
std::wstring SignatureMalformedMessage(const std::wstring& location);
std::wstring ReleaseSerialOlderMessage(const std::wstring& location, uint64_t offered, uint64_t accepted);
std::wstring ReleaseSerialMissingMessage(const std::wstring& location, uint64_t accepted);
std::wstring ReleaseSerialMalformedMessage(const std::wstring& location, const std::wstring& text);

// The settings value that holds the highest release serial accepted here.
extern const wchar_t kReleaseSerialSetting[];  // "ReleaseSerial"
// A release serial: 1 to 18 decimal digits (blanks around them dropped);
// nothing for any other text.
std::optional<uint64_t> ParseReleaseSerial(const std::wstring& text);
// sections: "[SECTION] FILE_NAME" of each that lacks a valid FILE_SHA256.
std::wstring Sha256MissingMessage(const std::wstring& location, const std::vector<std::wstring>& sections);

}  // namespace tide
