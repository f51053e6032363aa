// Native stand-ins for the registry and the WOW64 probes.
//
// FakeRegistry holds one tree of keys the way 64-bit Windows stores it: the
// 32-bit view of HKLM\Software is the subkey HKLM\Software\WOW6432Node, so a
// test can look at the physical paths and tell which view a write went to.
// Which view an access without view flags reaches depends on the machine:
//  - Windows32: one view, the view flags are ignored;
//  - Wow64Process: a 32-bit process on 64-bit Windows, default 32-bit view;
//  - Native64Process: a 64-bit process, default 64-bit view.
// Handles check their access mask (a value cannot be set through a handle
// opened with KEY_READ) and go stale when their key is deleted.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/wow64.h"

namespace tide::platform::fake {

enum class MachineKind { Windows32, Wow64Process, Native64Process };

class FakeRegistry : public Registry {
public:
    explicit FakeRegistry(MachineKind kind = MachineKind::Wow64Process);
    ~FakeRegistry() override;

    long OpenKey(HKEY parent, const std::wstring& subKey, uint32_t sam, HKEY* result) override;
    long CreateKey(HKEY parent, const std::wstring& subKey, uint32_t sam, HKEY* result) override;
    long CloseKey(HKEY key) override;
    long QueryValue(HKEY key, const std::wstring& name, uint32_t* type, std::vector<uint8_t>* data) override;
    long SetValue(HKEY key, const std::wstring& name, uint32_t type, const void* data, uint32_t size) override;
    long DeleteValue(HKEY key, const std::wstring& name) override;
    long DeleteKey(HKEY parent, const std::wstring& subKey) override;
    long EnumKey(HKEY key, uint32_t index, uint32_t bufferChars, std::wstring* name) override;
    long EnumValue(HKEY key, uint32_t index, std::wstring* name) override;
    long QueryInfoKey(HKEY key, RegKeyInfo* info) override;
    void* LoadAdvApi32() override;
    TRegDeleteKeyEx FindRegDeleteKeyEx(void* library) override;
    void FreeLibrary(void* library) override;

    // RegDeleteKeyExW as the looked-up address calls it.
    long DeleteKeyEx(HKEY parent, const std::wstring& subKey, uint32_t samDesired);

    // ---- for tests; paths are physical: "HKLM\Software\WOW6432Node\X" ----
    void SetMachine(MachineKind kind);
    MachineKind Machine();
    // Without administrator rights: keys of HKLM cannot be created, opened
    // for writing or written.
    void SetDenyMachineWrites(bool deny);
    // Simulates a Windows without RegDeleteKeyExW.
    void SetHasRegDeleteKeyEx(bool has);
    bool HasKey(const std::wstring& path);
    bool HasValue(const std::wstring& path, const std::wstring& name);
    std::wstring GetString(const std::wstring& path, const std::wstring& name);
    void PutString(const std::wstring& path, const std::wstring& name, const std::wstring& value);
    void PutKey(const std::wstring& path);
    // Keys deleted so far, physical paths in deletion order.
    std::vector<std::wstring> DeletedKeys();
    size_t OpenHandleCount();
    int LibraryLoads();

private:
    struct Value {
        std::wstring name;
        uint32_t type = REG_NONE;
        std::vector<uint8_t> data;
    };
    struct Key {
        std::wstring path;                    // as first created
        std::map<std::wstring, Value> values;  // by lower-case name
    };
    struct Handle {
        std::wstring key;  // lower-case physical path
        uint32_t sam;
    };

    static std::wstring Lower(const std::wstring& s);
    static std::wstring Normalize(const std::wstring& path);  // "HKEY_LOCAL_MACHINE\..." -> "HKLM\..."
    bool Redirect32(uint32_t sam) const;
    std::wstring Resolve(const std::wstring& parentLower, const std::wstring& sub, uint32_t sam) const;
    // Lower-case path of a handle, or empty when unknown; rc set on failure.
    long PathOf(HKEY key, std::wstring* lower, uint32_t* sam);  // kRegOk or the error
    bool Exists(const std::wstring& lower) const;
    std::vector<std::wstring> ChildrenOf(const std::wstring& lower) const;  // lower-case paths, sorted
    void CreatePath(const std::wstring& display);
    HKEY NewHandle(const std::wstring& lower, uint32_t sam);
    long DeleteAt(HKEY parent, const std::wstring& subKey, uint32_t sam);
    bool WriteDenied(const std::wstring& lower) const;

    std::mutex mu_;
    MachineKind kind_;
    bool denyWrites_ = false;
    bool hasDeleteEx_ = true;
    int loads_ = 0;
    std::map<std::wstring, Key> keys_;  // by lower-case physical path
    std::map<HKEY, Handle> handles_;
    uintptr_t nextHandle_ = 0x1000;
    std::vector<std::wstring> deleted_;
};

class FakeWow64Probes : public Wow64Probes {
public:
    explicit FakeWow64Probes(Wow64 wow64 = Wow64::Yes, uint16_t native = kProcessorAmd64)
        : wow64_(wow64), native_(native) {}
    Wow64 IsWow64Process() override { return wow64_.load(); }
    uint16_t NativeProcessorArchitecture() override { return native_.load(); }
    void Set(Wow64 wow64, uint16_t native) {
        wow64_ = wow64;
        native_ = native;
    }

private:
    std::atomic<Wow64> wow64_;
    std::atomic<uint16_t> native_;
};

// A registry and matching probes, installed as the current ports while the
// object lives. Wow64Process: IsWow64 true, AMD64; Native64Process: IsWow64
// false, AMD64; Windows32: IsWow64 false, x86.
class ScopedFakeMachine {
public:
    explicit ScopedFakeMachine(MachineKind kind = MachineKind::Wow64Process);
    void Set(MachineKind kind);

    FakeRegistry registry;
    FakeWow64Probes probes;

private:
    ScopedPort<Registry> regPort_;
    ScopedPort<Wow64Probes> probePort_;
};

}  // namespace tide::platform::fake
