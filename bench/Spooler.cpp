// RAW jobs end to end through Wine's spooler, printed from threads of one
// process (Wine mixes up jobs that several processes print at once): to a
// printer on one of the monitor's ports, solicited (the job key takes the PS
// file, nothing is started) and unsolicited (the monitor starts zel-dispatch,
// which files the job, and waits for it), against a printer on Wine's FILE:
// port with an output file per job: the print-to-file a user would pick instead.

#include <atomic>
#include <memory>

#include "bench/Bench.h"
#include "common/Spooler.h"
#include "common/Text.h"
#include "common/Wine.h"
#include "harness/PortSupport.h"
#include "harness/SpoolerHarness.h"
#include "harness/TestRegistry.h"
#include "registry/RegistryLayout.h"

namespace zelbench {

namespace {

namespace Layout = Brambleworth::Zel::Registry;

const wchar_t* const kPort = L"ZEL_BENCH_SPOOLER";
const wchar_t* const kDriver = L"Zel Bench PostScript";
constexpr int kThreads = 2;

enum Kind { kSolicited, kUnsolicited, kFile, kKinds };
const char* const kKindNames[kKinds] = {"solicited", "unsolicited", "file port"};

// Job n's data starts at its own place in the stream, so that a job filed
// under another job's name shows.
std::uint64_t StreamStart(int job) {
    return static_cast<std::uint64_t>(job) * 7919;
}

std::wstring JobId(int job) {
    wchar_t id[17];
    swprintf(id, 17, L"0BE4C40C%08X", static_cast<unsigned>(job));
    return id;
}

const wchar_t* const kZelPrinter = L"Zel Bench Spooler";
const wchar_t* const kFilePrinter = L"Zel Bench File";

// A printer that takes RAW jobs, after removing one an interrupted run may
// have left behind; false when it could not be added.
bool AddPrinter(const wchar_t* name, const wchar_t* port, zeltools::ScopedPrinter& printer) {
    std::wstring printerName = name;
    PRINTER_DEFAULTSW all{nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (OpenPrinterW(&printerName[0], printer.Out(), &all)) {
        DeletePrinter(printer.Get());
    }
    return zeltools::AddRawPrinter(name, port, kDriver, printer);
}

// One RAW job of `bytes` from the stream, written in 64 KiB pieces as an
// application writes a large job.
bool PrintJob(std::wstring printerName, std::wstring document, std::wstring outputFile,
              std::uint64_t start, std::uint64_t bytes) {
    zeltools::ScopedPrinter printer;
    std::wstring datatype = L"RAW";
    DOC_INFO_1W info{&document[0], outputFile.empty() ? nullptr : &outputFile[0], &datatype[0]};
    if (!OpenPrinterW(&printerName[0], printer.Out(), nullptr) ||
        !StartDocPrinterW(printer.Get(), 1, reinterpret_cast<LPBYTE>(&info))) {
        return false;
    }
    bool ok = true;
    for (std::uint64_t offset = 0; ok && offset < bytes; offset += 64 * kKiB) {
        const DWORD size = static_cast<DWORD>(std::min<std::uint64_t>(64 * kKiB, bytes - offset));
        DWORD written = 0;
        ok = WritePrinter(printer.Get(), const_cast<std::uint8_t*>(Stream(start + offset)), size,
                          &written) &&
             written == size;
    }
    return EndDocPrinter(printer.Get()) && ok;
}

class SpoolerBench {
public:
    SpoolerBench()
        : directory_(BenchDirectory()), dispatched_(directory_ + L"dispatched\\"),
          printed_(directory_ + L"printed\\"), ports_({kPort}) {
        CreateDirectoryW(dispatched_.c_str(), nullptr);
        CreateDirectoryW(printed_.c_str(), nullptr);
        zeltest::SetString(HKEY_LOCAL_MACHINE, zeltest::PortKeyPath(kPort),
                           Layout::kPrintDispatcherFilePathValue,
                           L"\"" + zeltest::ProgramDirectory() + L"zel-dispatch.exe\" --out \"" +
                               dispatched_.substr(0, dispatched_.size() - 1) + L"\" --log \"" +
                               directory_ + L"dispatch.log\"");
        // Any listing loads the monitor, and with it the spooler's routing to
        // the new port.
        DWORD needed = 0;
        DWORD returned = 0;
        EnumPortsW(nullptr, 1, nullptr, 0, &needed, &returned);
        ready_ = (zeltools::InstallWinePostScriptDriver(kDriver) ||
                  GetLastError() == ERROR_PRINTER_DRIVER_ALREADY_INSTALLED) &&
                 AddPrinter(kZelPrinter, kPort, zel_) && AddPrinter(kFilePrinter, L"FILE:", file_);
    }
    ~SpoolerBench() {
        for (zeltools::ScopedPrinter* printer : {&zel_, &file_}) {
            if (printer->Get()) {
                DeletePrinter(printer->Get());
            }
        }
        DeleteFiles(directory_, L"dispatch.log");
        RemoveDirectoryW(dispatched_.c_str());
        RemoveDirectoryW(printed_.c_str());
        zeltest::DeletePortLog(kPort);
    }

    bool Ready() const { return ready_; }

    // `jobs` jobs of one kind from kThreads threads; the wall time from the
    // first job's start to the last one's end, or a negative number when a job
    // failed or its bytes did not arrive where they belong.
    double Batch(Kind kind, int jobs, std::uint64_t bytes, Results& results) {
        std::vector<std::unique_ptr<zeltest::ScopedJobKey>> keys;
        for (int job = 0; kind == kSolicited && job < jobs; ++job) {
            keys.push_back(std::make_unique<zeltest::ScopedJobKey>(JobId(job)));
            zeltest::SetString(HKEY_CURRENT_USER, keys.back()->Path(), Layout::kTempDirPathValue,
                               directory_);
        }
        std::atomic<int> next{0};
        std::atomic<int> failed{0};
        const auto print = [&] {
            for (int job; (job = next++) < jobs;) {
                const bool ok = kind == kFile ? PrintJob(kFilePrinter, Document(job),
                                                         OutputFile(job), StreamStart(job), bytes)
                                              : PrintJob(kZelPrinter,
                                                         kind == kSolicited
                                                             ? L"Zel bench #%" + JobId(job) + L"#%"
                                                             : Document(job),
                                                         L"", StreamStart(job), bytes);
                failed += !ok;
            }
        };
        Stopwatch clock;
        {
            // Threads of one process: Wine mixes up jobs printed at once from
            // different processes.
            std::vector<std::unique_ptr<zeltest::TestThread>> threads;
            for (int thread = 0; thread < kThreads; ++thread) {
                threads.push_back(std::make_unique<zeltest::TestThread>(print));
            }
        } // joined as they go
        const double seconds = clock.Seconds();
        int arrived = 0;
        for (int job = 0; job < jobs; ++job) {
            std::wstring path =
                kind == kFile ? OutputFile(job) : dispatched_ + Document(job) + L".ps";
            if (kind == kSolicited) {
                zeltest::ReadString(HKEY_CURRENT_USER, keys[job]->Path(), Layout::kPSFilePathValue,
                                    path);
            }
            arrived += FileHoldsStream(path, StreamStart(job), bytes);
            DeleteFileW(path.c_str());
        }
        DeleteFiles(dispatched_, L"*.json");
        const bool ok =
            results.Check(failed == 0 && arrived == jobs,
                          std::string("spooler: ") + kKindNames[kind] + ": " +
                              std::to_string(failed) + " jobs failed, " + std::to_string(arrived) +
                              " of " + std::to_string(jobs) + " arrived whole");
        return ok ? seconds : -1.0;
    }

private:
    static std::wstring Document(int job) { return L"zel bench " + std::to_wstring(job); }
    std::wstring OutputFile(int job) const {
        return printed_ + L"job " + std::to_wstring(job) + L".prn";
    }

    std::wstring directory_;
    std::wstring dispatched_;
    std::wstring printed_;
    zeltest::ScopedPorts ports_;
    zeltools::ScopedPrinter zel_;
    zeltools::ScopedPrinter file_;
    bool ready_ = false;
};

} // namespace

void RunSpooler(const Options& options, Results& results) {
    SpoolerBench bench;
    if (!results.Check(bench.Ready(),
                       "spooler: cannot add the printers: " + std::to_string(GetLastError()))) {
        return;
    }
    // Jobs per batch: unsolicited jobs each start a process, so fewer of them.
    struct Size {
        std::uint64_t bytes;
        int jobs[kKinds];
        const char* label;
    } const sizes[] = {{4 * kKiB, {100, 10, 100}, "4 KiB"}, {16 * kMiB, {12, 4, 12}, "16 MiB"}};
    // One batch of each first, untimed: it loads the driver, the monitor and
    // the dispatcher's files for the first time.
    for (int kind = 0; kind < kKinds; ++kind) {
        bench.Batch(static_cast<Kind>(kind), 2, 4 * kKiB, results);
    }
    const int rounds = std::max(3, options.repetitions / 3);
    for (const Size& size : sizes) {
        std::vector<double> rates[kKinds];
        for (int round = 0; round < rounds; ++round) {
            for (int i = 0; i < kKinds; ++i) {
                const Kind kind = static_cast<Kind>((i + round) % kKinds);
                const int jobs = std::max(2, size.jobs[kind] / options.spoolerScale);
                const double seconds = bench.Batch(kind, jobs, size.bytes, results);
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
                     Median(rates[kSolicited]) / Median(rates[kFile]), 0.8, true);
    }
    // Wine's spooler loads a third-party monitor (here the Wine host and the
    // DLL) for every job and unloads it after; its own local port stays
    // loaded. Opening and closing each monitor's transceive channel shows the
    // difference.
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
