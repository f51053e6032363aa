// One machine of fakes for the server's service and the shortcuts: an
// installation in C:\Apps\Tidewell with its manifest, the user's Programs
// folder, the command interpreter, and scripted programs, services, shell
// objects and port answers.
#pragma once

#include <cstring>

#include "core/ArchAwareRegistry.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_shell.h"
#include "platform/fake/fake_system.h"
#include "platform/net.h"
#include "release_fixture.h"

namespace tide::testing {

class FakeNetwork : public platform::Network {
public:
    bool answers = false;
    bool ConnectLocal(int, uint32_t) override { return answers; }
};

struct SystemFixture : ::testing::Test {
    static constexpr const wchar_t* kApp = L"C:\\Apps\\Tidewell\\";
    static constexpr const wchar_t* kBase = L"C:\\Apps\\Tidewell\\TCBase";
    static constexpr const wchar_t* kHome = L"C:\\Apps\\Tidewell\\apache-tomcat";
    static constexpr const wchar_t* kPrograms = L"C:\\Users\\admin\\Start Menu\\Programs";
    static constexpr const wchar_t* kFolder = L"C:\\Users\\admin\\Start Menu\\Programs\\Tidewell Web Calendar\\";
    static constexpr const wchar_t* kComSpec = L"C:\\Windows\\system32\\cmd.exe";

    FakeMachine m;
    platform::fake::FakeProcesses procs;
    platform::fake::FakeServiceControl scm;
    platform::fake::FakeOsInfo os;
    platform::fake::FakeClock clock;
    platform::fake::FakeShellLinks links;
    platform::fake::FakeProgramSearch search;
    FakeNetwork net;
    platform::ScopedPort<platform::Processes> p1{procs};
    platform::ScopedPort<platform::ServiceControl> p2{scm};
    platform::ScopedPort<platform::OsInfo> p3{os};
    platform::ScopedPort<platform::Clock> p4{clock};
    platform::ScopedPort<platform::ShellLinks> p5{links};
    platform::ScopedPort<platform::ProgramSearch> p6{search};
    platform::ScopedPort<platform::Network> p7{net};

    SystemFixture() {
        SaveInstallDirectory(kApp);
        m.MakeDirs(std::wstring(kBase) + L"\\bin");
        m.MakeDirs(kPrograms);
        m.Args({L"/UNINSTALL"});  // read the local manifest, never fetch
        m.WriteFile(std::wstring(kApp) + L"downloader.ini",
                    "[TW]\r\nFILE_VERSION=4.2.1\r\n[TOMCAT]\r\nUNPACK_PATH=apache-tomcat\r\n");
        m.env.SetVariable(L"ComSpec", kComSpec);
        m.machine.registry.PutString(
            L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", L"Programs", kPrograms);
        search.Put(L"NET.EXE", L"C:\\Windows\\system32\\net.exe");
        scm.AddService(L"Tidewell", 1);
    }

    std::wstring Setting(const std::wstring& name) { return ReadSetting(name); }
    void SetSetting(const std::wstring& name, const std::wstring& value) { WriteSetting(name, value); }

    // Raw value of HKLM\key (native view): type and bytes; false if missing.
    bool MachineValue(const std::wstring& key, const std::wstring& name, uint32_t& type, std::vector<uint8_t>& data) {
        TArchAwareRegistry reg(KEY_READ);
        reg.SetRootKey(HKEY_LOCAL_MACHINE);
        if (!reg.OpenKeyReadOnly(key)) return false;
        return platform::Reg().QueryValue(reg.CurrentKey(), name, &type, &data) == platform::kRegOk;
    }
    void PutMachineInteger(const std::wstring& key, const std::wstring& name, int32_t value) {
        TArchAwareRegistry reg(KEY_ALL_ACCESS);
        reg.SetRootKey(HKEY_LOCAL_MACHINE);
        ASSERT_TRUE(reg.OpenKey(key, true));
        reg.WriteInteger(name, value);
    }
    void PutMachineString(const std::wstring& key, const std::wstring& name, const std::wstring& value) {
        TArchAwareRegistry reg(KEY_ALL_ACCESS);
        reg.SetRootKey(HKEY_LOCAL_MACHINE);
        ASSERT_TRUE(reg.OpenKey(key, true));
        reg.WriteString(name, value);
    }
};

inline std::wstring MultiString(const std::vector<uint8_t>& data) {
    std::wstring s(data.size() / sizeof(wchar_t), L'\0');
    if (!s.empty()) std::memcpy(&s[0], data.data(), s.size() * sizeof(wchar_t));
    return s;
}

}  // namespace tide::testing
