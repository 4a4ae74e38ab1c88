// A soak run through Wine's spooler: thousands of RAW jobs of mixed sizes on
// several ports from several threads of this process, which hosts the monitor
// as the spooler's process does. Most jobs are solicited; some are handed to a
// dispatcher (zel-dispatch on two ports, one that always fails on the third);
// some are abandoned half-way, the port closed before the job's end as when a
// job is deleted from the queue. Every finished job is checked byte for byte
// and every failure where it must be recorded. The process's handle count and
// private bytes are read between three phases, with no job in flight; handles
// that keep growing after the first phase fail the run.

#include <algorithm>
#include <atomic>
#include <memory>

#include "bench/Bench.h"
#include "common/Text.h"
#include "harness/PortSupport.h"
#include "harness/SpoolerHarness.h"
#include "harness/TestDispatcher.h"

namespace zelbench {

namespace {

constexpr int kThreads = 4;
constexpr int kPorts = 3;
const wchar_t* const kPortNames[kPorts] = {L"ZEL_SOAK_1:", L"ZEL_SOAK_2:", L"ZEL_SOAK_3:"};
const wchar_t* const kPrinterNames[kPorts] = {L"Zel Soak 1", L"Zel Soak 2", L"Zel Soak 3"};
constexpr int kFailingPort = 2; // its dispatcher exits with kDispatcherExit
constexpr int kDispatcherExit = 9;
// Sizes around the spooler's 4 KiB chunks and the 64 KiB pieces written.
const std::uint64_t kSizes[] = {1, 4 * kKiB, 4 * kKiB + 1, 60000, 300001, kMiB + 3, 3 * kMiB};

enum Fate { kSolicited, kDispatched, kDispatchFails, kAbandoned, kFates };
const char* const kFateNames[kFates] = {"solicited", "dispatched", "dispatcher failed",
                                        "abandoned"};

// One job in twenty goes to each dispatcher, one in ten is abandoned.
Fate FateOf(int job) {
    const int slot = job % 20;
    return slot == 3        ? kDispatched
           : slot == 13     ? kDispatchFails
           : slot % 10 == 7 ? kAbandoned
                            : kSolicited;
}

// The system's handle table as NtQuerySystemInformation gives it
// (SystemHandleInformation).
struct HandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ULONG access;
};
struct HandleTable {
    ULONG count;
    HandleEntry entries[1];
};

// This process's open handles. Wine answers GetProcessHandleCount with 0, so
// the count comes from the system's handle table there.
DWORD HandleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) {
        return count;
    }
    using Query = LONG(WINAPI*)(int, void*, ULONG, ULONG*);
    const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    constexpr int kSystemHandleInformation = 16;
    std::vector<std::uint8_t> buffer(1 << 20);
    ULONG needed = 0;
    while (query && query(kSystemHandleInformation, buffer.data(),
                          static_cast<ULONG>(buffer.size()), &needed) != 0) {
        if (buffer.size() >= (64u << 20)) {
            return 0;
        }
        buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed));
    }
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    for (ULONG i = 0; query && i < table->count; ++i) {
        count += table->entries[i].ownerPid == GetCurrentProcessId();
    }
    return count;
}

// The job written through a port handle, which Wine maps straight onto the
// monitor's OpenPort, StartDocPort and WritePort, and then closed without
// ending the document: ClosePort ends the job.
bool Abandon(const std::wstring& port, std::wstring document, int job, std::uint64_t size) {
    zeltools::ScopedPrinter handle;
    std::wstring name = port + L", Port";
    std::wstring datatype = L"RAW";
    DOC_INFO_1W info{&document[0], nullptr, &datatype[0]};
    if (!OpenPrinterW(&name[0], handle.Out(), nullptr) ||
        !StartDocPrinterW(handle.Get(), 1, reinterpret_cast<LPBYTE>(&info))) {
        return false;
    }
    const DWORD half = static_cast<DWORD>(std::min<std::uint64_t>(size / 2 + 1, kPiece));
    DWORD written = 0;
    return WritePrinter(handle.Get(), const_cast<std::uint8_t*>(Stream(StreamStart(job))), half,
                        &written) &&
           written == half;
}

// The ports, their dispatchers and printers, and how many jobs of each fate
// went as they should.
struct Soak {
    Soak() {
        for (int port = 0; port < kPorts; ++port) {
            run.AddPort(
                kPortNames[port],
                port == kFailingPort
                    ? zeltest::DispatcherCommand(run.Directory() + L"failing.txt", kDispatcherExit)
                    : std::wstring());
            ready = run.AddPrinter(kPrinterNames[port], kPortNames[port]) && ready;
        }
    }

