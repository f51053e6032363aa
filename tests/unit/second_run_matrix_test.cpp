// The second run, stage by stage: an installation of 4.0 is upgraded to
// 4.2.1 (every component changed), and that run is killed or fails at one
// stage of its road; then the installer runs once more. Afterwards the
// installation must be what one uninterrupted upgrade makes: the files of
// the install directory byte for byte, the settings, the service, the
// context, and the 4.0 folder with its data as the first installation left
// it. Every step is the program's own; only the machine is fake: an unzip
// tool that unpacks stand-in archives, a service script and a service
// program that create and delete the service's key, a migration script
// that copies the Derby database, and a server that answers on its port
// while its service runs.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>

#include "base/encoding.h"
#include "core/ArchAwareRegistry.h"
#include "core/InstallInfo.h"
#include "core/Tidestart.h"
#include "core/install_dir_guard.h"
#include "core/manifest.h"
#include "core/run_log.h"
#include "core/settings.h"
#include "fake_install_window.h"
#include "install/install_orchestration.h"
#include "install/install_steps.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_shell.h"
#include "platform/fake/fake_shell_execute.h"
#include "platform/fake/fake_system.h"
#include "platform/net.h"
#include "release_fixture.h"

using namespace tide;
using namespace std::chrono_literals;
using tide::testing::FakeInstallWindow;
using tide::testing::FakeMachine;
using tide::testing::Journal;
using tide::testing::Md5Hex;
namespace fs = std::filesystem;

namespace {

const wchar_t kManifestUrl[] = L"http://dl.test/rel/downloader.ini";
const wchar_t kBinBase[] = L"http://dl.test/bin/";
const wchar_t kDir[] = L"C:\\Apps\\Tidewell\\";
const wchar_t kJava64[] = L"HKLM\\Software\\JavaSoft\\Java Runtime Environment";
const wchar_t kEntry[] = L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tidewell";
const wchar_t kServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\Tidewell";
const wchar_t kServicePath[] = L"HKLM\\SYSTEM\\CurrentControlSet\\Services\\Tidewell";
const wchar_t kPrograms[] = L"C:\\Users\\admin\\Start Menu\\Programs";
const uint32_t kRunning = 4;

// The one thing a kill leaves: the process is gone in the middle of what
// it was doing. Not an error type, so no step of the program catches it.
struct Killed {};

struct Release {
    std::string version;
    std::map<std::wstring, std::pair<std::wstring, std::string>> files;  // section: file name, bytes
};

// Files keep their names from release to release (all but the
// application's), and the earlier release's are shorter: the downloader
// first takes each for a partial download of the new one.
Release MakeRelease(const std::string& v, size_t pad) {
    const std::string tag = "release " + v + std::string(pad, '.') + "\n";
    Release r{v, {}};
    r.files[L"UNZIP"] = {L"UNZIP.EXE", tag + "unzip"};
    r.files[L"CATALINA_BASE"] = {L"catalina_base.zip", tag + "server base"};
    r.files[L"TOMCATx64"] = {L"tomcat-x64.zip", tag + "tomcat"};
    r.files[L"TW"] = {L"tidewell-" + Utf8ToWide(v) + L".zip", tag + "tidewell"};
    return r;
}

std::string ManifestOf(const Release& r) {
    std::string t = "[GENERAL]\r\nBINARY_BASE=" + WideToUtf8(kBinBase) + "\r\nMIN_JRE_VERSION=1.6\r\n";
    for (const auto& [section, file] : r.files) {
        t += "[" + WideToUtf8(section) + "]\r\nFILE_NAME=" + WideToUtf8(file.first) + "\r\nFILE_SIZE=" +
             std::to_string(file.second.size()) + "\r\nFILE_MD5SUM=" + WideToUtf8(Md5Hex(file.second)) + "\r\n";
        if (section == L"TW") t += "FILE_VERSION=" + r.version + "\r\n";
        if (section == L"TOMCATx64") t += "UNPACK_PATH=apache-tomcat\r\n";
    }
    return t + "[TOMCAT]\r\nUNPACK_PATH=apache-tomcat\r\n";
}

// Starts the programs of the machine: each gets the effect it would have.
class MachinePrograms : public platform::fake::FakeProcesses {
public:
    std::function<void(const platform::ProcessStart&)> run;
    std::function<uint32_t(const platform::ProcessStart&)> exitCode;
    std::unique_ptr<platform::Process> Start(const platform::ProcessStart& start, uint32_t& error) override {
        platform::fake::FakeProgram p;
        p.effect = run;
        p.exitCode = exitCode ? exitCode(start) : 0;
        Queue(p);
        return FakeProcesses::Start(start, error);
    }
};

class ServerPort : public platform::Network {
public:
    std::function<bool(int)> answers;
    bool ConnectLocal(int port, uint32_t) override { return answers && answers(port); }
};

struct SecondRunMatrix : ::testing::Test {
    FakeMachine m;
    MachinePrograms procs;
    platform::fake::FakeServiceControl scm;
    platform::fake::FakeOsInfo os;
    platform::fake::FakeClock clock;
    platform::fake::FakeShellLinks links;
    platform::fake::FakeProgramSearch search;
    platform::fake::RecordingShellExecutor shell;
    ServerPort net;
    platform::ScopedPort<platform::Processes> p1{procs};
    platform::ScopedPort<platform::ServiceControl> p2{scm};
    platform::ScopedPort<platform::OsInfo> p3{os};
    platform::ScopedPort<platform::Clock> p4{clock};
    platform::ScopedPort<platform::ShellLinks> p5{links};
    platform::ScopedPort<platform::ProgramSearch> p6{search};
    platform::ScopedPort<platform::Network> p7{net};
    platform::ScopedPort<platform::ShellExecutor> p8{shell};
    TInstallSteps steps = ProgramInstallSteps();
    std::unique_ptr<ScopedInstallSteps> scopedSteps;

