// RAW jobs end to end through Wine's spooler, printed from threads of one
// process: to a printer on one of the monitor's ports, solicited (the job key takes the PS
// file, nothing is started) and unsolicited (the monitor starts zel-dispatch,
// which files the job, and waits for it), against a printer on Wine's FILE:
// port with an output file per job: the print-to-file a user would pick
// instead.

#include <atomic>
#include <memory>

#include "bench/Bench.h"
#include "common/Spooler.h"
#include "common/Text.h"
#include "harness/PortSupport.h"
#include "harness/SpoolerHarness.h"

namespace zelbench {

namespace {

const wchar_t* const kPort = L"ZEL_BENCH_SPOOLER";
constexpr int kThreads = 2;

enum Kind { kSolicited, kUnsolicited, kFile, kKinds };
const char* const kKindNames[kKinds] = {"solicited", "unsolicited", "file port"};

const wchar_t* const kZelPrinter = L"Zel Bench Spooler";
const wchar_t* const kFilePrinter = L"Zel Bench File";

// A solicited job's document names its job key.
std::wstring Document(Kind kind, int job) {
    return kind == kSolicited ? L"Zel bench #%" + JobId(job) + L"#%"
                              : L"zel bench " + std::to_wstring(job);
}

std::wstring OutputFile(const SpoolerRun& run, int job) {
    return run.Directory() + L"job " + std::to_wstring(job) + L".prn";
}

// `jobs` jobs of one kind from kThreads threads; the wall time from the first
// job's start to the last one's end, or a negative number when a job failed or
// its bytes did not arrive where they belong.
double Batch(const SpoolerRun& run, Kind kind, int jobs, std::uint64_t bytes, Results& results) {
    std::vector<std::unique_ptr<SolicitedKey>> keys;
    for (int job = 0; kind == kSolicited && job < jobs; ++job) {
        keys.push_back(std::make_unique<SolicitedKey>(JobId(job), run.Directory()));
    }
    std::atomic<int> failed{0};
    Stopwatch clock;
    ForJobs(kThreads, 0, jobs, [&](int job) {
        failed += !PrintJob(kind == kFile ? kFilePrinter : kZelPrinter, Document(kind, job), job,
                            bytes, kind == kFile ? OutputFile(run, job) : std::wstring());
    });
    const double seconds = clock.Seconds();
    int arrived = 0;
    for (int job = 0; job < jobs; ++job) {
        if (kind == kFile) {
            arrived += FileHoldsStream(OutputFile(run, job), StreamStart(job), bytes);
            DeleteFileW(OutputFile(run, job).c_str());
        } else {
            arrived += run.Arrived(kind == kSolicited ? keys[job].get() : nullptr,
                                   Document(kind, job), job, bytes);
        }
    }
    const bool ok =
        results.Check(failed == 0 && arrived == jobs,
                      std::string("spooler: ") + kKindNames[kind] + ": " + std::to_string(failed) +
                          " jobs failed, " + std::to_string(arrived) + " of " +
                          std::to_string(jobs) + " arrived whole");
    return ok ? seconds : -1.0;
}

} // namespace

void RunSpooler(const Options& options, Results& results) {
    SpoolerRun run(BenchDirectory() + L"spooler\\");
    run.AddPort(kPort);
    if (!results.Check(run.AddPrinter(kZelPrinter, kPort) && run.AddPrinter(kFilePrinter, L"FILE:"),
                       "spooler: cannot add the printers: " + std::to_string(GetLastError()))) {
        return;
    }
    // Jobs per batch: unsolicited jobs each start a process, so fewer of them.
    struct Size {
        std::uint64_t bytes;
        int jobs[kKinds];
        const char* label;
        double goal; // solicited/file at least
    } const sizes[] = {{4 * kKiB, {100, 10, 100}, "4 KiB", 0.8},
                       {16 * kMiB, {12, 4, 12}, "16 MiB", 0.5}};
    // One batch of each first, untimed: it loads the driver, the monitor and
    // the dispatcher's files for the first time.
    for (int kind = 0; kind < kKinds; ++kind) {
        Batch(run, static_cast<Kind>(kind), 2, 4 * kKiB, results);
    }
    const int rounds = std::max(3, options.repetitions / 3);
    for (const Size& size : sizes) {
        std::vector<double> rates[kKinds];
        for (int round = 0; round < rounds; ++round) {
            for (int i = 0; i < kKinds; ++i) {
                const Kind kind = static_cast<Kind>((i + round) % kKinds);
                const int jobs = std::max(2, size.jobs[kind] / options.spoolerScale);
                const double seconds = Batch(run, kind, jobs, size.bytes, results);
                if (seconds < 0) {
                    return;
                }
                rates[kind].push_back(size.bytes < kMiB
                                          ? jobs / seconds
                                          : MegabytesPerSecond(jobs * size.bytes, seconds));
            }
        }
        const std::string item = std::string("spooler RAW ") + size.label;
        const char* unit = size.bytes < kMiB ? "jobs/s" : "MB/s";
        std::string line = std::string("spooler ") + unit + " at " + size.label + ":";
        for (int kind = 0; kind < kKinds; ++kind) {
            results.Row(item, kKindNames[kind], Fixed(Median(rates[kind]), 1), unit,
                        std::to_string(std::max(2, size.jobs[kind] / options.spoolerScale)) +
                            " jobs from " + std::to_string(kThreads) + " threads");
            line += std::string(" ") + kKindNames[kind] + " " + Fixed(Median(rates[kind]), 1) +
                    (kind + 1 < kKinds ? "," : "");
        }
        results.summary.push_back(line);
        results.Row(item, "unsolicited/file",
                    Fixed(Median(rates[kUnsolicited]) / Median(rates[kFile]), 3), "");
        // A solicited job costs little more than printing to a file.
        results.Goal(std::string("spooler solicited/file at ") + size.label,
                     Median(rates[kSolicited]) / Median(rates[kFile]), size.goal, true);
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
