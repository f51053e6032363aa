// Text files the installer reads for editing and the ones it generates
// (scripts, configuration files): read by their byte-order mark (UTF-8,
// UTF-16) or as ANSI, split into lines at CR LF, LF or a lone CR; written as
// ANSI without a byte-order mark, every line, the last one too, ended by
// CR LF, replacing an existing file.
#pragma once

#include <string>
#include <vector>

namespace tide {

// The lines of the file; throws IoError naming the path when it cannot be
// opened or read.
std::vector<std::wstring> ReadTextLines(const std::wstring& path);

// Writes the lines; throws IoError naming the path when the file cannot be
// created or written. Leading characters whose ANSI bytes would read back
// as a byte-order mark are dropped, so the file reads back as written.
void WriteTextLines(const std::wstring& path, const std::vector<std::wstring>& lines);

// The splitting ReadTextLines applies: a break at CR LF, LF or a lone CR; a
// text that ends with a break has no empty last line.
std::vector<std::wstring> SplitLines(const std::wstring& text);

}  // namespace tide
