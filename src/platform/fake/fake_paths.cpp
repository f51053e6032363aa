#include "platform/fake/fake_paths.h"

#include <cwctype>

#include "platform/files.h"

namespace tide::platform::fake {
namespace {

std::wstring Lower(std::wstring s) {
    for (auto& c : s) c = static_cast<wchar_t>(std::towlower(c));
    return s;
}

}  // namespace

std::wstring FakePaths::FullPath(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\", 0) == 0) return path;
    std::wstring p = path;
    for (auto& c : p)
        if (c == L'/') c = L'\\';
    if (p.size() < 3 || p[1] != L':' || p[2] != L'\\') return std::wstring();
    std::vector<std::wstring> parts;
    size_t i = 3;
    while (i <= p.size()) {
        size_t j = p.find(L'\\', i);
        if (j == std::wstring::npos) j = p.size();
        std::wstring part = p.substr(i, j - i);
        if (part == L"..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != L".") {
            parts.push_back(part);
        }
        i = j + 1;
    }
    const bool trailing = p.back() == L'\\';
    if (!trailing && !parts.empty()) {
        std::wstring& last = parts.back();
        while (!last.empty() && (last.back() == L'.' || last.back() == L' ')) last.pop_back();
        if (last.empty()) parts.pop_back();
    }
    std::wstring out = p.substr(0, 3);
    for (size_t k = 0; k < parts.size(); ++k) out += (k ? L"\\" : L"") + parts[k];
    if (trailing && !parts.empty()) out += L'\\';
    return out;
}

std::wstring FakePaths::LongPath(const std::wstring& path) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        const std::wstring low = Lower(path);
        for (auto it = aliases_.rbegin(); it != aliases_.rend(); ++it) {
            const std::wstring& s = it->first;
            if (low.compare(0, s.size(), s) == 0 && (low.size() == s.size() || low[s.size()] == L'\\'))
                return it->second + path.substr(s.size());
        }
    }
    return Files().DirectoryExists(path) || Files().FileExists(path) ? path : std::wstring();
}

std::wstring FakePaths::KnownFolder(int csidl) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = folders_.find(csidl);
    return it == folders_.end() ? std::wstring() : it->second;
}

std::wstring FakePaths::NewIdentity() {
    std::lock_guard<std::mutex> lock(mu_);
    if (failIdentity_) return L"";
    wchar_t buf[64];
    swprintf(buf, 64, L"{00000000-0000-0000-0000-%012d}", ++ids_);
    return buf;
}

bool FakePaths::ProtectFolder(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mu_);
    if (failProtect_) return false;
    protected_.push_back(path);
    return true;
}

void FakePaths::SetAlias(const std::wstring& shortPath, const std::wstring& longPath) {
    std::lock_guard<std::mutex> lock(mu_);
    aliases_[Lower(shortPath)] = longPath;
}

void FakePaths::SetKnownFolder(int csidl, const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mu_);
    folders_[csidl] = path;
}

void FakePaths::FailIdentity(bool fail) {
    std::lock_guard<std::mutex> lock(mu_);
    failIdentity_ = fail;
}

void FakePaths::FailProtect(bool fail) {
    std::lock_guard<std::mutex> lock(mu_);
    failProtect_ = fail;
}

std::vector<std::wstring> FakePaths::Protected() {
    std::lock_guard<std::mutex> lock(mu_);
    return protected_;
}

}  // namespace tide::platform::fake

namespace tide::platform {
template <>
Paths& Port<Paths>::Default() {
    static fake::FakePaths instance;
    return instance;
}
}  // namespace tide::platform
