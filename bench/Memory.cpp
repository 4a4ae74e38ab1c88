// What ports and jobs cost in memory: private bytes of this process with a
// hundred idle ports open, and with sixteen of them carrying a job.

#include "bench/Benchmarks.h"
#include "harness/PortSupport.h"
#include "harness/TestRegistry.h"
#include "registry/RegistryLayout.h"

namespace zelbench {

namespace {

namespace Layout = Brambleworth::Zel::Registry;

constexpr unsigned kIdlePorts = 100;
constexpr unsigned kJobs = 16;
const wchar_t* const kJobId = L"0BE4C40C0FFEE001";

std::wstring PortName(unsigned index) {
    return L"ZEL_BENCH_MEM_" + std::to_wstring(index);
}

std::string Kib(double bytes) {
    return Fixed(bytes / 1024.0, 1);
}

} // namespace

void RunMemory(const MonitorHost& host, const Options&, Results& results) {
    const MONITOR2& table = host.Table();
    std::vector<std::wstring> names;
    for (unsigned i = 0; i < kIdlePorts; ++i) {
        names.push_back(PortName(i));
    }
    zeltest::ScopedPorts ports(names);
    zeltest::ScopedJobKey jobKey(kJobId);
    const std::wstring directory = BenchDirectory();
    zeltest::SetString(HKEY_CURRENT_USER, jobKey.Path(), Layout::kTempDirPathValue, directory);

    const std::uint64_t before = PrivateBytes();
    std::vector<HANDLE> handles;
    for (std::wstring& name : names) {
        HANDLE port = nullptr;
        if (!table.pfnOpenPort(host.Handle(), &name[0], &port)) {
            results.Fail("memory: OpenPort failed for " + Ascii(name));
            break;
        }
        handles.push_back(port);
    }
    const std::uint64_t idle = PrivateBytes();

    std::wstring document = L"Zel bench #%0BE4C40C0FFEE001#%";
    DOC_INFO_1W info{&document[0], nullptr, nullptr};
    std::vector<BYTE> chunk(4096, 0x5A);
    unsigned started = 0;
    for (unsigned i = 0; i < kJobs && i < handles.size(); ++i) {
        DWORD written = zeltest::kPoison;
        if (table.pfnStartDocPort(handles[i], nullptr, i + 1, 1, reinterpret_cast<LPBYTE>(&info)) &&
            table.pfnWritePort(handles[i], chunk.data(), static_cast<DWORD>(chunk.size()),
                               &written) &&
            written == chunk.size()) {
            ++started;
        }
    }
    const std::uint64_t busy = PrivateBytes();
    if (started != kJobs) {
        results.Fail("memory: only " + std::to_string(started) + " of 16 jobs started");
    }
    // The jobs end with their ports; their PS files go with the run.
    for (HANDLE port : handles) {
        table.pfnClosePort(port);
    }
    DeleteFiles(directory, L"ps*.tmp");
    for (const std::wstring& name : names) {
        DeleteFileW(PortLogPath(name).c_str());
    }
    if (before == 0) {
        results.notes.push_back("memory: this Wine reports no private bytes");
        return;
    }

    results.rows.push_back({"memory", "loaded, no port", Kib(static_cast<double>(before)), "KiB",
                            "private bytes of the whole process"});
    const double perPort = (static_cast<double>(idle) - static_cast<double>(before)) / kIdlePorts;
    results.rows.push_back({"memory", "100 ports open, idle", Kib(static_cast<double>(idle)), "KiB",
                            "+" + Kib(static_cast<double>(idle - before)) + " KiB, " +
                                Kib(perPort) + " KiB per port"});
    const double perJob = (static_cast<double>(busy) - static_cast<double>(idle)) / kJobs;
    results.rows.push_back({"memory", "+16 jobs in flight", Kib(static_cast<double>(busy)), "KiB",
                            "+" + Kib(static_cast<double>(busy) - static_cast<double>(idle)) +
                                " KiB, " + Kib(perJob) + " KiB per job"});
}

} // namespace zelbench
