// The migration of the calendar's data when a newer application version is
// installed over an older one. The new version's WEB-INF\sql folder ships a
// script template winupdate.bat (which defines JARPATH), one sub-folder per
// database kind with its conversion scripts, and the WinUpdate program. The
// template is completed for this machine and this pair of versions, the new
// configuration is adjusted to the database the script will leave behind,
// and the script runs in a console of its own in the sql folder.
//
// Every file written here is ANSI text without byte-order mark, CR LF after
// every line, replacing what was there; files are read by their byte-order
// mark or as ANSI.
#pragma once

#include <string>
#include <vector>

namespace tide {

// Runs between writing the new configuration and recording the new version:
// the old version is still the "Version" setting, the new one FILE_VERSION
// of [TW]. Does nothing on a first installation (no "Version") or when both
// are the same text.
//
// Every file it needs (the template, the new configuration and, for an
// Access database, Access\configuration.properties and
// DERBY\embedded_configuration.properties) is read before anything is
// changed: a missing one throws IoError with the Access data source still
// in place and nothing written. An empty template throws tide::Error, also
// before any change.
//
// True when there was nothing to migrate or the script ended with exit
// code 0. A script that cannot be started (the system's reason) or that
// ends with another code (naming the script and the code) is told in one
// "Notice" box, which also says that the previous version goes on serving,
// and gives false: the new version is then not to be put into service. The
// old version's folder is never touched here.
bool RunUpgradeMigration();

// What a migration that did not happen leaves: the previous version and its
// data where they are, serving and recorded; the way to try again.
std::wstring UpgradeNotDoneText(const std::wstring& oldVersion, const std::wstring& newVersion);

// "Tidewell_" + version with every "." replaced by "_" + ".ZIP".
std::wstring ArchiveNameForVersion(const std::wstring& version);

// Part n (1-based) of a dot-separated version as a number: 3.4.1 has major
// 3 and minor 4, "3.4" minor 4, "3" major 3 and minor 0. A version with
// fewer parts gives 0. A part counts by its first run of digits, whatever
// surrounds it: "3.5-beta" has minor 5, "4.0RC1" major 4 and minor 0; a part
// without any digit ("3.x", "3..1") is 0. Numbers beyond the int range
// count as its largest value. Never throws.
int VersionNumberPart(int n, const std::wstring& version);
inline int MajorVersion(const std::wstring& version) { return VersionNumberPart(1, version); }
inline int MinorVersion(const std::wstring& version) { return VersionNumberPart(2, version); }

// Order of application versions, read as the migration reads them: part by
// part from the left, each by VersionNumberPart, a missing part as 0, so
// "3.5-beta" and "3.5.0" are the same version here. Negative, zero or
// positive as a is older than, the same as or newer than b.
int CompareAppVersions(const std::wstring& a, const std::wstring& b);

// The sql sub-folder of the database the configuration names: the last line
// that begins with "DBObjectClass" decides, by how the text after its first
// "=" ends (case-sensitive, exact): AccessDB "Access", DerbyDB "DERBY",
// IbmDB2DB "IBMDB2", OracleDB "ORACLE", MySQLDB "MYSQL", PostgreSQLDB
// "PGSQL", SQLServerDB "SQL2K", SybaseSQLADB "SYB_SQLA"; anything else, or
// no such line, "Access".
std::wstring DatabaseFolder(const std::vector<std::wstring>& configuration);
bool IsAccessDatabase(const std::vector<std::wstring>& configuration);
bool IsDerbyDatabase(const std::vector<std::wstring>& configuration);

// Every "\" becomes "/".
std::wstring ToForwardSlashes(const std::wstring& text);
// A value for a Java properties file: a "\" before every ":", "=" and "\";
// nothing else changes.
std::wstring EscapePropertyValue(const std::wstring& text);

}  // namespace tide
