#include "install/install_orchestration.h"

#include <algorithm>
#include <optional>
#include <string>

#include "base/encoding.h"
#include "base/error.h"
#include "base/text.h"
#include "core/InstallInfo.h"
#include "core/Tidestart.h"
#include "core/install_dir_guard.h"
#include "core/layout.h"
#include "core/local_file.h"
#include "core/manifest.h"
#include "core/run_log.h"
#include "core/settings.h"
#include "download/verification.h"
#include "install/install_steps.h"
#include "install/java_runtime.h"
#include "install/self_update.h"
#include "install/uninstall_entry.h"
#include "install/upgrade_migration.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/shell_execute.h"
#include "system/CommandRunner.h"
#include "system/VariousTests.h"
#include "system/server_service.h"

namespace tide {

const wchar_t kErrorCreatingDirectoryCaption[] = L"Error Creating Directory";
const wchar_t kErrorDownloadFilesCaption[] = L"Error Download Files";
const wchar_t kTomcatRunningCaption[] = L"Tomcat Running?";
const wchar_t kStartingTomcatCaption[] = L"Starting Tomcat";

namespace {

using platform::MbIcon;

bool DestinationIsX64() { return GetInstallInfo().DestinationArchitechture() == x64; }

// The components whose install steps are still to run, as the window's
// slPending: those whose files were not complete at the click (this run
// fetches them) and those an earlier run left uninstalled. A component
// leaves the list when its own step succeeds, so a run that ends early
// (killed, crashed, the window closed, the machine shut down) or a step
// that fails leaves it for the next run, which finds its file complete,
// does not fetch it again, but installs it all the same. What the list
// does not hold was installed from the file that is there: it is not
// unpacked, configured or re-created again.
const wchar_t kPendingSetting[] = L"PendingComponents";

std::vector<std::wstring> SplitNames(const std::wstring& text) {
    std::vector<std::wstring> names;
    std::wstring cur;
    for (wchar_t c : text + L",") {
        if (c != L',') {
            cur += c;
        } else if (!cur.empty()) {
            names.push_back(cur);
            cur.clear();
        }
    }
    return names;
}

bool Contains(const std::vector<std::wstring>& names, const std::wstring& name) {
    for (const auto& n : names)
        if (n == name) return true;
    return false;
}

void SavePending(const TInstallWindow& w) {
    std::wstring text;
    for (const std::wstring& n : w.slPending) text += (text.empty() ? L"" : L",") + n;
    WriteSetting(kPendingSetting, text);
}

bool IsJavaRuntime(const std::wstring& name) { return name == L"JRE" || name == L"JREx64"; }

// As the component download judges a file it finds already on disk.
bool CompleteOnDisk(const std::wstring& component) {
    try {
        return ComponentFileComplete(ComponentFilePath(component), ComponentFileSize(component),
                                     ManifestValue(component, L"FILE_MD5SUM"), ManifestValue(component, L"FILE_SHA256"));
    } catch (const Error&) {
        return false;
    }
}

// Runs one step of the install phase. What it raises is shown, counts as
// a failed step, and the installation goes on with the next step.
template <class Step>
void Guarded(TInstallWindow& w, Step&& step) {
    try {
        step();
        // The steps run one after another inside one timer tick: between
        // two of them the window handles what is waiting (a failed step's
        // box does so as well).
        platform::Env().ProcessMessagesFor(0);
        return;
    } catch (const Error& e) {
        platform::ShowMessage(e.Message(), L"Notice", MbIcon::Error);
    } catch (const std::exception& e) {
        platform::ShowMessage(Utf8ToWide(e.what()), L"Notice", MbIcon::Error);
    }
    RecordFailure(w, Outcome::StepFailed, L"the step raised an error");
}

bool ServerInstalled() {
    return IsServiceInstalled() || platform::Files().FileExists(ServerBaseDir(true) + L"bin\\catalina.bat");
}

void SetProgress(TInstallWindow& w, int32_t position) {
    if (position > w.pbMax) position = w.pbMax;
    if (position < 0) position = 0;
    w.pbPosition = position;
    w.Progress().SetPosition(position);
}

// A release older than the installed application is refused before any
// component is fetched or anything registered or written: its migration
// would run backwards and hand the newer version's calendar data to an
// application that predates it. What the click changed is put back: the
// install directory recorded before it, and the manifest copy the
// installation was made with (the uninstaller finds the application's
// folder by its version).
// What the click changed before an upgrade is refused, put back: the
// install directory recorded before it and the manifest copy the
// installation was made with.
struct BeforeTheClick {
    std::wstring recordedDir;
    std::optional<std::string> manifest;

