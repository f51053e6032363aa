#include "core/run_log.h"

#include "base/encoding.h"
#include "base/text.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace tide {

const wchar_t kRunLogFileName[] = L"Tidestart.log";

namespace {

// Entries held while no file can take them: a run that never learns its
// path (or cannot write it) keeps at most this many.
constexpr size_t kMaxPending = 20000;

// Days since 1970-01-01 to year, month, day (proleptic Gregorian).
void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
}

std::wstring OneLine(const std::wstring& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') continue;
        if (text[i] == L'\n' || text[i] == L'\r')
            out += L"\\n";
        else
            out += text[i];
    }
    return out;
}

}  // namespace

std::wstring LogTimestamp(int64_t ms) {
    int64_t days = ms / 86400000;
    int64_t rest = ms % 86400000;
    if (rest < 0) {
        rest += 86400000;
        --days;
    }
    int64_t y;
    unsigned m, d;
    CivilFromDays(days, y, m, d);
    return Format(L"%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(y), m, d, static_cast<int>(rest / 3600000),
                  static_cast<int>(rest / 60000 % 60), static_cast<int>(rest / 1000 % 60), static_cast<int>(rest % 1000));
}

void RunLog::SetPath(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!enabled_ || !path_.empty() || path.empty()) return;
    path_ = path;
    Flush();
}

std::wstring RunLog::Path() {
    std::lock_guard<std::mutex> lock(mu_);
    return path_;
}

void RunLog::Header(const std::wstring& version, const std::wstring& mode, const std::wstring& commandLine) {
    if (!enabled_) return;
    Append("");
    Write(L"run", L"Tidestart " + (version.empty() ? std::wstring(L"(no version)") : version) + L", mode " + mode);
    Write(L"run", L"command line: " + commandLine);
}

void RunLog::Write(const std::wstring& kind, const std::wstring& text) {
    if (!enabled_) return;  // and no reading of the clock, which tests count
    const std::wstring time = LogTimestamp(platform::SystemClock().NowMs());
    Append(WideToUtf8(time + L" " + kind + L": " + OneLine(text)));
}

void RunLog::Enable() { enabled_ = true; }

void RunLog::Close() {
    std::lock_guard<std::mutex> lock(mu_);
    enabled_ = false;
    path_.clear();
    pending_.clear();
}

void RunLog::Append(const std::string& line) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!enabled_) return;
    if (pending_.size() < kMaxPending) pending_.push_back(line + "\r\n");
    Flush();
}

void RunLog::Flush() {
    if (path_.empty() || pending_.empty()) return;
    platform::FileSystem& fs = platform::Files();
    // Another stage of the same run may have it open for a moment: share.
    std::unique_ptr<platform::File> f = fs.Open(path_, platform::OpenMode::WriteExisting, platform::Share::ReadWrite);
    if (!f && !fs.FileExists(path_)) f = fs.Open(path_, platform::OpenMode::CreateAlways, platform::Share::ReadWrite);
    if (!f) return;  // kept for the next entry
    std::string bytes;
    for (const std::string& l : pending_) bytes += l;
    try {
        f->Seek(f->Size());
        f->Write(bytes.data(), bytes.size());
    } catch (...) {
        return;  // a full disk must not end the installation
    }
    pending_.clear();
}

RunLog& TheRunLog() {
    static RunLog log;
    return log;
}

}  // namespace tide
