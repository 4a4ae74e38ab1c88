// The monitor's table called directly, as Windows' spooler calls it: the
// capture data path against the two references that bound it, what ports and
// jobs cost in memory, and EnumPorts at scale.

#include <algorithm>
#include <cstdio>
#include <memory>

#include "admin/PortNames.h"
#include "bench/Bench.h"
#include "common/Text.h"
#include "harness/PortSupport.h"
#include "harness/SpoolerHarness.h"
#include "harness/TestRegistry.h"
#include "registry/RegistryLayout.h"

namespace zelbench {

namespace {

namespace Layout = Brambleworth::Zel::Registry;

const wchar_t* const kPort = L"ZEL_BENCH";
// A solicited job: its key names the PS file's directory and nothing is
// started at its end, so the job costs exactly its data path.
const wchar_t* const kJobId = L"0BE4C40C0FFEE000";
const wchar_t* const kDocument = L"Zel bench #%0BE4C40C0FFEE000#%";

std::string ChunkLabel(std::uint32_t chunk) {
    return chunk >= kMiB ? std::to_string(chunk / kMiB) + " MiB"
                         : std::to_string(chunk / kKiB) + " KiB";
}

// Whether the log holds exactly one "..." and one "done" WritePort line per
// chunk and no other WritePort line.
bool LogHasTwoLinesPerChunk(const std::string& log, std::uint64_t chunks) {
    std::uint64_t counts[3] = {}; // "...", "done", anything else
    for (const std::string& line : zeltools::SplitLines(log)) {
        if (line.find("::WritePort: #") != std::string::npos) {
            const std::string tail = line.substr(line.rfind(": ") + 2);
            ++counts[tail == "..." ? 0 : tail == "done" ? 1 : 2];
        }
    }
    return counts[0] == chunks && counts[1] == chunks && counts[2] == 0;
}

template <class Write> bool ForEachChunk(std::uint64_t bytes, std::uint32_t chunk, Write&& write) {
    for (std::uint64_t offset = 0; offset < bytes; offset += chunk) {
        const std::uint32_t size =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(chunk, bytes - offset));
        if (!write(Stream(offset), size)) {
            return false;
        }
    }
    return true;
}

enum Variant { kMonitor, kRaw, kFloor, kVariants };
const char* const kVariantNames[kVariants] = {"monitor", "raw", "floor"};

// One job of `bytes` in chunks of `chunk`, by one variant; the time it took or
// a negative number when the work was not done completely.
class CaptureRun {
public:
    CaptureRun(const zeltest::SpoolerHarness& host, Results& results)
        : host_(host), results_(results) {}

    double Run(Variant variant, std::uint64_t bytes, std::uint32_t chunk) {
        const std::wstring log = variant == kMonitor ? zeltest::PortLogPath(kPort) : floorLog_;
        DeleteFileW(log.c_str());
        const SolicitedKey key(kJobId, directory_);
        std::wstring path;
        double seconds = 0;
        bool ok = variant == kMonitor ? Monitor(bytes, chunk, seconds) && key.Captured(path)
                                      : Reference(variant, bytes, chunk, path, seconds);
        const bool logged = variant == kRaw || LogHasTwoLinesPerChunk(zeltest::ReadFileBytes(log),
                                                                      (bytes + chunk - 1) / chunk);
        ok = results_.Check(ok && FileHoldsStream(path, 0, bytes) && logged,
                            std::string("capture: the ") + kVariantNames[variant] + " run at " +
                                ChunkLabel(chunk) +
                                " did not write the whole stream and its log lines");
        DeleteFileW(path.c_str());
        return ok ? seconds : -1.0;
    }

private:
    // OpenPort, StartDocPort, WritePort per chunk, EndDocPort and ClosePort, as
    // Wine's spooler calls them.
    bool Monitor(std::uint64_t bytes, std::uint32_t chunk, double& seconds) {
        const MONITOR2& table = host_.Monitor();
        std::wstring port = kPort;
        std::wstring document = kDocument;
        std::wstring printer = L"Zel Bench Printer";
        DOC_INFO_1W info{&document[0], nullptr, nullptr};
        // The spooler's thread impersonates the printing user here.
        zeltest::ScopedImpersonation user;
        Stopwatch clock;
        HANDLE handle = nullptr;
        if (!table.pfnOpenPort(host_.MonitorHandle(), &port[0], &handle)) {
            return false;
        }
        bool ok =
            table.pfnStartDocPort(handle, &printer[0], 1, 1, reinterpret_cast<LPBYTE>(&info)) &&
            ForEachChunk(bytes, chunk, [&](const std::uint8_t* data, std::uint32_t size) {
                DWORD written = zeltest::kPoison;
                return table.pfnWritePort(handle, const_cast<LPBYTE>(data), size, &written) &&
                       written == size;
            });
        ok = ok && table.pfnEndDocPort(handle);
        table.pfnClosePort(handle);
        seconds = clock.Seconds();
        return ok;
    }

