// EnumPorts as the spooler calls it: through the DLL's table, with the
// recording registry table behind the monitor handle.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "harness/SpoolerHarness.h"
#include "harness/TestRegistry.h"

using namespace zeltest;

namespace {

const std::wstring kMonitorName = L"Tessivane 3 Monitor";
const std::wstring kDescription = L"Tessivane 3 Port";

// The `field`-th pointer of a record, and the string at a (possibly odd) address.
const BYTE* Pointer(const BYTE* record, int field) {
    const BYTE* p;
    std::memcpy(&p, record + field * sizeof p, sizeof p);
    return p;
}
std::wstring ReadAt(const BYTE* p) {
    std::wstring text;
    for (wchar_t c; std::memcpy(&c, p, 2), c; p += 2) {
        text.push_back(c);
    }
    return text;
}

struct Result {
    BOOL ok;
    DWORD lastError, needed, returned;
};

class EnumPortsTest : public ::testing::Test {
protected:
    void SetUp() override { Rec().Clear(); }
    void TearDown() override { Rec().ExpectTidyAndClear(); }
    RecordingRegistry& Rec() { return RecordingRegistry::Instance(); }

    Result Call(DWORD level, BYTE* buffer, DWORD size,
                HANDLE monitor = SpoolerHarness::Instance().MonitorHandle(),
                LPWSTR server = nullptr) {
        Result r{FALSE, kPoison, kPoison, kPoison};
        SetLastError(kPoison);
        r.ok = SpoolerHarness::Instance().Monitor().pfnEnumPorts(monitor, server, level, buffer,
                                                                 size, &r.needed, &r.returned);
        r.lastError = GetLastError();
        return r;
    }
};

} // namespace

// Calls that list nothing: no ports is not an error (though an empty list
// still wants a buffer); a level other than 1 or 2 is refused, and so is,
// silently, a server name without a monitor handle. A ports key that cannot
// be listed means no ports.
TEST_F(EnumPortsTest, CallsThatListNothing) {
    wchar_t server[] = L"\\\\elsewhere";
    const HANDLE monitor = SpoolerHarness::Instance().MonitorHandle();
    struct Case {
        int ports; // -1: no ports key
        DWORD level;
        bool buffer;
        HANDLE monitor;
        LPWSTR server;
        BOOL ok;
        DWORD lastError;
        bool inject = false;
        RegFn fn = RegFn::OpenKey;
        unsigned skip = 0;
    } cases[] = {
        {-1, 2, false, monitor, nullptr, TRUE, kPoison},
        {0, 2, true, monitor, nullptr, TRUE, kPoison},
        {0, 1, false, monitor, nullptr, FALSE, ERROR_INSUFFICIENT_BUFFER},
        {1, 3, true, monitor, nullptr, FALSE, ERROR_INVALID_LEVEL},
        {1, 1, true, nullptr, server, FALSE, kPoison},
        {2, 2, true, monitor, nullptr, TRUE, kPoison, true, RegFn::OpenKey},
        {2, 2, true, monitor, nullptr, TRUE, kPoison, true, RegFn::QueryInfoKey},
        {2, 2, true, monitor, nullptr, TRUE, kPoison, true, RegFn::EnumKey, 1},
    };
    BYTE buffer[1];
    for (const Case& c : cases) {
        ScopedPorts ports;
        if (c.ports < 0) {
            DeleteTree(HKEY_LOCAL_MACHINE, PortsKeyPath());
        }
        for (int i = 1; i <= c.ports; ++i) {
            ports.Add(L"P" + std::to_wstring(i) + L":");
        }
        if (c.inject) {
            Rec().Inject(c.fn, ERROR_ACCESS_DENIED, c.skip);
        }
        Result r = Call(c.level, c.buffer ? buffer : nullptr, 0, c.monitor, c.server);
        EXPECT_EQ(r.ok, c.ok) << "row " << &c - cases;
        EXPECT_EQ(r.lastError, c.lastError) << "row " << &c - cases;
        EXPECT_EQ(r.needed, 0u) << "row " << &c - cases;
        EXPECT_EQ(r.returned, 0u);
    }
}

