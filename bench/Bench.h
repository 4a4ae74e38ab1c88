#pragma once

// What every benchmark section shares: a clock, medians, the print stream whose
// copies they check, the results they print and the process's own figures. The
// monitor DLL is loaded once by the test harness's loader.

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/Handles.h"

namespace zeltest {
class SpoolerHarness;
}

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

// A printer that takes RAW jobs on `port`, with Wine's PostScript driver
// installed first when missing; a printer of that name left behind by an
// interrupted run is deleted first. It is deleted again at the end.
class RawPrinter {
public:
    RawPrinter(const std::wstring& name, const std::wstring& port);
    ~RawPrinter();
    RawPrinter(const RawPrinter&) = delete;
    RawPrinter& operator=(const RawPrinter&) = delete;
    // False when it could not be added; the last error then says why.
    bool Ready() const { return printer_.Get() != nullptr; }
    const std::wstring& Name() const { return name_; }

private:
    std::wstring name_;
    zeltools::ScopedPrinter printer_;
};

// Job n of a spooler run: its data starts at its own place in the stream, so
// that a job filed under another job's name shows, and its job key has an
// identifier of its own.
std::uint64_t StreamStart(int job);
std::wstring JobId(int job);
// Job n as one RAW job of `bytes` to `printer` (into `outputFile` when given),
// written in pieces of kPiece as an application writes a large job; true when
// the spooler accepted it.
constexpr std::uint32_t kPiece = 64 * kKiB;
bool PrintJob(const std::wstring& printer, const std::wstring& document, int job,
              std::uint64_t bytes, const std::wstring& outputFile = std::wstring());

struct Options {
    int repetitions = 9;
    std::uint64_t captureBytes = std::uint64_t{256} << 20; // the capture section's job
    int spoolerScale = 1; // divides the job counts of the spooler section
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
    // Records `what` as a failure unless `ok`; returns `ok`.
    bool Check(bool ok, const std::string& what);
};

// A directory of the benchmarks' own under the temporary directory (ends in a
// backslash).
std::wstring BenchDirectory();
// Deletes the files in `directory` whose names match `pattern`; returns how
// many there were.
int DeleteFiles(const std::wstring& directory, const wchar_t* pattern);
// The commit charge of this process, which hosts the monitor.
std::uint64_t PrivateBytes();

void RunMemory(const zeltest::SpoolerHarness& host, Results& results);
void RunCapture(const zeltest::SpoolerHarness& host, const Options& options, Results& results);
void RunEnumPorts(const zeltest::SpoolerHarness& host, const Options& options, Results& results);
void RunSpooler(const Options& options, Results& results);
void RunSoak(int jobs, Results& results);

} // namespace zelbench
