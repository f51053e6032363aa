#include "download/verification.h"

#include "core/IniDocument.h"
#include "base/text.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/message_box.h"

namespace tide {

using platform::MbIcon;

bool CheckFileSize(const std::wstring& path, int32_t expectedSize) {
    if (expectedSize < 0) return false;
    return static_cast<uint32_t>(expectedSize) == LocalFileSize(path);
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
        }
    }
    if (failed)
        platform::ShowMessage(L"One or more files failed testing. Check size, and MD5SUM", L"Error", MbIcon::Warning);
    else
        platform::ShowMessage(L"All Files Passed Verification", L"Notice", MbIcon::Information);
}

}  // namespace tide
