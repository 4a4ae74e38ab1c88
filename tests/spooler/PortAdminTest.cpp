// Port administration as a client sees it through Wine's spooler: no harness,
// the monitor is loaded and called by the spooler itself; and the user-interface
// half called directly, with the monitor half behind Wine's spooler.

#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/Registry.h"
#include "common/Spooler.h"
#include "harness/SpoolerHarness.h"
#include "harness/TestRegistry.h"

using namespace zeltest;

namespace {

constexpr const wchar_t* kMonitor = L"Tessivane 3 Monitor";

// Any listing of the spooler's ports has it load the monitor again, which
// makes ports written straight into the registry routable (",XcvPort",
// DeletePortW).
std::vector<zeltools::SpoolerPort> SpoolerPorts() {
    std::vector<zeltools::SpoolerPort> ports;
    EXPECT_TRUE(zeltools::ListSpoolerPorts(ports)) << GetLastError();
    return ports;
}

bool SpoolerLists(const std::wstring& port) {
    const auto ports = SpoolerPorts();
    return std::any_of(ports.begin(), ports.end(), [&](const auto& p) { return p.name == port; });
}

// A transceive channel opened with `access`; the last error tells why not.
bool OpenChannel(std::wstring name, ACCESS_MASK access, zeltools::ScopedPrinter& channel) {
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, access};
    return OpenPrinterW(&name[0], channel.Out(), &defaults) != FALSE;
}

DWORD OpenError(const std::wstring& name) {
    zeltools::ScopedPrinter channel;
    return OpenChannel(name, SERVER_ACCESS_ADMINISTER, channel) ? 0 : GetLastError();
}

// The subkeys of the monitor's ports key, straight from the registry, sorted.
std::vector<std::wstring> RegisteredPorts() {
    std::vector<std::wstring> names = zeltools::SubKeyNames(HKEY_LOCAL_MACHINE, PortsKeyPath());
    std::sort(names.begin(), names.end());
    return names;
}

const std::wstring kMonitorChannel = std::wstring(L",XcvMonitor ") + kMonitor;

std::vector<std::wstring> Numbered(unsigned from, unsigned to) {
    std::vector<std::wstring> names;
    for (unsigned n = from; n <= to; ++n) {
        names.push_back(L"ZEL_3_PORT" + std::to_wstring(n) + L":");
    }
    return names;
}

