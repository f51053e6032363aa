// Checks of component files that already lie on disk, and the "/testini"
// mode that checks a folder of downloaded files against a manifest.
#pragma once

#include <cstdint>
#include <string>

#include "core/local_file.h"  // LocalFileSize

namespace tide {

// True when expectedSize is 0 or more and the file can be opened for
// reading and holds exactly that many bytes (the whole 64-bit count). Sizes
// only; the content is never read. A missing or unreadable file always
// fails, even against a size of 0.
bool CheckFileSize(const std::wstring& path, int32_t expectedSize);

// What one reading of a file tells: its size and digests.
struct FileFacts {
    uint64_t size = 0;
    std::wstring md5;     // 32 upper-case hexadecimal digits
    std::wstring sha256;  // 64 lower-case hexadecimal digits; empty unless asked for
};

// Reads the file once, feeding MD5 (and SHA-256 when withSha256) from the
// same pieces. False when the file cannot be opened; throws IoError on a
// read error.
bool ReadFileFacts(const std::wstring& path, bool withSha256, FileFacts& facts);

// Whether a component file on disk is the one the release names and need
// not be fetched again: its size matches (when one is known, 1 or more),
// and every digest the manifest gives matches (letter case and blanks
// around ignored): FILE_MD5SUM, and FILE_SHA256 when there is one. A file
// that no digest vouches for is never complete: its size alone proves
// nothing about its content. The file is read at most once.
bool ComponentFileComplete(const std::wstring& path, int32_t size, const std::wstring& md5,
                           const std::wstring& sha256 = std::wstring());

// The "/testini" mode: argument 2 is a manifest file, argument 3 the folder
// of component files. Every section's FILE_NAME is checked against its
// FILE_SIZE and FILE_MD5SUM, and against FILE_SHA256 where the section has
// one; each failing file gets one "Error checking file: " box that says
// which of them failed, then one closing box tells the outcome. Nothing is
// deleted: the folder may be a disc or the publisher's own.
void VerifyManifestFiles();

}  // namespace tide
