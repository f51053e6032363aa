// Checks of component files that already lie on disk, and the "/testini"
// mode that checks a folder of downloaded files against a manifest.
#pragma once

#include <cstdint>
#include <string>

#include "core/local_file.h"  // LocalFileSize

namespace tide {

// True when expectedSize is 0 or more and equals LocalFileSize(path). Sizes
// only; the content is never read.
bool CheckFileSize(const std::wstring& path, int32_t expectedSize);

// The "/testini" mode: argument 2 is a manifest file, argument 3 the folder
// of component files. Every section's FILE_NAME is checked against its
// FILE_SIZE; each failing file gets an "Error checking file: " box, then
// one closing box tells the outcome.
void VerifyManifestFiles();

}  // namespace tide
