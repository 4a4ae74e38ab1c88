// The capture data path: one job through the monitor's table against the two
// references that bound it, at the chunk sizes that matter, and the job's
// growth with its size.

#include <cstdio>
#include <functional>
#include <memory>

#include "bench/Benchmarks.h"
#include "harness/PortSupport.h"
#include "harness/TestRegistry.h"
#include "registry/RegistryLayout.h"

namespace zelbench {

const wchar_t* const kBenchPort = L"ZEL_BENCH";

std::wstring PortLogPath(const std::wstring& port) {
    return TempDirectory() + L"Brambleworth.Zel.3.PortMon." + port + L".log";
}

namespace {

namespace Layout = Brambleworth::Zel::Registry;

constexpr std::uint32_t kKiB = 1024;
constexpr std::uint32_t kMiB = 1024 * 1024;

// A solicited job: its key names the PS file's directory and nothing is
// started at its end, so the job costs exactly its data path.
const wchar_t* const kJobId = L"0BE4C40C0FFEE000";
const wchar_t* const kDocument = L"Zel bench #%0BE4C40C0FFEE000#%";
const wchar_t* const kPrinter = L"Zel Bench Printer";

// The two lines that WritePort must log for every chunk, as the file holds
// them without their CR LF.
const char* const kWriteBegins = "       : Brambleworth::Zel::PortMon::WritePort: #879: ...";
const char* const kWriteDone = "       : Brambleworth::Zel::PortMon::WritePort: #892: done";

struct Job {
    std::uint64_t bytes;
    std::uint32_t chunk;
    std::uint64_t Chunks() const { return (bytes + chunk - 1) / chunk; }
};

std::string ChunkLabel(std::uint32_t chunk) {
    return chunk >= kMiB ? std::to_string(chunk / kMiB) + " MiB"
                         : std::to_string(chunk / kKiB) + " KiB";
}

std::string SizeLabel(std::uint64_t bytes) {
    return std::to_string(bytes >> 20) + " MiB";
}

// Hands the job's chunks, in order, to `write`; false as soon as one fails.
template <class Write>
bool ForEachChunk(const StreamPattern& pattern, const Job& job, Write&& write) {
    for (std::uint64_t offset = 0; offset < job.bytes; offset += job.chunk) {
        const std::uint64_t left = job.bytes - offset;
        const std::uint32_t size = left < job.chunk ? static_cast<std::uint32_t>(left) : job.chunk;
        if (!write(pattern.At(offset), size)) {
            return false;
        }
    }
    return true;
}

class CaptureBench {
public:
    CaptureBench(const MonitorHost& host, Results& results)
        : host_(host), results_(results), directory_(BenchDirectory()),
          floorLog_(TempDirectory() + L"zel-bench-floor.log"), pattern_(kMiB),
          ports_({kBenchPort}) {
        DeleteFiles(directory_, L"ps*.tmp");
    }

    ~CaptureBench() {
        DeleteFiles(directory_, L"ps*.tmp");
        DeleteFileW(floorLog_.c_str());
        DeleteFileW(PortLogPath(kBenchPort).c_str());
    }

