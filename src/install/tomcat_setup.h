// The install steps of the server: the Tomcat instance ("CATALINA_BASE",
// unpacked as the server base TCBase) and the Tomcat distribution ("TOMCAT"
// or "TOMCATx64", unpacked as the Tomcat home named by UNPACK_PATH of
// [TOMCAT]).
//
// Configuring the instance moves the three ports of its stock server.xml to
// free ones: shutdown 8005 (tried 8005, 8015, ...), AJP 8009 (8009, 8019,
// ...) and HTTP 8080 (80 first, then 8080, 9080, ...); the HTTP port is
// stored as the "Port" setting. Every file written here is ANSI text
// without byte-order mark, CR LF after every line, replacing what was
// there; server.xml is read by its byte-order mark or as ANSI.
#pragma once

#include <string>
#include <vector>

#include "platform/progress.h"

namespace tide {

using TStatusBar = platform::StatusLine;

// Unpacks the instance into the install directory (the tool's output in
// sb), rewrites the ports of conf\server.xml, writes the redirector's
// connector files and copies the redirector library of this machine's
// architecture onto bin\native\isapi_redirect.dll. False, with nothing
// touched, when the unpacking fails; false also when one of the port
// series runs out below 65536: a "Notice" box names the role and
// server.xml, the connector files and the "Port" setting stay as they were.
// File errors (server.xml missing, a folder missing) throw IoError; a
// FILE_NAME or UNPACK_PATH that core/layout.h refuses throws ManifestError.
bool ConfigureServerBase(TStatusBar* sb);

// Shows "Unzipping Tomcat..." and unpacks the component's archive with
// UnpackTomcat; its result.
bool InstallTomcat(TStatusBar* sb, const std::wstring& component);
// Unpacks archive into the install directory, then writes the wrapper
// script whether that worked or not; true when the unpacking worked.
bool UnpackTomcat(const std::wstring& archive, TStatusBar* sb);
// Server base + "bin\catalina.bat": sets JRE_HOME (FindJavaHome),
// CATALINA_BASE and CATALINA_HOME (no trailing backslash, no quotes) and
// hands %1 to %9 to Tomcat's own bin\catalina.bat.
void WriteCatalinaWrapper();
// bin\native\isapi_redirect.properties and conf\workers.properties of the
// server base, the latter naming ajpPort.
void WriteIsapiRedirectConfig(int ajpPort);

// The highest port a series may reach; FindFreePort's answer when none is
// free up to it.
constexpr int kLastPort = 65535;
constexpr int kNoFreePort = 0;
// The first of first, first + step, ... that nothing answers on; kNoFreePort
// when every candidate up to kLastPort answers (or step is not positive and
// first answers).
int FindFreePort(int first, int step);
int ChooseShutdownPort();  // FindFreePort(8005, 10)
int ChooseAjpPort();       // FindFreePort(8009, 10)
// 80 when free, else FindFreePort(8080, 1000); stores the answer as the
// "Port" setting, unless it is kNoFreePort.
int ChooseHttpPort();

// In every line, the first port="OLD" (exactly so: lower-case name, double
// quotes) becomes port="NEW"; nothing happens when old equals new. Other
// attributes ending in Port (redirectPort, proxyPort) never match.
void ReplacePortAttribute(std::vector<std::wstring>& lines, int oldPort, int newPort);

}  // namespace tide
