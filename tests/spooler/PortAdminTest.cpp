// Port administration as a client sees it through Wine's spooler: no harness,
// the monitor is loaded and called by the spooler itself.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "SpoolerClient.h"
#include "harness/TestRegistry.h"

using namespace zeltest;

namespace {

const std::wstring kMonitorChannel = std::wstring(L",XcvMonitor ") + kMonitor;

std::vector<std::wstring> Sorted(std::vector<std::wstring> names) {
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::wstring> Numbered(unsigned from, unsigned to) {
    std::vector<std::wstring> names;
    for (unsigned n = from; n <= to; ++n) {
        names.push_back(L"ZEL_3_PORT" + std::to_wstring(n) + L":");
    }
    return names;
}

class PortAdmin : public ::testing::Test {
protected:
    void TearDown() override { DeleteTree(HKEY_LOCAL_MACHINE, PortsKeyPath()); }
};

TEST_F(PortAdmin, EnumPortsListsOurPortsAfterWinesOwn) {
    ScopedPorts ports({L"ZEL_3_PORT1:", L"ZEL_3_PORT2:"});
    for (DWORD level : {1u, 2u}) {
        std::vector<ListedPort> listed = SpoolerPorts(level);
        ASSERT_GT(listed.size(), 2u) << "level " << level;
        auto lpt = std::find_if(listed.begin(), listed.end(),
                                [](const ListedPort& p) { return p.name == L"LPT1:"; });
        ASSERT_NE(lpt, listed.end()) << "Wine's own ports are missing";
        const ListedPort& first = listed[listed.size() - 2];
        const ListedPort& second = listed[listed.size() - 1];
        EXPECT_EQ(Narrow(first.name), "ZEL_3_PORT1:");
        EXPECT_EQ(Narrow(second.name), "ZEL_3_PORT2:");
        if (level == 2) {
            for (const ListedPort* port : {&first, &second}) {
                EXPECT_EQ(Narrow(port->monitor), Narrow(kMonitor));
                EXPECT_EQ(Narrow(port->description), "Tessivane 3 Port");
                EXPECT_EQ(port->type & PORT_TYPE_WRITE, static_cast<DWORD>(PORT_TYPE_WRITE));
            }
        }
    }
}

TEST_F(PortAdmin, AThousandPortsAreListed) {
    ScopedPorts ports(Numbered(1, 1000));
    std::vector<ListedPort> listed = SpoolerPorts(2);
    size_t ours = std::count_if(listed.begin(), listed.end(),
                                [](const ListedPort& p) { return p.monitor == kMonitor; });
    EXPECT_EQ(ours, 1000u);
}

TEST_F(PortAdmin, TransceiveCommandsJudgeByTheSpoolersList) {
    ScopedPorts ports;
    Printer channel(kMonitorChannel, SERVER_ACCESS_ADMINISTER);
    ASSERT_TRUE(channel.Ok()) << channel.OpenError();

    // Another monitor's port is taken, though no key of ours names it.
    EXPECT_EQ(SendXcv(channel, L"AddPort", L"LPT1:"),
              static_cast<DWORD>(ERROR_PRINTER_ALREADY_EXISTS));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, PortKeyPath(L"LPT1:")));

