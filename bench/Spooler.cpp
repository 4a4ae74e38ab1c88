// RAW jobs end to end through Wine's spooler, printed from threads of one
// process: to printers on the monitor's ports, solicited (the job key takes the
// PS file, nothing is started) and unsolicited (the monitor starts
// zel-dispatch, which files the job, and waits for it), against printers on
// Wine's FILE: port with an output file per job: the print-to-file a user
// would pick instead.
//
// A print server prints on its ports side by side, and Windows' spooler sends
// one job at a time to each port. So each printing thread has printers of its
// own: one on a port of its own of this monitor, one on FILE: for the
// reference. Wine's spooler runs the jobs of one printer mostly one after the
// other, whichever thread prints them; "solicited on one printer" sends both
// threads' solicited jobs to the first printer, to show what that costs.

#include <memory>

#include "bench/Bench.h"
#include "common/Spooler.h"
#include "common/Text.h"
#include "harness/PortSupport.h"
#include "harness/SpoolerHarness.h"

namespace zelbench {

namespace {

enum Kind { kSolicited, kOnePrinter, kUnsolicited, kFile, kKinds };
const char* const kKindNames[kKinds] = {"solicited", "solicited on one printer", "unsolicited",
                                        "file port"};

// Printer `thread` of each kind; the one-printer case uses the first thread's.
std::wstring Port(int thread) {
    return L"ZEL_BENCH_SPOOLER_" + std::to_wstring(thread + 1);
}
std::wstring ZelPrinter(int thread) {
    return L"Zel Bench Spooler " + std::to_wstring(thread + 1);
}
std::wstring FilePrinter(int thread) {
    return L"Zel Bench File " + std::to_wstring(thread + 1);
}
std::wstring Printer(Kind kind, int thread) {
    return kind == kFile ? FilePrinter(thread) : ZelPrinter(kind == kOnePrinter ? 0 : thread);
}

// A solicited job's document names its job key.
std::wstring Document(Kind kind, int job) {
    return kind == kUnsolicited || kind == kFile ? L"zel bench " + std::to_wstring(job)
                                                 : L"Zel bench #%" + JobId(job) + L"#%";
}

std::wstring OutputFile(const SpoolerRun& run, int job) {
    return run.Directory() + L"job " + std::to_wstring(job) + L".prn";
}

// `jobs` jobs of one kind from `threads` threads; the wall time from the first
// job's start to the last one's end, or a negative number when a job failed or
// its bytes did not arrive where they belong.
double Batch(const SpoolerRun& run, Kind kind, int threads, int jobs, std::uint64_t bytes,
             Results& results) {
    std::vector<std::unique_ptr<SolicitedKey>> keys;
    for (int job = 0; kind != kUnsolicited && kind != kFile && job < jobs; ++job) {
        keys.push_back(std::make_unique<SolicitedKey>(JobId(job), run.Directory()));
    }
    std::vector<std::string> failures(jobs); // what failed, by job
    Stopwatch clock;
    ForJobs(threads, 0, jobs, [&](int job, int thread) {
        failures[job] = PrintJob(Printer(kind, thread), Document(kind, job), job, bytes,
                                 kind == kFile ? OutputFile(run, job) : std::wstring());
    });
    const double seconds = clock.Seconds();
    int failed = 0, arrived = 0;
    std::string firstFailure;
    for (int job = 0; job < jobs; ++job) {
        if (!failures[job].empty() && failed++ == 0) {
            firstFailure = failures[job];
        }
        if (kind == kFile) {
            arrived += FileHoldsStream(OutputFile(run, job), StreamStart(job), bytes);
            DeleteFileW(OutputFile(run, job).c_str());
        } else {
            arrived += run.Arrived(keys.empty() ? nullptr : keys[job].get(), Document(kind, job),
                                   job, bytes);
        }
    }
    const bool ok = results.Check(
        failed == 0 && arrived == jobs,
        std::string("spooler: ") + kKindNames[kind] + ": " + std::to_string(failed) +
            " jobs failed" + (failed ? " (first: " + firstFailure + ")" : std::string()) + ", " +
            std::to_string(arrived) + " of " + std::to_string(jobs) + " arrived whole");
    return ok ? seconds : -1.0;
}

} // namespace

void RunSpooler(const Options& options, Results& results) {
    SpoolerRun run(BenchDirectory() + L"spooler\\");
    const int threads = options.spoolerThreads;
    for (int thread = 0; thread < threads; ++thread) {
        run.AddPort(Port(thread));
        if (!results.Check(run.AddPrinter(ZelPrinter(thread), Port(thread)) &&
                               run.AddPrinter(FilePrinter(thread), L"FILE:"),
                           "spooler: cannot add the printers: " + std::to_string(GetLastError()))) {
            return;
        }
    }
    // Jobs per batch: unsolicited jobs each start a process, so fewer of them.
    struct Size {
        std::uint64_t bytes;
        int jobs[kKinds];
        const char* label;
        double goal; // solicited/file at least
    } const sizes[] = {{4 * kKiB, {100, 100, 10, 100}, "4 KiB", 0.8},
                       {16 * kMiB, {12, 12, 4, 12}, "16 MiB", 0.5}};
    // One batch of each first, untimed: it loads the driver, the monitor and
    // the dispatcher's files for the first time.
    for (int kind = 0; kind < kKinds; ++kind) {
        Batch(run, static_cast<Kind>(kind), threads, 2, 4 * kKiB, results);
    }
    const int rounds = std::max(3, options.repetitions / 3);
    for (const Size& size : sizes) {
        std::vector<double> perJob[kKinds]; // seconds of wall time per job
        for (int round = 0; round < rounds; ++round) {
            for (int i = 0; i < kKinds; ++i) {
                const Kind kind = static_cast<Kind>((i + round) % kKinds);
                const int jobs = std::max(2, size.jobs[kind] / options.spoolerScale);
                const double seconds = Batch(run, kind, threads, jobs, size.bytes, results);
                if (seconds < 0) {
                    return;
                }
                perJob[kind].push_back(seconds / jobs);
            }
        }
        double rates[kKinds];
        for (int kind = 0; kind < kKinds; ++kind) {
            const double seconds = Median(perJob[kind]);
            rates[kind] =
                size.bytes < kMiB ? 1.0 / seconds : MegabytesPerSecond(size.bytes, seconds);
        }
        const std::string item = std::string("spooler RAW ") + size.label;
        const char* unit = size.bytes < kMiB ? "jobs/s" : "MB/s";
        std::string line = std::string("spooler ") + unit + " at " + size.label + ":";
        for (int kind = 0; kind < kKinds; ++kind) {
            results.Row(item, kKindNames[kind], Fixed(rates[kind], 1), unit,
                        std::to_string(std::max(2, size.jobs[kind] / options.spoolerScale)) +
                            " jobs from " + std::to_string(threads) + " threads, " +
                            Fixed(Median(perJob[kind]) * 1e3, 2) + " ms per job");
            line += std::string(" ") + kKindNames[kind] + " " + Fixed(rates[kind], 1) +
                    (kind + 1 < kKinds ? "," : "");
        }
        results.summary.push_back(line);
        for (Kind kind : {kOnePrinter, kUnsolicited}) {
            results.Row(item, std::string(kKindNames[kind]) + "/file",
                        Fixed(rates[kind] / rates[kFile], 3), "");
        }
        // A solicited job costs little more than printing to a file.
        results.Goal(std::string("spooler solicited/file at ") + size.label,
                     rates[kSolicited] / rates[kFile], size.goal, true);
    }
    // Wine's spooler loads and unloads a third-party monitor (here the Wine
    // host, which stays pinned with the DLL) for every job; its own local port
    // stays loaded. Opening and closing each monitor's transceive channel
    // shows what is left of the difference.
    for (const wchar_t* monitor : {L"Tessivane 3 Monitor", L"Local Port"}) {
        std::vector<double> samples;
        for (int repetition = 0; repetition < 2 * options.repetitions; ++repetition) {
            std::wstring name = std::wstring(L",XcvMonitor ") + monitor;
            PRINTER_DEFAULTSW defaults{nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
            zeltools::ScopedPrinter xcv;
            Stopwatch clock;
            results.Check(OpenPrinterW(&name[0], xcv.Out(), &defaults), "spooler: no channel");
            xcv.Reset();
            samples.push_back(clock.Seconds());
        }
        results.Row("spooler monitor load", zeltools::ToUtf8(monitor),
                    Fixed(Median(samples) * 1e3, 2), "ms", "transceive channel opened and closed");
    }
}

} // namespace zelbench
