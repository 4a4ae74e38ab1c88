// WritePort through the monitor's table: the PS file holds exactly the data,
// failures leave their number for the job's end, a full disk is survived, and
// concurrent ports do not disturb each other.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "job/JobFixture.h"
#include "monitor/PortContext.h"

using namespace Brambleworth::Zel::PortMon;
using namespace zeltest;

namespace {

constexpr const wchar_t* kPort = L"ZEL_JOBDATA";
const std::string kChunkLines =
    NormalLine("WritePort", 879, "...") + NormalLine("WritePort", 892, "done");

class JobData : public JobTest {
protected:
    JobData() : JobTest(kPort) {}
    std::wstring StartJob(const wchar_t* document = L"data") {
        EXPECT_TRUE(Start(document));
        return files_.back();
    }
};

TEST_F(JobData, WriteWithoutJobIsAnInconsistency) {
    // errno is whatever an earlier call left; the line shows it as a code.
    const std::size_t before = ReadPortLog(kPort).size();
    std::string expected;
    for (int error : {0, 5}) {
        errno = error;
        DWORD written = kPoison;
        SetLastError(kPoison);
        EXPECT_FALSE(Write(Handle(), "abc", written));
        EXPECT_EQ(written, kPoison);
        EXPECT_EQ(GetLastError(), kPoison);
        EXPECT_EQ(Port(Handle()).jobError, 7u);
        expected += NormalLine("WritePort", 879, "...") +
                    LogLine("ERROR  : ", "WritePort", 882,
                            "inconsistency: " + (error ? SecPiece(5, "0x000005") : ""));
    }
    EXPECT_EQ(ReadPortLog(kPort).substr(before), expected);
}

TEST_F(JobData, PsFileHoldsExactlyTheChunksOfAMultiMegabyteJob) {
    const std::wstring ps = StartJob();
    const std::size_t before = ReadPortLog(kPort).size();
    std::string all, lines;
    for (std::size_t size : {0, 1, 4095, 4096, 65537, 1 << 20, 4097, 1 << 21, 7}) {
        const std::string chunk = Bytes(size, static_cast<unsigned>(size));
        DWORD written = kPoison;
        ASSERT_TRUE(Write(Handle(), chunk, written)) << size;
        ASSERT_EQ(written, size);
        all += chunk;
        lines += kChunkLines;
    }
    EXPECT_EQ(ReadPortLog(kPort).substr(before), lines);
    EXPECT_EQ(Port(Handle()).jobError, 0u);
    ASSERT_TRUE(port_->Close());
    EXPECT_TRUE(ReadFileBytes(ps) == all) << "PS file differs from the data written";
}

// The small disk that ctest mounts around this program (see CMakeLists.txt).
TEST_F(JobData, FullDiskTakesPartOfAChunkAndLaterChunksAreJudgedOnTheirOwn) {
    const char* linuxPath = std::getenv("ZEL_TEST_SMALL_DISK");
    if (!linuxPath || !*linuxPath) {
        GTEST_SKIP() << "ZEL_TEST_SMALL_DISK is not set: run through ctest";
    }
    std::wstring disk = L"Z:" + Widen(linuxPath); // Wine's drive for the Linux root
    std::replace(disk.begin(), disk.end(), L'/', L'\\');
    ULARGE_INTEGER freeBytes, totalBytes;
    if (!GetDiskFreeSpaceExW(disk.c_str(), &freeBytes, &totalBytes, nullptr) ||
        totalBytes.QuadPart > 1024 * 1024) {
        GTEST_SKIP() << "no small tmpfs is mounted (needs root): the disk-full case is not tested";
    }
    ScopedJobKey key(L"D15CF011D15CF011");
    SetString(HKEY_CURRENT_USER, key.Path(), L"TempDirPath", disk);
    const std::wstring ps = StartJob(L"#%D15CF011D15CF011#%");
    ASSERT_EQ(ps.compare(0, disk.size(), disk), 0) << Narrow(ps);

    // A first chunk that the runtime keeps in its file buffer.
    const std::string head = Bytes(1000, 6);
    DWORD written = kPoison;
    ASSERT_TRUE(Write(Handle(), head, written));

    // Leave about 16 KiB free, then send more than that. The runtime's errno
    // for a full disk differs between Windows and Wine; its mapping into the
    // line is seen where a write finds no job.
    const std::wstring filler = disk + L"\\filler";
    ASSERT_TRUE(GetDiskFreeSpaceExW(disk.c_str(), &freeBytes, nullptr, nullptr));
    WriteBytes(filler, std::string(static_cast<std::size_t>(freeBytes.QuadPart) - 16 * 1024, 'f'));
    const std::string big = Bytes(64 * 1024, 7);
    const std::size_t before = ReadPortLog(kPort).size();
    written = kPoison;
    EXPECT_FALSE(Write(Handle(), big, written));
    EXPECT_LT(written, big.size());
    EXPECT_GT(written, 0u) << "the part that went into the file buffer counts";
    EXPECT_EQ(Port(Handle()).jobError, 16u);
    EXPECT_EQ(ReadPortLog(kPort).substr(before).rfind(
                  NormalLine("WritePort", 879, "...") +
                      "ERROR  : Brambleworth::Zel::PortMon::WritePort: #888: fwrite() failed: ; "
                      "SEC: 0x",
                  0),
              0u);

    // With room again, the next chunk succeeds; the pending number stays.
    ASSERT_TRUE(DeleteFileW(filler.c_str()));
    const std::string small = Bytes(1000, 8);
    EXPECT_TRUE(Write(Handle(), small, written));
    EXPECT_EQ(written, small.size());
    EXPECT_EQ(Port(Handle()).jobError, 16u);

    // The file starts with the first chunk and ends with the last.
    ASSERT_TRUE(port_->Close());
    const std::string onDisk = ReadFileBytes(ps);
    ASSERT_GE(onDisk.size(), head.size() + small.size());
    EXPECT_TRUE(onDisk.compare(0, head.size(), head) == 0);
    EXPECT_TRUE(onDisk.compare(onDisk.size() - small.size(), small.size(), small) == 0);
}

TEST_F(JobData, JobStartAndWritesRacingOnOnePortLoseNothing) {
    // One thread keeps starting new jobs while another writes: each chunk goes
    // whole into whichever job is current, and every log line stays whole.
    constexpr int kJobs = 40;
    std::atomic<bool> stop{false};
    std::atomic<unsigned long long> accepted{0};
    std::atomic<int> refused{0};
    TestThread starter([&] {
        ScopedImpersonation user;
        for (int j = 0; j < kJobs; ++j) {
            StartJob(L"race");
        }
        stop = true;
    });
    TestThread writer([&] {
        const std::string chunk = Bytes(3001, 99);
        for (int w = 0; w < 400 || !stop; ++w) {
            DWORD written = 0;
            if (Write(Handle(), chunk, written)) {
                accepted += written;
            } else {
                ++refused; // only before the first job has started
            }
        }
    });
    starter.join();
    writer.join();
    ASSERT_TRUE(port_->Close());

    unsigned long long onDisk = 0;
    for (const std::wstring& file : files_) {
        const std::string bytes = ReadFileBytes(file);
        EXPECT_EQ(bytes.size() % 3001, 0u) << "a chunk was split between jobs";
        onDisk += bytes.size();
    }
    EXPECT_EQ(onDisk, accepted.load());

    // Every line is whole, and there are exactly as many as the calls wrote.
    const std::string log = ReadPortLog(kPort);
    std::size_t lines = 0;
    for (std::size_t pos = 0; pos < log.size(); ++lines) {
        const std::size_t end = log.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos) << "unterminated line at " << pos;
        const std::string line = log.substr(pos, end - pos);
        EXPECT_TRUE(line.rfind("       : Brambleworth::Zel::PortMon::", 0) == 0 ||
                    line.rfind("ERROR  : Brambleworth::Zel::PortMon::WritePort: #882: ", 0) == 0)
            << line;
        EXPECT_EQ(line.find("Brambleworth", 10), std::string::npos) << line;
        pos = end + 2;
    }
    EXPECT_EQ(lines, 2u + 3u * kJobs + 2u * (accepted / 3001 + refused) + 1u);
}

} // namespace
