// What ports and jobs cost in memory: private bytes of this process with a
// hundred idle ports open, and with sixteen of them carrying a job. The heap
// grows in large steps, so a tenfold run gives the cost per port and per job.

#include "bench/Benchmarks.h"
#include "harness/PortSupport.h"
#include "harness/TestRegistry.h"
#include "registry/RegistryLayout.h"

namespace zelbench {

namespace {

namespace Layout = Brambleworth::Zel::Registry;

const wchar_t* const kJobId = L"0BE4C40C0FFEE001";

std::wstring PortName(unsigned index) {
    return L"ZEL_BENCH_MEM_" + std::to_wstring(index);
}

std::string Kib(double bytes) {
    return Fixed(bytes / 1024.0, 1);
}

double Delta(std::uint64_t after, std::uint64_t before) {
    return static_cast<double>(after) - static_cast<double>(before);
}

struct Footprint {
    std::uint64_t before = 0; // DLL loaded, no port open
    std::uint64_t idle = 0;   // every port open
    std::uint64_t busy = 0;   // and jobs started on some of them
};

// Opens `portCount` ports, then starts `jobCount` solicited jobs with one
// chunk written each; everything is closed again before returning.
bool Measure(const MonitorHost& host, unsigned portCount, unsigned jobCount, Footprint& footprint,
             Results& results) {
    const MONITOR2& table = host.Table();
    std::vector<std::wstring> names;
    for (unsigned i = 0; i < portCount; ++i) {
        names.push_back(PortName(i));
    }
    zeltest::ScopedPorts ports(names);
    zeltest::ScopedJobKey jobKey(kJobId);
    const std::wstring directory = BenchDirectory();
    zeltest::SetString(HKEY_CURRENT_USER, jobKey.Path(), Layout::kTempDirPathValue, directory);

    footprint.before = PrivateBytes();
    std::vector<HANDLE> handles;
    for (std::wstring& name : names) {
        HANDLE port = nullptr;
        if (!table.pfnOpenPort(host.Handle(), &name[0], &port)) {
            break;
        }
        handles.push_back(port);
    }
    footprint.idle = PrivateBytes();

    std::wstring document = L"Zel bench #%0BE4C40C0FFEE001#%";
    DOC_INFO_1W info{&document[0], nullptr, nullptr};
    std::vector<BYTE> chunk(4096, 0x5A);
    unsigned started = 0;
    for (unsigned i = 0; i < jobCount && i < handles.size(); ++i) {
        DWORD written = zeltest::kPoison;
        if (table.pfnStartDocPort(handles[i], nullptr, i + 1, 1, reinterpret_cast<LPBYTE>(&info)) &&
            table.pfnWritePort(handles[i], chunk.data(), static_cast<DWORD>(chunk.size()),
                               &written) &&
            written == chunk.size()) {
            ++started;
        }
    }
    footprint.busy = PrivateBytes();

    // The jobs end with their ports; their PS files and logs go with the run.
    for (HANDLE port : handles) {
        table.pfnClosePort(port);
    }
    DeleteFiles(directory, L"ps*.tmp");
    for (const std::wstring& name : names) {
        DeleteFileW(PortLogPath(name).c_str());
    }
    if (handles.size() != portCount || started != jobCount) {
        results.Fail("memory: " + std::to_string(handles.size()) + " of " +
                     std::to_string(portCount) + " ports opened, " + std::to_string(started) +
                     " of " + std::to_string(jobCount) + " jobs started");
        return false;
    }
    return true;
}

} // namespace

void RunMemory(const MonitorHost& host, const Options&, Results& results) {
    Footprint small;
    Footprint large;
    if (!Measure(host, 100, 16, small, results) || !Measure(host, 1000, 160, large, results)) {
        return;
    }
    if (small.before == 0) {
        results.notes.push_back("memory: this Wine reports no private bytes");
        return;
    }
    results.rows.push_back({"memory", "DLL loaded, no port", Kib(static_cast<double>(small.before)),
                            "KiB", "private bytes of the whole benchmark process"});
    results.rows.push_back({"memory", "100 ports open, idle", Kib(static_cast<double>(small.idle)),
                            "KiB", "+" + Kib(Delta(small.idle, small.before)) + " KiB"});
    results.rows.push_back({"memory", "+16 jobs in flight", Kib(static_cast<double>(small.busy)),
                            "KiB", "+" + Kib(Delta(small.busy, small.idle)) + " KiB"});
    results.rows.push_back({"memory", "per idle port", Kib(Delta(large.idle, large.before) / 1000),
                            "KiB", "from 1000 open ports"});
    results.rows.push_back({"memory", "per job in flight", Kib(Delta(large.busy, large.idle) / 160),
                            "KiB", "from 160 jobs, one 4 KiB chunk written each"});
}

} // namespace zelbench
