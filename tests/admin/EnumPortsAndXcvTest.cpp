// Port administration as the spooler calls it, through the DLL's table with the
// recording registry table behind the monitor handle: EnumPorts and the
// transceive channel; and the names of ports and channels.

#include <gtest/gtest.h>

#include <cstring>
#include <locale>
#include <string>
#include <vector>

#include "admin/PortNames.h"
#include "admin/XcvContext.h"
#include "harness/SpoolerHarness.h"
#include "harness/TestRegistry.h"
#include "monitor/Guards.h"

using namespace Brambleworth::Zel;
using namespace Brambleworth::Zel::PortMon;
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

// Every test starts with an empty record of registry calls and leaves no key open.
class AdminTest : public ::testing::Test {
protected:
    void SetUp() override { Rec().Clear(); }
    void TearDown() override { Rec().ExpectTidyAndClear(); }
    static RecordingRegistry& Rec() { return RecordingRegistry::Instance(); }
    static const MONITOR2& M() { return SpoolerHarness::Instance().Monitor(); }

    // EnumPorts with the outputs and the last error poisoned.
    Result Call(DWORD level, BYTE* buffer, DWORD size,
                HANDLE monitor = SpoolerHarness::Instance().MonitorHandle(),
                LPWSTR server = nullptr) {
        Result r{FALSE, kPoison, kPoison, kPoison};
        SetLastError(kPoison);
        r.ok = M().pfnEnumPorts(monitor, server, level, buffer, size, &r.needed, &r.returned);
        r.lastError = GetLastError();
        return r;
    }

    // One command with the output side and the last error poisoned; port names
    // go in as the spooler passes them, with their NUL, unless `size` is given.
    // Nothing is ever output.
    DWORD Send(HANDLE xcv, const wchar_t* command, const void* input, DWORD size = kPoison) {
        std::vector<BYTE> output(16, 0xAB);
        DWORD needed = kPoison;
        if (size == kPoison) {
            size = input ? DWORD(wcslen(static_cast<const wchar_t*>(input)) * 2 + 2) : 0;
        }
        SetLastError(kPoison);
        DWORD result =
            M().pfnXcvDataPort(xcv, command, static_cast<BYTE*>(const_cast<void*>(input)), size,
                               output.data(), static_cast<DWORD>(output.size()), &needed);
        lastError_ = GetLastError();
        EXPECT_EQ(needed, kPoison);
        EXPECT_EQ(output, std::vector<BYTE>(16, 0xAB));
        return result;
    }

    // The same on a channel of its own; its object name is not consulted.
    DWORD Run(ACCESS_MASK access, const wchar_t* command, const void* input, DWORD size = kPoison) {
        HANDLE xcv = nullptr;
        EXPECT_TRUE(M().pfnXcvOpenPort(SpoolerHarness::Instance().MonitorHandle(), L"ZEL_3_PORT7:",
                                       access, &xcv));
        DWORD result = Send(xcv, command, input, size);
        EXPECT_TRUE(M().pfnXcvClosePort(xcv));
        return result;
    }

    DWORD lastError_ = 0;
};
using EnumPortsTest = AdminTest;
using XcvDataPortTest = AdminTest;

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
    BYTE listed[512];
    Result direct = Call(1, listed, sizeof listed, nullptr);
    EXPECT_TRUE(direct.ok);
    EXPECT_EQ(direct.returned, 3u);
    EXPECT_TRUE(Rec().Calls().empty());

    // A port whose key does not open is listed with an empty description.
    ScopedPorts two({L"P1:", L"P2:"});
    Rec().Inject(RegFn::OpenKey, ERROR_ACCESS_DENIED, 1);
    Result r = Call(2, listed, sizeof listed);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.returned, 2u);
    EXPECT_EQ(ReadAt(Pointer(listed, 2)), L"");
    EXPECT_EQ(ReadAt(Pointer(listed + 32, 2)), kDescription);
}

