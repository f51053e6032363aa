#include "download/verification.h"

#include "core/IniDocument.h"
#include "base/text.h"
#include "download/md5.h"
#include "download/sha256.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/message_box.h"

namespace tide {

using platform::MbIcon;

namespace {

// The file opened as LocalFileSize opens it; nullptr when it cannot be.
std::unique_ptr<platform::File> OpenForCheck(const std::wstring& path) {
    return platform::Files().Open(path, platform::OpenMode::ReadExisting, platform::Share::Read);
}

}  // namespace

bool CheckFileSize(const std::wstring& path, int32_t expectedSize) {
    if (expectedSize < 0) return false;
    // LocalFileSize says 0 for a file it cannot open, which must not pass
    // as an empty file.
    std::unique_ptr<platform::File> file = OpenForCheck(path);
    if (!file) return false;
    return static_cast<uint32_t>(expectedSize) == static_cast<uint32_t>(file->Size());
}

bool ComponentFileComplete(const std::wstring& path, int32_t size, const std::wstring& md5,
                           const std::wstring& sha256) {
    if (size >= 1) {
        if (!CheckFileSize(path, size)) return false;
    } else if (md5.empty()) {
        return false;
    }
    const std::wstring sha = Trim(sha256);
    if (size >= 1 && sha.empty()) return true;
    std::unique_ptr<platform::File> file = OpenForCheck(path);
    if (!file) return false;
    if (size < 1 && !SameText(DigestToHex(DigestOfStream(*file)), md5)) return false;
    return sha.empty() || SameText(Sha256OfStream(*file), sha);
}

void VerifyManifestFiles() {
    const auto args = platform::Env().Arguments();
    const std::wstring manifestPath = args.size() > 2 ? args[2] : std::wstring();
    std::wstring folder = args.size() > 3 ? args[3] : std::wstring();
    if (!EndsWith(folder, L"\\")) folder += L"\\";

    IniDocument manifest;
    if (!IniDocument::Load(manifestPath, manifest)) {
        // A manifest that cannot be read has verified nothing: saying that
        // all files passed would be a false success.
        platform::ShowMessage(manifestPath.empty() ? std::wstring(L"No manifest file was given.")
                                                   : L"Cannot read manifest file: " + manifestPath,
                              L"Error", MbIcon::Warning);
        return;
    }

    bool failed = false;
    for (const std::wstring& section : manifest.SectionNames()) {
        const std::wstring fileName = manifest.ReadString(section, L"FILE_NAME");
        if (fileName.empty()) continue;
        const int32_t expected = StrToIntDef(manifest.ReadString(section, L"FILE_SIZE"), -1);
        if (!CheckFileSize(folder + fileName, expected)) {
            failed = true;
            platform::ShowMessage(L"Error checking file: " + fileName, L"Error", MbIcon::None);
            continue;
        }
        const std::wstring sha256 = Trim(manifest.ReadString(section, L"FILE_SHA256"));
        std::wstring computed;
        if (!Sha256Matches(folder + fileName, sha256, &computed)) {
            failed = true;
            platform::ShowMessage(L"Error checking file: " + fileName + L"\n\nThe computed SHA-256 is " + computed +
                                      L"\nThe expected SHA-256 is " + sha256,
                                  L"Error", MbIcon::None);
        }
    }
    if (failed)
        platform::ShowMessage(L"One or more files failed testing. Check size, and MD5SUM", L"Error", MbIcon::Warning);
    else
        platform::ShowMessage(L"All Files Passed Verification", L"Notice", MbIcon::Information);
}

}  // namespace tide
