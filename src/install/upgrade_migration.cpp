#include "install/upgrade_migration.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "base/error.h"
#include "base/text.h"
#include "core/layout.h"
#include "core/manifest.h"
#include "core/settings.h"
#include "core/text_file.h"
#include "platform/message_box.h"
#include "system/CommandRunner.h"
#include "system/VariousTests.h"
#include "system/data_source.h"

namespace tide {
namespace {

using Lines = std::vector<std::wstring>;

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

void Append(Lines& to, const Lines& more) { to.insert(to.end(), more.begin(), more.end()); }

std::wstring DerbyConnectLine(const std::wstring& newDir) {
    return L"JDBCConnectString=jdbc\\:derby\\:" +
           EscapePropertyValue(ToForwardSlashes(newDir + L"WEB-INF\\sql\\DERBY\\calendardb"));
}

void ReportFailedScript(const std::wstring& what, platform::MbIcon icon, const std::wstring& oldVersion,
                        const std::wstring& newVersion) {
    platform::ShowMessage(what + L"\n\n" + UpgradeNotDoneText(oldVersion, newVersion), L"Notice", icon);
}

}  // namespace

std::wstring ArchiveNameForVersion(const std::wstring& version) {
    std::wstring name = version;
    for (auto& c : name)
        if (c == L'.') c = L'_';
    return L"Tidewell_" + name + L".ZIP";
}

// Every part counts, the last one too: "3.4" is minor 4, so an upgrade from
// it does not run the conversions up to 3.4 again on converted data. A part
// is read by its digits, so a release named "3.5-beta" or "4.0RC1" is
// migrated like 3.5 or 4.0 instead of ending the upgrade half done.
int VersionNumberPart(int n, const std::wstring& version) {
    size_t start = 0;
    for (int part = 1; part < n; ++part) {
        start = version.find(L'.', start);
        if (start == std::wstring::npos) return 0;
        ++start;
    }
    const size_t end = std::min(version.find(L'.', start), version.size());
    size_t i = start;
    while (i < end && !IsDigit(version[i])) ++i;
    long long number = 0;
    for (; i < end && IsDigit(version[i]); ++i)
        number = std::min<long long>(number * 10 + (version[i] - L'0'), std::numeric_limits<int>::max());
    return static_cast<int>(number);
}

int CompareAppVersions(const std::wstring& a, const std::wstring& b) {
    const auto parts = [](const std::wstring& v) { return 1 + std::count(v.begin(), v.end(), L'.'); };
    const int n = static_cast<int>(std::max(parts(a), parts(b)));
    for (int i = 1; i <= n; ++i) {
        const int x = VersionNumberPart(i, a), y = VersionNumberPart(i, b);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

std::wstring DatabaseFolder(const Lines& configuration) {
    static const struct { const wchar_t* ending; const wchar_t* folder; } kKinds[] = {
        {L"AccessDB", L"Access"}, {L"DerbyDB", L"DERBY"},     {L"IbmDB2DB", L"IBMDB2"},
        {L"OracleDB", L"ORACLE"}, {L"MySQLDB", L"MYSQL"},     {L"PostgreSQLDB", L"PGSQL"},
        {L"SQLServerDB", L"SQL2K"}, {L"SybaseSQLADB", L"SYB_SQLA"},
    };
    std::wstring value;
    for (const auto& line : configuration) {
        if (!StartsWith(line, L"DBObjectClass")) continue;
        size_t eq = line.find(L'=');
        value = eq == std::wstring::npos ? std::wstring() : line.substr(eq + 1);
    }
    for (const auto& kind : kKinds)
        if (EndsWith(value, kind.ending)) return kind.folder;
    return L"Access";
}

bool IsAccessDatabase(const Lines& configuration) { return DatabaseFolder(configuration) == L"Access"; }

bool IsDerbyDatabase(const Lines& configuration) { return DatabaseFolder(configuration) == L"DERBY"; }

std::wstring ToForwardSlashes(const std::wstring& text) {
    std::wstring out = text;
    for (auto& c : out)
        if (c == L'\\') c = L'/';
    return out;
}

std::wstring EscapePropertyValue(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        if (c == L':' || c == L'=' || c == L'\\') out += L'\\';
        out += c;
    }
    return out;
}

std::wstring UpgradeNotDoneText(const std::wstring& oldVersion, const std::wstring& newVersion) {
    return L"The calendar data of version " + oldVersion + L" was not carried over to version " + newVersion +
           L". Version " + oldVersion + L" and its data are still in " + InstalledVersionDir(oldVersion) +
           L".\n\nThe server goes on serving version " + oldVersion +
           L", which stays the installed version. Once the cause is mended, run the installation again.";
}

bool RunUpgradeMigration() {
    const std::wstring oldVersion = ReadSetting(L"Version");
    const std::wstring newVersion = ManifestValue(L"TW", L"FILE_VERSION");
    if (oldVersion.empty() || oldVersion == newVersion) return true;
    const int oldMajor = MajorVersion(oldVersion), oldMinor = MinorVersion(oldVersion);
    const std::wstring interpreter = CommandInterpreterPath();

    const std::wstring dir = InstallDirectory();
    const std::wstring newDir = VersionedAppDir();
    const std::wstring sqlDir = newDir + L"WEB-INF\\sql";
    const std::wstring scriptPath = sqlDir + L"\\winupdate.bat";
    const std::wstring configPath = newDir + L"WEB-INF\\configuration.properties";
    const std::wstring accessConfigPath = sqlDir + L"\\Access\\configuration.properties";
    const std::wstring embeddedConfigPath = sqlDir + L"\\DERBY\\embedded_configuration.properties";
    const std::wstring tomcatHome = TomcatHomeDir(false);

    // Everything is read before anything changes: a migration that cannot
    // run must leave the old data source in place.
    Lines script = ReadTextLines(scriptPath);
    if (script.empty()) throw Error(L"The upgrade script template " + scriptPath + L" is empty.");
    Lines config = ReadTextLines(configPath);
    const std::wstring folder = DatabaseFolder(config);
    const bool access = folder == L"Access";
    const bool derby = folder == L"DERBY";
    Lines accessConfig, embeddedConfig;
    if (access) {
        accessConfig = ReadTextLines(accessConfigPath);
        embeddedConfig = ReadTextLines(embeddedConfigPath);
    }

    script.insert(script.begin() + 1,
                  {L"set CATALINA_BASE=" + ServerBaseDir(false), L"set CATALINA_HOME=" + tomcatHome,
                   L"set NEWINST=" + dir + L"tidewell-" + newVersion, L"set OLDINST=" + InstalledVersionDir(oldVersion),
                   L"set OLDZIP=" + dir + ArchiveNameForVersion(oldVersion)});

    if (access) {
        RemoveDataSource();
        script.push_back(L"cd Access");
        script.push_back(L"copy \"%OLDINST%\\WEB-INF\\sql\\Access\\calendar.mdb\" /y");
        if (oldMajor == 2) script.push_back(L"cscript 250_to_300.vbs");
        if (oldMajor == 3 && oldMinor < 1) script.push_back(L"cscript 300_to_310.vbs");
        if (oldMajor == 3 && oldMinor < 2) script.push_back(L"cscript 310_to_320.vbs");
        if (oldMajor == 3 && oldMinor < 3) script.push_back(L"cscript 320_to_330.vbs");
        if (oldMajor == 3 && oldMinor < 4) script.push_back(L"cscript 330_to_340.vbs");
        script.push_back(L"cd ..");
        const int newMajor = MajorVersion(newVersion), newMinor = MinorVersion(newVersion);
        if (newMajor > 3 || (newMajor == 3 && newMinor > 4)) Append(script, {L"cd DERBY", L"call make340.bat", L"cd .."});

        accessConfig.push_back(L"JDBCConnectString=jdbc\\:odbc\\:Driver={Microsoft Access Driver (*.mdb)};DBQ=" +
                               EscapePropertyValue(newDir + L"WEB-INF\\sql\\Access\\calendar.mdb"));
        WriteTextLines(accessConfigPath, accessConfig);
        Append(script, {L"cd DERBY",
                        L"call convert_to_derby.bat ..\\Access\\configuration.properties embedded_configuration.properties",
                        L"cd .."});
        Append(config, embeddedConfig);
        config.push_back(DerbyConnectLine(newDir));
    } else {
        const std::wstring args = L"\"" + tomcatHome + L"\" " + folder;
        if (oldMajor == 3 && oldMinor < 2) script.push_back(L"call run320.bat " + args);
        if (oldMajor == 3 && oldMinor < 3) script.push_back(L"call run330.bat " + args);
        if (oldMajor == 3 && oldMinor < 4) script.push_back(L"call run340.bat " + args);
        if (derby) {
            Append(script, {L"cd \"%NEWINST%\\WEB-INF\\sql\\DERBY\"", L"rd calendardb /s /q", L"mkdir calendardb",
                            L"xcopy \"%OLDINST%\\WEB-INF\\sql\\DERBY\\calendardb\" calendardb /e /c",
                            L"cd \"%NEWINST%\\WEB-INF\\sql\""});
            config.push_back(DerbyConnectLine(newDir));
        }
    }
    WriteTextLines(configPath, config);

    script.push_back(
        L"java -cp %JARPATH%;..\\classes com.quorvanlabs.tidewell.support.update.WinUpdate \"%OLDINST%\" \"%NEWINST%\"");
    WriteTextLines(scriptPath, script);

    uint32_t startError = 0;
    const std::optional<uint32_t> exitCode = RunAndWaitForExit(interpreter, L"/C winupdate.bat", sqlDir, startError);
    if (!exitCode) {
        // A platform error: the system's text, with its warning icon.
        ReportFailedScript(L"The upgrade script " + scriptPath + L" could not be started: " +
                               SystemErrorText(startError),
                           platform::MbIcon::Warning, oldVersion, newVersion);
        return false;
    }
    if (*exitCode != 0) {
        ReportFailedScript(L"The upgrade script " + scriptPath + L" ended with exit code " + IntToStr(*exitCode) + L".",
                           platform::MbIcon::Error, oldVersion, newVersion);
        return false;
    }
    return true;
}

}  // namespace tide