// Commands refused before the registry or the spooler's port list is
// consulted, the right checked before the input; the last error stays alone.
TEST_F(XcvDataPortTest, RefusalsBeforeAnyWork) {
    ScopedPorts ports;
    struct Case {
        ACCESS_MASK access;
        const wchar_t *command, *input;
        DWORD expected;
    } cases[] = {
        {SERVER_ALL_ACCESS, L"addport", L"P:", ERROR_INVALID_PARAMETER},
        {SERVER_ALL_ACCESS, L"AddPort ", L"P:", ERROR_INVALID_PARAMETER},
        {SERVER_ALL_ACCESS, nullptr, L"P:", ERROR_INVALID_PARAMETER},
        {SERVER_ACCESS_ENUMERATE, L"AddPort", nullptr, ERROR_ACCESS_DENIED},
        {SERVER_READ, L"DeletePort", nullptr, ERROR_ACCESS_DENIED},
        {SERVER_ACCESS_ADMINISTER, L"AddPort", nullptr, ERROR_INVALID_PARAMETER},
        {SERVER_ACCESS_ADMINISTER, L"DeletePort", L"", ERROR_INVALID_PARAMETER},
        {SERVER_ALL_ACCESS, L"GetConfig", nullptr, ERROR_INVALID_PARAMETER},
        {SERVER_ACCESS_ADMINISTER, L"SetConfig", L"x", ERROR_INVALID_PARAMETER},
        {0, L"SetConfig", L"x", ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Run(c.access, c.command, c.input), c.expected) << "row " << &c - cases;
        EXPECT_EQ(lastError_, kPoison) << "row " << &c - cases;
    }
    EXPECT_TRUE(Rec().Calls().empty()) << "the registry was touched";
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, PortKeyPath(L"P:")));
}

TEST_F(XcvDataPortTest, ForeignOrNullHandlesAreRefused) {
    XcvContext foreign{63, nullptr, SERVER_ALL_ACCESS};
    for (HANDLE handle : {static_cast<HANDLE>(nullptr), static_cast<HANDLE>(&foreign)}) {
        EXPECT_EQ(Send(handle, L"MonitorUI", nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_FALSE(M().pfnXcvClosePort(handle));
        EXPECT_EQ(GetLastError(), kPoison);
    }
    EXPECT_EQ(foreign.tag, 63u) << "a foreign record must not be touched";
    // A record with the monitor's tag (64) is taken: here refused for want of the right.
    XcvContext own{64, nullptr, 0};
    EXPECT_EQ(Send(&own, L"AddPort", nullptr), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// Registry outcomes, real and injected: the command returns the failed call's
// own code and leaves the registry as it was. Deleting needs a port that the
// spooler lists, such as Wine's own LPT1:.
TEST_F(XcvDataPortTest, RegistryOutcomes) {
    struct Case {
        const char* what;
        const wchar_t *command, *port;
        RegFn fn;
        LONG injected; // 0: nothing injected
        DWORD expected;
        bool keyAfter, descriptionAfter;
    } cases[] = {
        {"add", L"AddPort", L"ZEL_TEST_NEW:", RegFn::CreateKey, 0, ERROR_SUCCESS, true, true},
        // Another monitor's port is taken, though no key of ours names it.
        {"taken", L"AddPort", L"LPT1:", RegFn::CreateKey, 0, ERROR_PRINTER_ALREADY_EXISTS, false,
         false},
        {"create fails", L"AddPort", L"ZEL_TEST_NEW:", RegFn::CreateKey, ERROR_KEY_DELETED,
         ERROR_KEY_DELETED, false, false},
        {"description not written", L"AddPort", L"ZEL_TEST_NEW:", RegFn::SetValue,
         ERROR_ACCESS_DENIED, ERROR_SUCCESS, true, false},
        {"ports key does not open", L"DeletePort", L"LPT1:", RegFn::OpenKey, ERROR_KEY_DELETED,
         ERROR_KEY_DELETED, true, true},
        {"delete refused", L"DeletePort", L"LPT1:", RegFn::DeleteKey, ERROR_ACCESS_DENIED,
         ERROR_ACCESS_DENIED, true, true},
        {"delete", L"DeletePort", L"LPT1:", RegFn::DeleteKey, 0, ERROR_SUCCESS, false, false},
    };
    for (const Case& c : cases) {
        ScopedPorts ports;
        if (c.command[0] == L'D') {
            ports.Add(c.port);
        }
        if (c.injected) {
            Rec().Inject(c.fn, c.injected);
        }
        EXPECT_EQ(Run(SERVER_ACCESS_ADMINISTER, c.command, c.port), c.expected) << c.what;
        EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, PortKeyPath(c.port)), c.keyAfter) << c.what;
        std::wstring description;
        ReadString(HKEY_LOCAL_MACHINE, PortKeyPath(c.port), L"Description", description);
        EXPECT_EQ(Narrow(description), c.descriptionAfter ? "Tessivane 3 Port" : "") << c.what;
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, PortsKeyPath())) << c.what;
    }
}

