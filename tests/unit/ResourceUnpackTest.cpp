#include "config/ArchiveLibrary.h"
#include "config/ResourceUnpack.h"
#include "SetupTestSupport.h"
#include <gtest/gtest.h>
#include <regex>

namespace {

using setuptest::DirEntry;
using setuptest::ListFolder;
using setuptest::TempDirRedirect;

// Resource ids of the test program (see voro_embed_setup_test_resources).
constexpr int kPackage = 209;
constexpr int kEmpty = 210;
constexpr int kTruncated = 211;
constexpr int kCorrupt = 212;
constexpr int kDotDot = 213;
constexpr int kAbsolute = 214;
constexpr int kDrive = 215;
constexpr wchar_t kType[] = L"SETUPCONFIG";

const std::wregex kTempName(L"\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9a-f]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}\\.tmp");

std::string ResourceBytes(const CResourceUnpack& resource) {
    return std::string(reinterpret_cast<const char*>(resource.Data()), static_cast<size_t>(resource.Size()));
}

TEST(TempNames, GuidFormatKeepsTheThirdGroupInLowerCase) {
    const GUID guid = {0x0A1B2C3D, 0xABCD, 0xEF01, {0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89}};
    EXPECT_EQ(L"{0A1B2C3D-ABCD-ef01-ABCD-EF0123456789}.tmp", FormatTempGuidName(guid));
}

TEST(TempNames, FreeNameLiesInTheTempDirectoryAndDoesNotExist) {
    TempDirRedirect temp;
    std::wstring path;
    ASSERT_TRUE(GetFreeTempName(path));
    EXPECT_EQ(temp.Path() + L"\\", path.substr(0, temp.Path().size() + 1));
    EXPECT_TRUE(std::regex_match(path.substr(temp.Path().size() + 1), kTempName));
    EXPECT_FALSE(testsupport::FileExists(path));
}

TEST(WriteInBlocks, WritesFullBlocksThenOnePartialBlock) {
    struct Case {
        size_t size;
        std::vector<DWORD> blocks;
    };
    const Case cases[] = {
        {0, {}},
        {1, {1}},
        {4095, {4095}},
        {4096, {4096}},  // a multiple of the block size: no final partial block
        {4097, {4096, 1}},
        {8192, {4096, 4096}},
        {10000, {4096, 4096, 1808}},
    };
    for (const Case& c : cases) {
        std::vector<BYTE> data(c.size);
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<BYTE>(i * 7);
        std::vector<DWORD> blocks;
        std::vector<BYTE> copy;
        EXPECT_TRUE(WriteInBlocks(data.data(), data.size(), [&](const BYTE* block, DWORD count) {
            blocks.push_back(count);
            copy.insert(copy.end(), block, block + count);
            return true;
        }));
        EXPECT_EQ(c.blocks, blocks) << c.size;
        EXPECT_EQ(data, copy) << c.size;
    }
}

TEST(WriteInBlocks, StopsAtTheFirstFailedBlock) {
    std::vector<BYTE> data(3 * 4096 + 5);
    int calls = 0;
    EXPECT_FALSE(WriteInBlocks(data.data(), data.size(), [&](const BYTE*, DWORD) { return ++calls < 2; }));
    EXPECT_EQ(2, calls);
}

TEST(ResourceUnpack, InitFindsOnlyExistingResources) {
    HINSTANCE self = ::GetModuleHandleW(nullptr);
    CResourceUnpack resource;
    EXPECT_FALSE(resource.Init(self, MAKEINTRESOURCEW(999), kType));
    EXPECT_FALSE(resource.Init(self, MAKEINTRESOURCEW(kPackage), L"OTHERTYPE"));
    ASSERT_TRUE(resource.Init(self, MAKEINTRESOURCEW(kPackage), kType));
    ASSERT_GT(resource.Size(), 32);
    EXPECT_EQ(std::string("7z\xBC\xAF\x27\x1C", 6), ResourceBytes(resource).substr(0, 6));
    resource.Reset();
    EXPECT_EQ(nullptr, resource.Data());
    EXPECT_EQ(0, resource.Size());
    ASSERT_TRUE(resource.Init(self, MAKEINTRESOURCEW(kEmpty), kType));
    EXPECT_EQ(0, resource.Size());
}

TEST(ResourceUnpack, WriteToFileReplacesAnyOldFile) {
    testsupport::TempFolder folder;
    CResourceUnpack resource;
    ASSERT_TRUE(resource.Init(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kPackage), kType));
    std::wstring path = folder.File(L"package.7z");
    setuptest::WriteBytes(path, std::string(20000, 'x'));  // longer than the resource
    ASSERT_TRUE(resource.WriteToFile(path.c_str()));
    EXPECT_EQ(ResourceBytes(resource), testsupport::ReadBytes(path));

    EXPECT_FALSE(resource.WriteToFile(folder.File(L"missing\\package.7z").c_str()));
    EXPECT_FALSE(resource.WriteToFile(nullptr));
}

class ExtractTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(setuptest::LoadArchiveLibraryBesideExe()); }
    TempDirRedirect m_temp;
};