    void PutBack() const {
        const std::wstring path = ManifestLocalPath();
        if (manifest) {
            auto f = platform::Files().Open(path, platform::OpenMode::CreateAlways, platform::Share::None);
            if (f) f->Write(manifest->data(), manifest->size());
        } else {
            platform::Files().RemoveFile(path);
        }
        if (!recordedDir.empty() && InstallDirectory() != recordedDir) SaveInstallDirectory(recordedDir);
    }
};

bool RefusedAsOlder(TInstallWindow& w, const BeforeTheClick& before) {
    if (ReadSetting(L"Version").empty()) return false;  // nothing installed
    const TInstallInfo& info = GetInstallInfo();  // fetches the release's manifest
    const std::wstring installed = info.CurrentVersion(), offered = info.DestinationVersion();
    if (offered.empty() || CompareAppVersions(offered, installed) >= 0) return false;

    before.PutBack();
    platform::ShowMessage(L"This release holds Tidewell version " + offered +
                              L", which is older than the installed version " + installed +
                              L".\n\nAn older version is not installed over a newer one: the calendar data of "
                              L"version " + installed + L" may not work with it. Nothing has been changed.",
                          L"Notice", MbIcon::Error);
    // Exit code 3, as for a manifest that is refused: the release offered
    // cannot be used here, and nothing was installed to fail (which 4
    // would report).
    RecordFailure(w, Outcome::DownloadFailed,
                  L"release " + offered + L" is older than the installed version " + installed);
    w.EnableUninstallButton(true);
    return true;
}

// An installation from before the versioned folders serves its application
// from TCBase\webapps\calendar. Its server holds the application's jars
// open, so it is stopped before the folder is renamed. A folder that still
// cannot be renamed stops the upgrade before anything is registered or
// fetched: what the click changed is put back and the server started again.
bool OldWebAppStaysInPlace(TInstallWindow& w, const BeforeTheClick& before) {
    const std::wstring old = OldLayoutAppDir();
    if (!platform::Files().DirectoryExists(old)) return false;
    const bool stopped = ControlServer(false);
    if (MoveAsideOldWebApp()) return false;

    const uint32_t error = platform::Files().LastError();
    const std::wstring target = InstalledVersionDir(ReadSetting(L"Version"));
    before.PutBack();
    if (stopped) InstallSteps().SetServerRunning(true);
    platform::ShowMessage(L"The web application in " + old + L" could not be moved to " + target + L": " +
                              SystemErrorText(error) +
                              L"\n\nA program may still be using its files, or " + target +
                              L" exists already. Nothing has been changed; the installed version " +
                              ReadSetting(L"Version") +
                              L" stays as it was. Once the folder can be moved, run the installation again.",
                          L"Notice", MbIcon::Error);
    RecordFailure(w, Outcome::StepFailed, L"moving " + old + L" aside");
    w.EnableUninstallButton(true);
    return true;
}

// False when the component's step failed (it has said why).
bool InstallComponent(TInstallWindow& w, const std::wstring& name) {
    const TInstallSteps& steps = InstallSteps();
    platform::StatusLine* sb = &w.StatusLine();
    if (IsJavaRuntime(name)) {
        // An installer that did not start has nothing to wait for.
        return steps.InstallJre(sb, name) && WaitForJavaInstall(w, name);
    }
    if (name == L"TOMCAT" || name == L"TOMCATx64") {
        // The old service runs the Tomcat that is about to be replaced. A
        // run that ended while the service program removed it left
        // "ServiceInstalled" at "Y" with no service behind it: once none of
        // this installation's is left, the setting says so, and the service
        // is made again after the install steps.
        if (IsServiceInstalled() || ServiceOfThisInstallation()) {
            steps.RemoveServerService(true);
            if (IsServiceInstalled() && !ServiceOfThisInstallation()) WriteSetting(L"ServiceInstalled", L"N");
        }
        return steps.InstallTomcat(sb, name);
    }
    if (name == L"CATALINA_BASE") {
        if (!steps.ConfigureServerBase(sb)) return false;
        // The archive brings the stock service script. While the service it
        // made stays, the script gets this installation's folders again at
        // once, so the server base does not depend on whether the service
        // is made again in this run or was made by an earlier one.
        const std::wstring script = ServerBaseDir(true) + L"bin\\service.bat";
        if (IsServiceInstalled() && platform::Files().FileExists(script))
            PrepareServiceScript(ServerBaseDir(false), TomcatHomeDir(false));
        return true;
    }
    if (name == L"TW") return steps.InstallApplication(sb);
    // Anything else (the unzip tool) is used by the other steps.
    return true;
}

}  // namespace

void RecordFailure(TInstallWindow& w, Outcome outcome, const std::wstring& what) {
    LogEntry(L"step", L"failed: " + what + L" (" + OutcomeText(outcome) + L")");
    if (w.outcome == Outcome::Done) w.outcome = outcome;
}

void cbInstallClick(TInstallWindow& w) {
    const std::wstring path = Trim(w.InstallPathText());
    // The path is checked before anything is made: the uninstaller deletes
    // what the installer put into this directory.
    const InstallDirCheck check = CheckInstallDirectory(path);
    if (!check.ok || !CreateInstallDirectory(check.dir)) {
        platform::ShowMessage(
            check.refusal.empty() ? L"Error Creating Directory " + path + L".\nVerify path is valid!" : check.refusal,
            kErrorCreatingDirectoryCaption, MbIcon::Warning);
        RecordFailure(w, Outcome::DirectoryRefused, L"install directory \"" + path + L"\"");
        return;
    }
    // Without its mark the installation could never be uninstalled: the
    // uninstaller deletes only a folder whose mark agrees with the record.
    if (!MarkInstallation(check.dir)) {
        platform::ShowMessage(L"The installation mark " + check.dir + kInstallMarkerName +
                                  L" could not be written.\nNothing was installed.",
                              kErrorCreatingDirectoryCaption, MbIcon::Warning);
        RecordFailure(w, Outcome::DirectoryRefused, L"installation mark in \"" + check.dir + L"\"");
        return;
    }
    w.EnableInstallButton(false);
    w.EnableUninstallButton(false);
    w.EnablePathControls(false);
    BeforeTheClick before;
    before.recordedDir = InstallDirectory();
    SaveInstallDirectory(check.dir);
    before.manifest = ReadLocalFile(ManifestLocalPath());
    // From here on the run log has its place beside the manifest copy
    // (unless the command line named one).
    TheRunLog().SetPath(InstallDirectory() + kRunLogFileName);
    LogEntry(L"step", L"install directory " + InstallDirectory() + L" created and recorded");
    if (RefusedAsOlder(w, before)) return;
    if (OldWebAppStaysInPlace(w, before)) return;

    if (!InstallSteps().SelfUpdateAndRegister()) {  // the program is ending
        if (const auto code = UpdatedInstallerExitCode()) {
            // An unattended run that handed over: the newer installer did
            // the installation, and its outcome is this run's.
            w.outcome = OutcomeOfExitCode(*code);
            LogEntry(L"step", L"the updated installer ended with exit code " + IntToStr(static_cast<int>(*code)));
            w.CloseWindow();
            return;
        }
        RecordFailure(w, Outcome::StepFailed, L"the installer was not registered (or hands over to a newer one)");
        return;
    }

    w.ShowInstallProgress();
    w.SetStage(InstallStage::Analyzing);
    if (ManifestValue(L"TW", L"FILE_VERSION").empty()) {
        platform::ShowMessage(DownloadFailureAdvice(), kErrorDownloadFilesCaption, MbIcon::Warning);
        RecordFailure(w, Outcome::DownloadFailed, L"release manifest " + ManifestLocalPath());
        return;
    }
    w.slComponents = BuildComponentList();
    const std::vector<std::wstring> earlier = SplitNames(ReadSetting(kPendingSetting));
    w.slPending.clear();
    w.slFromDisk.clear();
    for (const std::wstring& n : w.slComponents) {
        const bool complete = CompleteOnDisk(n);
        if (!complete || Contains(earlier, n)) w.slPending.push_back(n);
        if (complete && (Contains(earlier, n) || IsJavaRuntime(n))) w.slFromDisk.push_back(n);
    }
    SavePending(w);
    std::wstring names;
    for (const std::wstring& c : w.slComponents) names += (names.empty() ? L"" : L", ") + c;
    LogEntry(L"step", L"release " + ManifestValue(L"TW", L"FILE_VERSION") + L"; components to fetch: " + names);
    w.SetStage(InstallStage::Downloading);
    StartComponentDownload(w, w.slComponents);
}

std::vector<std::wstring> BuildComponentList() {
    const bool x64 = DestinationIsX64();
    std::vector<std::wstring> list;
    if (JreCheck(x64) == kJreNotFound) list.push_back(x64 ? L"JREx64" : L"JRE");
    list.push_back(L"UNZIP");
    list.push_back(L"CATALINA_BASE");
    list.push_back(x64 ? L"TOMCATx64" : L"TOMCAT");
    list.push_back(L"TW");
    return list;
}

bool MoveAsideOldWebApp() {
    const std::wstring old = OldLayoutAppDir();
    if (!platform::Files().DirectoryExists(old)) return true;
    return platform::Files().Move(old, InstalledVersionDir(ReadSetting(L"Version")));
}

void StartComponentDownload(TInstallWindow& w, const std::vector<std::wstring>& components) {
    ControlServer(false);  // its files are about to be replaced

    w.oComponentDL = std::make_unique<TComponentDownloader>(true);
    TComponentDownloader& dl = *w.oComponentDL;
    dl.SetComponents(components);
    dl.AgentName = AgentName();

    const std::wstring exe = platform::Env().ExecutablePath();
    const std::wstring exeDir = LeftStr(exe, LastDelimiter(L'\\', exe));
    if (LowerCase(InstallDirectory()) != LowerCase(exeDir)) dl.Alt_Path = exeDir;
    const std::vector<std::wstring> args = platform::Env().Arguments();
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == L"/u" || args[i] == L"/U") {
            dl.Alt_Path = i + 1 < args.size() ? args[i + 1] : std::wstring();
            // File names are appended directly: "/u D:\comp" means D:\comp\.
            if (!dl.Alt_Path.empty() && dl.Alt_Path.back() != L'\\' && dl.Alt_Path.back() != L'/') dl.Alt_Path += L'\\';
            break;
        }
    }

    dl.pb = &w.Progress();
    dl.sb = &w.StatusLine();
    dl.BeginDownload();
    w.SetDownloadTimer(true);
}

