#include "download/manifest_download.h"

#include <memory>
#include <utility>

#include "base/text.h"
#include "core/IniDocument.h"
#include "core/local_file.h"
#include "core/Tidestart.h"
#include "core/settings.h"
#include "download/URLFetcher2.h"
#include "download/release_key.h"
#include "download/signature.h"
#include "platform/files.h"
#include "platform/http.h"

namespace tide {

namespace {

using platform::Files;

constexpr size_t kMaxSignatureBytes = 4096;  // a signature text is 129 bytes
constexpr int kSignatureAttempts = 3;

enum class Fetched { Got, Missing, Failed };

// A location on a server (a scheme other than file:), as opposed to a path
// or file URL on this machine.
bool IsWebLocation(const std::wstring& location) {
    const std::wstring l = LowerCase(location);
    return l.find(L"://") != std::wstring::npos && !StartsWith(l, L"file:");
}

// One small file by URL or path. Missing: the server answers that there is
// no such file (404, 410), or a file location cannot be opened; Failed:
// anything else that stops the transfer (no network, an error answer).
Fetched FetchSmall(const std::wstring& location, std::string& bytes) {
    bytes.clear();
    std::unique_ptr<platform::HttpSession> session =
        platform::Internet().OpenSession(AgentName(), platform::HttpTimeouts{30000, 60000});
    if (!session) return Fetched::Failed;
    std::unique_ptr<platform::UrlHandle> url = session->OpenUrl(location, L"");
    if (!url) return IsWebLocation(location) ? Fetched::Failed : Fetched::Missing;
    const int status = url->StatusCode();
    if (status == 404 || status == 410) return Fetched::Missing;
    if (status != 0 && (status < 200 || status > 299)) return Fetched::Failed;
    char buf[1024];
    for (size_t n; (n = url->Read(buf, sizeof buf)) > 0;) {
        bytes.append(buf, n);
        // Longer than any signature: it is not one, and need not be read on.
        if (bytes.size() > kMaxSignatureBytes) break;
    }
    return Fetched::Got;
}

Fetched FetchSignature(const std::wstring& location, std::string& bytes) {
    Fetched got = Fetched::Failed;
    for (int i = 0; i < kSignatureAttempts && got == Fetched::Failed; ++i) got = FetchSmall(location, bytes);
    return got;
}

// "[SECTION] FILE_NAME" of every section that names a file without a
// FILE_SHA256 of 64 hexadecimal digits.
std::vector<std::wstring> SectionsWithoutSha256(const std::string& manifest) {
    std::vector<std::wstring> out;
    const IniDocument doc = IniDocument::FromBytes(manifest);
    for (const std::wstring& section : doc.SectionNames()) {
        const std::wstring file = doc.ReadString(section, L"FILE_NAME");
        if (file.empty()) continue;
        const std::wstring sha = Trim(doc.ReadString(section, L"FILE_SHA256"));
        bool good = sha.size() == 64;
        for (wchar_t c : sha) good = good && ((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'));
        if (!good) out.push_back(L"[" + section + L"] " + file);
    }
    return out;
}

}  // namespace

std::wstring SignatureMismatchMessage(const std::wstring& location) {
    return L"The release manifest " + location + L" was refused: its signature " + location +
           L".sig does not match it.\n\nThe manifest may have been changed after the publisher signed it. "
           L"Nothing was installed.";
}

std::wstring SignatureMissingMessage(const std::wstring& location) {
    return L"The release manifest " + location + L" was refused: it has no signature (" + location +
           L".sig was not found).\n\nThis installer accepts only a manifest signed by the publisher. "
           L"Nothing was installed.";
}

std::wstring SignatureMalformedMessage(const std::wstring& location) {
    return L"The release manifest " + location + L" was refused: its signature " + location +
           L".sig is not a valid signature.\n\nNothing was installed.";
}

const wchar_t kReleaseSerialSetting[] = L"ReleaseSerial";

std::optional<uint64_t> ParseReleaseSerial(const std::wstring& text) {
    const std::wstring t = Trim(text);
    if (t.empty() || t.size() > 18) return std::nullopt;
    uint64_t value = 0;
    for (wchar_t c : t) {
        if (c < L'0' || c > L'9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - L'0');
    }
    return value;
}

namespace {
std::wstring Decimal(uint64_t n) { return std::to_wstring(n); }
}  // namespace

std::wstring ReleaseSerialOlderMessage(const std::wstring& location, uint64_t offered, uint64_t accepted) {
    return L"The release manifest " + location + L" was refused: it is release " + Decimal(offered) +
           L", older than release " + Decimal(accepted) +
           L", which this computer has already accepted.\n\nAn older release may have been served again to "
           L"install components with known faults. Nothing was installed.";
}

std::wstring ReleaseSerialMissingMessage(const std::wstring& location, uint64_t accepted) {
    return L"The release manifest " + location + L" was refused: it has no release serial (RELEASE_SERIAL), "
           L"and this computer has already accepted release " + Decimal(accepted) +
           L".\n\nAn older release may have been served again. Nothing was installed.";
}

std::wstring ReleaseSerialMalformedMessage(const std::wstring& location, const std::wstring& text) {
    return L"The release manifest " + location + L" was refused: its release serial (RELEASE_SERIAL) \"" + text +
           L"\" is not a decimal number.\n\nNothing was installed.";
}

std::wstring Sha256MissingMessage(const std::wstring& location, const std::vector<std::wstring>& sections) {
    std::wstring list;
    for (const auto& s : sections) list += L"\n" + s;
    return L"The release manifest " + location +
           L" was refused: these components have no FILE_SHA256 (64 hexadecimal digits):\n" + list +
           L"\n\nThis installer takes a component only by a SHA-256 digest that the signed manifest names; "
           L"MD5 alone does not prove that a file is the publisher's. Nothing was downloaded or installed.";
}

TManifestDownload::TManifestDownload()
    : TManifestDownload(ReleasePublicKey(), ReleaseSignatureRequired(), ReleaseSignatureRequired()) {}

TManifestDownload::TManifestDownload(std::vector<uint8_t> publicKey, bool signatureRequired, bool sha256Required)
    : publicKey_(std::move(publicKey)), signatureRequired_(signatureRequired), sha256Required_(sha256Required) {}

bool TManifestDownload::Fetch(const std::wstring& location, const std::wstring& localPath, std::string& accepted) {
    // The manifest arrives beside the local copy and replaces it only once
    // it is accepted; whatever fails, no copy of it is left, and the copy of
    // the release already installed stays as it was (the uninstaller reads
    // it; this run's lookups never do without fetching again).
    const std::wstring fresh = localPath + L".new";
    Files().RemoveFile(fresh);
    TUrlDownloader dl(AgentName());
    dl.AllowResume = false;
    dl.MaximumSize = kMaxManifestBytes;
    if (!dl.downloadURL(location, fresh, L"", -1)) {
        Files().RemoveFile(fresh);
        return false;
    }
    std::string manifest, signature;
    const Fetched sig = FetchSignature(location + L".sig", signature);
    std::wstring refusal;
    if (sig == Fetched::Failed) {
        Files().RemoveFile(fresh);
        return false;
    }
    std::optional<std::string> read = ReadLocalFile(fresh);
    if (!read) {
        Files().RemoveFile(fresh);
        return false;
    }
    manifest = std::move(*read);
    if (sig == Fetched::Missing) {
        if (signatureRequired_) refusal = SignatureMissingMessage(location);
    } else {
        switch (CheckSignature(manifest, signature, publicKey_)) {
            case SignatureCheck::Good: break;
            case SignatureCheck::Mismatch: refusal = SignatureMismatchMessage(location); break;
            case SignatureCheck::Malformed: refusal = SignatureMalformedMessage(location); break;
        }
    }
    // The serial is read from the bytes whose signature was just checked.
    // Before any serial is stored (a first installation) a manifest without
    // one is accepted: releases made before serials existed still install.
    // Once one is stored, a manifest without one is refused: it is a release
    // from before serials, older than the one that set the stored serial.
    const std::wstring serialText = IniDocument::FromBytes(manifest).ReadString(L"GENERAL", L"RELEASE_SERIAL");
    const std::optional<uint64_t> offered = ParseReleaseSerial(serialText);
    // A stored value that is not a serial (edited by hand) counts as none.
    const std::optional<uint64_t> stored = ParseReleaseSerial(ReadSetting(kReleaseSerialSetting));
    if (refusal.empty()) {
        if (!serialText.empty() && !offered)
            refusal = ReleaseSerialMalformedMessage(location, serialText);
        else if (stored && !offered)
            refusal = ReleaseSerialMissingMessage(location, *stored);
        else if (stored && *offered < *stored)
            refusal = ReleaseSerialOlderMessage(location, *offered, *stored);
    }
    if (refusal.empty() && sha256Required_) {
        const std::vector<std::wstring> lacking = SectionsWithoutSha256(manifest);
        if (!lacking.empty()) refusal = Sha256MissingMessage(location, lacking);
    }
    if (!refusal.empty()) {
        Files().RemoveFile(fresh);
        throw ManifestRefused(refusal);
    }
    Files().RemoveFile(localPath);
    if (!Files().Move(fresh, localPath)) {
        Files().RemoveFile(fresh);
        return false;
    }
    // Only a signed serial raises the mark: an unsigned manifest (accepted
    // by a build that does not require signatures) could otherwise set it
    // so high that no real release is accepted again.
    if (sig == Fetched::Got && offered && (!stored || *offered > *stored))
        WriteSetting(kReleaseSerialSetting, Decimal(*offered));
    accepted = std::move(manifest);
    return true;
}

ManifestFetcher& ManifestDownload() {
    static TManifestDownload instance;
    return instance;
}

}  // namespace tide