    // raw: the same chunks into a file made the same way (GetTempFileNameW,
    // _wfopen "wbN"): the physical limit. floor: the same plus the two flushed
    // lines per chunk that WritePort must log: the least the design allows.
    bool Reference(Variant variant, std::uint64_t bytes, std::uint32_t chunk, std::wstring& path,
                   double& seconds) {
        Stopwatch clock;
        std::FILE* log = variant == kFloor ? _wfopen(floorLog_.c_str(), L"a") : nullptr;
        wchar_t name[MAX_PATH + 1] = {};
        std::FILE* file =
            GetTempFileNameW(directory_.c_str(), L"ps", 0, name) ? _wfopen(name, L"wbN") : nullptr;
        const auto line = [&](const char* text) {
            return !log || (std::fputs(text, log) >= 0 && std::fflush(log) == 0);
        };
        bool ok = file && (log || variant == kRaw) &&
                  ForEachChunk(bytes, chunk, [&](const std::uint8_t* data, std::uint32_t size) {
                      return line("       : Brambleworth::Zel::PortMon::WritePort: #1: ...\n") &&
                             std::fwrite(data, 1, size, file) == size &&
                             line("       : Brambleworth::Zel::PortMon::WritePort: #2: done\n");
                  });
        ok = file && std::fclose(file) == 0 && ok;
        ok = (!log || std::fclose(log) == 0) && ok;
        seconds = clock.Seconds();
        path = name;
        return ok;
    }

    const zeltest::SpoolerHarness& host_;
    Results& results_;
    std::wstring directory_ = BenchDirectory();
    std::wstring floorLog_ = BenchDirectory() + L"floor.log";
    zeltest::ScopedPorts ports_{{kPort}};
};

} // namespace

void RunCapture(const zeltest::SpoolerHarness& host, const Options& options, Results& results) {
    CaptureRun run(host, results);
    // One small job of each kind first, untimed: it loads what the first timed
    // run would otherwise pay for.
    for (int variant = 0; variant < kVariants; ++variant) {
        run.Run(static_cast<Variant>(variant), 4 * kMiB, 4 * kKiB);
    }
    // A job of one chunk: what the monitor's own calls add to a small job.
    std::vector<double> small;
    for (int repetition = 0; repetition < options.repetitions; ++repetition) {
        small.push_back(run.Run(kMonitor, 4 * kKiB, 4 * kKiB));
    }
    results.Row("capture 4 KiB job", "monitor", Fixed(Median(small) * 1e3, 2), "ms/job",
                "OpenPort to ClosePort of one solicited job");
    for (std::uint32_t chunk : {4 * kKiB, 64 * kKiB, kMiB}) {
        // With large chunks a job takes a tenth of a second and closing its file
        // varies by tens of milliseconds: more runs steady the medians.
        const int repetitions = chunk >= 64 * kKiB ? 3 * options.repetitions : options.repetitions;
        std::vector<double> samples[kVariants];
        for (int repetition = 0; repetition < repetitions; ++repetition) {
            // The order rotates so that no variant always runs first on a cold
            // cache or last after the others' dirty pages.
            for (int i = 0; i < kVariants; ++i) {
                const Variant variant = static_cast<Variant>((i + repetition) % kVariants);
                const double seconds = run.Run(variant, options.captureBytes, chunk);
                if (seconds < 0) {
                    return;
                }
                samples[variant].push_back(seconds);
            }
        }
        const std::string item =
            "capture " + std::to_string(options.captureBytes >> 20) + " MiB @ " + ChunkLabel(chunk);
        double rate[kVariants];
        for (int variant = 0; variant < kVariants; ++variant) {
            const double seconds = Median(samples[variant]);
            rate[variant] = MegabytesPerSecond(options.captureBytes, seconds);
            results.Row(
                item, kVariantNames[variant], Fixed(rate[variant], 1), "MB/s",
                Fixed(seconds * 1e3, 1) + " ms per job, " +
                    Fixed(seconds * chunk / static_cast<double>(options.captureBytes) * 1e6, 2) +
                    " us per chunk");
        }
        results.Row(item, "monitor/raw", Fixed(rate[kMonitor] / rate[kRaw], 3), "");
        results.Row(item, "monitor/floor", Fixed(rate[kMonitor] / rate[kFloor], 3), "");
        // The monitor does what its design makes it do at least as fast as
        // the plain stdio floor (at 4 KiB a tenth faster), and where the data
        // dominates adds at most 10 % to the bare write.
        if (chunk < kMiB) {
            results.Goal("capture/mandated at " + ChunkLabel(chunk), rate[kMonitor] / rate[kFloor],
                         chunk <= 4 * kKiB ? 1.10 : 1.00, true);
        } else {
            results.Goal("capture/raw at 1 MiB", rate[kMonitor] / rate[kRaw], 0.90, true);
        }
    }
}

