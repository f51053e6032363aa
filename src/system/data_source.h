// The ODBC data source "TIDEWELL" through which the calendar reached an
// Access database. Both the upgrade to the embedded Derby database and the
// uninstaller remove it.
#pragma once

#include "platform/progress.h"

namespace tide {

using TStatusBar = platform::StatusLine;

// In the process's own registry view under HKEY_LOCAL_MACHINE (where a
// 32-bit program finds the 32-bit Access driver's data sources): when
// SOFTWARE\ODBC\ODBC.INI\ODBC Data Sources opens with full access, shows
// "Removing ODBC DSN..." in sb (when given), deletes its value "TIDEWELL"
// and the key SOFTWARE\ODBC\ODBC.INI\TIDEWELL. Anything missing is skipped;
// nothing is reported.
void RemoveDataSource(TStatusBar* sb = nullptr);

}  // namespace tide
