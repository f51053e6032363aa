// The run log: one text file that every run of the program appends to, so
// an administrator can see afterwards what an installation or uninstall did
// (each step and its result, the URLs fetched, the programs started, the
// registry keys written or deleted, the messages shown).
//
// Each entry is one line: the time (UTC, from the clock port), its kind and
// its text, line breaks in the text written as "\n". The file is UTF-8 and
// only ever appended to; it is opened for each entry and closed again, so
// the two stages of an uninstall can write to the same file one after the
// other, and what is written survives a crash. Entries made before the
// file's path is known are kept in memory and written when it is.
//
// Thread-safe: the download thread writes here too.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace tide {

extern const wchar_t kRunLogFileName[];  // "Tidestart.log"

// "2026-12-09T16:51:26.123Z" for milliseconds since 1970 (UTC).
std::wstring LogTimestamp(int64_t ms);

class RunLog {
public:
    // Until the program enables it, the log takes nothing (the units that
    // write to it run in tests and tools too).
    void Enable();
    // Takes nothing more until enabled again, and forgets the path and the
    // entries kept in memory.
    void Close();

    // The file to append to. The first call wins: a path given on the
    // command line is set before the program knows the default one.
    void SetPath(const std::wstring& path);
    std::wstring Path();

    // The header of a run: a blank line, then the time, the version, the
    // mode and the command line (already masked by the caller).
    void Header(const std::wstring& version, const std::wstring& mode, const std::wstring& commandLine);
    // One entry.
    void Write(const std::wstring& kind, const std::wstring& text);


private:
    void Append(const std::string& line);
    void Flush();  // with mu_ held

    std::mutex mu_;
    std::atomic<bool> enabled_{false};
    std::wstring path_;
    std::vector<std::string> pending_;
};

// The log of this run.
RunLog& TheRunLog();

inline void LogEntry(const std::wstring& kind, const std::wstring& text) { TheRunLog().Write(kind, text); }

}  // namespace tide
