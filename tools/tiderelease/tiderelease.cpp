// tiderelease: the publisher's tool for a release folder.
//
//   tiderelease make-manifest [--add-sha256] [--serial N] MANIFEST FOLDER
//       Writes FILE_SIZE, FILE_MD5SUM and FILE_SHA256 of every section whose
//       FILE_NAME names a file in FOLDER (an installer that requires the
//       signature refuses a component without FILE_SHA256); with --serial,
//       the release serial RELEASE_SERIAL=N in [GENERAL]. Everything else in
//       MANIFEST stays as it was. --add-sha256 is still accepted and changes
//       nothing.
//       Exit 0: done; 2: written, but some sections name files that are not
//       in FOLDER (or that the installer would refuse); 1: MANIFEST could not
//       be read or written.
//   tiderelease verify MANIFEST FOLDER
//       Checks size and MD5 (and SHA-256 where given) of every named file;
//       one line per failing file.
//       Exit 0: all good; 1: a file failed or MANIFEST could not be read.
//   tiderelease keygen KEYFILE
//       Makes a key pair: the secret key in KEYFILE, the public key in
//       KEYFILE.pub (hexadecimal text, see download/signature.h). Refuses to
//       overwrite either. Exit 0: done; 1: not written.
//   tiderelease sign [--serial N] MANIFEST KEYFILE
//       Writes the detached Ed25519 signature of MANIFEST's bytes to
//       MANIFEST.sig (the installer fetches it beside the manifest). Sign
//       last: any later change of the manifest breaks the signature.
//       The signed bytes carry the release serial: --serial N writes
//       RELEASE_SERIAL=N in [GENERAL] first; without it the manifest must
//       already hold one. Installers refuse a release whose serial is lower
//       than one they accepted, so each release gets a higher one.
//       Exit 0: done; 1: MANIFEST or KEYFILE unreadable, no serial, or not
//       written.
//
// The same source builds natively (Linux) and for Windows.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/encoding.h"
#include "base/text.h"
#include "download/manifest_download.h"
#include "download/md5.h"
#include "download/release_manifest.h"
#include "download/sha256.h"
#include "download/signature.h"

namespace fs = std::filesystem;
using namespace tide;

namespace {

#ifdef _WIN32
constexpr wchar_t kSep = L'\\';
fs::path HostPath(const std::wstring& p) { return fs::path(p); }
FILE* OpenRead(const std::wstring& p) { return _wfopen(p.c_str(), L"rb"); }
#else
constexpr wchar_t kSep = L'/';
fs::path HostPath(const std::wstring& p) { return fs::path(WideToUtf8(p)); }
FILE* OpenRead(const std::wstring& p) { return std::fopen(WideToUtf8(p).c_str(), "rb"); }
#endif

void Out(const std::wstring& s) { std::cout << WideToUtf8(s) << '\n'; }
void Err(const std::wstring& s) { std::cerr << WideToUtf8(s) << '\n'; }

bool ReadAll(const std::wstring& path, std::string& bytes) {
    FILE* f = OpenRead(path);
    if (!f) return false;
    char buf[65536];
    size_t n;
    bytes.clear();
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

// Writes next to the target and renames, so an interrupted run never
// leaves half a manifest behind.
bool WriteAll(const std::wstring& path, const std::string& bytes) {
    fs::path target = HostPath(path);
    fs::path tmp = target;
    tmp += ".tiderelease-new";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) return false;
    }
    std::error_code ec;
    fs::rename(tmp, target, ec);
    if (ec) fs::remove(tmp, ec);
    return !ec;
}

std::wstring JoinFolder(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty()) return name;
    wchar_t last = folder.back();
    if (last == L'/' || last == L'\\') return folder + name;
    return folder + kSep + name;
}

ReleaseFileProbe FolderProbe(const std::wstring& folder) {
    return [folder](const std::wstring& name, ReleaseFileFacts& facts) {
        std::wstring path = JoinFolder(folder, name);
        std::error_code ec;
        if (!fs::is_regular_file(HostPath(path), ec)) return false;
        FILE* f = OpenRead(path);
        if (!f) throw IoError(L"Cannot read " + path);
        Md5State st;
        Md5Start(st);
        Sha256 sha;
        char buf[65536];
        size_t n;
        uint64_t total = 0;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
            Md5Feed(st, buf, static_cast<uint32_t>(n));
            sha.Feed(buf, n);
            total += n;
        }
        bool bad = std::ferror(f);
        std::fclose(f);
        if (bad) throw IoError(L"Cannot read " + path);
        facts.size = total;
        facts.md5 = DigestToHex(Md5Finish(st));
        facts.sha256 = sha.FinishHex();
        return true;
    };
}

int Usage() {
    Err(L"usage: tiderelease make-manifest [--add-sha256] [--serial N] MANIFEST FOLDER\n"
        L"       tiderelease verify MANIFEST FOLDER\n"
        L"       tiderelease keygen KEYFILE\n"
        L"       tiderelease sign [--serial N] MANIFEST KEYFILE");
    return 1;
}

