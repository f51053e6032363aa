// What the uninstaller may delete. A recorded install directory can have
// been typed as a drive root or a Program Files folder, the second stage
// takes its folder from its command line, which anyone can write, and a
// folder can hold files the installer never put there: neither may ever
// reach outside the installation.
//
// A folder is this installation when its mark (kInstallMarkerName) holds the
// identity the settings store keeps; the second stage, which runs after the
// settings are gone, compares with the identity the first stage left for it
// under HKEY_LOCAL_MACHINE (kRemovalKey), which only administrators write.
// Inside such a folder only what the installer made goes.
#pragma once

#include <string>
#include <vector>

#include "platform/files.h"

namespace tide {

// "\Software\Quorvan Labs\Tidewell Removal": "Directory" and "Identity" of
// the folder the second stage is to delete.
extern const wchar_t kRemovalKey[];

// True when dir is a folder the installer could own (IsOwnableInstallDirectory)
// and its mark holds identity (not empty). The one-argument form takes the
// identity in the settings store.
bool IsRemovableInstallDirectory(const std::wstring& dir, const std::wstring& identity);
bool IsRemovableInstallDirectory(const std::wstring& dir);

// The same tests; on a refusal show the "Notice" box naming dir and return
// false.
bool CheckRemovableInstallDirectory(const std::wstring& dir, const std::wstring& identity);
bool CheckRemovableInstallDirectory(const std::wstring& dir);

// The text of that box.
std::wstring RefusedDirectoryText(const std::wstring& dir);

// The first stage leaves dir and its identity for the second.
void RecordRemoval(const std::wstring& dir, const std::wstring& identity);
// The identity recorded for dir (the same folder, however written); empty
// when none is.
std::wstring RecordedRemovalIdentity(const std::wstring& dir);
// Deletes kRemovalKey, and the vendor key when nothing else is left in it.
void ForgetRemoval();

// The entries of dir (ending in "\") that the installer made: the
// versioned application folders ("tidewell-*"), "TCBase", the Tomcat home
// (UNPACK_PATH of the manifest copy there), "UploadedAttachments", the
// component files the manifest copy names, "UNZIP.EXE", the manifest copy,
// the installer's copy of itself, the run log; the mark last.
std::vector<platform::DirEntry> InstallerEntries(const std::wstring& dir);

// The box shown when dir keeps entries the installer did not make.
std::wstring LeftInPlaceText(const std::wstring& dir, const std::vector<std::wstring>& names);

}  // namespace tide
