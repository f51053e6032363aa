// Where things live below the install directory. Every place is the install
// directory (InstallDirectory(), ending in "\") followed by a name; every
// call reads the install directory (and the manifest, where named) afresh.
//
// Names that come from the release manifest are checked before they are
// joined on: a component's FILE_NAME must be a bare file name and TOMCAT's
// UNPACK_PATH a folder inside the install directory. Anything else raises
// ManifestError (core/manifest.h), so a bad manifest can never make the
// installer write, unpack or delete outside its own directory.
#pragma once

#include <string>

namespace tide {

// A name without any directory part: not empty, no "\", "/" or ":", not "."
// or "..", no characters Windows forbids in names (<>"|?* and controls), no
// trailing dot or blank (Windows would drop them).
bool IsBareFileName(const std::wstring& name);

// A relative folder path that stays inside the folder it is joined onto:
// not empty, no drive or stream (":"), no leading "\" or "/", no ".."
// component, and every component a valid name.
bool IsContainedRelativePath(const std::wstring& path);

// Install directory + the component's FILE_NAME. Throws ManifestError naming
// the component when FILE_NAME is missing or not a bare file name.
std::wstring ComponentFilePath(const std::wstring& component);

// The component's FILE_NAME, checked as ComponentFilePath checks it.
std::wstring CheckedComponentFileName(const std::wstring& component);

// Install directory + "TCBase", with "\" appended when asked.
std::wstring ServerBaseDir(bool withTrailingBackslash);

// Install directory + UNPACK_PATH of manifest section "TOMCAT", with "\"
// appended when asked. Throws ManifestError when UNPACK_PATH is absolute or
// climbs out of the install directory.
std::wstring TomcatHomeDir(bool withTrailingBackslash);

// Install directory + "tidewell-" + FILE_VERSION of section "TW", always
// ending in "\". Throws ManifestError when the version holds a directory
// separator, ":" or other characters a folder name cannot have.
std::wstring VersionedAppDir();

// Install directory + "tidewell-" + version (an installed version from the
// settings store), without trailing backslash.
std::wstring InstalledVersionDir(const std::wstring& version);

// Install directory + "TCBase\webapps\calendar" (installers before the
// versioned folders put the application there).
std::wstring OldLayoutAppDir();

// Install directory + "UploadedAttachments" (with a "\" between them when
// the stored install directory lacks its trailing one).
std::wstring AttachmentDir();

// Creates the directory with every missing parent. Blanks and control
// characters around the path are ignored. True when the directory exists
// afterwards; false for a bare drive ("D:") or when a level cannot be made.
bool CreateDirectoryTree(const std::wstring& path);

}  // namespace tide
