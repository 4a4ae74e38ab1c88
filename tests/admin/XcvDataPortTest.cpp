#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include <string>
#include <vector>

#include "admin/XcvContext.h"
#include "harness/SpoolerHarness.h"
#include "harness/TestRegistry.h"
#include "monitor/Guards.h"
#include "registry/RegistryLayout.h"

using namespace zeltest;
using Brambleworth::Zel::PortMon::XcvContext;

namespace {

// A port that Wine's own "Local Port" monitor always lists.
const wchar_t* const kForeignPort = L"LPT1:";

class XcvDataPortTest : public ::testing::Test {
protected:
    const MONITOR2& M() { return SpoolerHarness::Instance().Monitor(); }
    RecordingRegistry& Reg() { return SpoolerHarness::Instance().Registry(); }

    void SetUp() override { Reg().Clear(); }
    void TearDown() override {
        Reg().Clear();
        EXPECT_TRUE(Reg().OpenKeys().empty()) << "a registry key was left open";
    }

    HANDLE Open(ACCESS_MASK access, const wchar_t* object = nullptr) {
        HANDLE xcv = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(kPoison));
        SetLastError(kPoison);
        EXPECT_TRUE(
            M().pfnXcvOpenPort(SpoolerHarness::Instance().MonitorHandle(), object, access, &xcv));
        EXPECT_NE(xcv, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(kPoison)));
        return xcv;
    }

    void Close(HANDLE xcv) {
        SetLastError(kPoison);
        EXPECT_TRUE(M().pfnXcvClosePort(xcv));
        EXPECT_EQ(GetLastError(), kPoison);
    }

    // One command with the output side poisoned. Port names go in as the
    // spooler passes them: the string and its NUL.
    DWORD Send(HANDLE xcv, const wchar_t* command, const wchar_t* input) {
        output_.assign(16, 0xAB);
        needed_ = kPoison;
        DWORD inputSize = input ? static_cast<DWORD>((wcslen(input) + 1) * sizeof(wchar_t)) : 0;
        return M().pfnXcvDataPort(xcv, command,
                                  reinterpret_cast<BYTE*>(const_cast<wchar_t*>(input)), inputSize,
                                  output_.data(), static_cast<DWORD>(output_.size()), &needed_);
    }

    void ExpectNoOutput(const std::string& what) {
        EXPECT_EQ(needed_, kPoison) << what;
        EXPECT_EQ(output_, std::vector<BYTE>(16, 0xAB)) << what;
    }

    std::vector<BYTE> output_;
    DWORD needed_ = 0;
};

// Commands that are refused before the registry or the spooler's port list
// is consulted: nothing is written and the last error is left alone.
TEST_F(XcvDataPortTest, RefusalsBeforeAnyWork) {
    ScopedPorts ports;
    struct Case {
        const char* what;
        ACCESS_MASK access;
        const wchar_t* command;
        const wchar_t* input;
        DWORD expected;
    } cases[] = {
        {"unknown command", SERVER_ALL_ACCESS, L"Frobnicate", L"P:", ERROR_INVALID_PARAMETER},
        {"lower case", SERVER_ALL_ACCESS, L"addport", L"P:", ERROR_INVALID_PARAMETER},
        {"trailing blank", SERVER_ALL_ACCESS, L"AddPort ", L"P:", ERROR_INVALID_PARAMETER},
        {"prefix only", SERVER_ALL_ACCESS, L"Add", L"P:", ERROR_INVALID_PARAMETER},
        {"empty command", SERVER_ALL_ACCESS, L"", L"P:", ERROR_INVALID_PARAMETER},
        {"null command", SERVER_ALL_ACCESS, nullptr, L"P:", ERROR_INVALID_PARAMETER},
        {"AddPort without right", SERVER_ACCESS_ENUMERATE, L"AddPort", L"P:", ERROR_ACCESS_DENIED},
        {"AddPort without right, null input", 0, L"AddPort", nullptr, ERROR_ACCESS_DENIED},
        {"DeletePort without right", SERVER_READ, L"DeletePort", L"P:", ERROR_ACCESS_DENIED},
        {"DeletePort without right, null input", 0, L"DeletePort", nullptr, ERROR_ACCESS_DENIED},
        {"AddPort null name", SERVER_ACCESS_ADMINISTER, L"AddPort", nullptr,
         ERROR_INVALID_PARAMETER},
        {"AddPort empty name", SERVER_ACCESS_ADMINISTER, L"AddPort", L"", ERROR_INVALID_PARAMETER},
        {"DeletePort null name", SERVER_ACCESS_ADMINISTER, L"DeletePort", nullptr,
         ERROR_INVALID_PARAMETER},
        {"DeletePort empty name", SERVER_ACCESS_ADMINISTER, L"DeletePort", L"",
         ERROR_INVALID_PARAMETER},
        {"GetConfig with right", SERVER_ALL_ACCESS, L"GetConfig", nullptr, ERROR_INVALID_PARAMETER},
        {"GetConfig without right", 0, L"GetConfig", nullptr, ERROR_INVALID_PARAMETER},
        {"SetConfig with right", SERVER_ACCESS_ADMINISTER, L"SetConfig", L"x",
         ERROR_INVALID_PARAMETER},
        {"SetConfig without right", SERVER_ACCESS_ENUMERATE, L"SetConfig", L"x",
         ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        // The object name is not consulted: a port's name works as well.
        HANDLE xcv = Open(c.access, L"ZEL_3_PORT7:");
        SetLastError(kPoison);
        EXPECT_EQ(Send(xcv, c.command, c.input), c.expected) << c.what;
        EXPECT_EQ(GetLastError(), kPoison) << c.what;
        ExpectNoOutput(c.what);
        EXPECT_TRUE(Reg().Calls().empty()) << c.what << ": touched the registry";
        Close(xcv);
    }
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, PortKeyPath(L"P:")));
}

