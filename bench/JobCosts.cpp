// The fixed costs of a job, without its data: StartDocPort and EndDocPort of
// a solicited job (a job key, nothing started) and of an unsolicited one
// (EndDocPort starts the print dispatcher and waits for it).

#include "bench/Benchmarks.h"
#include "harness/PortSupport.h"
#include "harness/TestRegistry.h"
#include "registry/RegistryLayout.h"

namespace zelbench {

namespace {

namespace Layout = Brambleworth::Zel::Registry;

const wchar_t* const kPort = L"ZEL_BENCH_FIXED";
const wchar_t* const kJobId = L"0BE4C40C0FFEE002";

struct Timings {
    std::vector<double> start;
    std::vector<double> end;
};

// One empty job on an open port; false when the monitor refused a step.
bool TimeOneJob(const MonitorHost& host, HANDLE port, const wchar_t* documentName,
                Timings& timings) {
    const MONITOR2& table = host.Table();
    std::wstring document = documentName;
    std::wstring printer = L"Zel Bench Printer";
    DOC_INFO_1W info{&document[0], nullptr, nullptr};
    double started = 0;
    {
        zeltest::ScopedImpersonation user;
        Stopwatch clock;
        const BOOL ok =
            table.pfnStartDocPort(port, &printer[0], 7, 1, reinterpret_cast<LPBYTE>(&info));
        started = clock.Seconds();
        if (!ok) {
            return false;
        }
    }
    Stopwatch clock;
    const BOOL ended = table.pfnEndDocPort(port);
    const double seconds = clock.Seconds();
    if (!ended) {
        return false;
    }
    timings.start.push_back(started);
    timings.end.push_back(seconds);
    return true;
}

} // namespace

void RunJobFixedCosts(const MonitorHost& host, const Options& options, Results& results) {
    const MONITOR2& table = host.Table();
    if (!table.pfnEndDocPort) {
        results.notes.push_back("fixed costs: EndDocPort is not in the table yet");
        return;
    }
    const std::wstring directory = BenchDirectory();
    const std::wstring outDirectory = directory + L"dispatched";
    const std::wstring dispatcher = ProgramDirectory() + L"zel-dispatch.exe";
    const bool haveDispatcher = GetFileAttributesW(dispatcher.c_str()) != INVALID_FILE_ATTRIBUTES;

    zeltest::ScopedPorts ports({kPort});
    zeltest::ScopedJobKey jobKey(kJobId);
    zeltest::SetString(HKEY_CURRENT_USER, jobKey.Path(), Layout::kTempDirPathValue, directory);
    if (haveDispatcher) {
        zeltest::SetString(HKEY_LOCAL_MACHINE, zeltest::PortKeyPath(kPort),
                           Layout::kPrintDispatcherFilePathValue,
                           L"\"" + dispatcher + L"\" --out \"" + outDirectory + L"\" --log \"" +
                               directory + L"dispatch.log\"");
    }
    std::wstring portName = kPort;
    HANDLE port = nullptr;
    if (!table.pfnOpenPort(host.Handle(), &portName[0], &port)) {
        results.Fail("fixed costs: OpenPort failed");
        return;
    }

    struct Kind {
        const char* label;
        const wchar_t* document;
        const char* endsWith;
        bool wanted;
        Timings timings;
    } kinds[] = {
        {"solicited", L"Zel bench #%0BE4C40C0FFEE002#%", "job key written", true, {}},
        {"unsolicited",
         L"Zel bench fixed",
         "zel-dispatch started and waited for",
         haveDispatcher,
         {}},
    };
    bool ok = true;
    for (int repetition = -1; ok && repetition < options.repetitions; ++repetition) {
        for (Kind& kind : kinds) {
            if (!kind.wanted) {
                continue;
            }
            Timings timings;
            if (!TimeOneJob(host, port, kind.document, timings)) {
                results.Fail(std::string("fixed costs: the ") + kind.label + " job failed");
                ok = false;
                break;
            }
            // The first round loads what later rounds find loaded.
            if (repetition >= 0) {
                kind.timings.start.push_back(timings.start.front());
                kind.timings.end.push_back(timings.end.front());
            }
        }
    }
    table.pfnClosePort(port);
    DeleteFiles(directory, L"ps*.tmp");
    DeleteFiles(outDirectory + L"\\", L"*");
    RemoveDirectoryW(outDirectory.c_str());
    DeleteFileW((directory + L"dispatch.log").c_str());
    DeleteFileW(PortLogPath(kPort).c_str());
    if (!ok) {
        return;
    }
    for (const Kind& kind : kinds) {
        if (!kind.wanted) {
            continue;
        }
        results.rows.push_back({"StartDocPort", kind.label,
                                Fixed(Median(kind.timings.start) * 1e3, 3), "ms/call", ""});
        results.rows.push_back({"EndDocPort", kind.label, Fixed(Median(kind.timings.end) * 1e3, 3),
                                "ms/call", kind.endsWith});
    }
    if (!haveDispatcher) {
        results.notes.push_back(
            "fixed costs: zel-dispatch.exe not built; unsolicited jobs left out");
    }
}

} // namespace zelbench