    // The monitor's run: OpenPort, StartDocPort, WritePort per chunk,
    // EndDocPort and ClosePort, as Wine's spooler calls them.
    bool Monitor(const Job& job, double& seconds) {
        PrepareJobKey();
        const std::wstring log = PortLogPath(kBenchPort);
        DeleteFileW(log.c_str());
        const MONITOR2& table = host_.Table();
        std::wstring portName = kBenchPort;
        std::wstring document = kDocument;
        std::wstring printer = kPrinter;
        DOC_INFO_1W info{&document[0], nullptr, nullptr};
        bool ok = true;
        {
            // The spooler's thread impersonates the printing user here.
            zeltest::ScopedImpersonation user;
            Stopwatch clock;
            HANDLE port = nullptr;
            if (!table.pfnOpenPort(host_.Handle(), &portName[0], &port)) {
                return Failed("OpenPort failed: " + std::to_string(GetLastError()));
            }
            ok = table.pfnStartDocPort(port, &printer[0], 1, 1, reinterpret_cast<LPBYTE>(&info));
            if (!ok) {
                results_.Fail("StartDocPort failed");
            }
            const double started = clock.Seconds();
            ok = ok &&
                 ForEachChunk(pattern_, job, [&](const std::uint8_t* data, std::uint32_t size) {
                     DWORD written = zeltest::kPoison;
                     return table.pfnWritePort(port, const_cast<LPBYTE>(data), size, &written) &&
                            written == size;
                 });
            const double written = clock.Seconds();
            if (table.pfnEndDocPort) {
                ok = ok && table.pfnEndDocPort(port);
            } else {
                endDocMissing_ = true;
            }
            const double ended = clock.Seconds();
            table.pfnClosePort(port);
            seconds = clock.Seconds();
            lastPhases_ = {started, written - started, ended - written, seconds - ended};
        }
        if (!ok) {
            return Failed("the monitor refused the job at " + ChunkLabel(job.chunk));
        }
        // The PS file must hold the whole stream and the log two lines a chunk.
        const std::vector<std::wstring> files = FilesIn(directory_, L"ps*.tmp");
        if (files.size() != 1) {
            return Failed("expected one PS file, found " + std::to_string(files.size()));
        }
        ok = CheckStream(files[0], job, "monitor");
        if (table.pfnEndDocPort) {
            std::wstring recorded;
            DWORD errorCode = zeltest::kPoison;
            if (!zeltest::ReadString(HKEY_CURRENT_USER, zeltest::JobKeyPath(kJobId),
                                     Layout::kPSFilePathValue, recorded) ||
                lstrcmpiW(recorded.c_str(), files[0].c_str()) != 0) {
                ok = Failed("the job key does not name the PS file");
            }
            if (!zeltest::ReadDword(HKEY_CURRENT_USER, zeltest::JobKeyPath(kJobId),
                                    Layout::kErrorCodeValue, errorCode) ||
                errorCode != 0) {
                ok = Failed("the job key's ErrorCode is not 0");
            }
        }
        ok = CheckLog(log, job, "monitor") && ok;
        DeleteFileW(files[0].c_str());
        return ok;
    }

    // The physical limit: the same chunks into a file made the same way.
    bool Raw(const Job& job, double& seconds) {
        wchar_t path[MAX_PATH + 1] = {};
        bool ok = true;
        {
            Stopwatch clock;
            if (!GetTempFileNameW(directory_.c_str(), L"ps", 0, path)) {
                return Failed("GetTempFileNameW failed");
            }
            std::FILE* file = _wfopen(path, L"wbN");
            if (!file) {
                return Failed("_wfopen failed");
            }
            ok = ForEachChunk(pattern_, job, [&](const std::uint8_t* data, std::uint32_t size) {
                return std::fwrite(data, 1, size, file) == size;
            });
            const double written = clock.Seconds();
            ok = std::fclose(file) == 0 && ok;
            seconds = clock.Seconds();
            lastRawClose_ = seconds - written;
        }
        ok = ok && CheckStream(path, job, "raw");
        DeleteFileW(path);
        return ok;
    }

    // The least the design allows: the raw writes plus the two flushed lines
    // per chunk that WritePort must log.
    bool Floor(const Job& job, double& seconds) {
        DeleteFileW(floorLog_.c_str());
        const std::string begins = std::string(kWriteBegins) + "\n";
        const std::string done = std::string(kWriteDone) + "\n";
        wchar_t path[MAX_PATH + 1] = {};
        bool ok = true;
        {
            Stopwatch clock;
            std::FILE* log = _wfopen(floorLog_.c_str(), L"a");
            if (!log) {
                return Failed("cannot open the floor's log");
            }
            std::FILE* file = nullptr;
            if (GetTempFileNameW(directory_.c_str(), L"ps", 0, path)) {
                file = _wfopen(path, L"wbN");
            }
            if (file) {
                ok = ForEachChunk(pattern_, job, [&](const std::uint8_t* data, std::uint32_t size) {
                    std::fputs(begins.c_str(), log);
                    std::fflush(log);
                    const bool written = std::fwrite(data, 1, size, file) == size;
                    std::fputs(done.c_str(), log);
                    std::fflush(log);
                    return written;
                });
                ok = std::fclose(file) == 0 && ok;
            } else {
                ok = false;
            }
            ok = std::fclose(log) == 0 && ok;
            seconds = clock.Seconds();
        }
        ok = ok && CheckStream(path, job, "floor") && CheckLog(floorLog_, job, "floor");
        DeleteFileW(path);
        return ok;
    }

    bool EndDocMissing() const { return endDocMissing_; }

    // Where the monitor's last run spent its time.
    struct Phases {
        double openAndStart = 0; // OpenPort and StartDocPort
        double writes = 0;       // every WritePort
        double end = 0;          // EndDocPort
        double close = 0;        // ClosePort
    };
    const Phases& LastPhases() const { return lastPhases_; }
    // How long the raw run's fclose took.
    double LastRawClose() const { return lastRawClose_; }

private:
    void PrepareJobKey() {
        // Fresh every run, so that the values read back are this run's.
        jobKey_.reset();
        jobKey_ = std::make_unique<zeltest::ScopedJobKey>(kJobId);
        zeltest::SetString(HKEY_CURRENT_USER, jobKey_->Path(), Layout::kTempDirPathValue,
                           directory_);
    }

