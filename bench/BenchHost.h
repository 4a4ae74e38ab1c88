#pragma once

// What the benchmarks need from the system: a clock, the monitor DLL loaded the
// way the spooler loads it (with a registry table that goes straight to
// advapi32 and records nothing, so that the table itself costs what the
// spooler's would), and the files the benchmarks write and check.

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench/BenchFiles.h"
#include "bench/BenchSupport.h"
#include "harness/SpoolerHarness.h"

namespace zelbench {

class Stopwatch {
public:
    Stopwatch();
    void Restart();
    double Seconds() const;

private:
    LARGE_INTEGER start_;
};

// The monitor DLL beside this program, initialised once for the whole run as
// the spooler initialises it: a MONITORINIT that outlives every call.
class MonitorHost {
public:
    MonitorHost();
    ~MonitorHost();
    MonitorHost(const MonitorHost&) = delete;
    MonitorHost& operator=(const MonitorHost&) = delete;

    const MONITOR2& Table() const { return *monitor_; }
    const MONITORUI& Ui() const { return *ui_; }
    HANDLE Handle() const { return handle_; }

private:
    HMODULE module_ = nullptr;
    MONITORINIT init_{};
    HANDLE handle_ = nullptr;
    const MONITOR2* monitor_ = nullptr;
    const MONITORUI* ui_ = nullptr;
};

// The directory that holds this program (ends in a backslash).
using zeltest::ProgramDirectory;
// GetTempPathW's directory (ends in a backslash).
std::wstring TempDirectory();
// A directory of the benchmarks' own under the temporary directory, created
// when missing (ends in a backslash).
std::wstring BenchDirectory();
// The process's private bytes (committed memory of its own).
std::uint64_t PrivateBytes();

} // namespace zelbench
