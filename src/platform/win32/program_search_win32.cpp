// SearchPathW and the system folder.
#include <windows.h>

#include <vector>

#include "platform/program_search.h"

namespace tide::platform::win32 {
namespace {

class Win32ProgramSearch : public ProgramSearch {
public:
    std::wstring FindOnSearchPath(const std::wstring& fileName, uint32_t bufferChars) override {
        std::vector<wchar_t> buf(bufferChars + 1, L'\0');
        DWORD n = SearchPathW(nullptr, fileName.c_str(), nullptr, bufferChars, buf.data(), nullptr);
        if (n == 0 || n >= bufferChars) return std::wstring();
        return std::wstring(buf.data(), n);
    }
    std::wstring SystemDirectory() override {
        wchar_t buf[MAX_PATH + 1];
        UINT n = GetSystemDirectoryW(buf, MAX_PATH + 1);
        if (n == 0 || n > MAX_PATH) return std::wstring();
        return std::wstring(buf, n);
    }
};

}  // namespace
}  // namespace tide::platform::win32

namespace tide::platform {
template <>
ProgramSearch& Port<ProgramSearch>::Default() {
    static win32::Win32ProgramSearch instance;
    return instance;
}
}  // namespace tide::platform
