// A file on disk as the download checks and the manifest lookups see it:
// its size, its bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tide {

// Bytes in the file, all 64 bits of the count; 0 when it cannot be opened: missing, no
// access, or another process holds it open for writing. The file is opened
// read-only and others may only read it meanwhile.
uint64_t LocalFileSize(const std::wstring& path);

// All bytes of the file (opened as above); nothing when it cannot be opened.
std::optional<std::string> ReadLocalFile(const std::wstring& path);

}  // namespace tide
