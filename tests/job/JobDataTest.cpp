// WritePort through the monitor's table: the PS file holds exactly the data,
// failures leave their number for the job's end, a full disk is survived, and
// concurrent ports do not disturb each other.

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "harness/PortSupport.h"
#include "harness/TestRegistry.h"
#include "monitor/PortContext.h"

using namespace Brambleworth::Zel::PortMon;
using namespace zeltest;

namespace {

constexpr const wchar_t* kPort = L"ZEL_JOBDATA";

PortContext& Port(HANDLE handle) {
    return *static_cast<PortContext*>(handle);
}

BOOL Start(HANDLE port, const wchar_t* document) {
    std::wstring doc = document;
    DOC_INFO_1W info{doc.data(), nullptr, nullptr};
    return Table().pfnStartDocPort(port, nullptr, 1, 1, reinterpret_cast<LPBYTE>(&info));
}

BOOL Write(HANDLE port, const std::string& data, DWORD& written) {
    return Table().pfnWritePort(port, reinterpret_cast<LPBYTE>(const_cast<char*>(data.data())),
                                static_cast<DWORD>(data.size()), &written);
}

// Print-stream-like bytes with plenty of the values that a text-mode file
// would change or stop at.
std::string Bytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string data(size, '\0');
    const char special[] = {'\0', '\n', '\r', '\x1a', '\xff'};
    for (char& c : data) {
        const unsigned r = random();
        c = (r & 3) == 0 ? special[(r >> 2) % 5] : static_cast<char>(r >> 8);
    }
    return data;
}

