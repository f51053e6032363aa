// Prints the access list of each folder given, as the system reports it:
//
//   acl_probe.exe [--protect] FOLDER...
//
// With --protect, each folder first gets the installer's protected access
// list through the paths port ("protect|FOLDER|ok" or "...|failed N").
// One line "FOLDER|protected=yes|no" per folder, then one line per entry:
// "ace|TYPE|SID|MASK|FLAGS" (TYPE allow or deny or the number, SID as
// text, MASK and FLAGS in hex). Exit code: the folders that could not be read.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <string>

#include "platform/paths.h"

int wmain(int argc, wchar_t** argv) {
    int failed = 0;
    int first = 1;
    if (argc > 1 && std::wstring(argv[1]) == L"--protect") {
        first = 2;
        for (int i = first; i < argc; ++i) {
            const bool ok = tide::platform::PathOps().ProtectFolder(argv[i]);
            std::printf("protect|%ls|%s %lu\n", argv[i], ok ? "ok" : "failed", ok ? 0ul : GetLastError());
            failed += ok ? 0 : 1;
        }
    }
    for (int i = first; i < argc; ++i) {
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR sd = nullptr;
        const DWORD rc = GetNamedSecurityInfoW(argv[i], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                               &dacl, nullptr, &sd);
        if (rc != ERROR_SUCCESS) {
            std::printf("%ls|error=%lu\n", argv[i], rc);
            ++failed;
            continue;
        }
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        GetSecurityDescriptorControl(sd, &control, &revision);
        std::printf("%ls|protected=%s\n", argv[i], (control & SE_DACL_PROTECTED) ? "yes" : "no");
        for (DWORD k = 0; dacl && k < dacl->AceCount; ++k) {
            void* ace = nullptr;
            if (!GetAce(dacl, k, &ace)) continue;
            const ACE_HEADER* h = static_cast<ACE_HEADER*>(ace);
            const char* type = h->AceType == ACCESS_ALLOWED_ACE_TYPE  ? "allow"
                               : h->AceType == ACCESS_DENIED_ACE_TYPE ? "deny"
                                                                      : nullptr;
            // Allowed and denied entries share one layout: mask, then the SID.
            const ACCESS_ALLOWED_ACE* a = static_cast<ACCESS_ALLOWED_ACE*>(ace);
            wchar_t* sid = nullptr;
            if (type) ConvertSidToStringSidW(const_cast<DWORD*>(&a->SidStart), &sid);
            if (type)
                std::printf("ace|%s|%ls|%08lx|%02x\n", type, sid ? sid : L"?", a->Mask, h->AceFlags);
            else
                std::printf("ace|%u|-|-|%02x\n", h->AceType, h->AceFlags);
            if (sid) LocalFree(sid);
        }
        LocalFree(sd);
        std::fflush(stdout);
    }
    return failed;
}
