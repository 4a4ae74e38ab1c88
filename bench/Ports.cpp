// Port listing and port naming at scale: EnumPorts at level 2 through the
// monitor's table, and AddPortUI as the administering process calls it,
// through Wine's spooler.

#include <set>

#include "admin/PortNames.h"
#include "bench/Benchmarks.h"
#include "harness/TestRegistry.h"
#include "registry/RegKey.h"
#include "registry/RegistryLayout.h"

namespace zelbench {

namespace {

namespace Layout = Brambleworth::Zel::Registry;

std::vector<std::wstring> Numbered(unsigned count) {
    std::vector<std::wstring> names;
    for (unsigned n = 1; n <= count; ++n) {
        names.push_back(Brambleworth::Zel::PortMon::GeneratedPortName(n));
    }
    return names;
}

// One level-2 listing into a buffer that fits; false unless every port came
// back with this monitor's name.
bool ListAll(const MonitorHost& host, std::vector<BYTE>& buffer, unsigned expected) {
    DWORD needed = zeltest::kPoison;
    DWORD returned = zeltest::kPoison;
    if (!host.Table().pfnEnumPorts(host.Handle(), nullptr, 2, buffer.data(),
                                   static_cast<DWORD>(buffer.size()), &needed, &returned)) {
        return false;
    }
    if (returned != expected) {
        return false;
    }
    const PORT_INFO_2W* ports = reinterpret_cast<const PORT_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < returned; ++i) {
        if (!ports[i].pMonitorName || lstrcmpW(ports[i].pMonitorName, Layout::kMonitorName) != 0) {
            return false;
        }
    }
    return true;
}

// The registry calls that a level-2 listing cannot do without, made straight
// to advapi32: enumerate each port, open its key, read "Description", close.
// Returns how many descriptions were read.
unsigned BareRegistryListing() {
    HKEY portsKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Layout::kPortsKeyPath, 0, Layout::kReadAccess,
                      &portsKey) != ERROR_SUCCESS) {
        return 0;
    }
    unsigned read = 0;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (RegEnumKeyExW(portsKey, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        HKEY portKey = nullptr;
        if (RegOpenKeyExW(portsKey, name, 0, Layout::kReadAccess, &portKey) == ERROR_SUCCESS) {
            wchar_t description[128];
            DWORD size = sizeof description;
            DWORD type = 0;
            if (RegQueryValueExW(portKey, Layout::kDescriptionValue, nullptr, &type,
                                 reinterpret_cast<BYTE*>(description), &size) == ERROR_SUCCESS) {
                ++read;
            }
            RegCloseKey(portKey);
        }
    }
    RegCloseKey(portsKey);
    return read;
}

// Whether this process's spooler routes the monitor's transceive channel to
// the monitor (true in a prefix that registers the Wine host).
bool SpoolerKnowsTheMonitor() {
    std::wstring name = std::wstring(L",XcvMonitor ") + Layout::kMonitorName;
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
    HANDLE printer = nullptr;
    if (!OpenPrinterW(&name[0], &printer, &defaults)) {
        return false;
    }
    ClosePrinter(printer);
    return true;
}

// Makes the spooler load the monitor once, which brings its routing in line
// with the ports in the registry.
void LetTheSpoolerSeePorts() {
    DWORD needed = 0;
    DWORD returned = 0;
    EnumPortsW(nullptr, 1, nullptr, 0, &needed, &returned);
    std::vector<BYTE> buffer(needed ? needed : 1);
    EnumPortsW(nullptr, 1, buffer.data(), static_cast<DWORD>(buffer.size()), &needed, &returned);
}

// AddPortUI's own part: the scan of the ports key and the choice of the name,
// as AddPortUI does them. Empty when the scan failed.
std::wstring ChooseName() {
    Brambleworth::Zel::RegKey portsKey;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Layout::kPortsKeyPath, 0, Layout::kAllAccess, &key) !=
        ERROR_SUCCESS) {
        return std::wstring();
    }
    portsKey.CreateRef(key);
    Brambleworth::Zel::NameList names;
    if (!portsKey.EnumSubKeys(names)) {
        return std::wstring();
    }
    return Brambleworth::Zel::PortMon::FirstFreePortName(names).value_or(std::wstring());
}

// What the monitor's existence check pays: the spooler's whole level-2 list,
// sized first and then filled, as every monitor's EnumPorts answers it.
bool SpoolerListLevel2() {
    DWORD needed = 0;
    DWORD returned = 0;
    EnumPortsW(nullptr, 2, nullptr, 0, &needed, &returned);
    std::vector<BYTE> buffer(needed ? needed : 1);
    return EnumPortsW(nullptr, 2, buffer.data(), static_cast<DWORD>(buffer.size()), &needed,
                      &returned) != FALSE;
}

} // namespace

