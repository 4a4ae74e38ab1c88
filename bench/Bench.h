#pragma once

// What every benchmark section shares: a clock, medians, the print stream whose
// copies they check, the results they print and the process's own figures. The
// monitor DLL is loaded once by the test harness's loader.

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/Handles.h"
#include "harness/SpoolerHarness.h"
#include "harness/TestRegistry.h"

namespace zelbench {

constexpr std::uint32_t kKiB = 1024;
constexpr std::uint32_t kMiB = 1024 * 1024;

class Stopwatch {
public:
    Stopwatch() { QueryPerformanceCounter(&start_); }
    double Seconds() const;

private:
    LARGE_INTEGER start_;
};

double Median(std::vector<double> samples);
std::string Fixed(double value, int decimals);
double MegabytesPerSecond(std::uint64_t bytes, double seconds);

// A print stream of any length: the byte at offset o is a pseudo-random
// function of o whose period (1 MiB + 4099) is no multiple of any chunk size,
// so a chunk lost, doubled or written out of order shifts the rest of a copy
// against the stream. Stream(o) is valid for kMiB bytes.
const std::uint8_t* Stream(std::uint64_t offset);
// Whether the file holds exactly `size` bytes of the stream from `start` on.
bool FileHoldsStream(const std::wstring& path, std::uint64_t start, std::uint64_t size);

// Job n of a spooler run: its data starts at its own place in the stream, so
// that a job filed under another job's name shows, and its job key has an
// identifier of its own.
std::uint64_t StreamStart(int job);
std::wstring JobId(int job);

// Job n as one RAW job of `bytes` to `printer` (into `outputFile` when given),
// written in pieces of kPiece as an application writes a large job; what failed
// and why, empty when the spooler accepted it.
constexpr std::uint32_t kPiece = 64 * kKiB;
std::string PrintJob(const std::wstring& printer, const std::wstring& document, int job,
                     std::uint64_t bytes, const std::wstring& outputFile = std::wstring());

// The job key of a solicited job, which asks for its PS file in `directory`.
struct SolicitedKey : zeltest::ScopedJobKey {
    SolicitedKey(const std::wstring& id, const std::wstring& directory);
    // The PS file the monitor named; false when it named none.
    bool PSFile(std::wstring& path) const;
    // Whether the monitor named a PS file and recorded no error.
    bool Captured(std::wstring& path) const;
};

// What a run through Wine's spooler sets up: a directory of its own with
// "dispatched\\" in it, ports of the monitor's and printers that take RAW jobs
// on them. All of it goes at the end, with what the jobs left behind.
class SpoolerRun {
public:
    explicit SpoolerRun(const std::wstring& directory);
    ~SpoolerRun();
    SpoolerRun(const SpoolerRun&) = delete;
    SpoolerRun& operator=(const SpoolerRun&) = delete;
    const std::wstring& Directory() const { return directory_; }
    // A port whose jobs go to `dispatcher`, by default zel-dispatch filing
    // them in "dispatched\\".
    void AddPort(const std::wstring& port, const std::wstring& dispatcher = std::wstring());
    // False when it could not be added; the last error then says why.
    bool AddPrinter(const std::wstring& name, const std::wstring& port);
    // Whether job `job` arrived whole: `bytes` of its stream in the PS file
    // that `key` names or, without a key, in the file zel-dispatch made of
    // `document`. Its files go.
    bool Arrived(const SolicitedKey* key, const std::wstring& document, int job,
                 std::uint64_t bytes) const;

private:
    std::wstring directory_;
    std::wstring dispatched_;
    std::vector<std::wstring> portNames_;
    zeltest::ScopedPorts ports_;
    std::vector<std::unique_ptr<zeltools::ScopedPrinter>> printers_;
};

// Jobs [from, to) handed out in order to `threads` threads of this process
// (Wine mixes up jobs that several processes print at once); each call learns
// which thread, 0 to threads - 1, runs it.
void ForJobs(int threads, int from, int to, const std::function<void(int job, int thread)>& job);

struct Options {
    int repetitions = 9;
    std::uint64_t captureBytes = std::uint64_t{256} << 20; // the capture section's job
    int spoolerScale = 1;   // divides the job counts of the spooler section
    int spoolerThreads = 2; // that print in the spooler section, each to its own printers
};

struct Results {
    std::vector<std::string> rows;
    std::vector<std::string> summary;
    std::vector<std::string> goals;
    std::vector<std::string> failures;

    void Row(const std::string& item, const std::string& label, const std::string& value,
             const std::string& unit, const std::string& notes = std::string());
    // A summary line, "<name>: <value>", judged against its goal.
    void Goal(const std::string& name, double value, double limit, bool atLeast);
    bool Check(bool ok, const std::string& what);
};

// A directory of the benchmarks' own under the temporary directory (ends in a
// backslash).
std::wstring BenchDirectory();
// Deletes the files in `directory` that match `pattern`; returns their number.
int DeleteFiles(const std::wstring& directory, const wchar_t* pattern);
// The commit charge of this process, which hosts the monitor.
std::uint64_t PrivateBytes();

void RunMemory(const zeltest::SpoolerHarness& host, Results& results);
void RunCapture(const zeltest::SpoolerHarness& host, const Options& options, Results& results);
void RunEnumPorts(const zeltest::SpoolerHarness& host, const Options& options, Results& results);
void RunSpooler(const Options& options, Results& results);
void RunSoak(int jobs, Results& results);

} // namespace zelbench