int MakeManifest(const std::wstring& manifest, const std::wstring& folder, std::optional<uint64_t> serial) {
    std::string bytes;
    if (!ReadAll(manifest, bytes)) {
        Err(L"tiderelease: cannot read manifest " + manifest);
        return 1;
    }
    const std::string original = bytes;
    if (serial) bytes = SetReleaseSerial(bytes, *serial);
    ManifestUpdate up = UpdateManifestFacts(bytes, FolderProbe(folder), /*addSha256=*/true);
    up.changed = up.text != original;
    if (up.changed && !WriteAll(manifest, up.text)) {
        Err(L"tiderelease: cannot write manifest " + manifest);
        return 1;
    }
    for (const auto& s : up.updated) Out(L"updated [" + s + L"]");
    for (const auto& m : up.missing) Out(L"missing: " + m + L" is not in " + folder);
    for (const auto& r : up.refused) Out(L"refused: " + r);
    return up.missing.empty() && up.refused.empty() ? 0 : 2;
}

int Verify(const std::wstring& manifest, const std::wstring& folder) {
    std::string bytes;
    if (!ReadAll(manifest, bytes)) {
        Err(L"tiderelease: cannot read manifest " + manifest);
        return 1;
    }
    VerifyResult r = VerifyManifestFacts(bytes, FolderProbe(folder));
    for (const auto& f : r.failures) Out(f.Line());
    Err(IntToStr(r.checked) + L" files checked, " + IntToStr(static_cast<int64_t>(r.failures.size())) +
        L" failed");
    return r.failures.empty() ? 0 : 1;
}

int Keygen(const std::wstring& keyFile) {
    std::error_code ec;
    for (const std::wstring& p : {keyFile, keyFile + L".pub"})
        if (fs::exists(HostPath(p), ec)) {
            Err(L"tiderelease: " + p + L" exists; not overwritten");
            return 1;
        }
    std::string pub, secret;
    MakeKeyPair(pub, secret);
    const bool ok = WriteAll(keyFile, secret) && WriteAll(keyFile + L".pub", pub);
    secret.assign(secret.size(), '\0');
    if (!ok) {
        Err(L"tiderelease: cannot write " + keyFile + L" and " + keyFile + L".pub");
        return 1;
    }
    // Only the owner may read a secret key (where the file system has modes).
    fs::permissions(HostPath(keyFile), fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace, ec);
    Out(L"secret key: " + keyFile + L" (keep it off the download server)");
    Out(L"public key: " + keyFile + L".pub");
    return 0;
}

int Sign(const std::wstring& manifest, const std::wstring& keyFile, std::optional<uint64_t> serial) {
    std::string bytes, secret, signature;
    if (!ReadAll(manifest, bytes)) {
        Err(L"tiderelease: cannot read manifest " + manifest);
        return 1;
    }
    if (serial) {
        const std::string withSerial = SetReleaseSerial(bytes, *serial);
        if (withSerial != bytes && !WriteAll(manifest, withSerial)) {
            Err(L"tiderelease: cannot write manifest " + manifest);
            return 1;
        }
        bytes = withSerial;
    }
    const std::wstring present = ReadReleaseSerial(bytes);
    if (!ParseReleaseSerial(present)) {
        Err(L"tiderelease: " + manifest +
            (present.empty() ? std::wstring(L" has no RELEASE_SERIAL in [GENERAL]")
                             : L" has RELEASE_SERIAL \"" + present + L"\", which is not 1 to 18 decimal digits") +
            L"; sign it with --serial N, N higher than the serial of the last release");
        return 1;
    }
    if (!ReadAll(keyFile, secret)) {
        Err(L"tiderelease: cannot read key " + keyFile);
        return 1;
    }
    const bool ok = SignMessage(bytes, secret, signature);
    secret.assign(secret.size(), '\0');
    if (!ok) {
        Err(L"tiderelease: " + keyFile + L" is not a secret key (128 hexadecimal digits)");
        return 1;
    }
    if (!WriteAll(manifest + L".sig", signature)) {
        Err(L"tiderelease: cannot write " + manifest + L".sig");
        return 1;
    }
    Out(L"signed: " + manifest + L".sig");
    return 0;
}

int Run(std::vector<std::wstring> args) {
    try {
        // Options come after the command word, before the paths.
        std::optional<uint64_t> serial;
        while (args.size() > 2 && StartsWith(args[2], L"--")) {
            if (args[2] == L"--add-sha256" && args[1] == L"make-manifest") {
                // FILE_SHA256 is always written now; the option stays accepted.
            } else if (args[2] == L"--serial" && args.size() > 3 && (args[1] == L"make-manifest" || args[1] == L"sign")) {
                serial = ParseReleaseSerial(args[3]);
                if (!serial) {
                    Err(L"tiderelease: --serial " + args[3] + L": a release serial is 1 to 18 decimal digits");
                    return 1;
                }
                args.erase(args.begin() + 2);
            } else {
                return Usage();
            }
            args.erase(args.begin() + 2);
        }
        if (args.size() == 3 && args[1] == L"keygen") return Keygen(args[2]);
        if (args.size() == 4 && args[1] == L"sign") return Sign(args[2], args[3], serial);
        if (args.size() != 4) return Usage();
        if (args[1] == L"make-manifest") return MakeManifest(args[2], args[3], serial);
        if (args[1] == L"verify") return Verify(args[2], args[3]);
    } catch (const Error& e) {
        Err(L"tiderelease: " + e.Message());
        return 1;
    }
    return Usage();
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> args(argv, argv + argc);
    return Run(args);
}
#else
int main(int argc, char** argv) {
    std::vector<std::wstring> args;
    for (int i = 0; i < argc; ++i) args.push_back(Utf8ToWide(argv[i]));
    return Run(args);
}
#endif
