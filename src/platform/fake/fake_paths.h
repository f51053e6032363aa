// Native stand-in for the path and folder services: short (8.3) names are
// aliases the test declares, known folders are what the test sets, the
// folders given a protected access list are recorded.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/paths.h"

namespace tide::platform::fake {

class FakePaths : public Paths {
public:
    // Resolves "." and "..", "/" for "\", doubled separators and the
    // trailing dots and blanks of the last name, as GetFullPathNameW does
    // for an absolute drive path; a "\\?\" path comes back as it is; a
    // relative path gives empty text (there is no current folder).
    std::wstring FullPath(const std::wstring& path) override;
    // Replaces a declared short prefix by its long form (letter case does
    // not matter); without one, the path itself when it exists on the files
    // port, else empty text.
    std::wstring LongPath(const std::wstring& path) override;
    std::wstring KnownFolder(int csidl) override;
    std::wstring NewIdentity() override;
    bool ProtectFolder(const std::wstring& path) override;

    // "C:\PROGRA~1" stands for "C:\Program Files".
    void SetAlias(const std::wstring& shortPath, const std::wstring& longPath);
    void SetKnownFolder(int csidl, const std::wstring& path);
    void FailProtect(bool fail);
    // NewIdentity answers "" (no identity could be made).
    void FailIdentity(bool fail);
    std::vector<std::wstring> Protected();

private:
    std::mutex mu_;
    std::map<std::wstring, std::wstring> aliases_;  // lower-case short -> long
    std::map<int, std::wstring> folders_;
    std::vector<std::wstring> protected_;
    int ids_ = 0;
    bool failProtect_ = false;
    bool failIdentity_ = false;
};

}  // namespace tide::platform::fake
