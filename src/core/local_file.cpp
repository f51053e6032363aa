#include "core/local_file.h"

#include "platform/files.h"

namespace tide {

uint64_t LocalFileSize(const std::wstring& path) {
    auto file = platform::Files().Open(path, platform::OpenMode::ReadExisting, platform::Share::Read);
    if (!file) return 0;
    // The whole count: a file 4 GiB longer than the manifest says must not
    // pass for the announced one by its low 32 bits.
    return file->Size();
}

std::optional<std::string> ReadLocalFile(const std::wstring& path) {
    auto file = platform::Files().Open(path, platform::OpenMode::ReadExisting, platform::Share::Read);
    if (!file) return std::nullopt;
    std::string bytes;
    char buf[65536];
    for (size_t n; (n = file->Read(buf, sizeof buf)) > 0;) bytes.append(buf, n);
    return bytes;
}

}  // namespace tide
