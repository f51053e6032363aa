// One installation or upgrade, from the Install click to the calendar in the
// browser: the install directory is checked, created and recorded, a
// release older than the installed application is refused with nothing
// changed, an old-layout web application is moved aside once its server is
// stopped (or the upgrade is refused, nothing changed, when it cannot be),
// the installer updates and registers itself, the components this machine needs
// download on their own thread while dlTimer polls, then each one that
// arrived is installed, the server becomes a service, starts, gets its
// shortcuts, the uninstall entry gets the install directory's size, and
// tmrStartTomcat counts down until it answers (at most 15 s) before the
// browser opens its address.
//
// Everything runs on the window thread in the window's handlers
// (install/install_window.h). An error inside one component's install step,
// the service set-up, the server start or the shortcuts is shown in a
// "Notice" box with the error icon and the installation goes on with the
// next step, so the service, the shortcuts and the Uninstall button are
// there in every case once the install phase has run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "install/install_window.h"

namespace tide {

extern const wchar_t kErrorCreatingDirectoryCaption[];  // "Error Creating Directory"
extern const wchar_t kErrorDownloadFilesCaption[];       // "Error Download Files"
extern const wchar_t kTomcatRunningCaption[];            // "Tomcat Running?"
extern const wchar_t kStartingTomcatCaption[];           // "Starting Tomcat"

// Longest wait for the Java runtime installer. After it, or after Cancel
// during the wait, the user is told that the server will not start until a
// runtime is installed and the installation goes on without it.
constexpr uint32_t kJavaInstallTimeoutMs = 10 * 60 * 1000;
constexpr uint32_t kJavaInstallPollMs = 500;
// Seconds the browser waits at most for the server to answer.
constexpr int32_t kTomcatStartDelay = 15;

// The components this installation needs, in install order: "JRE" or
// "JREx64" when no suitable runtime is registered, then "UNZIP",
// "CATALINA_BASE", "TOMCAT" or "TOMCATx64", "TW" (x64 names when the
// destination is x64).
std::vector<std::wstring> BuildComponentList();

// Renames TCBase\webapps\calendar of an installation from before the
// versioned folders to tidewell-<Version>. False when that folder is still
// there (the rename failed: Files().LastError() tells why); shows nothing.
// The Install click stops the installation's server first and stops the
// upgrade with a "Notice" when the folder stays.
bool MoveAsideOldWebApp();

// Stops a running server, starts the download of the components into the
// window's oComponentDL with the agent name, Alt_Path (the installer's own
// folder when it is not the install directory; "/u FOLDER" overrides) and
// the window's pb and status line, and switches dlTimer on.
void StartComponentDownload(TInstallWindow& w, const std::vector<std::wstring>& components);

// Waits (handling the window's messages throughout, polling every 500 ms) until the runtime
// installer has let go of its file and a suitable runtime is registered;
// moves pb every 2 s. Ends early after kJavaInstallTimeoutMs or
// AbandonJavaWait, with a "Notice" that the server needs a runtime, or at a
// request to quit. True when the runtime was found.
bool WaitForJavaInstall(TInstallWindow& w, const std::wstring& component);

// Installs the server as a service: only on Windows NT, as administrator
// and when no service is installed yet (a running server is stopped first).
// False when the service could not be made.
bool ConfigureSystem();

// Notes a failure of the installation in the run log and, when it is the
// first, as the window's outcome.
void RecordFailure(TInstallWindow& w, Outcome outcome, const std::wstring& what);

// Starts (true) or stops (false) the server with the messages of a start
// that cannot be made; true when the server was started or stopped. A stop
// is asked only of a server this installation has (the service, or the
// server base's bin\catalina.bat): whatever else answers on the port is
// left alone.
bool ControlServer(bool start);

// Opens ServerURL() with the shell, the window as owner.
void OpenCalendarInBrowser(TInstallWindow& w);

}  // namespace tide
