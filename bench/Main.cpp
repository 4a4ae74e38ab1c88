// Runs the benchmarks under Wine and prints a table, the summary lines and the
// goals. Speed is reported, not judged: the exit code is non-zero only when a
// benchmark found that the work it timed was not done.
//
//   zel_bench [--quick] [--samples] [--only=capture,fixed,enum,addport,memory,e2e]

#include <cstdio>
#include <cstring>
#include <exception>
#include <set>

#include "bench/Benchmarks.h"

using namespace zelbench;

namespace {

void PrintGoals(const Results& results) {
    std::printf("\ngoals\n");
    for (const std::string& line : JudgeGoals(Goals(), results.summary)) {
        std::printf("  %s\n", line.c_str());
    }
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    std::set<std::string> only;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            // A smoke run: small jobs, few repetitions; the numbers mean little.
            options.repetitions = 3;
            options.jobBytes = std::uint64_t{16} << 20;
            options.growthBytes = {std::uint64_t{4} << 20, std::uint64_t{8} << 20};
            options.endToEndJobs = 3;
        } else if (std::strcmp(argv[i], "--samples") == 0) {
            options.printSamples = true;
        } else if (std::strncmp(argv[i], "--only=", 7) == 0) {
            only = SplitList(argv[i] + 7);
        } else {
            std::fprintf(stderr, "usage: zel_bench [--quick] [--samples] [--only=section,...]\n");
            return 2;
        }
    }
    // Progress goes to stderr: the dispatcher that some sections start writes
    // its own lines to the same console while they run.
    auto wanted = [&](const char* section) {
        const bool run = only.empty() || only.count(section) != 0;
        if (run) {
            std::fprintf(stderr, "zel_bench: %s...\n", section);
        }
        return run;
    };

    Results results;
    try {
        MonitorHost host;
        // Memory first, while the process holds nothing but the loaded DLL.
        if (wanted("memory")) {
            RunMemory(host, options, results);
        }
        if (wanted("capture")) {
            RunCapture(host, options, results);
        }
        if (wanted("fixed")) {
            RunJobFixedCosts(host, options, results);
        }
        if (wanted("enum")) {
            RunEnumPorts(host, options, results);
        }
        if (wanted("addport")) {
            RunAddPortUi(host, options, results);
        }
        if (wanted("e2e")) {
            RunEndToEnd(options, results);
        }
    } catch (const std::exception& error) {
        results.Fail(std::string("aborted: ") + error.what());
    }

    std::printf("%s", FormatTable(results.rows).c_str());
    std::printf("\nsummary\n");
    for (const std::string& line : results.summary) {
        std::printf("%s\n", line.c_str());
    }
    PrintGoals(results);
    for (const std::string& note : results.notes) {
        std::printf("note: %s\n", note.c_str());
    }
    for (const std::string& failure : results.failures) {
        std::printf("FAILED: %s\n", failure.c_str());
    }
    std::fflush(stdout);
    return results.failures.empty() ? 0 : 1;
}
