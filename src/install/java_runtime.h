// The Java runtime Tomcat runs on: whether a suitable one is registered on
// the machine, where it lives, and how a downloaded runtime installer is
// started. A runtime is known only by the registry entries its installer
// makes under HKEY_LOCAL_MACHINE (JavaSoft, or IBM's Java2 key); the disk is
// never searched. Every call reads the registry and the release manifest
// afresh, so a runtime registered while the program runs is seen at once.
#pragma once

#include <string>

#include "platform/progress.h"

namespace tide {

using TStatusBar = platform::StatusLine;

// Results of the presence checks. Callers only tell kJreNotFound from the
// other two.
enum : int {
    kJreNotFound = 2,
    kJreJavaSoft = 5,
    kJreIbm = 9,
};

// The version rule: a non-empty current version that is greater than or
// equal to the minimum, compared as text unit by unit from the left (no
// numbers: "1.10" < "1.6"; a proper prefix is the smaller).
bool JreVersionAtLeast(const std::wstring& current, const std::wstring& minimum);

// JavaSoft's runtime, in the 64-bit registry view when asked: kJreJavaSoft
// when its CurrentVersion satisfies MIN_JRE_VERSION of [GENERAL], else
// kJreNotFound. Throws tide::Error when CurrentVersion is not a string.
int JavaSoftJreCheck(bool use64BitView);
// The same for IBM's runtime, in the process's own view: kJreIbm or
// kJreNotFound.
int IbmJreCheck();
// JavaSoft first, IBM when JavaSoft has no suitable runtime.
int JreCheck(bool use64BitView);

// JavaHome of the suitable runtime's version key, JavaSoft first, then IBM;
// empty when none qualifies. Returned exactly as stored. The JavaSoft key is
// read in the view given, the IBM key in the process's own view, as the
// checks read them.
std::wstring FindJavaHome(bool use64BitView);
// FindJavaHome in the view of this installation's destination: the 64-bit
// one when the installation record's destination is x64.
std::wstring FindJavaHome();

// Starts the component's runtime installer (install directory + FILE_NAME)
// through the shell with INSTALL_ARGS of its section as parameters, after
// showing "Installing Java ..." in sb. Does not wait: true once the shell
// has started it. When it could not be started, a "Notice" box (error
// icon) names the installer and the error, and the result is false: there
// is nothing to wait for. A FILE_NAME that is not a bare file name throws
// ManifestError before anything is started.
bool InstallJre(TStatusBar* sb, const std::wstring& component);

}  // namespace tide