TEST(PortAdmin, MonitorUiNamesTheMonitorNotTheHost) {
    zeltools::ScopedPrinter channel;
    ASSERT_TRUE(OpenChannel(kMonitorChannel, 0, channel)) << GetLastError();
    // No right needed: a short buffer learns the size, then the reply names
    // the monitor itself, not the host that Wine loaded.
    wchar_t path[MAX_PATH] = {};
    DWORD needed = kPoison, status = kPoison;
    BYTE* output = reinterpret_cast<BYTE*>(path);
    ASSERT_TRUE(XcvDataW(channel.Get(), L"MonitorUI", nullptr, 0, output, 0, &needed, &status));
    EXPECT_EQ(status, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_LE(needed, sizeof path);
    ASSERT_TRUE(
        XcvDataW(channel.Get(), L"MonitorUI", nullptr, 0, output, needed, &needed, &status));
    EXPECT_EQ(status, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(_wcsicmp(path, MonitorDllPath().c_str()), 0) << Narrow(path);
    EXPECT_EQ(needed, (wcslen(path) + 1) * sizeof(wchar_t));
}

// AddPortW reaches AddPortUI, which picks the first free generated name from
// the registry (creating the ports key if need be) and has the monitor add it;
// the spooler then lists exactly the ports in the registry.
TEST(PortAdmin, AddPortPicksTheFirstFreeGeneratedName) {
    struct Case {
        const char* what;
        std::vector<std::wstring> before;
        const wchar_t* added; // null: no new key
        DWORD error;          // the last error when the add fails
    } cases[] = {
        {"no ports key", {}, L"ZEL_3_PORT1:", 0},
        {"a gap", {L"ZEL_3_PORT1:", L"ZEL_3_PORT3:"}, L"ZEL_3_PORT2:", 0},
        // The add opens the lower-case key, as keys ignore case; what matters
        // is that the scan did not skip to ZEL_3_PORT2:.
        {"lower case does not count", {L"zel_3_port1:"}, nullptr, 0},
        {"999 taken", Numbered(1, 999), L"ZEL_3_PORT1000:", 0},
        {"all taken: nothing is sent", Numbered(1, 1000), nullptr, ERROR_CANNOT_MAKE},
    };
    for (const Case& c : cases) {
        ScopedPorts ports(c.before);
        if (c.before.empty()) {
            DeleteTree(HKEY_LOCAL_MACHINE, PortsKeyPath());
        }
        SetLastError(kPoison);
        EXPECT_EQ(AddPortW(nullptr, nullptr, const_cast<LPWSTR>(kMonitor)), !c.error) << c.what;
        if (c.error) {
            EXPECT_EQ(GetLastError(), c.error) << c.what;
        }
        std::vector<std::wstring> expected = c.before;
        if (c.added) {
            expected.push_back(c.added);
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(RegisteredPorts(), expected) << c.what;
        const auto listed = SpoolerPorts();
        EXPECT_EQ(std::count_if(listed.begin(), listed.end(),
                                [](const auto& p) { return p.monitor == kMonitor; }),
                  static_cast<std::ptrdiff_t>(expected.size()))
            << c.what;
    }
}

TEST(PortAdmin, DeleteAndConfigureThroughTheSpooler) {
    ScopedPorts ports({L"ZEL_3_PORT1:", L"ZEL_3_PORT2:"});
    ASSERT_TRUE(SpoolerLists(L"ZEL_3_PORT1:"));
    SetLastError(kPoison);
    EXPECT_FALSE(ConfigurePortW(nullptr, nullptr, const_cast<LPWSTR>(L"ZEL_3_PORT1:")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANCELLED));

    EXPECT_TRUE(DeletePortW(nullptr, nullptr, const_cast<LPWSTR>(L"ZEL_3_PORT1:")));
    EXPECT_EQ(RegisteredPorts(), std::vector<std::wstring>{L"ZEL_3_PORT2:"});
    EXPECT_FALSE(SpoolerLists(L"ZEL_3_PORT1:"));
}

// The user-interface half called directly, as an administering program that
// loaded the library named by "MonitorUI" would.
const PWSTR kPoisonName = reinterpret_cast<PWSTR>(static_cast<ULONG_PTR>(kPoison));

const MONITORUI& Ui() {
    using Init = PMONITORUI(WINAPI*)();
    static const MONITORUI* table = reinterpret_cast<Init>(reinterpret_cast<void*>(
        GetProcAddress(LoadLibraryW(MonitorDllPath().c_str()), "InitializePrintMonitorUI")))();
    return *table;
}

// Neither channel opens for a monitor or a port the spooler does not know: the
// UI fails with the spooler's own code, before the registry is touched and
// without writing the name. A delete without a port name is refused outright.
TEST(PortUiDirect, RefusedBeforeTheMonitorIsReached) {
    DeleteTree(HKEY_LOCAL_MACHINE, PortsKeyPath());
    PWSTR name = kPoisonName;
    SetLastError(kPoison);
    EXPECT_FALSE(Ui().pfnAddPortUI(nullptr, nullptr, L"No Such Monitor", &name));
    DWORD error = GetLastError();
    EXPECT_EQ(error, OpenError(L",XcvMonitor No Such Monitor"));
    EXPECT_EQ(name, kPoisonName);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, PortsKeyPath())) << "ports key created";

    SetLastError(kPoison);
    EXPECT_FALSE(Ui().pfnDeletePortUI(nullptr, nullptr, L"ZEL_TEST_NOWHERE:"));
    error = GetLastError();
    EXPECT_EQ(error, OpenError(L",XcvPort ZEL_TEST_NOWHERE:"));
    SetLastError(kPoison);
    EXPECT_FALSE(Ui().pfnDeletePortUI(nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

} // namespace
