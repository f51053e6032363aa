// Result lines of the Windows test programs: "ok: NAME" or
// "FAIL: NAME: WHY", one per case; the program's exit code counts failures.
#pragma once

#include <cstdio>
#include <string>

inline int gFailures = 0;

inline void Report(const char* name, bool ok, const std::wstring& why = L"") {
    if (ok) {
        std::printf("ok: %s\n", name);
    } else {
        ++gFailures;
        std::printf("FAIL: %s: %ls\n", name, why.c_str());
    }
    std::fflush(stdout);
}
