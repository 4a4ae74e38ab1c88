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

std::size_t Bytes(const std::wstring& s) {
    return (s.size() + 1) * 2;
}

// Reads a string at any (possibly odd) address.
std::wstring ReadAt(const void* address) {
    std::wstring text;
    const BYTE* p = static_cast<const BYTE*>(address);
    for (;; p += 2) {
        wchar_t c;
        std::memcpy(&c, p, 2);
        if (!c) {
            return text;
        }
        text.push_back(c);
    }
}

struct Result {
    BOOL ok;
    DWORD lastError;
    DWORD needed;
    DWORD returned;
};

class EnumPortsTest : public ::testing::Test {
protected:
    void SetUp() override { Rec().Clear(); }
    void TearDown() override {
        for (const RegCall& call : Rec().Calls()) {
            EXPECT_EQ(call.hSpooler, RecordingRegistry::SpoolerHandle());
        }
        EXPECT_TRUE(Rec().OpenKeys().empty()) << "EnumPorts left a key open";
        Rec().Clear();
    }
    RecordingRegistry& Rec() { return RecordingRegistry::Instance(); }

    Result Call(DWORD level, BYTE* buffer, DWORD size, HANDLE monitor, LPWSTR server = nullptr) {
        Result r{};
        r.needed = r.returned = kPoison;
        SetLastError(kPoison);
        r.ok = SpoolerHarness::Instance().Monitor().pfnEnumPorts(monitor, server, level, buffer,
                                                                 size, &r.needed, &r.returned);
        r.lastError = GetLastError();
        return r;
    }
    Result Call(DWORD level, BYTE* buffer, DWORD size) {
        return Call(level, buffer, size, SpoolerHarness::Instance().MonitorHandle());
    }
};

} // namespace

TEST_F(EnumPortsTest, NoPortsKeyMeansNoPorts) {
    DeleteTree(HKEY_LOCAL_MACHINE, PortsKeyPath());
    BYTE buffer[16];
    for (DWORD level : {1u, 2u}) {
        Result r = Call(level, buffer, sizeof buffer);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.needed, 0u);
        EXPECT_EQ(r.returned, 0u);
        EXPECT_EQ(r.lastError, kPoison);
    }
}

TEST_F(EnumPortsTest, EmptyPortsKeyNeedsNothingButABuffer) {
    ScopedPorts ports;
    BYTE buffer[1];
    Result r = Call(2, buffer, 0);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.needed, 0u);
    EXPECT_EQ(r.returned, 0u);

    r = Call(1, nullptr, 0);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.lastError, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(r.needed, 0u);
    EXPECT_EQ(r.returned, 0u);
}

TEST_F(EnumPortsTest, LevelOneRecordPointsToTheEndOfAnExactBuffer) {
    ScopedPorts ports({L"ZEL_3_PORT1:"});
    Result r = Call(1, nullptr, 0);
    EXPECT_FALSE(r.ok);
    ASSERT_EQ(r.needed, 34u);

    std::vector<BYTE> buffer(34, 0xEE);
    r = Call(1, buffer.data(), 34);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.returned, 1u);
    EXPECT_EQ(r.needed, 34u);
    EXPECT_EQ(r.lastError, kPoison);
    PORT_INFO_1W info;
    std::memcpy(&info, buffer.data(), sizeof info);
    EXPECT_EQ(reinterpret_cast<BYTE*>(info.pName), buffer.data() + 8);
    EXPECT_EQ(ReadAt(info.pName), L"ZEL_3_PORT1:");
}

// Level 2 packing: records first, then from the end downwards per port its
// name, the monitor name and its description. Checked at the exact size and
// at larger, odd sizes where every string starts at an odd offset.
TEST_F(EnumPortsTest, LevelTwoPacksFromTheEndInListOrder) {
    ScopedPorts ports({L"ZEL_3_PORT1:", L"B:"});
    SetDword(HKEY_LOCAL_MACHINE, PortKeyPath(L"B:"), L"Description", 5); // reads as empty
    CreateKey(HKEY_LOCAL_MACHINE, PortKeyPath(L"C:"));                   // no description at all

    Result probe = Call(2, nullptr, 0);
    ASSERT_FALSE(probe.ok);
    // List order as the registry gives it.
    std::vector<std::wstring> names;
    {
        HKEY raw;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, PortsKeyPath().c_str(), 0, KEY_READ, &raw), 0);
        wchar_t name[64];
        for (DWORD i = 0; RegEnumKeyW(raw, i, name, 64) == ERROR_SUCCESS; ++i) {
            names.emplace_back(name);
        }
        RegCloseKey(raw);
    }
    ASSERT_EQ(names.size(), 3u);
    std::size_t expectedNeeded = 0;
    for (const std::wstring& n : names) {
        std::wstring description = n == L"ZEL_3_PORT1:" ? kDescription : L"";
        expectedNeeded += 32 + Bytes(n) + Bytes(kMonitorName) + Bytes(description);
    }
    ASSERT_EQ(probe.needed, expectedNeeded);

    for (DWORD extra : {0u, 1u, 3u}) {
        const DWORD size = probe.needed + extra;
        std::vector<BYTE> buffer(size + 8, 0xEE);
        BYTE* base = buffer.data();
        Result r = Call(2, base, size);
        ASSERT_TRUE(r.ok) << "extra " << extra;
        EXPECT_EQ(r.returned, 3u);
        EXPECT_EQ(r.needed, probe.needed);
        EXPECT_EQ(r.lastError, kPoison);
        BYTE* top = base + size;
        for (std::size_t i = 0; i < names.size(); ++i) {
            PORT_INFO_2W info;
            std::memcpy(&info, base + i * 32, sizeof info);
            std::wstring description = names[i] == L"ZEL_3_PORT1:" ? kDescription : L"";
            top -= Bytes(names[i]);
            EXPECT_EQ(reinterpret_cast<BYTE*>(info.pPortName), top);
            EXPECT_EQ(ReadAt(info.pPortName), names[i]);
            top -= Bytes(kMonitorName);
            EXPECT_EQ(reinterpret_cast<BYTE*>(info.pMonitorName), top);
            EXPECT_EQ(ReadAt(info.pMonitorName), kMonitorName);
            top -= Bytes(description);
            EXPECT_EQ(reinterpret_cast<BYTE*>(info.pDescription), top);
            EXPECT_EQ(ReadAt(info.pDescription), description);
            EXPECT_EQ(info.fPortType, static_cast<DWORD>(PORT_TYPE_WRITE));
            EXPECT_EQ(info.Reserved, 0u);
        }
        // The last string placed ends where the slack begins: nothing below it is touched.
        EXPECT_EQ(top, base + 3 * 32 + extra);
        for (DWORD i = 0; i < extra; ++i) {
            EXPECT_EQ(base[3 * 32 + i], 0xEE) << "slack byte written";
        }
        EXPECT_EQ(buffer[size], 0xEE) << "wrote past the buffer";
    }
}