std::string Repeat(const std::string& text, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

const std::string kChunkLines =
    NormalLine("WritePort", 879, "...") + NormalLine("WritePort", 892, "done");

class JobData : public ::testing::Test {
protected:
    void SetUp() override {
        DeletePortLog(kPort);
        port_ = std::make_unique<OpenedPort>(kPort);
        logStart_ = ReadPortLog(kPort).size();
    }
    void TearDown() override {
        port_.reset();
        for (const std::wstring& file : files_) {
            DeleteFileW(file.c_str());
        }
        DeletePortLog(kPort);
    }
    HANDLE Handle() const { return port_->Get(); }
    std::string LogSinceOpen() const { return ReadPortLog(kPort).substr(logStart_); }
    std::wstring StartJob(HANDLE port, const wchar_t* document = L"data") {
        EXPECT_TRUE(Start(port, document));
        files_.push_back(Port(port).psFilePath);
        return files_.back();
    }

    ScopedPorts ports_{{kPort}};
    std::unique_ptr<OpenedPort> port_;
    std::size_t logStart_ = 0;
    std::vector<std::wstring> files_;
};

TEST_F(JobData, WriteWithoutJobIsAnInconsistency) {
    // errno is whatever an earlier call left; the line shows it as a code.
    struct Case {
        int error;
        std::string sec;
    };
    const Case cases[] = {{0, ""}, {5, SecPiece(5, "0x000005")}};
    std::string expected;
    for (const Case& c : cases) {
        errno = c.error;
        DWORD written = kPoison;
        SetLastError(kPoison);
        EXPECT_FALSE(Write(Handle(), "abc", written));
        EXPECT_EQ(written, kPoison);
        EXPECT_EQ(GetLastError(), kPoison);
        EXPECT_EQ(Port(Handle()).jobError, 7u);
        expected += NormalLine("WritePort", 879, "...") +
                    LogLine("ERROR  : ", "WritePort", 882, "inconsistency: " + c.sec);
    }
    EXPECT_EQ(LogSinceOpen(), expected);
}

TEST_F(JobData, PsFileHoldsExactlyTheChunksOfAMultiMegabyteJob) {
    const std::wstring ps = StartJob(Handle());
    const std::size_t before = ReadPortLog(kPort).size();
    const std::size_t sizes[] = {0, 1, 4095, 4096, 65537, 2, 1 << 20, 4097, 3, 65536, 1 << 21, 7};
    std::string all;
    unsigned seed = 1;
    for (std::size_t size : sizes) {
        const std::string chunk = Bytes(size, seed++);
        DWORD written = kPoison;
        ASSERT_TRUE(Write(Handle(), chunk, written)) << size;
        ASSERT_EQ(written, size);
        all += chunk;
    }
    EXPECT_EQ(ReadPortLog(kPort).substr(before), Repeat(kChunkLines, std::size(sizes)));
    EXPECT_EQ(Port(Handle()).jobError, 0u);
    // ClosePort closes the file and leaves it on disk.
    ASSERT_TRUE(port_->Close());
    const std::string onDisk = ReadFileBytes(ps);
    EXPECT_EQ(onDisk.size(), all.size());
    EXPECT_TRUE(onDisk == all) << "PS file differs from the data written";
}

// The small disk that ctest mounts around this program (see CMakeLists.txt),
// as a Windows path; empty when there is none.
std::wstring SmallDisk(std::string& why) {
    const char* linuxPath = std::getenv("ZEL_TEST_SMALL_DISK");
    if (!linuxPath || !*linuxPath) {
        why = "ZEL_TEST_SMALL_DISK is not set: run through ctest, which mounts the small disk";
        return std::wstring();
    }
    std::wstring path = L"Z:" + Widen(linuxPath);
    for (wchar_t& c : path) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    ULARGE_INTEGER freeBytes, totalBytes;
    if (!GetDiskFreeSpaceExW(path.c_str(), &freeBytes, &totalBytes, nullptr) ||
        totalBytes.QuadPart > 1024 * 1024) {
        why = "no small tmpfs is mounted at " + std::string(linuxPath) +
              " (mounting needs root): the disk-full case is not tested";
        return std::wstring();
    }
    return path;
}

TEST_F(JobData, FullDiskTakesPartOfAChunkAndLaterChunksAreJudgedOnTheirOwn) {
    std::string why;
    const std::wstring disk = SmallDisk(why);
    if (disk.empty()) {
        GTEST_SKIP() << why;
    }
    // A solicited job whose directory is the small disk.
    ScopedJobKey key(L"D15CF011D15CF011");
    SetString(HKEY_CURRENT_USER, key.Path(), L"TempDirPath", disk);
    const std::wstring ps = StartJob(Handle(), L"#%D15CF011D15CF011#%");
    ASSERT_EQ(ps.compare(0, disk.size(), disk), 0) << Narrow(ps);

    // A first chunk that the runtime keeps in its file buffer.
    const std::string head = Bytes(1000, 6);
    DWORD written = kPoison;
    ASSERT_TRUE(Write(Handle(), head, written));

    // Leave about 16 KiB free, then send more than that.
    const std::wstring filler = disk + L"\\filler";
    {
        ULARGE_INTEGER freeBytes;
        ASSERT_TRUE(GetDiskFreeSpaceExW(disk.c_str(), &freeBytes, nullptr, nullptr));
        ASSERT_GT(freeBytes.QuadPart, 20 * 1024u);
        const std::string fill(static_cast<std::size_t>(freeBytes.QuadPart) - 16 * 1024, 'f');
        HANDLE file = CreateFileW(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD done = 0;
        WriteFile(file, fill.data(), static_cast<DWORD>(fill.size()), &done, nullptr);
        CloseHandle(file);
    }
    const std::string big = Bytes(64 * 1024, 7);
    // The runtime's own errno for a write to a full disk (ENOSPC on Windows;
    // Wine's runtime reports another number), to compare the logged line with.
    int diskFull = 0;
    {
        const std::wstring probePath = disk + L"\\probe";
        FILE* probe = _wfopen(probePath.c_str(), L"wb");
        ASSERT_NE(probe, nullptr);
        errno = 0;
        EXPECT_LT(std::fwrite(big.data(), 1, big.size(), probe), big.size());
        diskFull = errno;
        std::fclose(probe);
        DeleteFileW(probePath.c_str());
        ASSERT_NE(diskFull, 0);
    }
    char hex[16];
    snprintf(hex, sizeof hex, "0x%06x", static_cast<unsigned>(diskFull));

    const std::size_t before = ReadPortLog(kPort).size();
    written = kPoison;
    EXPECT_FALSE(Write(Handle(), big, written));
    EXPECT_LT(written, big.size());
    EXPECT_GT(written, 0u) << "the part that went into the file buffer counts";
    EXPECT_EQ(Port(Handle()).jobError, 16u);
    EXPECT_EQ(
        ReadPortLog(kPort).substr(before),
        NormalLine("WritePort", 879, "...") +
            LogLine("ERROR  : ", "WritePort", 888, "fwrite() failed: " + SecPiece(diskFull, hex)));

    // With room again, the next chunks succeed; the pending number stays.
    ASSERT_TRUE(DeleteFileW(filler.c_str()));
    const std::string small = Bytes(1000, 8);
    DWORD smallWritten = kPoison;
    EXPECT_TRUE(Write(Handle(), small, smallWritten));
    EXPECT_EQ(smallWritten, small.size());
    EXPECT_TRUE(Write(Handle(), "", smallWritten));
    EXPECT_EQ(Port(Handle()).jobError, 16u);

    // Closing the port mid-job keeps the file: it starts with the first chunk
    // and ends with the last.
    ASSERT_TRUE(port_->Close());
    const std::string onDisk = ReadFileBytes(ps);
    ASSERT_GE(onDisk.size(), head.size() + small.size());
    EXPECT_TRUE(onDisk.compare(0, head.size(), head) == 0);
    EXPECT_TRUE(onDisk.compare(onDisk.size() - small.size(), small.size(), small) == 0);
}

TEST_F(JobData, PortsOnSeveralThreadsKeepTheirOwnDataAndLogs) {
    constexpr int kPorts = 4;
    constexpr int kChunks = 60;
    std::vector<std::wstring> names;
    for (int i = 0; i < kPorts; ++i) {
        names.push_back(L"ZEL_THREAD_" + std::to_wstring(i));
        ports_.Add(names.back());
        DeletePortLog(names.back());
    }
    std::vector<std::string> expected(kPorts);
    std::vector<std::wstring> files(kPorts);
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int i = 0; i < kPorts; ++i) {
        threads.emplace_back([&, i] {
            OpenedPort port(names[i]);
            ScopedImpersonation user;
            if (!Start(port.Get(), L"threaded")) {
                ++failures;
                return;
            }
            files[i] = Port(port.Get()).psFilePath;
            for (int c = 0; c < kChunks; ++c) {
                const std::string chunk = Bytes(1 + (c * 977 + i * 131) % 9000, i * 1000 + c);
                DWORD written = 0;
                if (!Write(port.Get(), chunk, written) || written != chunk.size()) {
                    ++failures;
                }
                expected[i] += chunk;
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    ASSERT_EQ(failures, 0);
    const std::string open =
        NormalLine("OpenPort", 599, "...") + NormalLine("OpenPort", 608, "done");
    const std::string start = NormalLine("StartDocPort", 709, "...") +
                              NormalLine("StartDocPort", 792, "creating an ID for the job...") +
                              NormalLine("StartDocPort", 841, "done");
    for (int i = 0; i < kPorts; ++i) {
        EXPECT_TRUE(ReadFileBytes(files[i]) == expected[i]) << i;
        EXPECT_EQ(ReadPortLog(names[i]), open + start + Repeat(kChunkLines, kChunks) +
                                             NormalLine("ClosePort", 1021, "..."))
            << i;
        DeleteFileW(files[i].c_str());
        DeletePortLog(names[i]);
    }
}

TEST_F(JobData, JobStartAndWritesRacingOnOnePortLoseNothing) {
    // One thread keeps starting new jobs while another writes: each chunk goes
    // whole into whichever job is current, and every log line stays whole.
    constexpr int kJobs = 40;
    constexpr int kWrites = 400;
    std::vector<std::wstring> jobFiles;
    std::atomic<bool> stop{false};
    std::atomic<unsigned long long> accepted{0};
    std::atomic<int> refused{0};
    std::thread starter([&] {
        ScopedImpersonation user;
        for (int j = 0; j < kJobs; ++j) {
            if (Start(Handle(), L"race")) {
                jobFiles.push_back(Port(Handle()).psFilePath);
            }
        }
        stop = true;
    });
    std::thread writer([&] {
        const std::string chunk = Bytes(3001, 99);
        for (int w = 0; w < kWrites || !stop; ++w) {
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
    files_.insert(files_.end(), jobFiles.begin(), jobFiles.end());
    ASSERT_EQ(jobFiles.size(), static_cast<std::size_t>(kJobs));
    ASSERT_TRUE(port_->Close());

    unsigned long long onDisk = 0;
    for (const std::wstring& file : jobFiles) {
        const std::string bytes = ReadFileBytes(file);
        EXPECT_EQ(bytes.size() % 3001, 0u) << "a chunk was split between jobs";
        onDisk += bytes.size();
    }
    EXPECT_EQ(onDisk, accepted.load());

    // Every line is whole: it starts with a tag and a name and ends in CR LF,
    // and there are exactly as many as the calls wrote.
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