TEST_F(ExtractTest, UnpacksThePackageAndDeletesTheArchiveFile) {
    CResourceUnpack resource;
    ASSERT_TRUE(resource.Init(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kPackage), kType));
    std::wstring folder;
    ASSERT_TRUE(resource.Extract(folder));

    // Only the unpacked folder stays in the temp directory.
    std::vector<DirEntry> temp = ListFolder(m_temp.Path());
    ASSERT_EQ(1u, temp.size());
    EXPECT_TRUE(temp[0].folder);
    EXPECT_TRUE(std::regex_match(temp[0].name, kTempName));
    EXPECT_EQ(m_temp.Path() + L"\\" + temp[0].name, folder);

    std::vector<DirEntry> files = ListFolder(folder);
    ASSERT_EQ(2u, files.size());
    for (const wchar_t* name : {L"tesk.tvnprj", L"UninstallRootDirFileList.xml"}) {
        std::string bytes = testsupport::ReadBytes(folder + L"\\" + name);
        ASSERT_GT(bytes.size(), 2u) << name;
        EXPECT_EQ(std::string("\xFF\xFE", 2), bytes.substr(0, 2)) << name;  // UTF-16 LE byte-order mark
        std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
        EXPECT_EQ(0u, text.find(L"<?xml version=\"1.0\" encoding=\"utf-16\"?>")) << name;
    }
}

// Every failure keeps the folder output unchanged and leaves the archive file in the temp
// directory; an item aimed outside the unpack folder is never written.
TEST_F(ExtractTest, BadArchivesFail) {
    wchar_t drive[MAX_PATH] = {};
    ::GetWindowsDirectoryW(drive, MAX_PATH);
    std::wstring absoluteTarget = VORO_HOSTILE_ABSOLUTE;  // as the archive stores it: a rooted path
    for (wchar_t& c : absoluteTarget)
        if (c == L'/') c = L'\\';
    struct Case {
        int id;
        std::wstring outsideFile;  // where a hostile item would land
    };
    const Case cases[] = {
        {kEmpty, L""},
        {kTruncated, L""},
        {kCorrupt, L""},
        {kDotDot, m_temp.Path() + L"\\evil_dotdot.txt"},
        {kAbsolute, absoluteTarget},
        {kDrive, std::wstring(drive, 2) + L"\\evil_drive.txt"},
    };
    for (const Case& c : cases) {
        CResourceUnpack resource;
        ASSERT_TRUE(resource.Init(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(c.id), kType)) << c.id;
        std::wstring folder = L"unchanged";
        EXPECT_FALSE(resource.Extract(folder)) << c.id;
        EXPECT_EQ(L"unchanged", folder) << c.id;
        if (!c.outsideFile.empty()) {
            EXPECT_FALSE(testsupport::FileExists(c.outsideFile)) << c.id;
        }

        bool archiveLeft = false;
        for (const DirEntry& entry : ListFolder(m_temp.Path())) {
            std::wstring path = m_temp.Path() + L"\\" + entry.name;
            if (!entry.folder && testsupport::ReadBytes(path) == ResourceBytes(resource)) archiveLeft = true;
        }
        EXPECT_TRUE(archiveLeft) << c.id;
    }
}

// The archive library is loaded once per process, so its absence is shown in a child process.
TEST_CHILD_ROLE(ExtractWithoutLibrary) {
    ::SetEnvironmentVariableW(L"TMP", argument.c_str());
    ::SetEnvironmentVariableW(L"TEMP", argument.c_str());
    if (ArchiveLibraryModule() != nullptr) return 10;
    if (LoadArchiveLibrary((argument + L"\\no-such-folder\\7z.dll").c_str())) return 11;
    CResourceUnpack resource;
    if (!resource.Init(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kPackage), kType)) return 12;
    std::wstring folder;
    if (resource.Extract(folder)) return 13;
    if (!folder.empty()) return 14;
    return 0;
}

TEST(ResourceUnpack, ExtractWithoutTheLibraryLeavesTheArchiveFile) {
    testsupport::TempFolder temp;
    ASSERT_EQ(0, testsupport::RunChild("ExtractWithoutLibrary", temp.Path()));
    CResourceUnpack resource;
    ASSERT_TRUE(resource.Init(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kPackage), kType));
    int archives = 0, folders = 0;
    for (const DirEntry& entry : ListFolder(temp.Path())) {
        EXPECT_TRUE(std::regex_match(entry.name, kTempName)) << testing::PrintToString(entry.name);
        if (entry.folder) {
            ++folders;
            EXPECT_TRUE(ListFolder(temp.Path() + L"\\" + entry.name).empty());
        } else {
            ++archives;
            EXPECT_EQ(ResourceBytes(resource), testsupport::ReadBytes(temp.Path() + L"\\" + entry.name));
        }
    }
    EXPECT_EQ(1, archives);
    EXPECT_EQ(1, folders);
}

TEST(ArchiveItemPaths, OnlyPlainRelativePathsAreSafe) {
    struct Case {
        const wchar_t* path;
        bool safe;
    };
    const Case cases[] = {
        {L"tesk.tvnprj", true},
        {L"sub\\folder\\file.xml", true},
        {L"sub/file.xml", true},
        {L"a..b.txt", true},
        {L".hidden", true},
        {L"folder\\", true},
        {L"", false},
        {L"..", false},
        {L"..\\evil.txt", false},
        {L"../evil.txt", false},
        {L"sub\\..\\..\\evil.txt", false},
        {L"sub/../evil.txt", false},
        {L".", false},
        {L"sub\\.\\file", false},
        {L"...\\evil.txt", false},
        {L".. \\evil.txt", false},
        {L"\\evil.txt", false},
        {L"/tmp/evil.txt", false},
        {L"\\\\server\\share\\evil.txt", false},
        {L"\\\\?\\C:\\evil.txt", false},
        {L"C:\\evil.txt", false},
        {L"C:evil.txt", false},
        {L"file.txt:stream", false},
        {L"sub\\\\file.txt", false},
        {L"CON", false},
        {L"sub\\nul.txt", false},
        {L"com1", false},
        {L"LPT9.log", false},
        {L"console.txt", true},
        {L"bad?.txt", false},
        {L"tab\t.txt", false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.safe, IsSafeArchiveItemPath(c.path)) << testing::PrintToString(std::wstring(c.path));
}

}  // namespace
