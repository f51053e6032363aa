#include "core/local_file.h"

#include "platform/files.h"

namespace tide {

uint32_t LocalFileSize(const std::wstring& path) {
    auto file = platform::Files().Open(path, platform::OpenMode::ReadExisting, platform::Share::Read);
    if (!file) return 0;
    // Files of 4 GiB or more compare by their low 32 bits, as the manifest's
    // sizes are 32-bit numbers.
    return static_cast<uint32_t>(file->Size());
}

}  // namespace tide
