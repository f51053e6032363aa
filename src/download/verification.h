// Checks of component files that already lie on disk, and the "/testini"
// mode that checks a folder of downloaded files against a manifest.
#pragma once

#include <cstdint>
#include <string>

#include "core/local_file.h"  // LocalFileSize

namespace tide {

// True when expectedSize is 0 or more and the file can be opened for
// reading and holds exactly that many bytes (low 32 bits). Sizes only; the
// content is never read. A missing or unreadable file always fails, even
// against a size of 0.
bool CheckFileSize(const std::wstring& path, int32_t expectedSize);

// Whether a component file on disk is complete and need not be fetched
// again. With a known size (1 or more): CheckFileSize. With an unknown one
// (below 1): only when a digest is given and the file's MD5 matches it
// (letter case ignored); without a digest nothing proves such a file
// complete. A non-empty sha256 (FILE_SHA256) must match the file's SHA-256
// as well (letter case ignored).
bool ComponentFileComplete(const std::wstring& path, int32_t size, const std::wstring& md5,
                           const std::wstring& sha256 = std::wstring());

// The "/testini" mode: argument 2 is a manifest file, argument 3 the folder
// of component files. Every section's FILE_NAME is checked against its
// FILE_SIZE, and against FILE_SHA256 where the section has one; each failing
// file gets an "Error checking file: " box (naming both digests for a
// SHA-256 mismatch), then one closing box tells the outcome. Nothing is
// deleted: the folder may be a disc or the publisher's own.
void VerifyManifestFiles();

}  // namespace tide
