#include "app/SmartLogger.h"
#include "TestSupport.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <winioctl.h>
#include <clocale>
#include <regex>
#include <thread>
#include <vector>

using testsupport::ReadBytes;
using testsupport::TempFolder;

namespace {

class Logger : public ::testing::Test {
protected:
    void SetUp() override { setlocale(LC_ALL, "chs"); }
    void TearDown() override { setlocale(LC_ALL, "C"); }
};

void Write(CSmartLogger& logger, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    logger.WriteV(format, args);
    va_end(args);
}

// The file's bytes with every time stamp replaced by "T".
std::string Normalised(const std::wstring& path) {
    static const std::regex stamp("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}");
    return std::regex_replace(ReadBytes(path), stamp, "T");
}

const std::string kBanner = "\r\r\n================== Start Log:T  ==================\r\n";

TEST_F(Logger, WritesExactBytes) {
    TempFolder folder;
    std::wstring path = folder.File(kLogFileName);
    CSmartLogger logger;
    logger.SetLogFile(path);
    Write(logger, L"first %d", 1);
    Write(logger, L"ends in newline\n");
    Write(logger, L"");  // the time stamp alone; the next line continues it
    Write(logger, L"path= %s", L"C:\\100%\\%d%s");
    Write(logger, L"%s", L"\x4E2D\x6587");  // two Chinese characters, written in code page 936
    Write(logger, L"%s", std::wstring(512, L'x').c_str());  // too long: dropped
    Write(logger, L"%s", std::wstring(511, L'y').c_str());  // fits exactly
    std::string expected = kBanner + "T first 1\r\n" + "T ends in newline\r\n" + "T " +
                           "T path= C:\\100%\\%d%s\r\n" + "T \xD6\xD0\xCE\xC4\r\n" + "T " +
                           std::string(511, 'y') + "\r\n";
    EXPECT_EQ(Normalised(path), expected);
}

TEST_F(Logger, KeepsLinesUntilPathIsSetAndRetriesAfterAFailedOpen) {
    TempFolder folder;
    CSmartLogger logger;
    for (int i = 0; i < 150; ++i) logger.AddLine(L"early");  // past 100: Flush finds no path
    EXPECT_EQ(logger.Flush(), 0);
    // A folder in place of the file cannot be opened: the pending lines are lost, the banner waits.
    std::wstring blocked = folder.File(L"blocked");
    ::CreateDirectoryW(blocked.c_str(), nullptr);
    logger.SetLogFile(blocked);
    Write(logger, L"lost");
    std::wstring path = folder.File(L"nested\\deeper\\log.txt");  // missing folders are created
    logger.SetLogFile(path);
    for (int i = 0; i < 3; ++i) logger.AddLine(L"early");
    Write(logger, L"late");
    EXPECT_EQ(Normalised(path), kBanner + "T early\r\nT early\r\nT early\r\nT late\r\n");
}

TEST_F(Logger, ManyThreadsWriteWholeLinesUnderOneBanner) {
    TempFolder folder;
    std::wstring path = folder.File(L"threads.log");
    CSmartLogger logger;
    logger.SetLogFile(path);
    constexpr int kThreads = 8, kLines = 50;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&logger, t] {
            for (int i = 0; i < kLines; ++i) Write(logger, L"thread %d line %d", t, i);
        });
    for (auto& th : threads) th.join();
    std::string text = Normalised(path);
    ASSERT_EQ(text.compare(0, kBanner.size(), kBanner), 0);
    std::string body = text.substr(kBanner.size());
    std::regex line("T thread ([0-9]) line ([0-9]+)\r\n");
    int count = 0;
    std::vector<int> next(kThreads, 0);
    for (auto it = std::sregex_iterator(body.begin(), body.end(), line); it != std::sregex_iterator(); ++it) {
        int t = std::stoi((*it)[1]), i = std::stoi((*it)[2]);
        EXPECT_EQ(i, next[t]++) << "lines of one thread stay in order";
        ++count;
    }
    EXPECT_EQ(count, kThreads * kLines);
    EXPECT_EQ(std::regex_replace(body, line, ""), "") << "nothing but whole lines";
}

