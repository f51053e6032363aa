// The install directory's size in the uninstall entry: the tree walked
// through the file-system port, rounded up to KiB, and what happens when it
// cannot be measured.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "core/ArchAwareRegistry.h"
#include "core/tree_size.h"
#include "install/uninstall_entry.h"
#include "release_fixture.h"

using namespace tide;
using tide::testing::FakeMachine;
using tide::testing::Pattern;

namespace {

const std::wstring kDir = L"C:\\Apps\\Cal";
const std::wstring kEntry = L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tidewell";

std::optional<int32_t> EstimatedSize() {
    TArchAwareRegistry r;
    r.SetRootKey(HKEY_LOCAL_MACHINE);
    r.SetAccess(KEY_READ);
    if (!r.OpenKey(kUninstallKey, false) || !r.ValueExists(L"EstimatedSize")) return std::nullopt;
    uint32_t type = 0;
    platform::Reg().QueryValue(r.CurrentKey(), L"EstimatedSize", &type, nullptr);
    EXPECT_EQ(type, static_cast<uint32_t>(REG_DWORD));
    return r.ReadInteger(L"EstimatedSize");
}

TEST(KiBRoundedUp, PartOfAKiBCountsAsOne) {
    const uint64_t rows[][2] = {{0, 0}, {1, 1}, {1023, 1}, {1024, 1}, {1025, 2}, {10ull << 40, 0xFFFFFFFFull}};
    for (const auto& r : rows) EXPECT_EQ(KiBRoundedUp(r[0]), r[1]) << r[0];
}

TEST(TreeSize, AddsEveryFileOfEverySubfolderAndSkipsLinks) {
    FakeMachine m;
    m.MakeDirs(kDir + L"\\TCBase\\webapps\\tidewell-4.2.1");
    m.MakeDirs(kDir + L"\\empty");
    m.WriteFile(kDir + L"\\Tidestart.EXE", Pattern(1000, 'a'));
    m.WriteFile(kDir + L"\\TCBase\\server.xml", Pattern(30, 'b'));
    m.WriteFile(kDir + L"\\TCBase\\webapps\\tidewell-4.2.1\\index.html", Pattern(7, 'c'));
    m.WriteFile(kDir + L"\\empty.log", "");
    // A link to a folder outside (a junction on Windows) is not followed.
    m.MakeDirs(L"C:\\Elsewhere");
    m.WriteFile(L"C:\\Elsewhere\\big.bin", Pattern(5000, 'd'));
    std::filesystem::create_directory_symlink(m.fs.HostPath(L"C:\\Elsewhere"), m.fs.HostPath(kDir + L"\\link"));

    EXPECT_EQ(TreeSizeBytes(kDir), 1037u);
    EXPECT_EQ(TreeSizeBytes(kDir + L"\\"), 1037u);
    EXPECT_EQ(TreeSizeBytes(kDir + L"\\empty"), 0u);
    EXPECT_EQ(TreeSizeBytes(L"C:\\Missing"), std::nullopt);
}

TEST(EstimatedSize, WrittenIntoTheEntryAndRemovedWhenItCannotBeMeasured) {
    FakeMachine m;
    m.MakeDirs(kDir);
    m.WriteFile(kDir + L"\\a.zip", Pattern(2049, 'z'));

    // No entry (it was never registered): none is made for the size alone.
    EXPECT_FALSE(WriteEstimatedSize(kDir + L"\\"));
    EXPECT_FALSE(m.machine.registry.HasKey(kEntry));

    m.machine.registry.PutString(kEntry, L"DisplayName", L"Tidewell Web Calendar");
    EXPECT_TRUE(WriteEstimatedSize(kDir + L"\\"));
    EXPECT_EQ(EstimatedSize(), 3);

    // A folder that cannot be listed: the old size goes rather than stay wrong.
    EXPECT_FALSE(WriteEstimatedSize(L"C:\\Missing\\"));
    EXPECT_EQ(EstimatedSize(), std::nullopt);
    EXPECT_EQ(m.machine.registry.GetString(kEntry, L"DisplayName"), L"Tidewell Web Calendar");
}

}  // namespace