    bool CheckStream(const std::wstring& path, const Job& job, const char* who) {
        std::string why;
        if (!FileHoldsStream(path, pattern_, job.bytes, why)) {
            return Failed(std::string(who) + ": the PS file " + why);
        }
        return true;
    }

    bool CheckLog(const std::wstring& path, const Job& job, const char* who) {
        const LineCounts counts = CountLines(ReadWholeFile(path), kWriteBegins, kWriteDone);
        if (counts.first != job.Chunks() || counts.second != job.Chunks()) {
            return Failed(std::string(who) + ": the log holds " + std::to_string(counts.first) +
                          " \"...\" and " + std::to_string(counts.second) + " \"done\" lines for " +
                          std::to_string(job.Chunks()) + " chunks");
        }
        return true;
    }

    bool Failed(const std::string& what) {
        results_.Fail("capture: " + what);
        return false;
    }

    const MonitorHost& host_;
    Results& results_;
    std::wstring directory_;
    std::wstring floorLog_;
    StreamPattern pattern_;
    zeltest::ScopedPorts ports_;
    std::unique_ptr<zeltest::ScopedJobKey> jobKey_;
    bool endDocMissing_ = false;
    Phases lastPhases_;
    double lastRawClose_ = 0;
};

enum Variant { kMonitor, kRaw, kFloor, kVariants };

} // namespace

void RunCapture(const MonitorHost& host, const Options& options, Results& results) {
    CaptureBench bench(host, results);
    const std::uint32_t chunks[] = {4 * kKiB, 64 * kKiB, kMiB};
    const char* const names[kVariants] = {"monitor", "raw", "floor"};

    // One small job of each kind first, untimed: it loads what the first
    // timed run would otherwise pay for.
    double ignored = 0;
    bench.Monitor({4 * kMiB, 4 * kKiB}, ignored);
    bench.Raw({4 * kMiB, 4 * kKiB}, ignored);
    bench.Floor({4 * kMiB, 4 * kKiB}, ignored);

    for (std::uint32_t chunk : chunks) {
        const Job job{options.jobBytes, chunk};
        // With large chunks a job takes a tenth of a second and closing its
        // file varies by tens of milliseconds: more runs steady the medians.
        const int repetitions = chunk >= 64 * kKiB ? 3 * options.repetitions : options.repetitions;
        std::vector<double> samples[kVariants];
        std::vector<double> phases[4];
        std::vector<double> rawClose;
        for (int repetition = 0; repetition < repetitions; ++repetition) {
            for (int variant : RotatedOrder(kVariants, repetition)) {
                double seconds = 0;
                bool ok = variant == kMonitor ? bench.Monitor(job, seconds)
                          : variant == kRaw   ? bench.Raw(job, seconds)
                                              : bench.Floor(job, seconds);
                if (!ok) {
                    return;
                }
                samples[variant].push_back(seconds);
                if (variant == kMonitor) {
                    phases[0].push_back(bench.LastPhases().openAndStart);
                    phases[1].push_back(bench.LastPhases().writes);
                    phases[2].push_back(bench.LastPhases().end);
                    phases[3].push_back(bench.LastPhases().close);
                } else if (variant == kRaw) {
                    rawClose.push_back(bench.LastRawClose());
                }
            }
        }
        const std::string item = "capture " + SizeLabel(job.bytes) + " @ " + ChunkLabel(chunk);
        // The same comparison within each repetition, where the three runs
        // follow each other and share the machine's state.
        std::vector<double> pairedFloor;
        std::vector<double> pairedRaw;
        for (std::size_t r = 0; r < samples[kMonitor].size(); ++r) {
            pairedFloor.push_back(samples[kFloor][r] / samples[kMonitor][r]);
            pairedRaw.push_back(samples[kRaw][r] / samples[kMonitor][r]);
        }
        if (options.printSamples) {
            std::string line = item + " ms monitor/raw/floor:";
            for (std::size_t r = 0; r < samples[kMonitor].size(); ++r) {
                line += " " + Fixed(samples[kMonitor][r] * 1e3, 1) + "/" +
                        Fixed(samples[kRaw][r] * 1e3, 1) + "/" + Fixed(samples[kFloor][r] * 1e3, 1);
            }
            results.notes.push_back(line);
        }
        double rate[kVariants];
        for (int variant = 0; variant < kVariants; ++variant) {
            const double seconds = Median(samples[variant]);
            rate[variant] = MegabytesPerSecond(job.bytes, seconds);
            results.medians[std::string(names[variant]) + " " + ChunkLabel(chunk)] = seconds;
            results.rows.push_back({item, names[variant], Fixed(rate[variant], 1), "MB/s",
                                    Fixed(seconds * 1e3, 1) + " ms per job, " +
                                        Fixed(seconds / job.Chunks() * 1e6, 2) + " us per chunk"});
        }
        results.rows.push_back({item, "monitor phases", Fixed(Median(phases[1]) * 1e3, 1), "ms",
                                "in WritePort; open+start " + Fixed(Median(phases[0]) * 1e3, 2) +
                                    " ms, EndDocPort " + Fixed(Median(phases[2]) * 1e3, 2) +
                                    " ms, ClosePort " + Fixed(Median(phases[3]) * 1e3, 2) + " ms"});
        results.rows.push_back({item, "raw fclose", Fixed(Median(rawClose) * 1e3, 1), "ms",
                                "closing the PS file alone"});
        results.rows.push_back(
            {item, "monitor/raw", Fixed(rate[kMonitor] / rate[kRaw], 3), "", ""});
        results.rows.push_back(
            {item, "monitor/floor", Fixed(rate[kMonitor] / rate[kFloor], 3), "", ""});
        results.rows.push_back({item, "floor/raw", Fixed(rate[kFloor] / rate[kRaw], 3), "", ""});
        results.rows.push_back({item, "monitor/raw paired", Fixed(Median(pairedRaw), 3), "",
                                "median of the ratios within each repetition"});
        results.rows.push_back({item, "monitor/floor paired", Fixed(Median(pairedFloor), 3), "",
                                "median of the ratios within each repetition"});
        results.medians["monitor/floor " + ChunkLabel(chunk)] = rate[kMonitor] / rate[kFloor];
        results.medians["monitor/raw " + ChunkLabel(chunk)] = rate[kMonitor] / rate[kRaw];
    }
    results.summary.push_back("capture/mandated at 4 KiB: " +
                              Fixed(results.medians["monitor/floor 4 KiB"], 3));
    results.summary.push_back("capture/mandated at 64 KiB: " +
                              Fixed(results.medians["monitor/floor 64 KiB"], 3));
    results.summary.push_back("capture/raw at 1 MiB: " +
                              Fixed(results.medians["monitor/raw 1 MiB"], 3));

    // Growth with the job's size, at the spooler's chunk size: the monitor
    // and the raw reference at each size, all interleaved like the variants
    // above. The data rate counts WritePort alone; the job rate adds the
    // fixed costs and the PS file's closing.
    std::vector<std::uint64_t> sizes = options.growthBytes;
    sizes.push_back(options.jobBytes);
    const int runs = static_cast<int>(sizes.size()) * 2; // even: monitor, odd: raw
    std::vector<std::vector<double>> samples(runs);
    std::vector<std::vector<double>> writes(sizes.size());
    std::vector<std::vector<double>> ends(sizes.size());
    for (int repetition = 0; repetition < options.repetitions; ++repetition) {
        for (int run : RotatedOrder(runs, repetition)) {
            const std::size_t index = static_cast<std::size_t>(run / 2);
            const Job job{sizes[index], 4 * kKiB};
            double seconds = 0;
            if (!(run % 2 == 0 ? bench.Monitor(job, seconds) : bench.Raw(job, seconds))) {
                return;
            }
            samples[run].push_back(seconds);
            if (run % 2 == 0) {
                writes[index].push_back(bench.LastPhases().writes);
                ends[index].push_back(bench.LastPhases().end);
            }
        }
    }
    std::vector<double> rates;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const double monitor = Median(samples[2 * i]);
        const double raw = Median(samples[2 * i + 1]);
        rates.push_back(MegabytesPerSecond(sizes[i], monitor));
        results.rows.push_back(
            {"growth @ 4 KiB", SizeLabel(sizes[i]), Fixed(rates.back(), 1), "MB/s",
             Fixed(monitor * 1e3, 1) + " ms per job; WritePort " +
                 Fixed(MegabytesPerSecond(sizes[i], Median(writes[i])), 1) + " MB/s, EndDocPort " +
                 Fixed(Median(ends[i]) * 1e3, 1) + " ms; raw " +
                 Fixed(MegabytesPerSecond(sizes[i], raw), 1) + " MB/s"});
    }
    results.summary.push_back("capture MB/s " + SizeLabel(sizes.back()) + "/" +
                              SizeLabel(sizes.front()) + ": " +
                              Fixed(rates.back() / rates.front(), 3));
    if (bench.EndDocMissing()) {
        results.notes.push_back("EndDocPort is not in the table yet: jobs ended by ClosePort");
    }
}

} // namespace zelbench
