#include "core/run_options.h"

#include "base/command_line.h"
#include "base/text.h"

namespace tide {

const wchar_t kUpdatedWord[] = L"/updated";

namespace {

// The "/name=" words a run knows; the proxy words belong to the download
// settings and are only accepted here.
const wchar_t* const kValueWords[] = {L"/dir=", L"/log=", L"/proxyuser=", L"/proxypassword="};

void Bad(RunOptions& o, const std::wstring& why) {
    if (o.bad) return;
    o.bad = true;
    o.badReason = why;
}

void TakeValue(RunOptions& o, std::optional<std::wstring>& slot, const std::wstring& word, size_t prefix) {
    if (slot) Bad(o, L"\"" + LeftStr(word, prefix) + L"\" is given twice");
    slot = FromPos(word, prefix);
    if (slot->empty()) Bad(o, L"\"" + LeftStr(word, prefix) + L"\" has no value");
}

}  // namespace

RunOptions ParseRunOptions(const std::vector<std::wstring>& args) {
    RunOptions o;
    std::vector<std::wstring> unknown;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::wstring& word = args[i];
        const std::wstring lower = LowerCase(word);
        if (lower == L"/silent") {
            o.silent = true;
        } else if (lower == L"/acceptlicense") {
            o.acceptLicense = true;
        } else if (lower == kUpdatedWord) {
            o.updated = true;
        } else if (StartsWith(lower, L"/dir=")) {
            TakeValue(o, o.dir, word, 5);
        } else if (StartsWith(lower, L"/log=")) {
            TakeValue(o, o.log, word, 5);
        } else if (!lower.empty() && lower[0] == L'/' && lower.find(L'=') != std::wstring::npos) {
            bool known = false;
            for (const wchar_t* w : kValueWords) known = known || StartsWith(lower, w);
            if (!known) unknown.push_back(LeftStr(word, word.find(L'=') + 1));
        }
    }
    if (!unknown.empty()) Bad(o, L"unknown option \"" + unknown.front() + L"\"");
    // The interactive window ignores what it does not use, as it always has.
    if (!o.silent) {
        o.bad = false;
        o.badReason.clear();
    }
    return o;
}

namespace {

std::wstring MaskedWords(const std::wstring& commandLine) {
    static const std::wstring key = L"/proxypassword=";
    std::wstring out = commandLine;
    size_t from = 0;
    for (;;) {
        const size_t at = LowerCase(out).find(key, from);
        if (at == std::wstring::npos) return out;
        const size_t value = at + key.size();
        // The value runs to the next blank outside quotes, as the splitter
        // reads it; a quote that closes inside it is kept.
        bool quoted = false;
        for (size_t i = 0; i < value; ++i)
            if (out[i] == L'"') quoted = !quoted;
        size_t end = value;
        int quotes = 0;
        for (; end < out.size() && (quoted || (out[end] != L' ' && out[end] != L'\t')); ++end)
            if (out[end] == L'"') {
                quoted = !quoted;
                ++quotes;
            }
        const std::wstring mask = quotes % 2 ? L"*****\"" : L"*****";
        out.replace(value, end - value, mask);
        from = value + mask.size();
    }
}

}  // namespace

std::wstring MaskedCommandLine(const std::wstring& commandLine) {
    static const std::wstring key = L"/proxypassword=";
    const std::wstring out = MaskedWords(commandLine);
    // The check is against the words as the splitter reads them: quotes can
    // also cut the word itself ("/proxy""password=x"), which the scan does
    // not see. Then the log gets the words, each quoted, values masked.
    const std::vector<std::wstring> args = SplitCommandLine(commandLine), after = SplitCommandLine(out);
    bool masked = args.size() == after.size();
    std::wstring words;
    for (size_t i = 0; i < args.size(); ++i) {
        const bool password = StartsWith(LowerCase(args[i]), key);
        const std::wstring word = password ? args[i].substr(0, key.size()) + L"*****" : args[i];
        if (password && masked && after[i] != word) masked = false;
        words += (i ? L" \"" : L"\"") + word + L"\"";
    }
    return masked ? out : words;
}

int ExitCodeOf(Outcome outcome) { return static_cast<int>(outcome); }

Outcome OutcomeOfExitCode(uint32_t code) {
    return code <= static_cast<uint32_t>(Outcome::DirectoryRefused) ? static_cast<Outcome>(code) : Outcome::StepFailed;
}

std::wstring OutcomeText(Outcome outcome) {
    switch (outcome) {
        case Outcome::Done: return L"done";
        case Outcome::BadArguments: return L"bad arguments";
        case Outcome::LicenseNotAccepted: return L"licence not accepted";
        case Outcome::DownloadFailed: return L"download failed";
        case Outcome::StepFailed: return L"an install step failed";
        case Outcome::ServerNotStarted: return L"the server did not start";
        case Outcome::DirectoryRefused: return L"install directory refused";
    }
    return L"unknown";
}

}  // namespace tide
