// MD5 throughput and memory of DigestOfFile.
//
//   md5_bench [SCRATCH_DIR]
//     Writes a 256 MiB and a 1 MiB file, then
//     - times DigestOfFile on the 256 MiB file against coreutils md5sum on
//       the same file, alternating, best of 3 each, and prints the
//       throughput ratio (ours / md5sum);
//     - runs DigestOfFile on each file in a fresh process (this program
//       again, "digest" mode) and prints each one's peak resident memory,
//       which must not grow with the file.
//   md5_bench digest HOST_FILE
//     Prints the digest of one file (the child of the memory measurement).
// DigestOfFile reads the file in 4096-byte blocks through the program's
// file layer (here the native one, with its 64 KiB stdio buffer). For
// comparison the bench also prints a read-ahead stream of its own that
// fetches 64 KiB from the OS and hands out the same 4096-byte blocks.
// Exit code 0 when the digests agree with md5sum, the ratio through the
// program's file layer is at least 0.9 and the peaks differ by at most 1 MiB.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/encoding.h"
#include "base/text.h"
#include "download/md5.h"
#include "platform/fake/fake_files.h"

namespace fs = std::filesystem;
using namespace tide;
using Clock = std::chrono::steady_clock;

namespace {

// The file at host path p, reached through the program's file system:
// a fake rooted at "/" maps "C:\x" to "/C/x", so root it at the file's
// folder's parent of a "C" folder.
std::wstring DigestHostFile(const std::string& host) {
    fs::path p(host);
    platform::fake::FakeFileSystem files(p.parent_path().parent_path().string());
    platform::ScopedPort<platform::FileSystem> port(files);
    return DigestToHex(DigestOfFile(L"C:\\" + Utf8ToWide(p.filename().string())));
}

void WriteFile(const std::string& path, size_t bytes) {
    std::ofstream out(path, std::ios::binary);
    std::mt19937_64 gen(42);
    std::vector<uint64_t> block(1 << 17);  // 1 MiB
    for (size_t done = 0; done < bytes;) {
        for (auto& w : block) w = gen();
        size_t n = std::min(bytes - done, block.size() * sizeof(uint64_t));
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
        done += n;
    }
}

// A file stream that reads ahead 64 KiB from the OS.
class ReadAheadFile : public platform::File {
public:
    explicit ReadAheadFile(int fd) : fd_(fd), buf_(64 * 1024) {}
    ~ReadAheadFile() override { close(fd_); }
    uint64_t Size() override {
        struct stat st {};
        return fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    }
    uint64_t Position() override { return pos_; }
    void Seek(uint64_t p) override {
        pos_ = p;
        lseek(fd_, static_cast<off_t>(p), SEEK_SET);
        have_ = used_ = 0;
    }
    size_t Read(void* out, size_t n) override {
        if (used_ == have_) {
            ssize_t got = read(fd_, buf_.data(), buf_.size());
            if (got < 0) throw IoError(L"read failed");
            have_ = static_cast<size_t>(got);
            used_ = 0;
        }
        size_t k = std::min(n, have_ - used_);
        std::memcpy(out, buf_.data() + used_, k);
        used_ += k;
        pos_ += k;
        return k;
    }
    void Write(const void*, size_t) override { throw IoError(L"read-only"); }

private:
    int fd_;
    std::vector<char> buf_;
    size_t have_ = 0, used_ = 0;
    uint64_t pos_ = 0;
};

// Maps "C:\name" to a file of one host folder.
class ReadAheadFileSystem : public platform::fake::FakeFileSystem {
public:
    using FakeFileSystem::FakeFileSystem;
    std::unique_ptr<platform::File> Open(const std::wstring& path, platform::OpenMode, platform::Share) override {
        int fd = open(HostPath(path).c_str(), O_RDONLY);
        return fd < 0 ? nullptr : std::make_unique<ReadAheadFile>(fd);
    }
};

std::wstring DigestHostFileReadAhead(const std::string& host) {
    fs::path p(host);
    ReadAheadFileSystem files(p.parent_path().parent_path().string());
    platform::ScopedPort<platform::FileSystem> port(files);
    return DigestToHex(DigestOfFile(L"C:\\" + Utf8ToWide(p.filename().string())));
}

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

std::string Md5sum(const std::string& path, double& seconds) {
    auto t0 = Clock::now();
    FILE* p = popen(("md5sum '" + path + "'").c_str(), "r");
    char line[128] = {0};
    if (!p || !fgets(line, sizeof line, p)) line[0] = 0;
    if (p) pclose(p);
    seconds = Seconds(t0, Clock::now());
    std::string hex = std::string(line).substr(0, 32);
    for (auto& c : hex) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return hex;
}

// Peak resident set (KiB) of a fresh process digesting the file.
long PeakOfChild(const std::string& self, const std::string& file) {
    pid_t pid = fork();
    if (pid == 0) {
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        execl(self.c_str(), self.c_str(), "digest", file.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    struct rusage ru {};
    wait4(pid, &status, 0, &ru);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return ru.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "digest") {
        printf("%s\n", WideToUtf8(DigestHostFile(argv[2])).c_str());
        return 0;
    }
    std::string dir = argc > 1 ? argv[1] : (fs::temp_directory_path() / "md5bench").string();
    fs::create_directories(dir + "/C");
    const std::string big = dir + "/C/big.bin", small = dir + "/C/small.bin";
    WriteFile(big, size_t(256) << 20);
    WriteFile(small, size_t(1) << 20);
    bool ok = true;

    // Warm the page cache so both readers see the same conditions.
    double warm;
    const std::string expected = Md5sum(big, warm);
    double best_fake = 1e9, best_ahead = 1e9, best_sum = 1e9;
    for (int round = 0; round < 3; ++round) {
        auto t0 = Clock::now();
        std::wstring viaFake = DigestHostFile(big);
        auto t1 = Clock::now();
        std::wstring viaAhead = DigestHostFileReadAhead(big);
        auto t2 = Clock::now();
        best_fake = std::min(best_fake, Seconds(t0, t1));
        best_ahead = std::min(best_ahead, Seconds(t1, t2));
        double s;
        std::string theirs = Md5sum(big, s);
        best_sum = std::min(best_sum, s);
        if (WideToUtf8(viaFake) != theirs || WideToUtf8(viaAhead) != theirs || theirs != expected) {
            printf("digest mismatch: ours %s / %s, md5sum %s\n", WideToUtf8(viaFake).c_str(),
                   WideToUtf8(viaAhead).c_str(), theirs.c_str());
            ok = false;
        }
    }
    const double mib = 256.0;
    printf("md5sum                                 256 MiB: %.3f s (%.0f MiB/s)\n", best_sum, mib / best_sum);
    printf("DigestOfFile, native file layer        256 MiB: %.3f s (%.0f MiB/s), ratio %.2f\n", best_fake,
           mib / best_fake, best_sum / best_fake);
    printf("DigestOfFile, 64 KiB read-ahead stream 256 MiB: %.3f s (%.0f MiB/s), ratio %.2f\n", best_ahead,
           mib / best_ahead, best_sum / best_ahead);
    const double ratio = best_sum / best_fake;
    printf("throughput ratio (DigestOfFile / md5sum): %.2f\n", ratio);
    if (ratio < 0.9) ok = false;

    std::string self = fs::read_symlink("/proc/self/exe").string();
    long peakSmall = PeakOfChild(self, small), peakBig = PeakOfChild(self, big);
    printf("peak RSS digesting 1 MiB: %ld KiB, 256 MiB: %ld KiB, difference %ld KiB\n", peakSmall, peakBig,
           peakBig - peakSmall);
    if (peakSmall < 0 || peakBig < 0 || std::labs(peakBig - peakSmall) > 1024) ok = false;

    fs::remove(big);
    fs::remove(small);
    printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