void dlTimerTimer(TInstallWindow& w) {
    if (!w.oComponentDL) {
        w.SetDownloadTimer(false);
        return;
    }
    // Only a final status means the thread is past its last message box:
    // until then the window thread must not wait for it.
    const TDownloadStatus status = w.oComponentDL->Status();
    if (status == DOWNLOAD_IN_PROGRESS || status == ABORT_PENDING) return;

    w.SetDownloadTimer(false);
    std::unique_ptr<TComponentList> got = w.oComponentDL->getDownloadedComponents();
    TComponentList install;
    for (const std::wstring& name : w.slComponents)
        if ((got && Contains(*got, name)) || (Contains(w.slFromDisk, name) && CompleteOnDisk(name)))
            install.push_back(name);
    w.slComponents = install;
    if (status == DOWNLOAD_SUCCEEDED)
        LogEntry(L"step", L"download finished");
    else
        RecordFailure(w, Outcome::DownloadFailed,
                      status == DOWNLOAD_ABORTED ? L"the download was cancelled" : L"the download");
    w.oComponentDL.reset();

    w.SetStage(InstallStage::Unpacking);
    for (const std::wstring& name : w.slComponents) {
        Guarded(w, [&] {
            if (!InstallComponent(w, name)) {
                RecordFailure(w, Outcome::StepFailed, L"installing " + name);
                return;
            }
            w.slPending.erase(std::remove(w.slPending.begin(), w.slPending.end(), name), w.slPending.end());
            SavePending(w);
        });
        if (platform::Env().QuitRequested()) return;  // the window was closed meanwhile
    }

    w.SetStage(InstallStage::Configuring);
    w.StatusLine().SetText(L"Configuring System");
    Guarded(w, [&] {
        if (!ConfigureSystem()) RecordFailure(w, Outcome::StepFailed, L"installing the service");
    });

    w.SetStage(InstallStage::Starting);
    w.StatusLine().SetText(L"Starting Apache Tomcat");
    bool started = false;
    Guarded(w, [&] { started = ControlServer(true); });
    if (!started) RecordFailure(w, Outcome::ServerNotStarted, L"starting the server");
    if (started) {
        w.pbMax = kTomcatStartDelay;
        w.Progress().SetMax(w.pbMax);
        w.pbStep = 1;
        // The countdown fills the bar from the left.
        SetProgress(w, 0);
        w.tomcatStartDelay = kTomcatStartDelay;
        w.SetStartTimer(true);
    }

    const TInstallSteps& steps = InstallSteps();
    Guarded(w, [&] { steps.CreateProgramShortcuts(platform::Env().ExecutablePath(), InstallDirectory()); });
    Guarded(w, [&] { steps.CreateServiceShortcuts(InstallDirectory()); });
    WriteSetting(L"ShortcutsOffered", L"Y");
    // Last, once all that this installation puts into the folder is there.
    Guarded(w, [] { WriteEstimatedSize(InstallDirectory()); });
    w.EnableUninstallButton(true);
}

