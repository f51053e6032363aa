// The installation record: what is installed on this machine now (version,
// folder, port, architecture) and what this run installs (the release's
// version and the target architecture). Built once per run on first use and
// unchanged afterwards, so every step sees the same answer even after the
// new version has been written to the settings store.
#pragma once

#include <cstdint>
#include <string>

namespace tide {

// In this order; none means "no installation".
enum TInstallArch { none, x86, x64 };

class TInstallInfo {
public:
    // Reads the settings store (native registry view) and the release
    // manifest (fetching it when this run has not yet). Throws ConvertError
    // when the stored Port is not a decimal number.
    TInstallInfo();

    TInstallArch CurrentArchitechture() const { return tiaCurrArch; }
    const std::wstring& CurrentVersion() const { return currVersion; }
    TInstallArch DestinationArchitechture() const { return tiaDestArch; }
    const std::wstring& DestinationVersion() const { return destVersion; }
    const std::wstring& installationPath() const { return currPath; }
    // Server port of the existing installation (8080 when none recorded).
    int32_t CurrentPort() const { return currPort; }
    // "x86", "x64", or "unknown" for none.
    std::wstring DestinationArchString() const;
    // An installation exists (its architecture is known).
    bool isUpgrade() const { return tiaCurrArch != none; }

private:
    TInstallArch tiaCurrArch = none;
    TInstallArch tiaDestArch = x86;
    std::wstring currPath;
    std::wstring currVersion;
    std::wstring destVersion;
    int32_t currPort = 8080;
};

// The record of this run; the first call builds it, later calls return the
// same object, which lives until the process ends. Safe to call from any
// thread.
TInstallInfo& GetInstallInfo();

// Tests only: drop the record so the next GetInstallInfo builds it anew.
// References obtained before become invalid.
void ResetInstallInfoForTest();

// Text form of an architecture: "x86", "x64", "unknown".
std::wstring ArchString(TInstallArch arch);

}  // namespace tide