void RunEnumPorts(const MonitorHost& host, const Options& options, Results& results) {
    double firstPerPort = 0;
    double lastPerPort = 0;
    for (unsigned count : options.enumPortCounts) {
        zeltest::ScopedPorts ports(Numbered(count));
        DWORD needed = zeltest::kPoison;
        DWORD returned = zeltest::kPoison;
        host.Table().pfnEnumPorts(host.Handle(), nullptr, 2, nullptr, 0, &needed, &returned);
        if (needed == 0 || needed == zeltest::kPoison) {
            results.Fail("enumports: no size reported for " + std::to_string(count) + " ports");
            return;
        }
        std::vector<BYTE> buffer(needed);
        Stopwatch probe;
        if (!ListAll(host, buffer, count)) {
            results.Fail("enumports: " + std::to_string(count) + " ports were not all listed");
            return;
        }
        const std::uint64_t iterations = IterationsFor(probe.Seconds(), 0.05);
        std::vector<double> samples;
        for (int repetition = 0; repetition < options.repetitions; ++repetition) {
            Stopwatch clock;
            bool ok = true;
            for (std::uint64_t i = 0; i < iterations; ++i) {
                ok = ListAll(host, buffer, count) && ok;
            }
            const double seconds = clock.Seconds();
            if (!ok) {
                results.Fail("enumports: a listing of " + std::to_string(count) + " ports failed");
                return;
            }
            samples.push_back(seconds / static_cast<double>(iterations));
        }
        const double perCall = Median(samples);
        const double perPort = perCall / count;
        if (count == options.enumPortCounts.front()) {
            firstPerPort = perPort;
        }
        lastPerPort = perPort;
        results.rows.push_back(
            {"enumports level 2", std::to_string(count) + " ports", Fixed(perCall * 1e3, 3),
             "ms/call",
             Fixed(perPort * 1e6, 2) + " us per port, " + std::to_string(needed) + " bytes"});

        // The same listing's registry work alone, for what the monitor adds.
        std::vector<double> bare;
        for (int repetition = 0; repetition < options.repetitions; ++repetition) {
            Stopwatch clock;
            bool ok = true;
            for (std::uint64_t i = 0; i < iterations; ++i) {
                ok = BareRegistryListing() == count && ok;
            }
            const double seconds = clock.Seconds();
            if (!ok) {
                results.Fail("enumports: the bare registry listing missed ports");
                return;
            }
            bare.push_back(seconds / static_cast<double>(iterations));
        }
        results.rows.push_back({"enumports level 2", "  registry calls alone",
                                Fixed(Median(bare) * 1e3, 3), "ms/call",
                                Fixed(Median(bare) / count * 1e6, 2) + " us per port; monitor/" +
                                    "bare " + Fixed(perCall / Median(bare), 3)});
    }
    results.summary.push_back("enumports per-port cost " +
                              std::to_string(options.enumPortCounts.back()) + "/" +
                              std::to_string(options.enumPortCounts.front()) + ": " +
                              Fixed(lastPerPort / firstPerPort, 3));
}

void RunAddPortUi(const MonitorHost& host, const Options& options, Results& results) {
    if (!SpoolerKnowsTheMonitor()) {
        results.Fail("addport: the spooler of this prefix does not know the monitor (run through "
                     "`make bench`, which registers the Wine host)");
        return;
    }
    for (unsigned present : options.addPortPresent) {
        zeltest::ScopedPorts ports(Numbered(present));
        LetTheSpoolerSeePorts();
        const std::wstring expected = Brambleworth::Zel::PortMon::GeneratedPortName(present + 1);
        std::vector<double> samples;
        // The first call loads what every later one finds loaded: not timed.
        for (int repetition = -1; repetition < options.repetitions; ++repetition) {
            PWSTR name = reinterpret_cast<PWSTR>(static_cast<ULONG_PTR>(zeltest::kPoison));
            SetLastError(zeltest::kPoison);
            Stopwatch clock;
            const BOOL added =
                host.Ui().pfnAddPortUI(nullptr, nullptr, Layout::kMonitorName, &name);
            const double seconds = clock.Seconds();
            const DWORD error = GetLastError();
            const bool named = added && name && expected == name;
            if (added && name) {
                GlobalFree(name);
            }
            const bool created =
                zeltest::KeyExists(HKEY_LOCAL_MACHINE, zeltest::PortKeyPath(expected));
            zeltest::DeleteTree(HKEY_LOCAL_MACHINE, zeltest::PortKeyPath(expected));
            if (!added || !named || !created) {
                results.Fail("addport: with " + std::to_string(present) +
                             " ports AddPortUI did not add " + Ascii(expected) + " (error " +
                             std::to_string(error) + ")");
                return;
            }
            if (repetition >= 0) {
                samples.push_back(seconds);
            }
        }
        results.rows.push_back({"AddPortUI", std::to_string(present) + " ports present",
                                Fixed(Median(samples) * 1e3, 2), "ms/call",
                                "adds " + Ascii(expected)});

        // Where the time goes: the name scan in this process, and the
        // spooler's port list that the monitor's existence check asks for.
        std::vector<double> scans;
        std::vector<double> lists;
        for (int repetition = 0; repetition < options.repetitions; ++repetition) {
            Stopwatch scan;
            const bool chosen = ChooseName() == expected;
            scans.push_back(scan.Seconds());
            Stopwatch list;
            const bool listed = SpoolerListLevel2();
            lists.push_back(list.Seconds());
            if (!chosen || !listed) {
                results.Fail("addport: the breakdown with " + std::to_string(present) +
                             " ports failed");
                return;
            }
        }
        results.rows.push_back({"AddPortUI", "  of which name scan", Fixed(Median(scans) * 1e3, 2),
                                "ms", "ports key enumerated, first free name"});
        results.rows.push_back({"AddPortUI", "  of which spooler list",
                                Fixed(Median(lists) * 1e3, 2), "ms",
                                "EnumPortsW level 2, sized then filled"});
    }
}

} // namespace zelbench
