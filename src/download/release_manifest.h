// What the release tool (tools/tiderelease) does to a release manifest,
// kept apart from file access so that it is tested natively and built into
// the tool for Linux and Windows alike.
//
// UpdateManifestFacts rewrites the manifest text line by line: only the
// values of FILE_SIZE and FILE_MD5SUM change (or are added after FILE_NAME
// when a section lacks them), and FILE_SHA256 where a section has it (added
// too only when asked); every other line, the comments, the order of
// sections and keys and the line endings stay as they were.
// VerifyManifestFacts reads the manifest the way the installer reads it and
// compares each named file with what the manifest says.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tide {

struct ReleaseFileFacts {
    uint64_t size = 0;
    std::wstring md5;     // 32 hexadecimal digits
    std::wstring sha256;  // 64 hexadecimal digits
};

// Looks a file of the release folder up by its bare name: false when it is
// not there. Throws tide::IoError when it is there but cannot be read.
using ReleaseFileProbe = std::function<bool(const std::wstring& name, ReleaseFileFacts& facts)>;

struct ManifestUpdate {
    std::string text;                  // the rewritten manifest
    std::vector<std::wstring> updated;  // sections whose facts were written
    // "[SECTION] FILE_NAME" of every section whose file is not in the folder.
    std::vector<std::wstring> missing;
    // Sections refused because their FILE_NAME is not a bare file name.
    std::vector<std::wstring> refused;
    bool changed = false;  // text differs from the input
};

// Throws tide::Error when the text is not 8-bit (UTF-16 manifests are not
// handled by the line rewrite).
// With addSha256, sections that lack FILE_SHA256 get it as well.
ManifestUpdate UpdateManifestFacts(const std::string& manifestBytes, const ReleaseFileProbe& probe,
                                   bool addSha256 = false);

// Writes RELEASE_SERIAL=serial into the first [GENERAL] section (the one
// the installer reads), replacing the value of an existing RELEASE_SERIAL
// line or adding one right after the section's header; a manifest without
// [GENERAL] gets the section at its end. Nothing else changes.
// Throws tide::Error for UTF-16 text, as UpdateManifestFacts does.
std::string SetReleaseSerial(const std::string& manifestBytes, uint64_t serial);
// RELEASE_SERIAL of [GENERAL] as the installer reads it (empty when none).
std::wstring ReadReleaseSerial(const std::string& manifestBytes);

struct VerifyFailure {
    std::wstring section;
    std::wstring fileName;
    std::wstring what;      // "missing", "size", "MD5", "size and MD5", "SHA-256", "FILE_NAME", "FILE_SIZE", "FILE_SHA256", ...
    std::wstring expected;
    std::wstring actual;
    // One line: FILE_NAME [SECTION]: what differs, expected ..., actual ...
    std::wstring Line() const;
};

struct VerifyResult {
    int checked = 0;  // sections that name a file
    std::vector<VerifyFailure> failures;
};

// FILE_SHA256 is checked where a section has it (64 hexadecimal digits,
// either letter case).
VerifyResult VerifyManifestFacts(const std::string& manifestBytes, const ReleaseFileProbe& probe);

}  // namespace tide
