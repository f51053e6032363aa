#include <gtest/gtest.h>

#include "core/ArchAwareRegistry.h"
#include "base/error.h"
#include "core/process_arch.h"
#include "core/settings.h"
#include "platform/fake/fake_registry.h"

using namespace tide;
using platform::Wow64Probes;
using platform::fake::MachineKind;
using platform::fake::ScopedFakeMachine;

namespace {
const wchar_t* const k64 = L"HKLM\\Software\\Quorvan Labs\\Tidewell";
const wchar_t* const k32 = L"HKLM\\Software\\WOW6432Node\\Quorvan Labs\\Tidewell";
}  // namespace

TEST(Settings, UnderWow64TheStoreLivesInThe64BitView) {
    ScopedFakeMachine m(MachineKind::Wow64Process);
    EXPECT_TRUE(SaveInstallDirectory(L"C:\\Apps\\Tidewell"));
    EXPECT_EQ(m.registry.GetString(k64, L"AppPath"), L"C:\\Apps\\Tidewell\\");
    EXPECT_FALSE(m.registry.HasKey(k32));
    EXPECT_EQ(InstallDirectory(), L"C:\\Apps\\Tidewell\\");

    // A value only in the redirected view is not seen.
    m.registry.PutString(k32, L"Version", L"9.9");
    EXPECT_EQ(ReadSetting(L"Version"), L"");
    m.registry.PutString(k64, L"Version", L"4.2");
    EXPECT_EQ(ReadSetting(L"Version"), L"4.2");
    EXPECT_EQ(m.registry.OpenHandleCount(), 0u);
}

TEST(Settings, ThirtyTwoBitWindowsUsesTheOnlyView) {
    ScopedFakeMachine m(MachineKind::Windows32);
    WriteSetting(L"Port", L"8081");
    EXPECT_EQ(m.registry.GetString(k64, L"Port"), L"8081");
    EXPECT_EQ(ReadSetting(L"Port"), L"8081");
    TArchAwareRegistry reg(KEY_WRITE);
    EXPECT_EQ(reg.Access(), static_cast<uint32_t>(KEY_WRITE));
}

TEST(Settings, MissingKeyOrValueReadsEmpty) {
    ScopedFakeMachine m;
    EXPECT_EQ(ReadSetting(L"Version"), L"");
    EXPECT_EQ(InstallDirectory(), L"");
    WriteSetting(L"Arch", L"x64");
    EXPECT_EQ(ReadSetting(L"Version"), L"");
    EXPECT_EQ(ReadSetting(L"arch"), L"x64");  // names match without regard to case
}

TEST(Settings, WriteWithoutRightsIsSilentlyDropped) {
    ScopedFakeMachine m;
    m.registry.SetDenyMachineWrites(true);
    EXPECT_NO_THROW(WriteSetting(L"Version", L"1.0"));
    EXPECT_FALSE(m.registry.HasKey(k64));
    EXPECT_EQ(m.registry.OpenHandleCount(), 0u);
}

TEST(Settings, TrailingBackslash) {
    ScopedFakeMachine m;
    EXPECT_EQ(AddTrailingBackslash(L"C:\\Apps\\Tidewell"), L"C:\\Apps\\Tidewell\\");
    EXPECT_EQ(AddTrailingBackslash(L"C:\\Apps\\Tidewell\\"), L"C:\\Apps\\Tidewell\\");
    SaveInstallDirectory(L"D:\\T\\");
    EXPECT_EQ(InstallDirectory(), L"D:\\T\\");
}

TEST(Settings, ServiceInstalledOnlyForExactY) {
    ScopedFakeMachine m;
    EXPECT_FALSE(IsServiceInstalled());
    WriteSetting(L"ServiceInstalled", L"y");
    EXPECT_FALSE(IsServiceInstalled());
    WriteSetting(L"ServiceInstalled", L"Y ");
    EXPECT_FALSE(IsServiceInstalled());
    WriteSetting(L"ServiceInstalled", L"Y");
    EXPECT_TRUE(IsServiceInstalled());
    WriteSetting(L"ServiceInstalled", L"N");
    EXPECT_FALSE(IsServiceInstalled());
}

