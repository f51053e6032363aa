// The install step of the Tidewell web application ("TW"): the archive
// unpacks into the install directory as the versioned application folder
// tidewell-VERSION\, which gets its configuration; Tomcat is pointed at it
// through the context file calendar.xml (so the calendar answers under
// /calendar/); the data of the previous version is migrated; the new
// version is recorded last.
//
// Every version keeps its own folder: an upgrade takes the configuration
// over from the previous version's folder and leaves that folder in place.
// Every file written here is ANSI text without byte-order mark, CR LF after
// every line, replacing what was there.
#pragma once

#include "platform/progress.h"

namespace tide {

using TStatusBar = platform::StatusLine;

// Shows "Installing Tidewell", unpacks install directory + FILE_NAME of
// [TW] into the install directory (the tool's output in sb; a folder in use
// gets the archive unpacked aside and keeps its data and configuration)
// and, when that worked: creates UploadedAttachments,
// WriteAppConfiguration, RunUpgradeMigration, and only once the data is
// migrated WriteContextFile and then "Version" (FILE_VERSION of [TW]) and
// "Arch" (the installation record's destination), which the steps before
// must still see as they were; shows "Installation of Tidewell Completed"
// and returns true. When unpacking or the migration fails: shows "Install
// of Tidewell Failed." and returns false; the context and the settings stay
// as they were, so the previous version goes on serving. A file error of a
// sub-step propagates (IoError) and leaves the context and the settings as
// they were; one of the migration says so in its text.
bool InstallApplication(TStatusBar* sb);

// WEB-INF\configuration.properties of the versioned folder: the previous
// version's configuration on an upgrade (when it exists; else the template
// WEB-INF\configuration.default), then EnableAttachments=yes and the
// escaped AttachmentDirectory, and URLBase (the escaped ServerURL) only
// when no earlier configuration was taken over.
void WriteAppConfiguration();

// TCBase\conf\Catalina\localhost\calendar.xml: a context whose docBase is
// the versioned folder without its trailing backslash, every "\" doubled.
// The context file of older installers, tidewell.xml, is deleted.
void WriteContextFile();

}  // namespace tide
