// The words of the command line that shape a run rather than pick its mode:
// unattended operation ("/silent"), the licence accepted on the command line
// ("/acceptlicense"), the install directory ("/dir="), the run log ("/log=")
// and the mark of an installer started by a self-update ("/updated"); and
// the outcome of a run with the exit code that reports it.
//
// The words may stand anywhere after the program path and in any letter
// case; "/dir=" and "/log=" take the rest of their word.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tide {

// Added by a self-update to the words it passes on to the newer installer.
extern const wchar_t kUpdatedWord[];  // "/updated"

struct RunOptions {
    bool silent = false;
    bool acceptLicense = false;
    // Started by an older installer's self-update: this run never updates
    // itself again, whatever the release announces.
    bool updated = false;
    std::optional<std::wstring> dir;
    std::optional<std::wstring> log;
    // Set when the words cannot be acted on; why, for the log.
    bool bad = false;
    std::wstring badReason;
};

// args[0] is the program. Only an unattended run is strict: there a
// "/word=" this program does not know, an empty "/dir=" or "/log=", or one
// given twice makes the options bad (nobody is there to notice a typo that
// would otherwise be ignored).
RunOptions ParseRunOptions(const std::vector<std::wstring>& args);

// The command line with the value of every "/proxypassword=" word replaced
// by "*****", for the log.
std::wstring MaskedCommandLine(const std::wstring& commandLine);

// How a run ended, one exit code each (README.md lists them).
enum class Outcome {
    Done = 0,             // installed and answering; uninstalled
    BadArguments = 1,     // also an error that escaped the mode
    LicenseNotAccepted = 2,
    DownloadFailed = 3,   // the manifest or a component
    StepFailed = 4,
    ServerNotStarted = 5,
    DirectoryRefused = 6,
};

int ExitCodeOf(Outcome outcome);
// The outcome an exit code reports (of another run of this program); a code
// that is none of them counts as a failed step.
Outcome OutcomeOfExitCode(uint32_t code);
// "installed", "bad arguments", ... for the log.
std::wstring OutcomeText(Outcome outcome);

}  // namespace tide
