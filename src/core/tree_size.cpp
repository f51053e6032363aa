#include "core/tree_size.h"

#include <vector>

#include "platform/files.h"

namespace tide {

std::optional<uint64_t> TreeSizeBytes(const std::wstring& folder) {
    std::wstring root = folder;
    while (root.size() > 1 && root.back() == L'\\') root.pop_back();
    uint64_t total = 0;
    std::vector<std::wstring> pending{root};
    std::vector<platform::DirEntry> entries;
    while (!pending.empty()) {
        const std::wstring dir = pending.back();
        pending.pop_back();
        if (!platform::Files().ListDirectory(dir, entries)) return std::nullopt;
        for (const platform::DirEntry& e : entries) {
            if (e.reparsePoint) continue;
            if (e.directory)
                pending.push_back(dir + L"\\" + e.name);
            else
                total += e.size;
        }
    }
    return total;
}

uint32_t KiBRoundedUp(uint64_t bytes) {
    const uint64_t kib = bytes / 1024 + (bytes % 1024 != 0);
    return kib > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(kib);
}

}  // namespace tide