bool WaitForJavaInstall(TInstallWindow& w, const std::wstring& component) {
    const std::wstring file = ComponentFilePath(component);
    const bool x64 = DestinationIsX64();
    auto& clock = platform::SystemClock();
    auto& env = platform::Env();

    SetProgress(w, 0);
    bool fileFree = false;
    bool found = false;
    bool gaveUp = false;
    w.javaWaitAbandoned = false;
    w.javaWaitRunning = true;
    const uint64_t start = clock.TickMs();
    for (unsigned pass = 1; !(fileFree && found); ++pass) {
        env.ProcessMessagesFor(kJavaInstallPollMs);
        if (pass % 4 == 0) SetProgress(w, w.pbPosition == 100 ? 33 : w.pbPosition + 1);
        env.ProcessMessages();
        if (env.QuitRequested()) break;
        if (w.javaWaitAbandoned || clock.TickMs() - start >= kJavaInstallTimeoutMs) {
            gaveUp = true;
            break;
        }
        if (!fileFree) {
            // The installer holds its own file while it runs; a file that is
            // gone is held by no one.
            fileFree = !platform::Files().FileExists(file) ||
                       platform::Files().Open(file, platform::OpenMode::ReadExisting, platform::Share::None) != nullptr;
        }
        if (fileFree) found = JreCheck(x64) != kJreNotFound;
    }
    w.javaWaitRunning = false;
    w.javaWaitAbandoned = false;
    SetProgress(w, 100);
    if (gaveUp)
        platform::ShowMessage(L"The Java runtime installation has not finished.\n\n"
                              L"Tidewell will not start until a Java runtime is installed. "
                              L"The installation goes on with the other components.",
                              L"Notice", MbIcon::Warning);
    return found;
}

