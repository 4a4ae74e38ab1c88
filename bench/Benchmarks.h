#pragma once

// The benchmark sections. Each appends its table rows, summary lines and
// notes to the shared results, and a failure whenever the work it timed was not
// done completely (the program then exits non-zero).

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "bench/BenchHost.h"
#include "bench/BenchSupport.h"

namespace zelbench {

struct Options {
    int repetitions = 9;
    // The big job of the capture comparison.
    std::uint64_t jobBytes = std::uint64_t{256} << 20;
    // Job sizes of the growth series (the largest is the big job's run).
    std::vector<std::uint64_t> growthBytes = {std::uint64_t{16} << 20, std::uint64_t{64} << 20};
    std::vector<unsigned> enumPortCounts = {10, 100, 1000};
    std::vector<unsigned> addPortPresent = {0, 500, 999};
    int endToEndJobs = 10;
    // Every capture run's time in the notes, for a closer look at the spread.
    bool printSamples = false;
};

struct Results {
    std::vector<Row> rows;
    std::vector<std::string> summary;
    std::vector<std::string> notes;
    std::vector<std::string> failures;
    // Medians that later sections reuse, by name.
    std::map<std::string, double> medians;

    void Fail(const std::string& what) { failures.push_back(what); }
};

void RunCapture(const MonitorHost& host, const Options& options, Results& results);
void RunJobFixedCosts(const MonitorHost& host, const Options& options, Results& results);
void RunEnumPorts(const MonitorHost& host, const Options& options, Results& results);
void RunAddPortUi(const MonitorHost& host, const Options& options, Results& results);
void RunMemory(const MonitorHost& host, const Options& options, Results& results);
void RunEndToEnd(const Options& options, Results& results);

// The port the capture and memory sections use, and its log.
extern const wchar_t* const kBenchPort;
std::wstring PortLogPath(const std::wstring& port);

} // namespace zelbench
