#include "system/data_source.h"

#include "core/ArchAwareRegistry.h"

namespace tide {

void RemoveDataSource(TStatusBar* sb) {
    TRegistry reg(KEY_ALL_ACCESS);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    if (!reg.OpenKey(L"\\SOFTWARE\\ODBC\\ODBC.INI\\ODBC Data Sources", false)) return;
    if (sb) sb->SetText(L"Removing ODBC DSN...");
    reg.DeleteValue(L"TIDEWELL");
    reg.CloseKey();
    reg.DeleteKey(L"\\SOFTWARE\\ODBC\\ODBC.INI\\TIDEWELL");
}

}  // namespace tide
