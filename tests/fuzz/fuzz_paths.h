// A machine for the path checks: the known folders and environment of a
// 64-bit Windows, a few short (8.3) aliases, and every path existing (so
// the long form is the path itself unless an alias applies).
#pragma once

#include <cwctype>
#include <utility>
#include <vector>

#include "platform/fake/fake_paths.h"
#include "platform/fake/fake_ui.h"
#include "platform/paths.h"

namespace tide::fuzz {

class FuzzPaths : public platform::fake::FakePaths {
public:
    FuzzPaths() {
        const std::pair<int, const wchar_t*> known[] = {
            {platform::kCsidlWindows, L"C:\\Windows"},
            {platform::kCsidlSystem, L"C:\\Windows\\system32"},
            {platform::kCsidlProgramFiles, L"C:\\Program Files"},
            {platform::kCsidlProgramFilesX86, L"C:\\Program Files (x86)"},
            {platform::kCsidlProgramFilesCommon, L"C:\\Program Files\\Common Files"},
            {platform::kCsidlProfile, L"C:\\Users\\Administrator"},
            {platform::kCsidlPersonal, L"C:\\Users\\Administrator\\Documents"},
            {platform::kCsidlDesktop, L"C:\\Users\\Administrator\\Desktop"},
            {platform::kCsidlAppData, L"C:\\Users\\Administrator\\AppData\\Roaming"},
            {platform::kCsidlLocalAppData, L"C:\\Users\\Administrator\\AppData\\Local"},
            {platform::kCsidlCommonAppData, L"C:\\ProgramData"},
            {platform::kCsidlCommonDocuments, L"C:\\Users\\Public\\Documents"},
        };
        for (const auto& [csidl, path] : known) SetKnownFolder(csidl, path);
    }
    // The alias replaced, else the path itself (no file system is asked).
    std::wstring LongPath(const std::wstring& path) override {
        for (const auto& [s, l] : Aliases()) {
            if (path.size() < s.size() || (path.size() > s.size() && path[s.size()] != L'\\')) continue;
            bool same = true;
            for (size_t i = 0; same && i < s.size(); ++i) same = std::towlower(path[i]) == std::towlower(s[i]);
            if (same) return l + path.substr(s.size());
        }
        return path;
    }
    // short -> long
    static const std::vector<std::pair<std::wstring, std::wstring>>& Aliases() {
        static const std::vector<std::pair<std::wstring, std::wstring>> aliases = {{L"C:\\PROGRA~1", L"C:\\Program Files"},
                {L"C:\\PROGRA~2", L"C:\\Program Files (x86)"},
                {L"C:\\PROGRA~3", L"C:\\ProgramData"},
                {L"C:\\DOCUME~1", L"C:\\Documents and Settings"},
                {L"C:\\Users\\ADMINI~1", L"C:\\Users\\Administrator"},
                {L"C:\\Apps\\TIDEWE~1", L"C:\\Apps\\Tidewell"}};
        return aliases;
    }
};

inline void SetUpMachine(platform::fake::FakeEnvironment& env) {
    env.SetVariable(L"SystemRoot", L"C:\\WINDOWS");
    env.SetVariable(L"windir", L"C:\\WINDOWS");
    env.SetVariable(L"ProgramFiles", L"C:\\PROGRA~2");
    env.SetVariable(L"ProgramW6432", L"C:\\Program Files");
    env.SetVariable(L"USERPROFILE", L"C:\\Users\\ADMINI~1");
    env.SetVariable(L"PUBLIC", L"C:\\Users\\Public");
    env.SetVariable(L"ALLUSERSPROFILE", L"C:\\ProgramData");
}

}  // namespace tide::fuzz
