// The size of a file on disk, as the download checks and the manifest
// lookups judge it.
#pragma once

#include <cstdint>
#include <string>

namespace tide {

// Bytes in the file, all 64 bits of the count; 0 when it cannot be opened: missing, no
// access, or another process holds it open for writing. The file is opened
// read-only and others may only read it meanwhile.
uint64_t LocalFileSize(const std::wstring& path);

}  // namespace tide