TEST_CHILD_ROLE(WriteTwoLines) {
    setlocale(LC_ALL, "chs");
    CSmartLogger logger;
    logger.SetLogFile(argument);
    Write(logger, L"child one");
    Write(logger, L"child two");
    return 0;
}

TEST_F(Logger, EachProcessWritesItsOwnBannerOnce) {
    TempFolder folder;
    std::wstring path = folder.File(L"two.log");
    {
        CSmartLogger logger;
        logger.SetLogFile(path);
        Write(logger, L"parent");
    }
    ASSERT_EQ(testsupport::RunChild("WriteTwoLines", path), 0);
    ASSERT_EQ(testsupport::RunChild("WriteTwoLines", path), 0);
    std::string child = kBanner + "T child one\r\nT child two\r\n";
    EXPECT_EQ(Normalised(path), kBanner + "T parent\r\n" + child + child);
}

// The file stays open between lines; each line is on disk when WriteLog returns, and a new path
// closes the old file (which can then be deleted, and checked for its size when set again).
TEST_F(Logger, KeepsTheFileOpenUntilThePathChanges) {
    TempFolder folder;
    const std::wstring first = folder.File(L"first.log"), second = folder.File(L"second.log");
    CSmartLogger logger;
    logger.SetLogFile(first);
    for (int i = 0; i < 3; ++i) {
        Write(logger, L"line %d", i);
        const std::string text = ReadBytes(first);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3 + i) << "the banner's two and each line";
    }
    HANDLE exclusive = ::CreateFileW(first.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(exclusive, INVALID_HANDLE_VALUE) << "held open by the logger";
    if (exclusive != INVALID_HANDLE_VALUE) ::CloseHandle(exclusive);

    logger.SetLogFile(second);
    EXPECT_TRUE(::DeleteFileW(first.c_str())) << "closed by the new path";
    Write(logger, L"moved");
    EXPECT_EQ(Normalised(second), "T moved\r\n") << "the banner was written once, to the first file";
    logger.SetLogFile(second);  // the same path again: closed, then opened by the next line
    Write(logger, L"again");
    EXPECT_EQ(Normalised(second), "T moved\r\nT again\r\n");
}

// Two writers with the file open at once (the launcher and its temporary copy): every line lands
// at the end of the file, in the order written.
TEST_F(Logger, TwoOpenWritersAppendInTurn) {
    TempFolder folder;
    const std::wstring path = folder.File(L"shared.log");
    CSmartLogger first, second;
    first.SetLogFile(path);
    second.SetLogFile(path);
    Write(first, L"a1");
    Write(second, L"b1");
    Write(first, L"a2");
    Write(second, L"b2");
    EXPECT_EQ(Normalised(path), kBanner + "T a1\r\n" + kBanner + "T b1\r\nT a2\r\nT b2\r\n");
}

// Sizes around the 1 GiB limit, as sparse files.
bool MakeSparseFile(const std::wstring& path, long long size) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD ignored = 0;
    ::DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    LARGE_INTEGER at;
    at.QuadPart = size;
    bool ok = ::SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && ::SetEndOfFile(h);
    ::CloseHandle(h);
    return ok;
}

long long FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

TEST_F(Logger, DeletesAFileLargerThanOneGibibyteAndKeepsOneOfExactlyThatSize) {
    TempFolder folder;
    const long long limit = static_cast<long long>(CSmartLogger::kMaxKeptSize);
    std::wstring big = folder.File(L"big.log"), exact = folder.File(L"exact.log");
    ASSERT_TRUE(MakeSparseFile(big, limit + 1));
    ASSERT_TRUE(MakeSparseFile(exact, limit));
    {
        CSmartLogger logger;
        logger.SetLogFile(big);
        EXPECT_FALSE(testsupport::FileExists(big));
        Write(logger, L"fresh");
        EXPECT_EQ(Normalised(big), kBanner + "T fresh\r\n");
    }
    {
        CSmartLogger logger;
        logger.SetLogFile(exact);
        Write(logger, L"kept");
        // A time stamp is 19 characters where the normalised text has "T".
        const long long banner = static_cast<long long>(kBanner.size()) + 18, line = 19 + 7;
        EXPECT_EQ(FileSize(exact), limit + banner + line);
    }
}

}  // namespace
