// Version resources of executables and libraries.
#pragma once

#include <cstdint>
#include <string>

#include "platform/port.h"

namespace tide::platform {

struct FixedFileVersion {
    uint32_t ms = 0;  // more significant file-version word (major << 16 | minor)
    uint32_t ls = 0;  // less significant word (release << 16 | build)
};

class VersionInfo {
public:
    virtual ~VersionInfo() = default;
    // Reads the fixed file-information record of the file at path; false when
    // the file has no version resource or it cannot be read.
    virtual bool ReadFixedFileVersion(const std::wstring& path, FixedFileVersion& out) = 0;
};

}  // namespace tide::platform
