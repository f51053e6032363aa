#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
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

using namespace tide;
using tide::platform::ScopedPort;
using tide::platform::FileSystem;
using tide::platform::fake::TempFileSystem;

namespace {

std::wstring HexOf(const std::string& bytes) {
    Md5State st;
    Md5Start(st);
    Md5Feed(st, bytes.data(), static_cast<uint32_t>(bytes.size()));
    return DigestToHex(Md5Finish(st));
}

std::string Pseudorandom(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(gen() & 0xFF);
    return s;
}

// md5sum's answer for a host file, upper-cased.
std::wstring Md5sumOf(const std::string& hostPath) {
    std::string cmd = "md5sum '" + hostPath + "'";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return L"popen failed";
    char line[256] = {0};
    if (!fgets(line, sizeof line, p)) line[0] = 0;
    pclose(p);
    return UpperCase(Utf8ToWide(std::string(line).substr(0, 32)));
}

void WriteHost(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// An in-memory stream whose reported size and read failures a test controls.
class MemoryFile : public platform::File {
public:
    explicit MemoryFile(std::string data) : data_(std::move(data)), size_(data_.size()) {}
    uint64_t Size() override { return size_; }
    uint64_t Position() override { return pos_; }
    void Seek(uint64_t p) override { pos_ = p; }
    size_t Read(void* buf, size_t n) override {
        ++reads;
        if (failAt >= 0 && pos_ >= static_cast<uint64_t>(failAt)) throw IoError(L"read failed");
        if (pos_ >= data_.size()) return 0;
        size_t k = std::min(n, data_.size() - static_cast<size_t>(pos_));
        maxRequest = std::max(maxRequest, n);
        std::memcpy(buf, data_.data() + pos_, k);
        pos_ += k;
        return k;
    }
    void Write(const void*, size_t) override { throw IoError(L"read-only"); }

    std::string data_;
    uint64_t size_;
    uint64_t pos_ = 0;
    int64_t failAt = -1;
    int reads = 0;
    size_t maxRequest = 0;
};

}  // namespace

TEST(Md5, Rfc1321TestSuite) {
    EXPECT_EQ(HexOf(""), L"D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(HexOf("a"), L"0CC175B9C0F1B6A831C399E269772661");
    EXPECT_EQ(HexOf("abc"), L"900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(HexOf("message digest"), L"F96B697D7CB7938D525A2F31AAF161D0");
    EXPECT_EQ(HexOf("abcdefghijklmnopqrstuvwxyz"), L"C3FCD3D76192E4007DFB496CCA67E13B");
    EXPECT_EQ(HexOf("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              L"D174AB98D277D9F5A5611C2C9F419D9F");
    EXPECT_EQ(HexOf("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              L"57EDF4A22BE3C955AC49DA2E2107B67A");
}

TEST(Md5, FilesAtPaddingBoundariesMatchMd5sum) {
    TempFileSystem fs;
    ScopedPort<FileSystem> port(fs);
    for (size_t n : {size_t(0), size_t(1), size_t(55), size_t(56), size_t(57), size_t(63), size_t(64),
                     size_t(65), size_t(119), size_t(120), size_t(4095), size_t(4096), size_t(4097),
                     size_t(1) << 20}) {
        std::wstring win = L"C:\\data\\f" + IntToStr(static_cast<int64_t>(n)) + L".bin";
        std::string host = fs.HostPath(win);
        WriteHost(host, Pseudorandom(n, static_cast<unsigned>(n)));
        std::wstring ours = DigestToHex(DigestOfFile(win));
        EXPECT_EQ(ours, Md5sumOf(host)) << "size " << n;
        EXPECT_EQ(ours.size(), 32u);
        EXPECT_EQ(ours.find_first_of(L"abcdef"), std::wstring::npos);
    }
}

TEST(Md5, FeedingInPiecesGivesTheSameDigest) {
    const std::string data = Pseudorandom(3000, 7);
    const std::wstring whole = HexOf(data);
    // Piece sizes that cross the 64-byte block and the 56-byte padding
    // boundaries in every phase.
    for (size_t piece : {1, 3, 7, 55, 56, 63, 64, 65, 127, 128, 129, 1000}) {
        Md5State st;
        Md5Start(st);
        for (size_t i = 0; i < data.size(); i += piece) {
            size_t k = std::min(piece, data.size() - i);
            Md5Feed(st, data.data() + i, static_cast<uint32_t>(k));
        }
        EXPECT_EQ(DigestToHex(Md5Finish(st)), whole) << "piece " << piece;
    }
    // Irregular boundaries, including empty feeds.
    std::mt19937 gen(11);
    Md5State st;
    Md5Start(st);
    for (size_t i = 0; i < data.size();) {
        size_t k = std::min<size_t>(gen() % 200, data.size() - i);
        Md5Feed(st, data.data() + i, static_cast<uint32_t>(k));
        i += k;
    }
    EXPECT_EQ(DigestToHex(Md5Finish(st)), whole);
}

TEST(Md5, FinishWipesTheStateAndStartResetsIt) {
    Md5State st;
    Md5Start(st);
    Md5Feed(st, "abc", 3);
    Md5Finish(st);
    const Md5State zero{};
    EXPECT_EQ(std::memcmp(&st, &zero, sizeof st), 0);
    Md5Start(st);
    Md5Feed(st, "abc", 3);
    EXPECT_EQ(DigestToHex(Md5Finish(st)), L"900150983CD24FB0D6963F7D28E17F72");
}

TEST(Md5, BitCountCarriesIntoTheHighWord) {
    Md5State st;
    Md5Start(st);
    st.count[0] = 0xFFFFFFF8u;  // one byte short of 2^32 bits
    Md5Feed(st, "xy", 2);
    EXPECT_EQ(st.count[0], 8u);
    EXPECT_EQ(st.count[1], 1u);
}

TEST(Md5, StreamIsDigestedWholeAndItsPositionRestored) {
    const std::string data = Pseudorandom(10000, 3);
    MemoryFile f(data);
    f.pos_ = 5000;
    EXPECT_EQ(DigestToHex(DigestOfStream(f)), HexOf(data));
    EXPECT_EQ(f.pos_, 5000u);
    EXPECT_EQ(f.maxRequest, 4096u);
}

TEST(Md5, StreamReportingTooLargeASizeEndsAtTheFirstEmptyRead) {
    const std::string data = Pseudorandom(5000, 4);
    MemoryFile f(data);
    f.size_ = 1u << 20;
    EXPECT_EQ(DigestToHex(DigestOfStream(f)), HexOf(data));
}

TEST(Md5, StreamStopsAtTheReportedSize) {
    // A stream that grows while it is read: the digest covers the size
    // taken at the start.
    const std::string data = Pseudorandom(9000, 5);
    MemoryFile f(data);
    f.size_ = 8192;
    EXPECT_EQ(DigestToHex(DigestOfStream(f)), HexOf(data.substr(0, 8192)));
    EXPECT_EQ(f.reads, 2);
}

TEST(Md5, ReadErrorPassesToTheCallerWithThePositionRestored) {
    MemoryFile f(Pseudorandom(20000, 6));
    f.pos_ = 123;
    f.failAt = 8192;
    EXPECT_THROW(DigestOfStream(f), IoError);
    EXPECT_EQ(f.pos_, 123u);
}

TEST(Md5, MissingFileRaisesAnErrorNamingIt) {
    TempFileSystem fs;
    ScopedPort<FileSystem> port(fs);
    try {
        DigestOfFile(L"C:\\nowhere\\jre.exe");
        FAIL() << "no error";
    } catch (const IoError& e) {
        EXPECT_NE(e.Message().find(L"C:\\nowhere\\jre.exe"), std::wstring::npos) << WideToUtf8(e.Message());
    }
}

TEST(Md5, FileIsClosedAfterTheDigest) {
    TempFileSystem fs;
    ScopedPort<FileSystem> port(fs);
    WriteHost(fs.HostPath(L"C:\\a.bin"), "hello");
    DigestOfFile(L"C:\\a.bin");
    // An exclusive open succeeds only when nobody holds the file any more.
    EXPECT_NE(fs.Open(L"C:\\a.bin", platform::OpenMode::ReadWriteExisting, platform::Share::None), nullptr);
}
