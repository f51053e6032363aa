// Finding programs of the system: the standard search path and the system
// folder.
#pragma once

#include <cstdint>
#include <string>

#include "platform/port.h"

namespace tide::platform {

class ProgramSearch {
public:
    virtual ~ProgramSearch() = default;
    // SearchPathW along the standard search path (no path of our own, no
    // default extension) with a buffer of bufferChars characters: the full
    // path of the file, or empty text when it is not found or does not fit.
    virtual std::wstring FindOnSearchPath(const std::wstring& fileName, uint32_t bufferChars) = 0;
    // GetSystemDirectoryW, without a trailing backslash; empty on failure.
    virtual std::wstring SystemDirectory() = 0;
};

inline ProgramSearch& Programs() { return Port<ProgramSearch>::Get(); }

}  // namespace tide::platform
