// Runs the benchmarks under Wine and prints a table, the summary lines and the
// goals. Speed is reported, not judged: the exit code is non-zero only when a
// benchmark found that the work it timed was not done.
//
//   zel_bench [--quick] [--only=memory,capture,enum,spooler]

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>

#include "bench/Bench.h"
#include "common/AdvapiRegistry.h"
#include "harness/PortSupport.h"
#include "harness/SpoolerHarness.h"

namespace zelbench {

double Stopwatch::Seconds() const {
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start_.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    const std::size_t middle = samples.size() / 2;
    return samples.empty()      ? 0.0
           : samples.size() % 2 ? samples[middle]
                                : (samples[middle - 1] + samples[middle]) / 2.0;
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

double MegabytesPerSecond(std::uint64_t bytes, double seconds) {
    return seconds > 0.0 ? static_cast<double>(bytes) / seconds / 1e6 : 0.0;
}

const std::uint8_t* Stream(std::uint64_t offset) {
    static const std::size_t period = kMiB + 4099;
    static const std::vector<std::uint8_t> bytes = [] {
        std::vector<std::uint8_t> stream(period + kMiB);
        std::uint64_t state = 0x9E3779B97F4A7C15ULL;
        for (std::size_t i = 0; i < stream.size(); ++i) {
            // xorshift64 for one period, then the period again so spans never wrap.
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            stream[i] = i < period ? static_cast<std::uint8_t>(state >> 24) : stream[i - period];
        }
        return stream;
    }();
    return bytes.data() + offset % period;
}

bool FileHoldsStream(const std::wstring& path, std::uint64_t start, std::uint64_t size) {
    const std::string bytes = zeltest::ReadFileBytes(path);
    if (bytes.size() != size) {
        return false;
    }
    for (std::uint64_t offset = 0; offset < size; offset += kMiB) {
        const std::size_t span =
            static_cast<std::size_t>(std::min<std::uint64_t>(kMiB, size - offset));
        if (std::memcmp(bytes.data() + offset, Stream(start + offset), span) != 0) {
            return false;
        }
    }
    return true;
}

void Results::Row(const std::string& item, const std::string& label, const std::string& value,
                  const std::string& unit, const std::string& notes) {
    char line[512];
    std::snprintf(line, sizeof line, "%-24s %-26s %10s %-7s %s", item.c_str(), label.c_str(),
                  value.c_str(), unit.c_str(), notes.c_str());
    std::string text = line;
    text.erase(text.find_last_not_of(' ') + 1);
    rows.push_back(text);
}

bool Results::Check(bool ok, const std::string& what) {
    if (!ok) {
        failures.push_back(what);
    }
    return ok;
}

MonitorHost::MonitorHost() {
    module_ = LoadLibraryW(zeltest::MonitorDllPath().c_str());
    using Init2 = LPMONITOR2(WINAPI*)(PMONITORINIT, PHANDLE);
    auto init2 = module_ ? reinterpret_cast<Init2>(reinterpret_cast<void*>(
                               GetProcAddress(module_, "InitializePrintMonitor2")))
                         : nullptr;
    if (!init2) {
        throw std::runtime_error("cannot load the monitor DLL: " + std::to_string(GetLastError()));
    }
    init_.cbSize = sizeof init_;
    init_.hSpooler = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x5F00BE4C));
    init_.pMonitorReg = zeltools::AdvapiMonitorRegistry();
    init_.bLocal = TRUE;
    monitor_ = init2(&init_, &handle_);
    if (!monitor_) {
        throw std::runtime_error("the monitor DLL returned no table");
    }
}

MonitorHost::~MonitorHost() {
    // The spooler unloads the monitor only after its last call; so do we.
    if (monitor_ && monitor_->pfnShutdown) {
        monitor_->pfnShutdown(handle_);
    }
    FreeLibrary(module_);
}

std::wstring BenchDirectory() {
    const std::wstring directory = zeltest::TempDirectory() + L"zel-bench\\";
    CreateDirectoryW(directory.c_str(), nullptr);
    return directory;
}

int DeleteFiles(const std::wstring& directory, const wchar_t* pattern) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((directory + pattern).c_str(), &found);
    int deleted = 0;
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        deleted += DeleteFileW((directory + found.cFileName).c_str()) != FALSE;
    }
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
    }
    return deleted;
}

void Results::Goal(const std::string& name, double value, double limit, bool atLeast) {
    summary.push_back(name + ": " + Fixed(value, 3));
    const bool met = atLeast ? value >= limit : value <= limit;
    goals.push_back(summary.back() + (atLeast ? " >= " : " <= ") + Fixed(limit, 2) +
                    (met ? ": met" : ": MISSED"));
}

} // namespace zelbench

using namespace zelbench;

int main(int argc, char** argv) {
    Options options;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            // A smoke run: small jobs, few repetitions; the numbers mean little.
            options.repetitions = 3;
            options.captureBytes = std::uint64_t{16} << 20;
            options.spoolerScale = 8;
        } else if (std::strncmp(argv[i], "--only=", 7) == 0) {
            only = std::string(",") + (argv[i] + 7) + ",";
        } else {
            std::fprintf(stderr, "usage: zel_bench [--quick] [--only=section,...]\n");
            return 2;
        }
    }
    // Progress goes to stderr: the dispatcher that the spooler section starts
    // writes its own lines to the same console while it runs.
    auto wanted = [&](const char* section) {
        const bool run =
            only.empty() || only.find(std::string(",") + section + ",") != std::string::npos;
        if (run) {
            std::fprintf(stderr, "zel_bench: %s...\n", section);
        }
        return run;
    };

    Results results;
    results.Row("item", "case", "value", "unit", "notes (times are medians)");
    try {
        MonitorHost host;
        // Memory first, while the process holds nothing but the loaded DLL.
        if (wanted("memory")) {
            RunMemory(host, results);
        }
        if (wanted("capture")) {
            RunCapture(host, options, results);
        }
        if (wanted("enum")) {
            RunEnumPorts(host, options, results);
        }
        if (wanted("spooler")) {
            RunSpooler(options, results);
        }
    } catch (const std::exception& error) {
        results.failures.push_back(std::string("aborted: ") + error.what());
    }

    for (const std::string& row : results.rows) {
        std::printf("%s\n", row.c_str());
    }
    std::printf("\nsummary\n");
    for (const std::string& line : results.summary) {
        std::printf("%s\n", line.c_str());
    }
    std::printf("\ngoals\n");
    for (const std::string& goal : results.goals) {
        std::printf("  %s\n", goal.c_str());
    }
    for (const std::string& failure : results.failures) {
        std::printf("FAILED: %s\n", failure.c_str());
    }
    std::fflush(stdout);
    return results.failures.empty() ? 0 : 1;
}