bool AbandonJavaWait(TInstallWindow& w) {
    if (!w.javaWaitRunning) return false;
    w.javaWaitAbandoned = true;
    return true;
}

bool ConfigureSystem() {
    if (!IsWindowsNT()) return true;
    if (!IsAdministrator()) return true;
    if (IsServiceInstalled()) return true;
    if (ServerRunning()) ControlServer(false);
    // One an earlier script run created while reporting a failure: the
    // script would fail again on it.
    if (ServiceOfThisInstallation()) InstallSteps().RemoveServerService(true);
    return InstallSteps().InstallServerService();
}

bool ControlServer(bool start) {
    const bool running = ServerRunning();
    if (start && running) {
        platform::ShowMessage(L"Jakarta Tomcat appears to be running already.\n\n"
                              L"If not, check to see if another application is using port 8080.",
                              kTomcatRunningCaption, MbIcon::Information);
        return false;
    }
    if (!start && !running) return false;
    // Something answers on the port, but there is no server of this
    // installation to stop (a first installation while another program
    // holds 8080): its stop script does not exist yet.
    if (!start && !ServerInstalled()) return false;
    if (start) {
        const bool ok = InstallSteps().SetServerRunning(true);
        if (!ok)
            platform::ShowMessage(L"An error happened starting tomcat. You may have another application running on "
                                  L"\nthe port tomcat is using!",
                                  kStartingTomcatCaption, MbIcon::Information);
        return ok;
    }
    return InstallSteps().SetServerRunning(false);
}

void tmrStartTomcatTimer(TInstallWindow& w) {
    SetProgress(w, w.pbPosition + w.pbStep);
    --w.tomcatStartDelay;
    if (w.tomcatStartDelay <= 0) {
        w.SetStartTimer(false);
        // The last second counts too: a server that answers now has started.
        if (!w.serverAnswered && ServerRunning()) w.serverAnswered = true;
        if (w.serverAnswered)
            LogEntry(L"step", L"the server answers at " + ServerURL());
        else
            RecordFailure(w, Outcome::ServerNotStarted,
                          Format(L"the server did not answer within %d seconds", kTomcatStartDelay));
        w.StatusLine().SetText(L"Launching Browser");
        if (w.openBrowser) OpenCalendarInBrowser(w);
        w.CloseWindow();
        platform::Env().RequestQuit();
        return;
    }
    if (ServerRunning()) {
        w.serverAnswered = true;
        w.tomcatStartDelay = 1;
        SetProgress(w, w.pbMax - 1);
    }
    w.StatusLine().SetText(Format(L"Waiting %d seconds for Tidewell to Start...", w.tomcatStartDelay));
}

void OpenCalendarInBrowser(TInstallWindow& w) {
    platform::Shell().ExecuteOwned(w.OwnerHandle(), L"open", ServerURL(), L"", std::nullopt,
                                   platform::kSwShowNormal);
}

}  // namespace tide