    // Each dispatcher failure left one error line in its port's log, and no
    // other job left one; every abandoned job left its partial PS file.
    void Report(int jobs, Results& results) {
        int planned[kFates] = {};
        for (int job = 0; job < jobs; ++job) {
            ++planned[FateOf(job)];
        }
        std::string line = "soak jobs as planned:";
        for (int fate = 0; fate < kFates; ++fate) {
            results.Check(done[fate] == planned[fate], std::string("soak: ") + kFateNames[fate] +
                                                           ": " + std::to_string(done[fate]) +
                                                           " of " + std::to_string(planned[fate]) +
                                                           " jobs went as they should");
            line += std::string(" ") + kFateNames[fate] + " " + std::to_string(done[fate]) + "/" +
                    std::to_string(planned[fate]) + (fate + 1 < kFates ? "," : "");
        }
        results.summary.push_back(line);
        for (int port = 0; port < kPorts; ++port) {
            const int expected = port == kFailingPort ? planned[kDispatchFails] : 0;
            const int errors = ErrorLines(zeltest::ReadPortLog(kPortNames[port]));
            results.Check(errors == expected, "soak: " + zeltools::ToUtf8(kPortNames[port]) +
                                                  " logged " + std::to_string(errors) +
                                                  " errors, not " + std::to_string(expected));
        }
        const int leftovers = DeleteFiles(run.Directory(), L"ps*.tmp");
        results.Check(leftovers == planned[kAbandoned], "soak: " + std::to_string(leftovers) +
                                                            " PS files left, not one for each of " +
                                                            std::to_string(planned[kAbandoned]) +
                                                            " abandoned jobs");
    }

    static int ErrorLines(const std::string& log) {
        const std::vector<std::string> lines = zeltools::SplitLines(log);
        return static_cast<int>(std::count_if(lines.begin(), lines.end(), [](const auto& line) {
            return line.rfind("ERROR  : ", 0) == 0;
        }));
    }

    // Whether job `job` went as its fate says.
    bool Job(int job) {
        const Fate fate = FateOf(job);
        const std::uint64_t size = kSizes[job % (sizeof kSizes / sizeof kSizes[0])];
        const int port = fate == kDispatched      ? job % 2
                         : fate == kDispatchFails ? kFailingPort
                                                  : job % kPorts;
        std::unique_ptr<SolicitedKey> key;
        std::wstring document = L"zel soak " + std::to_wstring(job);
        if (fate == kSolicited || fate == kAbandoned) {
            key = std::make_unique<SolicitedKey>(JobId(job), run.Directory());
            document = L"Zel soak #%" + JobId(job) + L"#%";
        }
        if (fate == kAbandoned) {
            std::wstring path;
            return Abandon(kPortNames[port], document, job, size) && !key->PSFile(path);
        }
        const bool printed = PrintJob(kPrinterNames[port], document, job, size).empty();
        return fate == kDispatchFails ? !printed
                                      : run.Arrived(key.get(), document, job, size) && printed;
    }

    SpoolerRun run{BenchDirectory() + L"soak\\"};
    bool ready = true;
    std::atomic<int> done[kFates] = {};
};

} // namespace

void RunSoak(int jobs, Results& results) {
    Soak soak;
    if (!results.Check(soak.ready, "soak: cannot add the printers")) {
        return;
    }
    // The first tenth loads what the process keeps loaded (the driver, the
    // monitor, the dispatcher's files); the figures are read after it, halfway
    // and at the end.
    const int marks[] = {std::max(kThreads, jobs / 10), jobs / 2, jobs};
    const char* const names[] = {"start", "middle", "end"};
    DWORD handles[3] = {};
    std::uint64_t bytes[3] = {};
    Stopwatch clock;
    for (int phase = 0, from = 0; phase < 3; from = marks[phase++]) {
        ForJobs(kThreads, from, marks[phase],
                [&](int job, int) { soak.done[FateOf(job)] += soak.Job(job); });
        handles[phase] = HandleCount();
        bytes[phase] = PrivateBytes();
        results.Row("soak " + std::string(names[phase]),
                    "after " + std::to_string(marks[phase]) + " jobs",
                    std::to_string(handles[phase]), "handles",
                    Fixed(static_cast<double>(bytes[phase]) / 1024.0, 0) + " KiB private");
    }
    soak.Report(jobs, results);
    const double perThousand = 1000.0 / (jobs - marks[0]);
    results.summary.push_back(
        "soak: " + std::to_string(jobs) + " jobs in " + Fixed(clock.Seconds(), 1) +
        " s; growth per 1000 jobs after the first tenth: " +
        Fixed((static_cast<double>(handles[2]) - handles[0]) * perThousand, 1) + " handles, " +
        Fixed((static_cast<double>(bytes[2]) - static_cast<double>(bytes[0])) / 1024.0 *
                  perThousand,
              1) +
        " KiB private");
    // Jobs in flight are done at each reading, so what the monitor or the
    // spooler keeps per job shows as growth from the middle to the end; a few
    // handles of slack for what Wine caches on its own.
    constexpr DWORD kSlack = 8;
    results.Check(handles[2] <= handles[1] + kSlack,
                  "soak: handles grew from " + std::to_string(handles[1]) + " to " +
                      std::to_string(handles[2]) + " in the second half");
}

} // namespace zelbench
