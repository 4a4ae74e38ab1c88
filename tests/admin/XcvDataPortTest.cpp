// The transceive channel as the spooler calls it, with the recording registry
// table behind the monitor handle, and the names of ports and channels.

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

class XcvDataPortTest : public ::testing::Test {
protected:
    const MONITOR2& M() { return SpoolerHarness::Instance().Monitor(); }
    RecordingRegistry& Reg() { return SpoolerHarness::Instance().Registry(); }

    void SetUp() override { Reg().Clear(); }
    void TearDown() override { Reg().ExpectTidyAndClear(); }

    // One command with the output side and the last error poisoned; port names
    // go in as the spooler passes them, with their NUL, unless `size` is given.
    // Nothing is ever output.
    DWORD Send(HANDLE xcv, const wchar_t* command, const void* input, DWORD size = kPoison) {
        std::vector<BYTE> output(16, 0xAB);
        DWORD needed = kPoison;
        if (size == kPoison) {
            size =
                input ? static_cast<DWORD>(wcslen(static_cast<const wchar_t*>(input)) * 2 + 2) : 0;
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
    EXPECT_TRUE(Reg().Calls().empty()) << "the registry was touched";
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
            Reg().Inject(c.fn, c.injected);
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
        Reg().Clear();
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
        EXPECT_EQ(Reg().Calls().empty(), c.deleteResult != 0) << "count " << c.count;
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
