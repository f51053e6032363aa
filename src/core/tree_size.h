// The space a folder tree takes as the list of installed programs shows it:
// the sizes of all its files added up, every subfolder walked. Junctions
// and symbolic links are not followed (what they point at belongs to
// another tree, and a link back up would never end).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tide {

// Bytes in the files under folder (with or without a trailing "\").
// Nothing when the folder, or any folder below it, cannot be listed: a
// part of the sum would understate the tree.
std::optional<uint64_t> TreeSizeBytes(const std::wstring& folder);

// bytes in KiB, rounded up; at most 0xFFFFFFFF (a REG_DWORD).
uint32_t KiBRoundedUp(uint64_t bytes);

}  // namespace tide