TEST_F(XcvDataPortTest, ForeignOrNullHandlesAreRefused) {
    XcvContext foreign{63, nullptr, SERVER_ALL_ACCESS};
    for (HANDLE handle : {static_cast<HANDLE>(nullptr), static_cast<HANDLE>(&foreign)}) {
        SetLastError(kPoison);
        EXPECT_EQ(Send(handle, L"MonitorUI", nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        ExpectNoOutput("foreign handle");
        EXPECT_FALSE(M().pfnXcvClosePort(handle));
        EXPECT_EQ(GetLastError(), kPoison);
    }
    EXPECT_EQ(foreign.tag, 63u) << "a foreign record must not be touched";
}

TEST_F(XcvDataPortTest, MonitorUiNamesThisLibraryWithoutNeedingTheRight) {
    const std::wstring path = MonitorDllPath();
    const DWORD size = static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t));
    HANDLE xcv = Open(0);

    std::vector<BYTE> buffer(size + 8, 0xAB);
    DWORD needed = kPoison;
    EXPECT_EQ(M().pfnXcvDataPort(xcv, L"MonitorUI", nullptr, 0, buffer.data(), 0, &needed),
              static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, size);
    EXPECT_EQ(buffer, std::vector<BYTE>(size + 8, 0xAB));

    needed = kPoison;
    EXPECT_EQ(M().pfnXcvDataPort(xcv, L"MonitorUI", nullptr, 0, buffer.data(), size - 1, &needed),
              static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, size);

    needed = kPoison;
    EXPECT_EQ(M().pfnXcvDataPort(xcv, L"MonitorUI", nullptr, 0, buffer.data(), size, &needed),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(needed, size);
    const wchar_t* written = reinterpret_cast<const wchar_t*>(buffer.data());
    EXPECT_EQ(_wcsicmp(written, path.c_str()), 0) << Narrow(written);
    EXPECT_EQ(written[path.size()], L'\0');
    EXPECT_EQ(buffer[size], 0xAB) << "wrote past the path";

    // A big enough size with nowhere to write, and nowhere to report the size.
    needed = kPoison;
    EXPECT_EQ(M().pfnXcvDataPort(xcv, L"MonitorUI", nullptr, 0, nullptr, size, &needed),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(needed, size);
    EXPECT_EQ(M().pfnXcvDataPort(xcv, L"MonitorUI", nullptr, 0, buffer.data(), size, nullptr),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    Close(xcv);
}

TEST_F(XcvDataPortTest, AddPortCreatesTheKeyThroughTheSpoolersTable) {
    ScopedPorts ports;
    HANDLE xcv = Open(SERVER_ACCESS_ADMINISTER);
    EXPECT_EQ(Send(xcv, L"AddPort", L"ZEL_TEST_ADD:"), static_cast<DWORD>(ERROR_SUCCESS));
    ExpectNoOutput("AddPort");

    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(
        ReadValue(HKEY_LOCAL_MACHINE, PortKeyPath(L"ZEL_TEST_ADD:"), L"Description", type, data));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    const std::wstring description = L"Tessivane 3 Port";
    EXPECT_EQ(data.size(), (description.size() + 1) * sizeof(wchar_t)) << "NUL counted";

    std::vector<RegCall> creates = Reg().CallsOf(RegFn::CreateKey);
    ASSERT_EQ(creates.size(), 1u);
    EXPECT_EQ(Narrow(creates[0].name), Narrow(PortKeyPath(L"ZEL_TEST_ADD:")));
    for (const RegCall& call : Reg().Calls()) {
        EXPECT_EQ(call.hSpooler, RecordingRegistry::SpoolerHandle()) << RegFnName(call.function);
    }
    Close(xcv);
}

TEST_F(XcvDataPortTest, PortsTheSpoolerListsAreTakenWhateverTheRegistrySays) {
    ScopedPorts ports;
    HANDLE xcv = Open(SERVER_ALL_ACCESS);
    EXPECT_EQ(Send(xcv, L"AddPort", kForeignPort),
              static_cast<DWORD>(ERROR_PRINTER_ALREADY_EXISTS));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, PortKeyPath(kForeignPort)));
    EXPECT_TRUE(Reg().Calls().empty()) << "the registry is not the judge";

    // Deleting a port the spooler does not list never reaches the registry.
    ports.Add(L"ZEL_TEST_UNLISTED:");
    EXPECT_EQ(Send(xcv, L"DeletePort", L"ZEL_TEST_UNLISTED:"),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, PortKeyPath(L"ZEL_TEST_UNLISTED:")));
    EXPECT_TRUE(Reg().Calls().empty());
    Close(xcv);
}