void RunMemory(const zeltest::SpoolerHarness& host, Results& results) {
    // The heap grows in large steps: a thousand ports and 160 jobs give the
    // cost of one.
    const unsigned portCount = 1000;
    const unsigned jobCount = 160;
    std::vector<std::wstring> names;
    for (unsigned i = 0; i < portCount; ++i) {
        names.push_back(L"ZEL_BENCH_MEM_" + std::to_wstring(i));
    }
    zeltest::ScopedPorts ports(names);
    const SolicitedKey key(kJobId, BenchDirectory());
    const MONITOR2& table = host.Monitor();

    const std::uint64_t before = PrivateBytes();
    std::vector<HANDLE> handles;
    for (std::wstring& name : names) {
        HANDLE port = nullptr;
        if (table.pfnOpenPort(host.MonitorHandle(), &name[0], &port)) {
            handles.push_back(port);
        }
    }
    const std::uint64_t idle = PrivateBytes();
    std::wstring document = kDocument;
    DOC_INFO_1W info{&document[0], nullptr, nullptr};
    std::vector<BYTE> chunk(4 * kKiB, 0x5A);
    unsigned started = 0;
    for (unsigned i = 0; i < jobCount && i < handles.size(); ++i) {
        DWORD written = zeltest::kPoison;
        started +=
            table.pfnStartDocPort(handles[i], nullptr, i + 1, 1, reinterpret_cast<LPBYTE>(&info)) &&
            table.pfnWritePort(handles[i], chunk.data(), static_cast<DWORD>(chunk.size()),
                               &written) &&
            written == chunk.size();
    }
    const std::uint64_t busy = PrivateBytes();
    // The jobs end with their ports; their PS files and logs go with the run.
    for (HANDLE port : handles) {
        table.pfnClosePort(port);
    }
    for (const std::wstring& name : names) {
        zeltest::DeletePortLog(name);
    }
    DeleteFiles(BenchDirectory(), L"ps*.tmp");
    if (!results.Check(handles.size() == portCount && started == jobCount,
                       "memory: " + std::to_string(handles.size()) + " ports opened, " +
                           std::to_string(started) + " jobs started")) {
        return;
    }
    const auto kib = [](std::uint64_t after, std::uint64_t from, unsigned count) {
        return Fixed((static_cast<double>(after) - static_cast<double>(from)) / 1024.0 / count, 1);
    };
    results.Row("memory", "DLL loaded, no port", kib(before, 0, 1), "KiB",
                "private bytes of the whole process");
    results.Row("memory", "per idle port", kib(idle, before, portCount), "KiB",
                "from 1000 open ports");
    results.Row("memory", "per job in flight", kib(busy, idle, jobCount), "KiB",
                "from 160 jobs, one 4 KiB chunk written each");
}

void RunEnumPorts(const zeltest::SpoolerHarness& host, const Options& options, Results& results) {
    const unsigned counts[] = {10, 100, 1000};
    double perPort[3] = {};
    for (int c = 0; c < 3; ++c) {
        const unsigned count = counts[c];
        std::vector<std::wstring> names;
        for (unsigned n = 1; n <= count; ++n) {
            names.push_back(Brambleworth::Zel::PortMon::GeneratedPortName(n));
        }
        zeltest::ScopedPorts ports(names);
        DWORD needed = 0;
        DWORD returned = 0;
        host.Monitor().pfnEnumPorts(host.MonitorHandle(), nullptr, 2, nullptr, 0, &needed,
                                    &returned);
        std::vector<BYTE> buffer(needed ? needed : 1);
        // One listing into a buffer that fits: every port with this monitor's name.
        const auto listAll = [&] {
            const auto* listed = reinterpret_cast<const PORT_INFO_2W*>(buffer.data());
            return host.Monitor().pfnEnumPorts(host.MonitorHandle(), nullptr, 2, buffer.data(),
                                               needed, &needed, &returned) &&
                   returned == count &&
                   std::all_of(listed, listed + count, [](const PORT_INFO_2W& port) {
                       return port.pMonitorName &&
                              lstrcmpW(port.pMonitorName, Layout::kMonitorName) == 0;
                   });
        };
        // Enough calls per sample that one sample lasts about 50 ms.
        Stopwatch probe;
        bool ok = listAll();
        const int iterations = static_cast<int>(0.05 / std::max(probe.Seconds(), 1e-6)) + 1;
        std::vector<double> samples;
        for (int repetition = 0; ok && repetition < options.repetitions; ++repetition) {
            Stopwatch clock;
            for (int i = 0; i < iterations; ++i) {
                ok = listAll() && ok;
            }
            samples.push_back(clock.Seconds() / iterations);
        }
        if (!results.Check(ok,
                           "enumports: " + std::to_string(count) + " ports were not all listed")) {
            return;
        }
        perPort[c] = Median(samples) / count;
        results.Row("enumports level 2", std::to_string(count) + " ports",
                    Fixed(Median(samples) * 1e3, 3), "ms/call",
                    Fixed(perPort[c] * 1e6, 2) + " us per port, " + std::to_string(needed) +
                        " bytes");
    }
    // Listing ports is linear in their number.
    results.Goal("enumports per-port cost 1000/10", perPort[2] / perPort[0], 1.2, false);
}

} // namespace zelbench
