// Probes of the machine the installer runs on: Windows family and version,
// administrator rights, the command interpreter for the server's batch
// scripts, whether something answers on a local TCP port, the calendar
// server's port, address and running state, and the release of a file by
// the process that held it. None of them shows anything.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/os_info.h"

namespace tide {

using platform::kWaitForever;
using platform::TOSVersionInfo;

// Zeroes info, sets its size field to 276 and fills it (GetVersionExW); a
// failure leaves it zero apart from the size.
TOSVersionInfo& GetOSVersion(TOSVersionInfo& info);
// The platform id is VER_PLATFORM_WIN32_NT.
bool IsWindowsNT();
// True on a non-NT platform; otherwise whether the Administrators group is
// enabled for the caller (false when no token can be opened).
bool IsAdministrator();
// %SystemRoot%\SysWOW64\cmd.exe when this 32-bit process runs on 64-bit
// Windows and installs an x86 server; %ComSpec% otherwise.
std::wstring CommandInterpreterPath();

// Every port probe gives up after this long without an answer. The probes
// run on the window thread (the countdown after an installation asks once a
// second), so each must be short. A listener on 127.0.0.1 is answered by
// the kernel at once; a refused connect can take about a second on Windows,
// which retries it, and a local firewall that drops the attempt would hold
// the window for the system's 20-odd seconds of retries.
constexpr uint32_t kPortProbeTimeoutMs = 250;
// The probes that choose the server's ports are asked once per installation,
// where a busy port taken for free costs a server that can never start: a
// slow answer (a loaded machine) must not read as "free", so they wait
// longer.
constexpr uint32_t kPortChoiceTimeoutMs = 2000;
// True when a TCP connection to 127.0.0.1 on port is accepted within
// timeoutMs, whatever the listener speaks. Nothing is sent. Any failure
// means false. Keeps no state: probes may run on several threads.
bool PortAnswering(int port, uint32_t timeoutMs = kPortProbeTimeoutMs);
// The "Port" setting as a decimal number, 8080 when empty. Throws
// ConvertError when it is not a number.
int ServerPort();
// http://HOST[:PORT]/calendar/, HOST being the computer's NetBIOS name
// before Windows Vista and "localhost" from Vista on; no port part for 80.
std::wstring ServerURL();
// PortAnswering(ServerPort()).
bool ServerRunning();

constexpr uint32_t kFileReleasePollMs = 250;
// False at once when the file does not exist. Otherwise waits 250 ms and
// tries to open the file for reading and writing with no sharing, again and
// again while the open fails because another process holds the file
// (sharing or lock violation), until it succeeds (true), fails for any other
// reason (false: a read-only file, no rights, the file deleted meanwhile) or
// timeoutMs have passed (false). The 250 ms between tries are spent
// handling the window messages. kWaitForever waits without limit.
bool WaitForFileRelease(const std::wstring& path, uint32_t timeoutMs = kWaitForever);

// Runs work on a thread of its own while the calling thread (the window's)
// handles its messages; returns when work has ended and raises again what
// it raised. For a single call that takes long (deleting a folder tree).
void RunHandlingMessages(const std::function<void()>& work);

}  // namespace tide
