// Port administration as a client sees it through Wine's spooler: no harness,
// the monitor is loaded and called by the spooler itself.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "SpoolerClient.h"
#include "harness/SpoolerHarness.h"

using namespace zeltest;

namespace {

const std::wstring kMonitorChannel = std::wstring(L",XcvMonitor ") + kMonitor;

std::vector<std::wstring> Numbered(unsigned from, unsigned to) {
    std::vector<std::wstring> names;
    for (unsigned n = from; n <= to; ++n) {
        names.push_back(L"ZEL_3_PORT" + std::to_wstring(n) + L":");
    }
    return names;
}

TEST(PortAdmin, EnumPortsListsOurPortsAfterWinesOwn) {
    ScopedPorts ports({L"ZEL_3_PORT1:", L"ZEL_3_PORT2:"});
    for (DWORD level : {1u, 2u}) {
        std::vector<ListedPort> listed = SpoolerPorts(level);
        ASSERT_GT(listed.size(), 2u) << "level " << level;
        EXPECT_TRUE(std::any_of(listed.begin(), listed.end() - 2, [](const ListedPort& p) {
            return p.name == L"LPT1:";
        })) << "Wine's own ports come first";
        for (int i : {0, 1}) {
            const ListedPort& port = listed[listed.size() - 2 + i];
            EXPECT_EQ(Narrow(port.name), i ? "ZEL_3_PORT2:" : "ZEL_3_PORT1:");
            EXPECT_EQ(Narrow(port.monitor), level == 2 ? Narrow(kMonitor) : "");
            EXPECT_EQ(Narrow(port.description), level == 2 ? "Tessivane 3 Port" : "");
        }
    }
}

// Whether a port exists is the spooler's list's say, not the registry's; the
// right to administer is checked first.
TEST(PortAdmin, TransceiveCommandsJudgeByTheSpoolersList) {
    ScopedPorts ports;
    struct Step {
        ACCESS_MASK access;
        const wchar_t* command;
        const wchar_t* port;
        DWORD expected;
        bool listedAfter;
    } steps[] = {
        {0, L"AddPort", L"ZEL_TEST_XCV:", ERROR_ACCESS_DENIED, false},
        // Another monitor's port is taken, though no key of ours names it.
        {SERVER_ACCESS_ADMINISTER, L"AddPort", L"LPT1:", ERROR_PRINTER_ALREADY_EXISTS, true},
        {SERVER_ACCESS_ADMINISTER, L"AddPort", L"ZEL_TEST_XCV:", ERROR_SUCCESS, true},
        {SERVER_ACCESS_ADMINISTER, L"AddPort", L"ZEL_TEST_XCV:", ERROR_PRINTER_ALREADY_EXISTS,
         true},
        // Listed, so the delete reaches the registry and fails there.
        {SERVER_ACCESS_ADMINISTER, L"DeletePort", L"LPT1:", ERROR_FILE_NOT_FOUND, true},
        {SERVER_ACCESS_ADMINISTER, L"DeletePort", L"ZEL_TEST_XCV:", ERROR_SUCCESS, false},
        // No longer listed: refused before the registry.
        {SERVER_ACCESS_ADMINISTER, L"DeletePort", L"ZEL_TEST_XCV:", ERROR_INVALID_PARAMETER, false},
    };
    for (const Step& s : steps) {
        Printer channel(kMonitorChannel, s.access);
        ASSERT_TRUE(channel.Ok()) << channel.OpenError();
        EXPECT_EQ(SendXcv(channel, s.command, s.port), s.expected) << "step " << &s - steps;
        EXPECT_EQ(SpoolerLists(s.port), s.listedAfter) << "step " << &s - steps;
    }
    EXPECT_TRUE(RegisteredPorts().empty());
}

TEST(PortAdmin, MonitorUiNamesTheMonitorNotTheHost) {
    Printer channel(kMonitorChannel, 0);
    ASSERT_TRUE(channel.Ok()) << channel.OpenError();
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
        std::vector<ListedPort> listed = SpoolerPorts(2);
        EXPECT_EQ(std::count_if(listed.begin(), listed.end(),
                                [](const ListedPort& p) { return p.monitor == kMonitor; }),
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

} // namespace
