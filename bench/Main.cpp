// Runs the benchmarks under Wine and prints a table, the summary lines and the
// goals. Speed is reported, not judged: the exit code is non-zero only when a
// benchmark found that the work it timed was not done.
//
//   zel_bench [--quick] [--only=memory,capture,enum,spooler] [--threads=N]
//   zel_bench --soak[=jobs]      (5000 jobs by default; at least 20)

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <stdexcept>

#include "bench/Bench.h"
#include "common/AdvapiRegistry.h"
#include "common/Text.h"
#include "harness/SpoolerHarness.h"

using namespace zelbench;

namespace {

// The benchmark sections named in `only` (",a,b,"; empty: all of them).
void RunSections(const Options& options, const std::string& only, Results& results) {
    // What Windows' spooler gives the monitor: a registry table straight to
    // advapi32 that records nothing, and a spooler handle of its own.
    zeltest::SpoolerHarness host(zeltools::AdvapiMonitorRegistry(),
                                 reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x5F00BE4C)));
    // Progress goes to stderr: the dispatcher that the spooler section starts
    // writes its own lines to the same console while it runs.
    const auto section = [&](const char* name, const std::function<void()>& run) {
        if (only.empty() || only.find(std::string(",") + name + ",") != std::string::npos) {
            std::fprintf(stderr, "zel_bench: %s...\n", name);
            run();
        }
    };
    // Memory first, while the process holds nothing but the loaded DLL.
    section("memory", [&] { RunMemory(host, results); });
    section("capture", [&] { RunCapture(host, options, results); });
    section("enum", [&] { RunEnumPorts(host, options, results); });
    section("spooler", [&] { RunSpooler(options, results); });
}

// The compiler, its thread model and Wine's version: figures depend on them.
std::string BuildDescription() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    using Version = const char*(CDECL*)();
    const auto wine = reinterpret_cast<Version>(
        reinterpret_cast<void*>(ntdll ? GetProcAddress(ntdll, "wine_get_version") : nullptr));
    return std::string("build: ") + ZEL_BENCH_COMPILER + " " + __VERSION__ + ", " +
           ZEL_BENCH_THREAD_MODEL + " thread model, " + ZEL_BENCH_BUILD_TYPE + "; Wine " +
           (wine ? wine() : "none");
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    std::string only;
    unsigned long soakJobs = 0; // a soak run instead of the benchmarks
    unsigned long threads = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            // A smoke run: small jobs, few repetitions; the numbers mean little.
            options.repetitions = 3;
            options.captureBytes = std::uint64_t{16} << 20;
            options.spoolerScale = 8;
        } else if (std::strncmp(argv[i], "--only=", 7) == 0) {
            only = std::string(",") + (argv[i] + 7) + ",";
        } else if (std::strncmp(argv[i], "--threads=", 10) == 0 &&
                   zeltools::ParseNumber(argv[i] + 10, 1, 16, threads)) {
            options.spoolerThreads = static_cast<int>(threads);
        } else if (std::strcmp(argv[i], "--soak") == 0) {
            soakJobs = 5000;
        } else if (std::strncmp(argv[i], "--soak=", 7) != 0 ||
                   !zeltools::ParseNumber(argv[i] + 7, 20, 1000000, soakJobs)) {
            std::fprintf(stderr, "usage: zel_bench [--quick] [--only=section,...] [--threads=N] | "
                                 "--soak[=jobs]\n");
            return 2;
        }
    }
    Results results;
    results.Row("item", "case", "value", "unit", "notes (times are medians)");
    results.summary.push_back(BuildDescription());
    try {
        if (soakJobs) {
            // Only the spooler loads the monitor here, as in a print server.
            std::fprintf(stderr, "zel_bench: soak of %lu jobs...\n", soakJobs);
            RunSoak(static_cast<int>(soakJobs), results);
        } else {
            RunSections(options, only, results);
        }
    } catch (const std::exception& error) {
        results.failures.push_back(std::string("aborted: ") + error.what());
    }

    const auto print = [](const char* heading, const char* prefix,
                          const std::vector<std::string>& lines) {
        std::printf("%s", heading);
        for (const std::string& line : lines) {
            std::printf("%s%s\n", prefix, line.c_str());
        }
    };
    print("", "", results.rows);
    print("\nsummary\n", "", results.summary);
    print("\ngoals\n", "  ", results.goals);
    print("", "FAILED: ", results.failures);
    std::fflush(stdout);
    return results.failures.empty() ? 0 : 1;
}