TEST_F(EnumPortsTest, ShortBuffersReportTheNeedAndWriteNothing) {
    ScopedPorts ports({L"ZEL_3_PORT1:", L"ZEL_3_PORT2:"});
    for (DWORD level : {1u, 2u}) {
        Result probe = Call(level, nullptr, 0);
        ASSERT_FALSE(probe.ok);
        for (DWORD size : {DWORD{0}, DWORD{1}, probe.needed / 2, probe.needed - 1}) {
            std::vector<BYTE> buffer(probe.needed, 0xEE);
            Result r = Call(level, buffer.data(), size);
            EXPECT_FALSE(r.ok) << "level " << level << " size " << size;
            EXPECT_EQ(r.lastError, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
            EXPECT_EQ(r.needed, probe.needed);
            EXPECT_EQ(r.returned, 0u);
            EXPECT_EQ(buffer, std::vector<BYTE>(probe.needed, 0xEE));
        }
    }
}

TEST_F(EnumPortsTest, RefusedCalls) {
    ScopedPorts ports({L"P:"});
    BYTE buffer[256];
    Result r = Call(3, buffer, sizeof buffer);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.lastError, static_cast<DWORD>(ERROR_INVALID_LEVEL));
    EXPECT_EQ(r.needed, 0u);
    EXPECT_EQ(r.returned, 0u);

    wchar_t server[] = L"\\\\elsewhere";
    r = Call(1, buffer, sizeof buffer, nullptr, server);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.lastError, kPoison);
    EXPECT_EQ(r.needed, 0u);
    EXPECT_EQ(r.returned, 0u);

    // Without a monitor handle and without a server name it reads the
    // registry directly.
    r = Call(1, buffer, sizeof buffer, nullptr);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.returned, 1u);
    EXPECT_TRUE(Rec().Calls().empty());
}

TEST_F(EnumPortsTest, RegistryFailuresMeanNoPortsOrNoDescription) {
    ScopedPorts ports({L"P1:", L"P2:"});
    BYTE buffer[512];
    struct Case {
        RegFn fn;
        unsigned skip;
    };
    for (Case c :
         {Case{RegFn::OpenKey, 0}, Case{RegFn::QueryInfoKey, 0}, Case{RegFn::EnumKey, 1}}) {
        Rec().Inject(c.fn, ERROR_ACCESS_DENIED, c.skip);
        Result r = Call(2, buffer, sizeof buffer);
        EXPECT_TRUE(r.ok) << RegFnName(c.fn);
        EXPECT_EQ(r.needed, 0u) << RegFnName(c.fn);
        EXPECT_EQ(r.returned, 0u);
        EXPECT_EQ(r.lastError, kPoison);
    }

    // The first port's key does not open: it is listed with an empty description.
    Rec().Inject(RegFn::OpenKey, ERROR_ACCESS_DENIED, 1);
    Result r = Call(2, buffer, sizeof buffer);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.returned, 2u);
    PORT_INFO_2W first, second;
    std::memcpy(&first, buffer, sizeof first);
    std::memcpy(&second, buffer + 32, sizeof second);
    EXPECT_EQ(ReadAt(first.pDescription), L"");
    EXPECT_EQ(ReadAt(second.pDescription), kDescription);
}

TEST_F(EnumPortsTest, AThousandPortsAreAllListed) {
    ScopedPorts ports;
    for (int i = 1; i <= 1000; ++i) {
        ports.Add(L"ZEL_3_PORT" + std::to_wstring(i) + L":");
    }
    Result probe = Call(2, nullptr, 0);
    ASSERT_FALSE(probe.ok);
    std::vector<BYTE> buffer(probe.needed);
    Result r = Call(2, buffer.data(), probe.needed);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.returned, 1000u);
    std::vector<bool> seen(1001);
    for (DWORD i = 0; i < r.returned; ++i) {
        PORT_INFO_2W info;
        std::memcpy(&info, buffer.data() + i * 32, sizeof info);
        std::wstring name = ReadAt(info.pPortName);
        ASSERT_EQ(name.rfind(L"ZEL_3_PORT", 0), 0u);
        seen[std::stoi(name.substr(10))] = true;
        EXPECT_EQ(ReadAt(info.pDescription), kDescription);
    }
    for (int i = 1; i <= 1000; ++i) {
        EXPECT_TRUE(seen[i]) << i;
    }
}
