// Registry accessors: TRegistry, a small wrapper around one root key and one
// currently open key, and TArchAwareRegistry, which reaches the machine's
// native view (the 64-bit one on 64-bit Windows) from this 32-bit program.
//
// Key names that begin with "\" are absolute (relative to the root key);
// other names are relative to the open key, or to the root key when none is
// open.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace tide {

using platform::RegKeyInfo;
using platform::TRegDeleteKeyEx;

class TRegistry {
public:
    // Root HKEY_CURRENT_USER, access KEY_ALL_ACCESS.
    TRegistry();
    explicit TRegistry(uint32_t access);
    virtual ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    HKEY RootKey() const { return rootKey_; }
    // Closes the open key when the root changes.
    void SetRootKey(HKEY root);
    uint32_t Access() const { return access_; }
    virtual void SetAccess(uint32_t access) { access_ = access; }
    HKEY CurrentKey() const { return currentKey_; }
    // Path of the open key below the root, without a leading "\".
    const std::wstring& CurrentPath() const { return currentPath_; }

    // Opens key with Access, creating it when canCreate; the open key is
    // replaced only on success.
    bool OpenKey(const std::wstring& key, bool canCreate);
    // Opens key for reading (KEY_READ, keeping the view flags of Access).
    bool OpenKeyReadOnly(const std::wstring& key);
    void CloseKey();
    bool KeyExists(const std::wstring& key);
    // Deletes key with all its subkeys; false when it could not be deleted.
    // Subkeys are listed with ReadAccess, so a write-only Access (KEY_WRITE)
    // removes them too.
    virtual bool DeleteKey(const std::wstring& key);

    bool ValueExists(const std::wstring& name);
    // A missing value reads as empty text (a non-string value too).
    std::wstring ReadString(const std::wstring& name);
    // 0 when the value is missing or not a 32-bit integer.
    int32_t ReadInteger(const std::wstring& name);
    // false when the value could not be written (no open key, no rights).
    bool WriteString(const std::wstring& name, const std::wstring& value);
    bool WriteExpandString(const std::wstring& name, const std::wstring& value);
    bool WriteInteger(const std::wstring& name, int32_t value);
    bool DeleteValue(const std::wstring& name);

    bool HasSubKeys();
    bool GetKeyInfo(RegKeyInfo& info);
    std::vector<std::wstring> GetKeyNames();
    std::vector<std::wstring> GetValueNames();

protected:
    // The key a name is relative to: the root for absolute names or when no
    // key is open, else the open key.
    HKEY GetBaseKey(bool relative) const;
    // Opens key (absolute or relative) with the mask sam; nullptr on failure.
    HKEY GetKey(const std::wstring& key, uint32_t sam);
    // KEY_READ with the view flags of Access: what listing a key's subkeys
    // needs, whatever Access itself allows (KEY_WRITE cannot list them).
    uint32_t ReadAccess() const { return KEY_READ | (access_ & (KEY_WOW64_64KEY | KEY_WOW64_32KEY)); }
    // Makes key the open key without closing the previous one (the caller
    // restores it).
    void SetCurrentKeyRaw(HKEY key) { currentKey_ = key; }
    static bool IsRelative(const std::wstring& key) { return key.empty() || key[0] != L'\\'; }
    static std::wstring StripLeadingBackslash(const std::wstring& key);

private:
    bool WriteData(const std::wstring& name, uint32_t type, const void* data, uint32_t size);
    void ChangeKey(HKEY key, const std::wstring& path);

    HKEY rootKey_;
    HKEY currentKey_ = nullptr;
    std::wstring currentPath_;
    uint32_t access_;
};

class TArchAwareRegistry : public TRegistry {
public:
    TArchAwareRegistry();
    explicit TArchAwareRegistry(uint32_t AAccess);
    ~TArchAwareRegistry() override;

    // Stores the mask with KEY_WOW64_64KEY added when IsWow64() is true.
    void SetAccess(uint32_t access) override;
    // In the 64-bit view (Access holds KEY_WOW64_64KEY) the key and all its
    // subkeys are deleted through RegDeleteKeyExW, deepest first; otherwise
    // the base deletion is used.
    bool DeleteKey(const std::wstring& key) override;

    void* hDLL = nullptr;
    TRegDeleteKeyEx RegDeleteKeyExFunc = nullptr;

private:
    bool DeleteKeyNative(const std::wstring& key);
};

}  // namespace tide

namespace tide {

// Writes strings as a REG_MULTI_SZ value of the open key of reg: each string
// with its terminating zero, then the zero that ends the list. False when
// no key is open or the value could not be written.
bool WriteMultiString(TRegistry& reg, const std::wstring& name, const std::vector<std::wstring>& strings);

}  // namespace tide