    // The stage a row kills (a point the machine passes) and what fails.
    std::wstring killAt;
    std::function<uint32_t(const std::wstring& what)> failing;
    bool serviceKnown = false;

    SecondRunMatrix() {
        m.env.SetVariable(L"ComSpec", L"C:\\Windows\\system32\\cmd.exe");
        m.env.SetVariable(L"SystemRoot", L"C:\\Windows");
        m.machine.registry.PutString(kJava64, L"CurrentVersion", L"1.8");
        m.machine.registry.PutString(
            L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", L"Programs", kPrograms);
        m.MakeDirs(kPrograms);
        search.Put(L"NET.EXE", L"C:\\Windows\\system32\\net.exe");
        // Registering the installer is another unit's matter: here it only
        // makes the uninstall entry.
        steps.SelfUpdateAndRegister = [this] {
            m.machine.registry.PutString(kEntry, L"DisplayName", L"Tidewell Web Calendar");
            return true;
        };
        scopedSteps = std::make_unique<ScopedInstallSteps>(steps);
        procs.run = [this](const platform::ProcessStart& s) { Run(s); };
        procs.exitCode = [this](const platform::ProcessStart& s) { return failing ? failing(What(s)) : 0u; };
        net.answers = [this](int port) {
            return serviceKnown && m.machine.registry.HasKey(kServicePath) && scm.State(L"Tidewell") == kRunning &&
                   std::to_wstring(port) == ReadSetting(L"Port");
        };
    }
    ~SecondRunMatrix() override { ResetInstallInfoForTest(); }

    fs::path HostPath(const std::wstring& path) { return fs::path(m.fs.HostPath(path)); }

    // A name for what a program start is, as the rows name stages.
    static std::wstring What(const platform::ProcessStart& s) {
        const std::wstring line = s.commandLine.value_or(L"");
        if (s.application.value_or(L"").find(L"UNZIP.EXE") != std::wstring::npos) {
            const size_t q = line.rfind(L'\\');
            return L"unzip " + line.substr(q + 1, line.size() - q - 2);
        }
        if (line.find(L"service.bat") != std::wstring::npos) return L"service script";
        if (line.find(L"//DS//") != std::wstring::npos) return L"service removal";
        if (line.find(L"winupdate.bat") != std::wstring::npos) return L"migration";
        return L"other";
    }

    void Pass(const std::wstring& point) {
        if (point == killAt) throw Killed{};
    }

    void Write(const std::wstring& path, const std::string& bytes) {
        m.MakeDirs(path.substr(0, path.rfind(L'\\')));
        m.WriteFile(path, bytes);
    }

    // What each program does to the machine; a kill lands once it has.
    void Run(const platform::ProcessStart& s) {
        const std::wstring what = What(s);
        const std::wstring wd = s.workDir ? *s.workDir : L"";
        if (what == L"unzip catalina_base.zip") {
            Write(wd + L"TCBase\\conf\\server.xml",
                  "<Server port=\"8005\">\r\n<Connector port=\"8080\"/>\r\n<Connector port=\"8009\"/>\r\n</Server>\r\n");
            Write(wd + L"TCBase\\bin\\service.bat", "@echo off\r\nrem install the service\r\n");
            Write(wd + L"TCBase\\bin\\native\\isapi_redirect.dll.x64", "redirector\r\n");
            m.MakeDirs(wd + L"TCBase\\conf\\Catalina\\localhost");
        } else if (what == L"unzip tomcat-x64.zip") {
            Write(wd + L"apache-tomcat\\bin\\catalina.bat", "rem tomcat\r\n");
            Write(wd + L"apache-tomcat\\bin\\tomcat9.exe", "tomcat service program " + ReleaseOf(wd) + "\r\n");
        } else if (what.rfind(L"unzip tidewell-", 0) == 0) {
            const std::wstring app = wd + what.substr(6, what.size() - 10) + L"\\";
            Write(app + L"index.html", "<html>" + WideToUtf8(app) + "</html>\r\n");
            Write(app + L"WEB-INF\\configuration.default",
                  "DBObjectClass=com.quorvanlabs.tidewell.db.DerbyDB\r\nURLBase=\r\n");
            Write(app + L"WEB-INF\\sql\\winupdate.bat", "@echo off\r\n");
            Write(app + L"WEB-INF\\sql\\DERBY\\calendardb\\service.properties", "empty database\r\n");
        } else if (what == L"service script") {
            m.machine.registry.PutString(kServicePath, L"ImagePath",
                                         std::wstring(kDir) + L"apache-tomcat\\bin\\tomcat9.exe //RS//Tidewell");
            if (!serviceKnown) scm.AddService(L"Tidewell", 1);
            serviceKnown = true;
        } else if (what == L"service removal") {
            TArchAwareRegistry reg(KEY_WRITE);
            reg.SetRootKey(HKEY_LOCAL_MACHINE);
            reg.DeleteKey(kServiceKey);
        } else if (what == L"migration") {
            // Its own folder's database is replaced by the previous
            // version's (rd, mkdir, xcopy).
            std::wstring oldInst, newInst;
            for (const auto& line : ReadLines(wd + L"\\winupdate.bat")) {
                if (line.rfind(L"set OLDINST=", 0) == 0) oldInst = line.substr(12);
                if (line.rfind(L"set NEWINST=", 0) == 0) newInst = line.substr(12);
            }
            const std::wstring db = L"\\WEB-INF\\sql\\DERBY\\calendardb";
            fs::remove_all(HostPath(newInst + db));
            fs::copy(HostPath(oldInst + db), HostPath(newInst + db), fs::copy_options::recursive);
        }
        Pass(what);
    }
    std::string ReleaseOf(const std::wstring&) { return release_; }
    std::string release_;
    std::vector<std::wstring> ReadLines(const std::wstring& path) {
        std::vector<std::wstring> out;
        std::wstring cur;
        for (char c : m.ReadFile(path)) {
            if (c == '\n') {
                out.push_back(cur);
                cur.clear();
            } else if (c != '\r') {
                cur += static_cast<wchar_t>(c);
            }
        }
        return out;
    }

    void Publish(const Release& r) {
        release_ = r.version;
        m.ServeManifest(kManifestUrl, ManifestOf(r));
        for (const auto& [section, file] : r.files) m.http.Serve(kBinBase + file.first, file.second);
    }

    // One run of the installer through its window, from the click to the
    // browser; a kill ends it where it lands. The run's exit code, or -1
    // when it was killed.
    int RunInstaller(const Release& r) {
        Publish(r);
        ResetInstallInfoForTest();
        ResetManifestFetchedForTest();
        platform::fake::FakeEnvironment env;
        env.SetVariable(L"ComSpec", L"C:\\Windows\\system32\\cmd.exe");
        env.SetVariable(L"SystemRoot", L"C:\\Windows");
        env.SetArguments({L"C:\\Downloads\\Tidestart.exe", L"/i", kManifestUrl});
        platform::ScopedPort<platform::Environment> envPort{env};
        Journal j;
        FakeInstallWindow w{j, kDir};
        std::wstring downloadKill;
        // A kill after a component's download lands as the next one starts.
        m.OnRead([&](const std::wstring& url, size_t) {
            if (!downloadKill.empty() || killAt.rfind(L"downloaded ", 0) != 0) return;
            std::vector<std::wstring> order = {L"UNZIP", L"CATALINA_BASE", L"TOMCATx64", L"TW"};
            for (size_t i = 0; i + 1 < order.size(); ++i)
                if (killAt == L"downloaded " + order[i] && url == kBinBase + r.files.at(order[i + 1]).first) {
                    downloadKill = killAt;
                    w.oComponentDL->AbortDownload();
                }
        });
        int code = -1;
        try {
            cbInstallClick(w);
            if (w.dlTimer) {
                EXPECT_TRUE(w.oComponentDL->WaitUntilFinished(20s));
                if (!downloadKill.empty()) throw Killed{};
                Pass(L"downloaded TW");
                dlTimerTimer(w);
            }
            for (int tick = 0; w.startTimer && tick < 30; ++tick) {
                Pass(L"countdown");
                tmrStartTomcatTimer(w);
            }
            code = static_cast<int>(ExitCodeOf(w.outcome));
        } catch (const Killed&) {
            if (w.oComponentDL) w.oComponentDL->AbortDownload();
        }
        m.OnRead(nullptr);
        if (w.oComponentDL) w.oComponentDL->WaitUntilFinished(20s);
        w.oComponentDL.reset();
        killAt.clear();
        return code;
    }

    // What the installation is: every file of the install directory (the
    // run log aside: it tells each run's story) and the settings, the
    // service and the uninstall entry.
    std::map<std::wstring, std::string> State(const std::wstring& under = kDir) {
        std::map<std::wstring, std::string> s;
        const fs::path root = HostPath(under);
        for (const auto& e : fs::recursive_directory_iterator(root)) {
            const std::wstring rel = Utf8ToWide(fs::relative(e.path(), root).string());
            if (rel == kRunLogFileName) continue;
            s[rel] = e.is_regular_file() ? m.ReadFile(under + rel) : "<dir>";
        }
        if (under != kDir) return s;
        // Each installation has an identity of its own: what must hold is
        // that its mark and the recorded one agree.
        if (s.count(kInstallMarkerName))
            s[kInstallMarkerName] = s[kInstallMarkerName] == WideToUtf8(ReadSetting(kInstallIdSetting)) + "\r\n"
                                        ? "agrees with InstallationId"
                                        : "does not agree with InstallationId";
        for (const auto* name : {L"Version", L"Arch", L"Port", L"ServiceInstalled", L"PendingComponents", L"AppPath",
                                 L"ShortcutsOffered"})
            s[L"setting " + std::wstring(name)] = WideToUtf8(ReadSetting(name));
        s[L"service ImagePath"] = WideToUtf8(m.machine.registry.GetString(kServicePath, L"ImagePath"));
        s[L"service running"] = scm.State(L"Tidewell") == kRunning ? "yes" : "no";
        s[L"uninstall entry"] = WideToUtf8(m.machine.registry.GetString(kEntry, L"DisplayName"));
        return s;
    }
};

struct MatrixRig : SecondRunMatrix {
    void TestBody() override {}
};

// The differences between two states, as lines.
std::string Differences(const std::map<std::wstring, std::string>& want,
                        const std::map<std::wstring, std::string>& got) {
    std::string out;
    for (const auto& [k, v] : want) {
        auto it = got.find(k);
        if (it == got.end())
            out += "  missing " + WideToUtf8(k) + "\n";
        else if (it->second != v)
            out += "  differs " + WideToUtf8(k) + ": \"" + it->second + "\" instead of \"" + v + "\"\n";
    }
    for (const auto& [k, v] : got)
        if (!want.count(k)) out += "  extra " + WideToUtf8(k) + "\n";
    return out;
}

TEST(SecondRun, EveryStageInterruptedThenRunAgainEndsAsOneUninterruptedUpgrade) {
    const Release first = MakeRelease("4.0", 0), next = MakeRelease("4.2.1", 40);
    const std::wstring oldApp = std::wstring(kDir) + L"tidewell-4.0\\";
    // The first installation, with calendar data of its own.
    auto installFirst = [&](SecondRunMatrix& t) {
        EXPECT_EQ(t.RunInstaller(first), 0);
        t.Write(oldApp + L"WEB-INF\\sql\\DERBY\\calendardb\\seg0\\c10.dat", "the calendar's own data\r\n");
        t.Write(oldApp + L"WEB-INF\\configuration.properties",
                t.m.ReadFile(oldApp + L"WEB-INF\\configuration.properties") + "JDBCConnectString=tuned\r\n");
    };

    std::map<std::wstring, std::string> reference, oldFolder;
    int referenceCode = 0;
    {
        MatrixRig t;
        installFirst(t);
        oldFolder = t.State(oldApp);
        referenceCode = t.RunInstaller(next);
        reference = t.State();
        ASSERT_EQ(referenceCode, 0);
        ASSERT_EQ(reference[L"setting Version"], "4.2.1");
        ASSERT_EQ(t.m.ReadFile(std::wstring(kDir) + L"tidewell-4.2.1\\WEB-INF\\sql\\DERBY\\calendardb\\seg0\\c10.dat"),
                  "the calendar's own data\r\n");
        ASSERT_EQ(reference[L"service running"], "yes");
    }

    struct Row {
        const char* stage;
        const wchar_t* kill;    // the point the run is killed at; empty: it fails instead
        const wchar_t* fails;   // the program that ends with exit code 1
    };
    const Row rows[] = {
        {"killed once UNZIP is downloaded", L"downloaded UNZIP", nullptr},
        {"killed once CATALINA_BASE is downloaded", L"downloaded CATALINA_BASE", nullptr},
        {"killed once TOMCATx64 is downloaded", L"downloaded TOMCATx64", nullptr},
        {"killed once TW is downloaded", L"downloaded TW", nullptr},
        {"killed in the server base step, unpacked", L"unzip catalina_base.zip", nullptr},
        {"killed in the Tomcat step, service removed", L"service removal", nullptr},
        {"killed in the Tomcat step, unpacked", L"unzip tomcat-x64.zip", nullptr},
        {"killed in the application step, unpacked", L"unzip tidewell-4.2.1.zip", nullptr},
        {"killed during the migration", L"migration", nullptr},
        {"killed during service creation", L"service script", nullptr},
        {"killed during the countdown", L"countdown", nullptr},
        {"server base unpacking fails", nullptr, L"unzip catalina_base.zip"},
        {"Tomcat unpacking fails", nullptr, L"unzip tomcat-x64.zip"},
        {"application unpacking fails", nullptr, L"unzip tidewell-4.2.1.zip"},
        {"the migration fails", nullptr, L"migration"},
        {"the service script fails after creating the service", nullptr, L"service script"},
    };
    int faults = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.stage);
        MatrixRig t;
        installFirst(t);
        if (row.kill) {
            t.killAt = row.kill;
            EXPECT_EQ(t.RunInstaller(next), -1) << "the kill never landed";
        } else {
            const std::wstring failing = row.fails;
            t.failing = [failing](const std::wstring& what) { return what == failing ? 1u : 0u; };
            EXPECT_NE(t.RunInstaller(next), 0) << "the failure was not reported";
            t.failing = nullptr;
        }
        // The previous version serves until the new one is complete.
        const std::string context = t.m.ReadFile(std::wstring(kDir) + L"TCBase\\conf\\Catalina\\localhost\\calendar.xml");
        const bool pointsAtNew = context.find("tidewell-4.2.1") != std::string::npos;
        EXPECT_EQ(pointsAtNew, WideToUtf8(ReadSetting(L"Version")) == "4.2.1") << context;
        t.m.boxes.Take();
        const int code = t.RunInstaller(next);
        const std::string diff = Differences(reference, t.State()) + Differences(oldFolder, t.State(oldApp));
        const bool same = diff.empty() && code == referenceCode;
        faults += !same;
        std::printf("  %-58s %s\n", row.stage,
                    same ? "rerun = uninterrupted upgrade" : ("FAULT (exit " + std::to_string(code) + ")").c_str());
        if (!diff.empty()) std::printf("%s", diff.c_str());
        EXPECT_TRUE(same);
    }
    std::printf("  %zu rows, %d faults\n", sizeof(rows) / sizeof(rows[0]), faults);
}

}  // namespace