namespace {
class CountingProbes : public Wow64Probes {
public:
    Wow64 wow = Wow64::No;
    uint16_t native = platform::kProcessorAmd64;
    int nativeCalls = 0;
    Wow64 IsWow64Process() override { return wow; }
    uint16_t NativeProcessorArchitecture() override {
        ++nativeCalls;
        return native;
    }
};
}  // namespace

TEST(Settings, Wow64ProbesAndArchitectureText) {
    CountingProbes p;
    platform::ScopedPort<Wow64Probes> port(p);
    p.wow = Wow64Probes::Wow64::No;
    EXPECT_FALSE(IsWow64());
    EXPECT_EQ(NativeArchString(), L"x86");
    EXPECT_EQ(p.nativeCalls, 0);  // 32-bit Windows: the processor is not asked

    p.wow = Wow64Probes::Wow64::NoFunction;
    EXPECT_FALSE(IsWow64());

    p.wow = Wow64Probes::Wow64::Yes;
    EXPECT_EQ(NativeArchString(), L"x64");
    p.native = platform::kProcessorIa64;
    EXPECT_EQ(NativeArchString(), L"ia64");
    EXPECT_EQ(NativeProcessorArchitecture(), 6);
    p.native = platform::kProcessorArm64;
    EXPECT_EQ(NativeArchString(), L"");

    p.wow = Wow64Probes::Wow64::CallFailed;
    try {
        IsWow64();
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.Message(), L"IsWow64: bad process handle");
    }
    // The accessor's Access setter asks the probe too, so the error reaches
    // every settings call.
    EXPECT_THROW(ReadSetting(L"AppPath"), Error);
}

TEST(ArchAwareRegistry, AccessSetterAddsThe64BitFlagOnlyUnderWow64) {
    ScopedFakeMachine m(MachineKind::Wow64Process);
    TArchAwareRegistry plain;
    EXPECT_EQ(plain.Access(), static_cast<uint32_t>(KEY_ALL_ACCESS));  // default: without the flag
    TArchAwareRegistry r(KEY_READ);
    EXPECT_EQ(r.Access(), 0x20119u);
    r.SetAccess(KEY_WRITE);
    EXPECT_EQ(r.Access(), 0x20106u);

    m.Set(MachineKind::Native64Process);
    TArchAwareRegistry n(KEY_READ);
    EXPECT_EQ(n.Access(), 0x20019u);
}

TEST(ArchAwareRegistry, DeleteKeyIn64BitViewRemovesNestedKeysDeepestFirst) {
    ScopedFakeMachine m(MachineKind::Wow64Process);
    const std::wstring base = L"HKLM\\Software\\Quorvan Labs";
    m.registry.PutString(base + L"\\Tidewell\\A\\A1", L"v", L"1");
    m.registry.PutString(base + L"\\Tidewell\\A\\A2\\Deep", L"v", L"2");
    m.registry.PutString(base + L"\\Tidewell\\B", L"v", L"3");
    m.registry.PutString(base + L"\\Tidewell", L"AppPath", L"C:\\T\\");
    m.registry.PutString(base + L"\\Other", L"v", L"4");
    // The same key in the 32-bit view must survive.
    m.registry.PutString(L"HKLM\\Software\\WOW6432Node\\Quorvan Labs\\Tidewell\\A", L"v", L"5");

    {
        TArchAwareRegistry reg;
        reg.SetRootKey(HKEY_LOCAL_MACHINE);
        reg.SetAccess(KEY_ALL_ACCESS);
        reg.DeleteKey(L"\\Software\\Quorvan Labs\\Tidewell");
        EXPECT_NE(reg.hDLL, nullptr);
        EXPECT_NE(reg.RegDeleteKeyExFunc, nullptr);
        EXPECT_EQ(reg.CurrentKey(), nullptr);
    }
    EXPECT_FALSE(m.registry.HasKey(base + L"\\Tidewell"));
    EXPECT_TRUE(m.registry.HasKey(base + L"\\Other"));
    EXPECT_TRUE(m.registry.HasKey(L"HKLM\\Software\\WOW6432Node\\Quorvan Labs\\Tidewell\\A"));
    std::vector<std::wstring> order = m.registry.DeletedKeys();
    std::vector<std::wstring> want = {base + L"\\Tidewell\\B", base + L"\\Tidewell\\A\\A2\\Deep",
                                      base + L"\\Tidewell\\A\\A2", base + L"\\Tidewell\\A\\A1",
                                      base + L"\\Tidewell\\A", base + L"\\Tidewell"};
    EXPECT_EQ(order, want);
    EXPECT_EQ(m.registry.OpenHandleCount(), 0u);
    EXPECT_EQ(m.registry.LibraryLoads(), 1);
}

