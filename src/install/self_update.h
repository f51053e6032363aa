// The first step of every installation: when the release manifest announces
// a newer installer ([DOWNLOADER] FILE_VERSION), download it into the
// temporary folder, start it and end this one; otherwise copy this program
// into the install directory as "Tidestart.EXE" and register that copy as
// the product's uninstaller (install/uninstall_entry.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tide {

// The user's temporary folder as GetTempPathW reports it (ends in "\").
std::wstring TempDirectory();

// Order of dotted versions: part by part from the left, two parts that are
// both decimal numbers compared as numbers (any length, leading zeros
// ignored), any other pair as text by code unit; a missing part counts as
// "0", so "1.5" equals "1.5.0". Negative, zero or positive as a is older
// than, equal to or newer than b.
int CompareVersions(const std::wstring& a, const std::wstring& b);

// Whether the announced installer is to replace the running one: newest is
// not empty and either own is empty (no version resource) or newest is
// newer by CompareVersions.
bool IsNewerInstaller(const std::wstring& newest, const std::wstring& own);

// Run once at the start of an installation, after the install directory is
// saved; the first manifest lookup of the run (which fetches it).
//  - A newer installer announced: downloaded to TempDirectory() + its
//    FILE_NAME from BINARY_BASE with the manifest's size and digest. When
//    that works and the file's version resource is the announced version,
//    the "Updated Installer" box, the new file is started through the
//    shell, the application is asked to quit and the result is false. A
//    failed download (the downloader has said so), another or no version
//    in the file, or a failed start (both said here) goes on with this
//    installer.
//  - Started by a self-update ("/updated" among the arguments): never
//    updates, whatever the release announces.
//  - Running as the installed copy (InstallerCopyPath(), letters in any
//    case): true, nothing copied or written.
//  - Otherwise copies itself onto InstallerCopyPath(), replacing it (a
//    failed copy is shown in a "Notice" box naming the target), and writes
//    the uninstall entry. When its key cannot be written: the "Notice" box
//    about administrator rights, the application is asked to quit, false.
// The new installer gets this run's arguments followed by "/updated", so it
// works on the same release (/i, /u) with the same options. An unattended run (/silent) waits
// for it instead of leaving it to the shell: see UpdatedInstallerExitCode.
// A DOWNLOADER FILE_NAME that is not a bare file name throws ManifestError.
bool SelfUpdateAndRegister();

// The exit code of the newer installer an unattended run handed over to and
// waited for; none when this run did not hand over.
std::optional<uint32_t> UpdatedInstallerExitCode();

}  // namespace tide
