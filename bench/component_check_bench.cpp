// What it costs to judge the components of one installation that already
// lie complete in the install directory: ComponentFileComplete on each
// (size, then MD5 and SHA-256 from one reading of the file).
//
//   component_check_bench [SCRATCH_DIR]
//     Writes files of the sizes of a real release (a Java runtime
//     installer, the unzip tool, the server base, Tomcat, the application),
//     computes their digests, then times the check of all of them, best of
//     3 (the files are in the page cache after the first, as they are on a
//     second run), and coreutils md5sum + sha256sum over the same files as
//     the peer. Prints the milliseconds, MiB/s and the ratio to the peer;
//     exit 0 when every file is judged complete and the best run takes
//     under 1000 ms.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "base/encoding.h"
#include "download/verification.h"
#include "platform/fake/fake_files.h"

using namespace tide;
namespace fs = std::filesystem;

int main(int argc, char** argv) {
    const std::string scratch = argc > 1 ? argv[1] : "/tmp/component_check_bench";
    fs::create_directories(scratch + "/C");
    struct Component {
        const char* name;
        size_t bytes;
        std::wstring md5, sha256;
    } comps[] = {
        {"jre-setup.exe", 62750384, L"", L""},
        {"UNZIP.EXE", 200 * 1024, L"", L""},
        {"catalina_base.zip", 1024 * 1024, L"", L""},
        {"apache-tomcat.zip", 9 * 1024 * 1024, L"", L""},
        {"tidewell.zip", 40 * 1024 * 1024, L"", L""},
    };
    platform::fake::FakeFileSystem files(scratch);
    platform::ScopedPort<platform::FileSystem> port(files);
    std::mt19937_64 gen(42);
    uint64_t total = 0;
    for (Component& c : comps) {
        std::vector<uint64_t> data(c.bytes / 8 + 1);
        for (auto& w : data) w = gen();
        std::ofstream(scratch + "/C/" + c.name, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                                                          static_cast<std::streamsize>(c.bytes));
        FileFacts facts;
        if (!ReadFileFacts(L"C:\\" + Utf8ToWide(c.name), true, facts)) return 2;
        c.md5 = facts.md5;
        c.sha256 = facts.sha256;
        total += c.bytes;
    }
    double best = 1e9;
    bool allComplete = true;
    for (int run = 0; run < 3; ++run) {
        auto t0 = std::chrono::steady_clock::now();
        for (const Component& c : comps)
            allComplete = ComponentFileComplete(L"C:\\" + Utf8ToWide(c.name), static_cast<int32_t>(c.bytes), c.md5,
                                                c.sha256) && allComplete;
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        best = std::min(best, ms);
    }
    // The peer, in the same run: coreutils md5sum and sha256sum over the
    // same files (two readings of each, as two separate tools make).
    std::string peer = "cd '" + scratch + "/C' && md5sum * >/dev/null && sha256sum * >/dev/null";
    double peerBest = 1e9;
    for (int run = 0; run < 3; ++run) {
        auto t0 = std::chrono::steady_clock::now();
        if (std::system(peer.c_str()) != 0) return 2;
        peerBest = std::min(peerBest, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    std::printf("components: %zu files, %.1f MiB\n", sizeof comps / sizeof comps[0], total / 1048576.0);
    std::printf("check (size, MD5, SHA-256, one reading): best of 3 %.0f ms, %.0f MiB/s, all complete: %s\n", best,
                total / 1048576.0 / (best / 1000.0), allComplete ? "yes" : "no");
    std::printf("peer md5sum + sha256sum of the same files: best of 3 %.0f ms; ratio %.2f\n", peerBest, best / peerBest);
    fs::remove_all(scratch);
    return allComplete && best < 1000 ? 0 : 1;
}