TEST(ArchAwareRegistry, RelativeDeleteUsesTheOpenKeyAndKeepsIt) {
    ScopedFakeMachine m(MachineKind::Wow64Process);
    m.registry.PutString(L"HKLM\\Software\\Quorvan Labs\\Tidewell\\X\\Y", L"v", L"1");
    TArchAwareRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    reg.SetAccess(KEY_ALL_ACCESS);
    ASSERT_TRUE(reg.OpenKey(L"\\Software\\Quorvan Labs", false));
    HKEY open = reg.CurrentKey();
    EXPECT_TRUE(reg.HasSubKeys());
    EXPECT_TRUE(reg.DeleteKey(L"Tidewell"));
    EXPECT_EQ(reg.CurrentKey(), open);
    EXPECT_FALSE(reg.HasSubKeys());
    EXPECT_TRUE(m.registry.HasKey(L"HKLM\\Software\\Quorvan Labs"));
    EXPECT_FALSE(m.registry.HasKey(L"HKLM\\Software\\Quorvan Labs\\Tidewell"));
}

TEST(ArchAwareRegistry, WithoutTheFlagTheBaseDeletionRemovesSubkeysToo) {
    ScopedFakeMachine m(MachineKind::Windows32);
    m.registry.PutString(L"HKLM\\Software\\Quorvan Labs\\Tidewell\\X\\Y", L"v", L"1");
    TArchAwareRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    reg.SetAccess(KEY_ALL_ACCESS);
    EXPECT_TRUE(reg.DeleteKey(L"\\Software\\Quorvan Labs\\Tidewell"));
    EXPECT_FALSE(m.registry.HasKey(L"HKLM\\Software\\Quorvan Labs\\Tidewell"));
    EXPECT_EQ(reg.hDLL, nullptr);  // the library is only needed for the 64-bit view
    EXPECT_EQ(m.registry.LibraryLoads(), 0);
}

// KEY_WRITE cannot list subkeys (no KEY_QUERY_VALUE, no
// KEY_ENUMERATE_SUB_KEYS); the deletion still removes them, in either view.
TEST(ArchAwareRegistry, WriteOnlyAccessStillRemovesSubkeys) {
    for (MachineKind kind : {MachineKind::Wow64Process, MachineKind::Windows32}) {
        ScopedFakeMachine m(kind);
        m.registry.PutString(std::wstring(k64) + L"\\X\\Y", L"v", L"1");
        TArchAwareRegistry reg(KEY_WRITE);
        reg.SetRootKey(HKEY_LOCAL_MACHINE);
        EXPECT_TRUE(reg.DeleteKey(L"\\Software\\Quorvan Labs\\Tidewell"));
        EXPECT_FALSE(m.registry.HasKey(k64));
        EXPECT_EQ(m.registry.OpenHandleCount(), 0u);
    }
}