// The spooler's input buffer is exactly the count long: placed right before a
// page that cannot be read, a name without its NUL inside the count's whole
// characters is refused without a read past it, and changes nothing. Wine
// lists LPT1:, so a name read whole is taken for an add and reaches the delete.
TEST_F(XcvDataPortTest, PortNameIsReadOnlyWithinTheCount) {
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    const DWORD page = system.dwPageSize;
    BYTE* pages = static_cast<BYTE*>(
        VirtualAlloc(nullptr, 2 * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(pages, nullptr);
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(pages + page, page, PAGE_NOACCESS, &old));
    const std::wstring name = L"LPT1:";
    const DWORD nameBytes = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    const DWORD refused = ERROR_INVALID_PARAMETER;
    struct Case {
        DWORD count; // just over the name: the name and what fits of its NUL
        DWORD addResult, deleteResult;
    } cases[] = {
        {0, refused, refused},
        {1, refused, refused},
        {4, refused, refused},
        {nameBytes + 1, refused, refused}, // the NUL's second byte lies beyond
        {page, refused, refused},
        {nameBytes + 2, ERROR_PRINTER_ALREADY_EXISTS, ERROR_SUCCESS},
    };
    for (const Case& c : cases) {
        ScopedPorts ports({name});
        Rec().Clear();
        std::memset(pages, 'A', page); // U+4141, never a NUL
        BYTE* input = pages + page - c.count;
        if (c.count > nameBytes && c.count <= nameBytes + 2) {
            std::memcpy(input, name.c_str(), c.count);
        }
        EXPECT_EQ(Run(SERVER_ACCESS_ADMINISTER, L"AddPort", input, c.count), c.addResult)
            << "count " << c.count;
        EXPECT_EQ(Run(SERVER_ACCESS_ADMINISTER, L"DeletePort", input, c.count), c.deleteResult)
            << "count " << c.count;
        EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, PortKeyPath(name)), c.deleteResult != 0);
        EXPECT_EQ(Rec().Calls().empty(), c.deleteResult != 0) << "count " << c.count;
    }
    VirtualFree(pages, 0, MEM_RELEASE);
}

} // namespace

// The existence check's own failures carry no system code; they must not
// read as ERROR_SUCCESS, which would tell the client that a port was added.
TEST(XcvCommandGuard, ExistenceCheckFailuresNeverReadAsSuccess) {
    const char* check = "Brambleworth::Zel::PortMon::PortExistsInt";
    struct Case {
        Error error;
        DWORD expected;
    } cases[] = {
        {Error(6, check, 131, ERROR_INVALID_LEVEL, ""), ERROR_INVALID_LEVEL},
        {Error(2, check, 152, 0, ""), ERROR_NOT_ENOUGH_MEMORY},
        {Error(1, check, 156, 0, ""), ERROR_INTERNAL_ERROR},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GuardXcvCommand([&]() -> DWORD { throw c.error; }), c.expected)
            << "code " << c.error.Code();
    }
}

// Generated names ignore the user's locale, whose grouping would print 1000
// as "1'000".
TEST(PortNames, GeneratedAndTransceiveNames) {
    struct GroupingPunct : std::numpunct<wchar_t> {
        wchar_t do_thousands_sep() const override { return L'\''; }
        std::string do_grouping() const override { return "\3"; }
    };
    const std::locale previous =
        std::locale::global(std::locale(std::locale::classic(), new GroupingPunct));
    EXPECT_EQ(Narrow(GeneratedPortName(1000)), "ZEL_3_PORT1000:");
    std::locale::global(previous);

    EXPECT_EQ(Narrow(XcvPrinterName(nullptr, L"XcvPort", L"ZEL_3_PORT1:")),
              ",XcvPort ZEL_3_PORT1:");
    EXPECT_EQ(Narrow(XcvPrinterName(L"\\\\host", L"XcvMonitor", L"M")), "\\\\host\\,XcvMonitor M");
}