// Records first, then from the end downwards per port its name (level 2: the
// name, the monitor name and the description), in the registry's order. A
// short buffer is not written at all; in a larger one, odd sizes included,
// the slack stays between the records and the strings.
TEST_F(EnumPortsTest, PacksFromTheEndAtEveryBufferSize) {
    ScopedPorts ports({L"ZEL_3_PORT1:", L"B:"});
    SetDword(HKEY_LOCAL_MACHINE, PortKeyPath(L"B:"), L"Description", 5); // reads as empty
    CreateKey(HKEY_LOCAL_MACHINE, PortKeyPath(L"C:"));                   // no description at all
    const std::wstring names[] = {L"B:", L"C:", L"ZEL_3_PORT1:"};        // the registry sorts
    for (DWORD level : {1u, 2u}) {
        const DWORD record = level == 1 ? 8 : 32;
        // Level 1: 3 records + names (6+6+26); level 2 adds 3 monitor names
        // (40 each) and the descriptions (2+2+34).
        const DWORD need = level == 1 ? 62 : 292;
        for (DWORD size : {DWORD{0}, need - 1, need, need + 1, need + 3}) {
            std::vector<BYTE> buffer(need + 8, 0xEE);
            BYTE* base = buffer.data();
            Result r = Call(level, base, size);
            EXPECT_EQ(r.needed, need) << "level " << level << " size " << size;
            if (size < need) {
                EXPECT_FALSE(r.ok);
                EXPECT_EQ(r.lastError, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
                EXPECT_EQ(r.returned, 0u);
                EXPECT_EQ(buffer, std::vector<BYTE>(need + 8, 0xEE)) << "short buffer written";
                continue;
            }
            ASSERT_TRUE(r.ok) << "level " << level << " size " << size;
            EXPECT_EQ(r.returned, 3u);
            EXPECT_EQ(r.lastError, kPoison);
            BYTE* top = base + size;
            for (int i = 0; i < 3; ++i) {
                const BYTE* info = base + i * record;
                const std::wstring strings[] = {names[i], kMonitorName,
                                                names[i] == L"ZEL_3_PORT1:" ? kDescription : L""};
                for (int field = 0; field < (level == 1 ? 1 : 3); ++field) {
                    top -= (strings[field].size() + 1) * 2;
                    EXPECT_EQ(Pointer(info, field), top);
                    EXPECT_EQ(ReadAt(top), strings[field]);
                }
                if (level == 2) {
                    PORT_INFO_2W port;
                    std::memcpy(&port, info, sizeof port);
                    EXPECT_EQ(port.fPortType, static_cast<DWORD>(PORT_TYPE_WRITE));
                    EXPECT_EQ(port.Reserved, 0u);
                }
            }
            EXPECT_EQ(top, base + 3 * record + (size - need));
            EXPECT_EQ(std::vector<BYTE>(base + 3 * record, top),
                      std::vector<BYTE>(size - need, 0xEE))
                << "slack written";
            EXPECT_EQ(std::vector<BYTE>(base + size, base + need + 8),
                      std::vector<BYTE>(need + 8 - size, 0xEE))
                << "wrote past the buffer";
        }
    }
    // Without a monitor handle or a server name it reads the registry directly.
    Rec().Clear();
    std::vector<BYTE> buffer(62);
    Result direct = Call(1, buffer.data(), 62, nullptr);
    EXPECT_TRUE(direct.ok);
    EXPECT_EQ(direct.returned, 3u);
    EXPECT_TRUE(Rec().Calls().empty());

    // A port whose key does not open is listed with an empty description.
    ScopedPorts two({L"P1:", L"P2:"});
    BYTE listed[512];
    Rec().Inject(RegFn::OpenKey, ERROR_ACCESS_DENIED, 1);
    Result r = Call(2, listed, sizeof listed);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.returned, 2u);
    EXPECT_EQ(ReadAt(Pointer(listed, 2)), L"");
    EXPECT_EQ(ReadAt(Pointer(listed + 32, 2)), kDescription);
}