TEST(ArchAwareRegistry, MissingRegDeleteKeyExFailsInsteadOfCrashing) {
    ScopedFakeMachine m(MachineKind::Wow64Process);
    m.registry.SetHasRegDeleteKeyEx(false);
    m.registry.PutKey(L"HKLM\\Software\\Quorvan Labs\\Tidewell");
    TArchAwareRegistry reg(KEY_ALL_ACCESS);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(reg.DeleteKey(L"\\Software\\Quorvan Labs\\Tidewell"));
    EXPECT_TRUE(m.registry.HasKey(L"HKLM\\Software\\Quorvan Labs\\Tidewell"));
}

TEST(Registry, ValuesIntegersAndReadOnlyHandles) {
    ScopedFakeMachine m(MachineKind::Native64Process);
    TRegistry reg(KEY_ALL_ACCESS);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey(L"\\Software\\Vendor\\App", true));
    EXPECT_EQ(reg.CurrentPath(), L"Software\\Vendor\\App");
    EXPECT_TRUE(reg.WriteInteger(L"Count", -5));
    EXPECT_TRUE(reg.WriteString(L"Name", L"caf\u00e9"));
    EXPECT_EQ(reg.ReadInteger(L"Count"), -5);
    EXPECT_EQ(reg.ReadString(L"Name"), L"caf\u00e9");
    EXPECT_EQ(reg.ReadString(L"Count"), L"");  // not a string
    EXPECT_EQ(reg.ReadInteger(L"Missing"), 0);
    ASSERT_TRUE(reg.OpenKey(L"Sub", true));
    EXPECT_EQ(reg.CurrentPath(), L"Software\\Vendor\\App\\Sub");
    ASSERT_TRUE(reg.OpenKeyReadOnly(L"\\Software\\Vendor\\App"));
    EXPECT_EQ(reg.GetKeyNames(), std::vector<std::wstring>{L"Sub"});
    EXPECT_EQ(reg.GetValueNames().size(), 2u);
    EXPECT_FALSE(reg.WriteString(L"Name", L"x"));  // opened for reading only
    EXPECT_FALSE(reg.OpenKey(L"\\Software\\Nothing", false));
    EXPECT_EQ(reg.CurrentPath(), L"Software\\Vendor\\App");  // failed open keeps the key
    reg.CloseKey();
    EXPECT_EQ(m.registry.OpenHandleCount(), 0u);
}

TEST(FakeRegistry, ViewsAndStaleHandlesBehaveAsOnWindows) {
    platform::fake::FakeRegistry r(MachineKind::Native64Process);
    HKEY h = nullptr;
    // A 64-bit process reaches the 32-bit view only when it asks for it.
    ASSERT_EQ(r.CreateKey(HKEY_LOCAL_MACHINE, L"Software\\V", KEY_ALL_ACCESS | KEY_WOW64_32KEY, &h), 0);
    r.CloseKey(h);
    EXPECT_TRUE(r.HasKey(L"HKLM\\Software\\WOW6432Node\\V"));
    EXPECT_FALSE(r.HasKey(L"HKLM\\Software\\V"));
    // A handle of a deleted key goes stale.
    ASSERT_EQ(r.CreateKey(HKEY_LOCAL_MACHINE, L"Software\\W", KEY_ALL_ACCESS, &h), 0);
    EXPECT_EQ(r.DeleteKey(HKEY_LOCAL_MACHINE, L"Software\\W"), 0);
    uint32_t v = 1;
    EXPECT_EQ(r.SetValue(h, L"x", REG_DWORD, &v, 4), platform::kRegKeyDeleted);
    r.CloseKey(h);
    // RegDeleteKey refuses a key with subkeys.
    r.PutKey(L"HKLM\\Software\\P\\C");
    EXPECT_EQ(r.DeleteKey(HKEY_LOCAL_MACHINE, L"Software\\P"), platform::kRegAccessDenied);
    EXPECT_EQ(r.OpenHandleCount(), 0u);
}
