// The calendar server's way of running: the Windows service "Tidewell" when
// one is installed ("ServiceInstalled" = "Y"), else a console server started
// and stopped through the server base's batch wrapper bin\catalina.bat.
//
// Installing runs the server base's bin\service.bat (after pointing its
// CATALINA_BASE and CATALINA_HOME at this installation) and makes the
// service depend on SQL Server when SQL Server starts automatically.
// Removing runs the service program with //DS//Tidewell. Both recreate the
// start and stop shortcuts so they match the new way of running.
#pragma once

#include <cstdint>
#include <string>

namespace tide {

extern const wchar_t kServerServiceName[];  // "Tidewell"

// Longest wait for the service to report itself stopped after a stop
// request.
constexpr uint32_t kServiceStopTimeoutMs = 60000;
constexpr uint32_t kServiceStopPollMs = 300;

// Starts (true) or stops (false) the server. Does nothing and returns false
// when the server already answers on its port for a start, or does not
// answer for a stop; otherwise StartStopServer with the command interpreter
// of CommandInterpreterPath().
bool SetServerRunning(bool start);

// With the service installed: asks the service manager to start the service
// (action "start", not awaited) or to stop it (any other action), then waits
// for the stopped state at most kServiceStopTimeoutMs; a service that does
// not stop in that time is reported in a "Notice" box and the stop fails.
// Without the service: runs interpreter /C "<server base>\bin\catalina.bat"
// ACTION in a new console in the server base and waits for it.
// True when the request (or the wrapper, with exit code 0) succeeded.
bool StartStopServer(const std::wstring& interpreter, const std::wstring& action);

// Rewrites base\bin\service.bat: its first line, then "set CATALINA_BASE="
// base and "set CATALINA_HOME=" home, then the rest of the file without the
// lines that begin with "set CATALINA_" (exactly so, case-sensitive). A file
// without any line gets the two lines only. Written as ANSI with CR LF.
// Throws Error "Directory BASE does not exist." when base is missing, and
// IoError when the script cannot be read or written.
void PrepareServiceScript(const std::wstring& base, const std::wstring& home);

// Prepares and runs the service script; on success sets "ServiceInstalled"
// to "Y", adds the SQL Server dependency when due and recreates the service
// shortcuts. On failure shows "The service could not be created." and
// returns false. Throws what PrepareServiceScript throws.
bool InstallServerService();

// Whether the service "Tidewell" exists (its key) with an ImagePath whose
// program lies in the install directory, letters in any case. Such a
// service is this installation's whatever "ServiceInstalled" says: a
// service script can create it and still end with a failure code.
bool ServiceOfThisInstallation();

// Deletes the web-server connector's registry key, then runs the program of
// the service's ImagePath with //DS//Tidewell. On success sets
// "ServiceInstalled" to "N", recreates the service shortcuts and, unless
// quiet, says "The service has been removed."; on failure always shows
// "The service could not be removed.". Without the service's key or its
// ImagePath nothing is run or shown.
void RemoveServerService(bool quiet);

}  // namespace tide
