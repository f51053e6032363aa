// Removing an installation, in two stages. The first (RunUninstall) asks
// for confirmation, stops and removes the server's service, removes the
// ODBC data source, the shortcuts, the synch program's and the product's
// registry keys and moves the versioned application folder into the
// recycle bin. When the running installer lives inside the install
// directory it cannot delete that directory: it copies itself into the
// temporary folder as "Tideclean.EXE" and starts the copy with
// "/DOUNINSTALL" (FinishUninstall), which waits for the first stage to end,
// deletes the directory, opens the exit-survey page and has its own file
// deleted at the next restart.
//
// Neither stage deletes a directory that IsRemovableInstallDirectory
// refuses, and inside one each deletes only what the installer made there
// (InstallerEntries, uninstall/removal_guard.h).
#pragma once

#include <cstdint>
#include <string>

#include "platform/progress.h"
#include "system/data_source.h"

namespace tide {

extern const wchar_t kUninstallerCopyName[];  // "Tideclean.EXE"
// The run log of an uninstall, in TempDirectory(), unless the command line
// names one: the install directory is about to be deleted, while the user's
// temporary folder outlives it, is writable without administrator rights,
// and is where the second stage runs.
extern const wchar_t kUninstallLogName[];  // "Tidestart-uninstall.log"

// The second stage waits at most this long for the first to end.
constexpr uint32_t kFirstStageWaitMs = 5 * 60 * 1000;
// and for the stopped server's program to let go of its file.
constexpr uint32_t kServerReleaseWaitMs = 60 * 1000;

// Shows text on the status line given to RunUninstall (none: nothing) and
// lets the window handle pending events.
void UninstallStatus(const std::wstring& text);

// The interactive stage; sb receives the progress texts (nullptr: none).
// False when the user declined or the install directory was refused
// (nothing changed); true when the uninstall ran (the application has been
// asked to quit).
bool RunUninstall(TStatusBar* sb);

// The "/douninstall" stage: arguments 2 and 3 are the first stage's
// installer and the install directory; "/silent" after them leaves out the
// exit-survey page.
void FinishUninstall();

// "Removing Directory tree " + folder, then the shell's silent delete of it
// (into the recycle bin when asked). Failures are not reported.
void RemoveDirectoryTree(const std::wstring& folder, bool toRecycleBin);

// The second stage's command line: the copy quoted, "/DOUNINSTALL", the
// installer and the install directory quoted, then options (each word with
// its leading blank: " /SILENT", " \"/log=PATH\"").
std::wstring SecondStageCommandLine(const std::wstring& copy, const std::wstring& installer,
                                    const std::wstring& installDirectory, const std::wstring& options = L"");

// The texts of the boxes.
std::wstring UninstallConfirmationText(const std::wstring& installDirectory);
std::wstring FirstStageStillRunningText(const std::wstring& installer, const std::wstring& dir);

}  // namespace tide