// Registry outcomes, real and injected: the command returns the failed call's
// own code and leaves the registry as it was.
TEST_F(XcvDataPortTest, RegistryOutcomes) {
    struct Case {
        const char* what;
        const wchar_t* command;
        const wchar_t* port;
        bool portKeyBefore;
        bool inject;
        RegFn fn;
        LONG status;
        DWORD expected;
        bool portKeyAfter;
        bool descriptionAfter;
    } cases[] = {
        {"create fails", L"AddPort", L"ZEL_TEST_NEW:", false, true, RegFn::CreateKey,
         ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, false, false},
        {"create fails, odd code", L"AddPort", L"ZEL_TEST_NEW:", false, true, RegFn::CreateKey,
         ERROR_KEY_DELETED, ERROR_KEY_DELETED, false, false},
        {"description not written", L"AddPort", L"ZEL_TEST_NEW:", false, true, RegFn::SetValue,
         ERROR_ACCESS_DENIED, ERROR_SUCCESS, true, false},
        {"delete another monitor's port", L"DeletePort", kForeignPort, false, false,
         RegFn::DeleteKey, 0, ERROR_FILE_NOT_FOUND, false, false},
        {"ports key does not open", L"DeletePort", kForeignPort, true, true, RegFn::OpenKey,
         ERROR_KEY_DELETED, ERROR_KEY_DELETED, true, true},
        {"delete refused", L"DeletePort", kForeignPort, true, true, RegFn::DeleteKey,
         ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, true, true},
        {"delete succeeds", L"DeletePort", kForeignPort, true, false, RegFn::DeleteKey, 0,
         ERROR_SUCCESS, false, false},
    };
    for (const Case& c : cases) {
        ScopedPorts ports;
        if (c.portKeyBefore) {
            ports.Add(c.port);
        }
        Reg().Clear();
        if (c.inject) {
            Reg().Inject(c.fn, c.status);
        }
        HANDLE xcv = Open(SERVER_ACCESS_ADMINISTER);
        EXPECT_EQ(Send(xcv, c.command, c.port), c.expected) << c.what;
        ExpectNoOutput(c.what);
        EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, PortKeyPath(c.port)), c.portKeyAfter) << c.what;
        std::wstring description;
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, PortKeyPath(c.port), L"Description", description),
                  c.descriptionAfter)
            << c.what;
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, PortsKeyPath())) << c.what;
        EXPECT_TRUE(Reg().OpenKeys().empty()) << c.what << ": key left open";
        Close(xcv);
    }
}

TEST_F(XcvDataPortTest, DeleteIsSingleLevel) {
    ScopedPorts ports({kForeignPort});
    CreateKey(HKEY_LOCAL_MACHINE, PortKeyPath(kForeignPort) + L"\\child");
    HANDLE xcv = Open(SERVER_ACCESS_ADMINISTER);
    DWORD result = Send(xcv, L"DeletePort", kForeignPort);
    EXPECT_NE(result, static_cast<DWORD>(ERROR_SUCCESS));
    std::vector<RegCall> deletes = Reg().CallsOf(RegFn::DeleteKey);
    ASSERT_EQ(deletes.size(), 1u);
    EXPECT_EQ(static_cast<DWORD>(deletes[0].status), result);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, PortKeyPath(kForeignPort) + L"\\child"));
    Close(xcv);
}

} // namespace

// The existence check's own failures carry no system code; they must not
// read as ERROR_SUCCESS, which would tell the client that a port was added.
TEST(XcvCommandGuard, ExistenceCheckFailuresNeverReadAsSuccess) {
    using Brambleworth::Zel::Error;
    using Brambleworth::Zel::GuardXcvCommand;
    const char* check = "Brambleworth::Zel::PortMon::PortExistsInt";
    struct Case {
        Error error;
        DWORD expected;
    } cases[] = {
        {Error(6, check, 131, ERROR_INVALID_LEVEL, ""), ERROR_INVALID_LEVEL},
        {Error(2, check, 152, 0, ""), ERROR_NOT_ENOUGH_MEMORY},
        {Error(1, check, 156, 0, ""), ERROR_INTERNAL_ERROR},
        {Error(30, "elsewhere", 90, 0, ""), ERROR_SUCCESS},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GuardXcvCommand([&]() -> DWORD { throw c.error; }), c.expected)
            << "code " << c.error.Code();
    }
}
