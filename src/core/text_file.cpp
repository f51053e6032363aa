#include "core/text_file.h"

#include <cstring>

#include "base/encoding.h"
#include "base/error.h"
#include "platform/files.h"

namespace tide {

std::vector<std::wstring> SplitLines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    std::wstring cur;
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c == L'\r' || c == L'\n') {
            lines.push_back(cur);
            cur.clear();
            if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) lines.push_back(cur);
    return lines;
}

std::vector<std::wstring> ReadTextLines(const std::wstring& path) {
    auto file = platform::Files().Open(path, platform::OpenMode::ReadExisting, platform::Share::Read);
    if (!file) throw IoError(L"Cannot open file " + path);
    std::string bytes(static_cast<size_t>(file->Size()), '\0');
    size_t got = 0;
    while (got < bytes.size()) {
        size_t n = file->Read(&bytes[got], bytes.size() - got);
        if (n == 0) break;
        got += n;
    }
    bytes.resize(got);
    return SplitLines(DecodeText(bytes));
}

void WriteTextLines(const std::wstring& path, const std::vector<std::wstring>& lines) {
    std::string bytes;
    for (const auto& line : lines) bytes += WideToAnsi(line) + "\r\n";
    // Text that begins with a byte-order mark read as ANSI ("\u00EF\u00BB\u00BF",
    // left by an editor in a line that now comes first) loses it: written
    // back as it is, the file would start with a real mark and read back
    // as other text.
    // Marks in any order, until none is left ("FE FF FF FE" would otherwise
    // lose one and start with the other).
    for (bool cut = true; cut;) {
        cut = false;
        for (const char* mark : {"\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"})
            if (bytes.compare(0, std::strlen(mark), mark) == 0) bytes.erase(0, std::strlen(mark)), cut = true;
    }
    auto file = platform::Files().Open(path, platform::OpenMode::CreateAlways, platform::Share::None);
    if (!file) throw IoError(L"Cannot create file " + path);
    file->Write(bytes.data(), bytes.size());
}

}  // namespace tide
