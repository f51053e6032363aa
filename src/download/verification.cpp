#include "download/verification.h"

#include <vector>

#include "core/IniDocument.h"
#include "base/error.h"
#include "base/text.h"
#include "download/md5.h"
#include "download/sha256.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/message_box.h"

namespace tide {

using platform::MbIcon;

namespace {

// Pieces of a whole-file read: large enough that the digests, not the calls,
// take the time.
constexpr size_t kReadPiece = 256 * 1024;

// The file opened as LocalFileSize opens it; nullptr when it cannot be.
std::unique_ptr<platform::File> OpenForCheck(const std::wstring& path) {
    return platform::Files().Open(path, platform::OpenMode::ReadExisting, platform::Share::Read);
}

void FactsOfStream(platform::File& file, bool withSha256, FileFacts& facts) {
    Md5State md5;
    Md5Start(md5);
    std::unique_ptr<Sha256> sha;
    if (withSha256) sha = std::make_unique<Sha256>();
    std::vector<uint8_t> buf(kReadPiece);
    uint64_t total = 0;
    file.Seek(0);
    for (size_t n; (n = file.Read(buf.data(), buf.size())) > 0;) {
        Md5Feed(md5, buf.data(), static_cast<uint32_t>(n));
        if (sha) sha->Feed(buf.data(), n);
        total += n;
    }
    facts.size = total;
    facts.md5 = DigestToHex(Md5Finish(md5));
    facts.sha256 = sha ? sha->FinishHex() : std::wstring();
}

}  // namespace

bool CheckFileSize(const std::wstring& path, int32_t expectedSize) {
    if (expectedSize < 0) return false;
    // LocalFileSize says 0 for a file it cannot open, which must not pass
    // as an empty file.
    std::unique_ptr<platform::File> file = OpenForCheck(path);
    if (!file) return false;
    return file->Size() == static_cast<uint64_t>(expectedSize);
}

bool ReadFileFacts(const std::wstring& path, bool withSha256, FileFacts& facts) {
    std::unique_ptr<platform::File> file = OpenForCheck(path);
    if (!file) return false;
    FactsOfStream(*file, withSha256, facts);
    return true;
}

bool ComponentFileComplete(const std::wstring& path, int32_t size, const std::wstring& md5,
                           const std::wstring& sha256) {
    const std::wstring wantMd5 = Trim(md5), wantSha = Trim(sha256);
    if (wantMd5.empty() && wantSha.empty()) return false;
    std::unique_ptr<platform::File> file = OpenForCheck(path);
    if (!file) return false;
    // The size first, from the directory: a file of another size is not
    // read at all (a partial download, typically).
    const uint64_t onDisk = file->Size();
    if (size >= 1 ? onDisk != static_cast<uint64_t>(size) : onDisk == 0) return false;
    FileFacts facts;
    try {
        FactsOfStream(*file, !wantSha.empty(), facts);
    } catch (const IoError&) {
        return false;  // what cannot be read is not there
    }
    if (facts.size != onDisk) return false;
    return (wantMd5.empty() || SameText(facts.md5, wantMd5)) && (wantSha.empty() || SameText(facts.sha256, wantSha));
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
        const std::wstring md5 = Trim(manifest.ReadString(section, L"FILE_MD5SUM"));
        const std::wstring sha256 = Trim(manifest.ReadString(section, L"FILE_SHA256"));
        // Each check that fails is named, so that whoever reads the box
        // knows whether the file is short, damaged or another one.
        std::wstring why;
        FileFacts facts;
        bool read = false;
        try {
            read = ReadFileFacts(folder + fileName, !sha256.empty(), facts);
        } catch (const IoError&) {
        }
        if (!read) {
            why = L"The file is missing or cannot be read.";
        } else if (expected < 0) {
            why = L"The FILE_SIZE of it in the manifest is missing or not a number.";
        } else if (facts.size != static_cast<uint64_t>(expected)) {
            // Another size: the digests cannot match and say nothing more.
            why = L"The size is " + IntToStr(static_cast<int64_t>(facts.size)) + L" bytes; the expected size is " +
                  IntToStr(expected) + L" bytes.";
        } else {
            if (md5.empty())
                why = L"The manifest gives no FILE_MD5SUM for it.";
            else if (!SameText(facts.md5, md5))
                why = L"The computed MD5Sum is " + facts.md5 + L"\nThe expected MD5Sum is " + md5;
            if (!sha256.empty() && !SameText(facts.sha256, sha256))
                why += (why.empty() ? L"" : L"\n") + std::wstring(L"The computed SHA-256 is ") + facts.sha256 +
                       L"\nThe expected SHA-256 is " + sha256;
        }
        if (!why.empty()) {
            failed = true;
            platform::ShowMessage(L"Error checking file: " + fileName + L"\n\n" + why, L"Error", MbIcon::None);
        }
    }
    if (failed)
        platform::ShowMessage(L"One or more files failed testing. Check size, and MD5SUM", L"Error", MbIcon::Warning);
    else
        platform::ShowMessage(L"All Files Passed Verification", L"Notice", MbIcon::Information);
}

}  // namespace tide
