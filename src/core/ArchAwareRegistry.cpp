#include "core/ArchAwareRegistry.h"

#include <cstring>

#include "core/process_arch.h"

namespace tide {

using platform::Reg;

TRegistry::TRegistry() : rootKey_(HKEY_CURRENT_USER), access_(KEY_ALL_ACCESS) {}

TRegistry::TRegistry(uint32_t access) : rootKey_(HKEY_CURRENT_USER), access_(access) {}

TRegistry::~TRegistry() { CloseKey(); }

void TRegistry::SetRootKey(HKEY root) {
    if (root == rootKey_) return;
    CloseKey();
    rootKey_ = root;
}

std::wstring TRegistry::StripLeadingBackslash(const std::wstring& key) {
    return IsRelative(key) ? key : key.substr(1);
}

HKEY TRegistry::GetBaseKey(bool relative) const {
    return (currentKey_ == nullptr || !relative) ? rootKey_ : currentKey_;
}

HKEY TRegistry::GetKey(const std::wstring& key, uint32_t sam) {
    HKEY result = nullptr;
    if (Reg().OpenKey(GetBaseKey(IsRelative(key)), StripLeadingBackslash(key), sam, &result) != platform::kRegOk)
        return nullptr;
    return result;
}

void TRegistry::ChangeKey(HKEY key, const std::wstring& path) {
    CloseKey();
    currentKey_ = key;
    currentPath_ = path;
}

bool TRegistry::OpenKey(const std::wstring& key, bool canCreate) {
    bool relative = IsRelative(key);
    std::wstring s = StripLeadingBackslash(key);
    HKEY temp = nullptr;
    long rc = (!canCreate || s.empty()) ? Reg().OpenKey(GetBaseKey(relative), s, access_, &temp)
                                        : Reg().CreateKey(GetBaseKey(relative), s, access_, &temp);
    if (rc != platform::kRegOk) return false;
    if (currentKey_ != nullptr && relative) s = currentPath_ + L"\\" + s;
    ChangeKey(temp, s);
    return true;
}

bool TRegistry::OpenKeyReadOnly(const std::wstring& key) {
    uint32_t saved = access_;
    access_ = ReadAccess();
    bool ok = OpenKey(key, false);
    access_ = saved;
    return ok;
}

void TRegistry::CloseKey() {
    if (currentKey_ != nullptr) {
        Reg().CloseKey(currentKey_);
        currentKey_ = nullptr;
        currentPath_.clear();
    }
}

bool TRegistry::KeyExists(const std::wstring& key) {
    HKEY temp = nullptr;
    if (Reg().OpenKey(GetBaseKey(IsRelative(key)), StripLeadingBackslash(key), ReadAccess(), &temp) !=
        platform::kRegOk)
        return false;
    Reg().CloseKey(temp);
    return true;
}

bool TRegistry::DeleteKey(const std::wstring& key) {
    bool relative = IsRelative(key);
    std::wstring s = StripLeadingBackslash(key);
    HKEY oldKey = currentKey_;
    HKEY del = GetKey(key, ReadAccess());
    if (del != nullptr) {
        currentKey_ = del;
        RegKeyInfo info;
        if (GetKeyInfo(info)) {
            for (int64_t i = static_cast<int64_t>(info.numSubKeys) - 1; i >= 0; --i) {
                std::wstring name;
                if (Reg().EnumKey(del, static_cast<uint32_t>(i), info.maxSubKeyLen + 1, &name) == platform::kRegOk)
                    TRegistry::DeleteKey(name);
            }
        }
        currentKey_ = oldKey;
        Reg().CloseKey(del);
    }
    return Reg().DeleteKey(GetBaseKey(relative), s) == platform::kRegOk;
}

bool TRegistry::ValueExists(const std::wstring& name) {
    if (currentKey_ == nullptr) return false;
    uint32_t type = 0;
    return Reg().QueryValue(currentKey_, name, &type, nullptr) == platform::kRegOk;
}

std::wstring TRegistry::ReadString(const std::wstring& name) {
    if (currentKey_ == nullptr) return std::wstring();
    uint32_t type = 0;
    std::vector<uint8_t> data;
    if (Reg().QueryValue(currentKey_, name, &type, &data) != platform::kRegOk) return std::wstring();
    if (type != REG_SZ && type != REG_EXPAND_SZ) return std::wstring();
    std::wstring s(data.size() / sizeof(wchar_t), L'\0');
    if (!s.empty()) std::memcpy(&s[0], data.data(), s.size() * sizeof(wchar_t));
    // The stored data may or may not include the terminating zero.
    size_t end = s.find(L'\0');
    if (end != std::wstring::npos) s.resize(end);
    return s;
}

int32_t TRegistry::ReadInteger(const std::wstring& name) {
    if (currentKey_ == nullptr) return 0;
    uint32_t type = 0;
    std::vector<uint8_t> data;
    if (Reg().QueryValue(currentKey_, name, &type, &data) != platform::kRegOk) return 0;
    if (type != REG_DWORD || data.size() < 4) return 0;
    int32_t v = 0;
    std::memcpy(&v, data.data(), 4);
    return v;
}

bool TRegistry::WriteData(const std::wstring& name, uint32_t type, const void* data, uint32_t size) {
    if (currentKey_ == nullptr) return false;
    return Reg().SetValue(currentKey_, name, type, data, size) == platform::kRegOk;
}

bool TRegistry::WriteString(const std::wstring& name, const std::wstring& value) {
    return WriteData(name, REG_SZ, value.c_str(), static_cast<uint32_t>((value.size() + 1) * sizeof(wchar_t)));
}

bool TRegistry::WriteExpandString(const std::wstring& name, const std::wstring& value) {
    return WriteData(name, REG_EXPAND_SZ, value.c_str(), static_cast<uint32_t>((value.size() + 1) * sizeof(wchar_t)));
}

bool TRegistry::WriteInteger(const std::wstring& name, int32_t value) {
    return WriteData(name, REG_DWORD, &value, 4);
}

bool TRegistry::DeleteValue(const std::wstring& name) {
    if (currentKey_ == nullptr) return false;
    return Reg().DeleteValue(currentKey_, name) == platform::kRegOk;
}

bool TRegistry::GetKeyInfo(RegKeyInfo& info) {
    info = RegKeyInfo();
    if (currentKey_ == nullptr) return false;
    return Reg().QueryInfoKey(currentKey_, &info) == platform::kRegOk;
}

bool TRegistry::HasSubKeys() {
    RegKeyInfo info;
    return GetKeyInfo(info) && info.numSubKeys > 0;
}

std::vector<std::wstring> TRegistry::GetKeyNames() {
    std::vector<std::wstring> names;
    RegKeyInfo info;
    if (!GetKeyInfo(info)) return names;
    for (uint32_t i = 0; i < info.numSubKeys; ++i) {
        std::wstring name;
        if (Reg().EnumKey(currentKey_, i, info.maxSubKeyLen + 1, &name) != platform::kRegOk) break;
        names.push_back(name);
    }
    return names;
}

std::vector<std::wstring> TRegistry::GetValueNames() {
    std::vector<std::wstring> names;
    if (currentKey_ == nullptr) return names;
    for (uint32_t i = 0;; ++i) {
        std::wstring name;
        if (Reg().EnumValue(currentKey_, i, &name) != platform::kRegOk) break;
        names.push_back(name);
    }
    return names;
}

// ---------------------------------------------------------------------------

TArchAwareRegistry::TArchAwareRegistry() : TRegistry() {}

TArchAwareRegistry::TArchAwareRegistry(uint32_t AAccess) : TRegistry() { SetAccess(AAccess); }

TArchAwareRegistry::~TArchAwareRegistry() {
    CloseKey();
    if (hDLL != nullptr) Reg().FreeLibrary(hDLL);
}

void TArchAwareRegistry::SetAccess(uint32_t access) {
    TRegistry::SetAccess(IsWow64() ? (access | KEY_WOW64_64KEY) : access);
}

bool TArchAwareRegistry::DeleteKey(const std::wstring& key) {
    if ((Access() & KEY_WOW64_64KEY) == 0) return TRegistry::DeleteKey(key);
    if (hDLL == nullptr) hDLL = Reg().LoadAdvApi32();
    if (hDLL != nullptr && RegDeleteKeyExFunc == nullptr) RegDeleteKeyExFunc = Reg().FindRegDeleteKeyEx(hDLL);
    // Without RegDeleteKeyExW there is no way to delete in the other view;
    // report failure instead of calling through a null address.
    if (RegDeleteKeyExFunc == nullptr) return false;
    return DeleteKeyNative(key);
}

bool TArchAwareRegistry::DeleteKeyNative(const std::wstring& key) {
    bool relative = IsRelative(key);
    std::wstring s = StripLeadingBackslash(key);
    HKEY oldKey = CurrentKey();
    HKEY del = GetKey(key, ReadAccess());
    if (del != nullptr) {
        SetCurrentKeyRaw(del);
        RegKeyInfo info;
        if (GetKeyInfo(info)) {
            for (int64_t i = static_cast<int64_t>(info.numSubKeys) - 1; i >= 0; --i) {
                std::wstring name;
                if (Reg().EnumKey(del, static_cast<uint32_t>(i), info.maxSubKeyLen + 1, &name) == platform::kRegOk)
                    DeleteKeyNative(name);
            }
        }
        SetCurrentKeyRaw(oldKey);
        Reg().CloseKey(del);
    }
    return RegDeleteKeyExFunc(GetBaseKey(relative), s.c_str(), KEY_WOW64_64KEY, 0) == platform::kRegOk;
}

}  // namespace tide

namespace tide {

bool WriteMultiString(TRegistry& reg, const std::wstring& name, const std::vector<std::wstring>& strings) {
    if (reg.CurrentKey() == nullptr) return false;
    std::wstring data;
    for (const auto& s : strings) {
        data += s;
        data.push_back(L'\0');
    }
    data.push_back(L'\0');
    return platform::Reg().SetValue(reg.CurrentKey(), name, REG_MULTI_SZ, data.data(),
                                    static_cast<uint32_t>(data.size() * sizeof(wchar_t))) == platform::kRegOk;
}

}  // namespace tide