    EXPECT_EQ(SendXcv(channel, L"AddPort", L"ZEL_TEST_XCV:"), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(SpoolerLists(L"ZEL_TEST_XCV:"));
    // Our own EnumPorts now lists it, so the spooler says it exists.
    EXPECT_EQ(SendXcv(channel, L"AddPort", L"ZEL_TEST_XCV:"),
              static_cast<DWORD>(ERROR_PRINTER_ALREADY_EXISTS));

    // The spooler lists LPT1:, so the delete reaches the registry and fails there.
    EXPECT_EQ(SendXcv(channel, L"DeletePort", L"LPT1:"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(SpoolerLists(L"LPT1:"));
    EXPECT_EQ(Sorted(RegisteredPorts()), std::vector<std::wstring>{L"ZEL_TEST_XCV:"});

    // The new port is reachable through its own channel.
    {
        Printer portChannel(L",XcvPort ZEL_TEST_XCV:", SERVER_ACCESS_ADMINISTER);
        ASSERT_TRUE(portChannel.Ok()) << portChannel.OpenError();
        EXPECT_EQ(SendXcv(portChannel, L"DeletePort", L"ZEL_TEST_XCV:"),
                  static_cast<DWORD>(ERROR_SUCCESS));
    }
    EXPECT_FALSE(SpoolerLists(L"ZEL_TEST_XCV:"));
    EXPECT_TRUE(RegisteredPorts().empty());
    EXPECT_EQ(SendXcv(channel, L"DeletePort", L"ZEL_TEST_XCV:"),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(PortAdmin, ChannelWithoutTheRightIsRefusedButNamesTheLibrary) {
    Printer channel(kMonitorChannel, 0);
    ASSERT_TRUE(channel.Ok()) << channel.OpenError();
    EXPECT_EQ(SendXcv(channel, L"AddPort", L"ZEL_TEST_DENIED:"),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, PortKeyPath(L"ZEL_TEST_DENIED:")));

    wchar_t path[MAX_PATH] = {};
    DWORD needed = kPoison;
    DWORD status = kPoison;
    ASSERT_TRUE(XcvDataW(channel.Get(), L"MonitorUI", nullptr, 0, reinterpret_cast<BYTE*>(path), 0,
                         &needed, &status));
    EXPECT_EQ(status, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_LE(needed, sizeof path);
    ASSERT_TRUE(XcvDataW(channel.Get(), L"MonitorUI", nullptr, 0, reinterpret_cast<BYTE*>(path),
                         needed, &needed, &status));
    EXPECT_EQ(status, static_cast<DWORD>(ERROR_SUCCESS));
    // The monitor itself, not the host that Wine loaded.
    std::wstring reply(path);
    EXPECT_EQ(reply.substr(reply.find_last_of(L'\\') + 1), L"Brambleworth.Zel.3.PortMon.x64.dll")
        << Narrow(reply);
    EXPECT_EQ(needed, (reply.size() + 1) * sizeof(wchar_t));
}

// AddPortW reaches AddPortUI, which picks the first free generated name from
// the registry and has the monitor add it.
TEST_F(PortAdmin, AddPortPicksTheFirstFreeGeneratedName) {
    struct Case {
        const char* what;
        std::vector<std::wstring> before;
        const wchar_t* added;
    } cases[] = {
        {"no ports", {}, L"ZEL_3_PORT1:"},
        {"no ports key", {}, L"ZEL_3_PORT1:"},
        {"a gap", {L"ZEL_3_PORT1:", L"ZEL_3_PORT3:"}, L"ZEL_3_PORT2:"},
        {"999 taken", Numbered(1, 999), L"ZEL_3_PORT1000:"},
    };
    for (const Case& c : cases) {
        ScopedPorts ports(c.before);
        if (std::string(c.what) == "no ports key") {
            DeleteTree(HKEY_LOCAL_MACHINE, PortsKeyPath());
        }
        SetLastError(kPoison);
        EXPECT_TRUE(AddPortW(nullptr, nullptr, const_cast<LPWSTR>(kMonitor))) << c.what;
        std::vector<std::wstring> expected = c.before;
        expected.push_back(c.added);
        EXPECT_EQ(Sorted(RegisteredPorts()), Sorted(expected)) << c.what;
        std::wstring description;
        EXPECT_TRUE(
            ReadString(HKEY_LOCAL_MACHINE, PortKeyPath(c.added), L"Description", description));
        EXPECT_TRUE(SpoolerLists(c.added)) << c.what;
    }
}

// Registry keys ignore case, so the monitor's create opens the lower-case key:
// what matters is that the scan did not skip to ZEL_3_PORT2:.
TEST_F(PortAdmin, LowerCaseNameDoesNotCountAsTaken) {
    ScopedPorts ports({L"zel_3_port1:"});
    EXPECT_TRUE(AddPortW(nullptr, nullptr, const_cast<LPWSTR>(kMonitor)));
    EXPECT_EQ(RegisteredPorts(), std::vector<std::wstring>{L"zel_3_port1:"});
}

TEST_F(PortAdmin, AllThousandNamesTakenSendsNothing) {
    ScopedPorts ports(Numbered(1, 1000));
    SetLastError(kPoison);
    EXPECT_FALSE(AddPortW(nullptr, nullptr, const_cast<LPWSTR>(kMonitor)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_MAKE));
    EXPECT_EQ(RegisteredPorts().size(), 1000u);
}

TEST_F(PortAdmin, DeleteAndConfigureThroughTheSpooler) {
    ScopedPorts ports({L"ZEL_3_PORT1:", L"ZEL_3_PORT2:"});
    LetTheSpoolerSeePorts();
    SetLastError(kPoison);
    EXPECT_FALSE(ConfigurePortW(nullptr, nullptr, const_cast<LPWSTR>(L"ZEL_3_PORT1:")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANCELLED));

    EXPECT_TRUE(DeletePortW(nullptr, nullptr, const_cast<LPWSTR>(L"ZEL_3_PORT1:")));
    EXPECT_EQ(RegisteredPorts(), std::vector<std::wstring>{L"ZEL_3_PORT2:"});
    EXPECT_FALSE(SpoolerLists(L"ZEL_3_PORT1:"));
    EXPECT_TRUE(SpoolerLists(L"ZEL_3_PORT2:"));

    // Gone from the spooler, so it cannot be routed any more.
    SetLastError(kPoison);
    EXPECT_FALSE(DeletePortW(nullptr, nullptr, const_cast<LPWSTR>(L"ZEL_3_PORT1:")));
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
}

} // namespace
