// MonitorReg in both of its modes: through the spooler's registry table (the
// recording one of the harness) and through plain advapi32.

#include <gtest/gtest.h>

#include <string>

#include "harness/SpoolerHarness.h"
#include "harness/TestRegistry.h"
#include "registry/MonitorReg.h"

using Brambleworth::Zel::NameList;
using Brambleworth::Zel::PortMon::MonitorReg;
using namespace zeltest;

namespace {

const std::wstring kTestKey = L"Software\\Brambleworth Inc.\\Zel\\3\\RegistryTest";

class MonitorRegTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        DeleteTree(HKEY_LOCAL_MACHINE, kTestKey);
        CreateKey(HKEY_LOCAL_MACHINE, kTestKey);
        Rec().Clear();
    }
    void TearDown() override {
        if (ThroughTable()) {
            for (const RegCall& call : Rec().Calls()) {
                EXPECT_EQ(call.hSpooler, RecordingRegistry::SpoolerHandle())
                    << RegFnName(call.function) << " without the spooler's handle";
            }
            EXPECT_TRUE(Rec().OpenKeys().empty()) << "a key stayed open";
        }
        Rec().Clear();
        DeleteTree(HKEY_LOCAL_MACHINE, kTestKey);
    }

    bool ThroughTable() const { return GetParam(); }
    PMONITORINIT Monitor() { return ThroughTable() ? SpoolerHarness::Instance().Init() : nullptr; }
    RecordingRegistry& Rec() { return RecordingRegistry::Instance(); }
    std::size_t CallCount(RegFn fn) { return Rec().CallsOf(fn).size(); }

    // A MonitorReg open on the test key.
    void Open(MonitorReg& reg) {
        ASSERT_TRUE(reg.OpenKey(HKEY_LOCAL_MACHINE, kTestKey.c_str(), KEY_ALL_ACCESS));
        ASSERT_TRUE(reg.IsOpen());
        ASSERT_EQ(reg.LastResult(), ERROR_SUCCESS);
    }
};

} // namespace

TEST_P(MonitorRegTest, QueryValueReadsStringsAsStored) {
    struct Case {
        const char* what;
        std::wstring stored; // raw UTF-16 units stored as REG_SZ data
        std::wstring expected;
    };
    const Case cases[] = {
        {"with its terminating null", std::wstring(L"C:\\Temp\\", 9), L"C:\\Temp\\"},
        {"without a terminating null", L"C:\\Temp", L"C:\\Temp"},
        {"two trailing nulls keep one", std::wstring(L"ab\0\0", 4), std::wstring(L"ab\0", 3)},
        {"no data bytes at all", L"", L""},
        {"longer than the first 100-byte buffer", std::wstring(300, L'x') + L'\0',
         std::wstring(300, L'x')},
    };
    for (const Case& c : cases) {
        SetRaw(HKEY_LOCAL_MACHINE, kTestKey, L"V", REG_SZ, c.stored.data(),
               static_cast<DWORD>(c.stored.size() * sizeof(wchar_t)));
        MonitorReg reg(Monitor());
        Open(reg);
        std::wstring value = L"untouched";
        EXPECT_TRUE(reg.QueryValue(L"V", value)) << c.what;
        EXPECT_EQ(value, c.expected) << c.what;
        EXPECT_EQ(reg.LastResult(), ERROR_SUCCESS) << c.what;
    }
}

TEST_P(MonitorRegTest, QueryValueRetriesOnceWithTheReportedSize) {
    SetString(HKEY_LOCAL_MACHINE, kTestKey, L"Long", std::wstring(120, L'y'));
    MonitorReg reg(Monitor());
    Open(reg);
    Rec().Clear();
    std::wstring value;
    ASSERT_TRUE(reg.QueryValue(L"Long", value));
    EXPECT_EQ(value, std::wstring(120, L'y'));
    if (ThroughTable()) {
        auto queries = Rec().CallsOf(RegFn::QueryValue);
        ASSERT_EQ(queries.size(), 2u);
        EXPECT_EQ(queries[0].status, ERROR_MORE_DATA);
        EXPECT_EQ(queries[1].status, ERROR_SUCCESS);
    }
}

TEST_P(MonitorRegTest, QueryValueOfOtherTypesOrMissingValuesFails) {
    SetDword(HKEY_LOCAL_MACHINE, kTestKey, L"Number", 7);
    SetRaw(HKEY_LOCAL_MACHINE, kTestKey, L"Expand", REG_EXPAND_SZ, L"%TEMP%", 14);
    MonitorReg reg(Monitor());
    Open(reg);
    std::wstring value = L"untouched";
    EXPECT_FALSE(reg.QueryValue(L"Number", value));
    EXPECT_EQ(reg.LastResult(), ERROR_SUCCESS) << "another type is not a failed call";
    EXPECT_FALSE(reg.QueryValue(L"Expand", value));
    EXPECT_EQ(reg.LastResult(), ERROR_SUCCESS);
    EXPECT_FALSE(reg.QueryValue(L"Missing", value));
    EXPECT_EQ(reg.LastResult(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(value, L"untouched");
}

TEST_P(MonitorRegTest, SetValueWritesStringsWithTheirNullAndDwordsAsFourBytes) {
    MonitorReg reg(Monitor());
    Open(reg);
    ASSERT_TRUE(reg.SetValue(L"S", std::wstring(L"Z:\\ps1.tmp")));
    ASSERT_TRUE(reg.SetValue(L"D", DWORD{16}));
    ASSERT_TRUE(reg.SetValue(L"E", std::wstring()));
    DWORD type;
    std::vector<BYTE> data;
    ASSERT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, kTestKey, L"S", type, data));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(data.size(), (10u + 1) * 2);
    ASSERT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, kTestKey, L"D", type, data));
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    ASSERT_EQ(data.size(), 4u);
    EXPECT_EQ(*reinterpret_cast<DWORD*>(data.data()), 16u);
    ASSERT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, kTestKey, L"E", type, data));
    EXPECT_EQ(data.size(), 2u);
}

TEST_P(MonitorRegTest, EnumSubKeysListsNamesInRegistryOrder) {
    MonitorReg reg(Monitor());
    Open(reg);
    NameList names{L"stale"};
    EXPECT_TRUE(reg.EnumSubKeys(names));
    EXPECT_TRUE(names.empty()) << "no subkeys: true with an empty list";

    const std::wstring subKeys[] = {L"ZEL_3_PORT1:", L"a:b:c", L"with space:",
                                    std::wstring(200, L'n')};
    for (const std::wstring& sub : subKeys) {
        CreateKey(HKEY_LOCAL_MACHINE, kTestKey + L"\\" + sub);
    }
    NameList expected;
    {
        HKEY raw;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestKey.c_str(), 0, KEY_READ, &raw), 0);
        wchar_t buffer[256];
        for (DWORD i = 0; RegEnumKeyW(raw, i, buffer, 256) == ERROR_SUCCESS; ++i) {
            expected.emplace_back(buffer);
        }
        RegCloseKey(raw);
    }
    ASSERT_EQ(expected.size(), 4u);
    EXPECT_TRUE(reg.EnumSubKeys(names));
    EXPECT_EQ(names, expected);
}

TEST_P(MonitorRegTest, EnumSubKeysWithoutAKeyMakesNoCall) {
    MonitorReg reg(Monitor());
    reg.SetLastResult(5);
    NameList names{L"kept"};
    EXPECT_FALSE(reg.EnumSubKeys(names));
    EXPECT_EQ(reg.LastResult(), ERROR_SUCCESS);
    EXPECT_EQ(names, NameList{L"kept"});
    EXPECT_TRUE(Rec().Calls().empty());
}

TEST_P(MonitorRegTest, CloseTwiceMakesOneCall) {
    MonitorReg reg(Monitor());
    Open(reg);
    Rec().Clear();
    EXPECT_TRUE(reg.Close());
    EXPECT_FALSE(reg.IsOpen());
    EXPECT_TRUE(reg.Close());
    if (ThroughTable()) {
        EXPECT_EQ(CallCount(RegFn::CloseKey), 1u);
    }
}

TEST_P(MonitorRegTest, DeleteSubKeyWithoutAKeyFailsWithoutACall) {
    MonitorReg reg(Monitor());
    reg.SetLastResult(5);
    EXPECT_FALSE(reg.DeleteSubKey(L"x"));
    EXPECT_EQ(reg.LastResult(), ERROR_SUCCESS);
    EXPECT_TRUE(Rec().Calls().empty());

    CreateKey(HKEY_LOCAL_MACHINE, kTestKey + L"\\Port:");
    Open(reg);
    EXPECT_TRUE(reg.DeleteSubKey(L"Port:"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kTestKey + L"\\Port:"));
    EXPECT_FALSE(reg.DeleteSubKey(L"Port:"));
    EXPECT_EQ(reg.LastResult(), ERROR_FILE_NOT_FOUND);
}

TEST_P(MonitorRegTest, CreateKeyCreatesUnderLocalMachineOrOpensExisting) {
    const std::wstring path = kTestKey + L"\\Created";
    MonitorReg reg(Monitor());
    ASSERT_TRUE(reg.CreateKey(path.c_str()));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, path));
    ASSERT_TRUE(reg.SetValue(L"Description", std::wstring(L"d")));
    ASSERT_TRUE(reg.CreateKey(path.c_str())) << "an existing key opens";
    std::wstring value;
    EXPECT_TRUE(reg.QueryValue(L"Description", value));
    EXPECT_EQ(value, L"d");
}

INSTANTIATE_TEST_SUITE_P(Modes, MonitorRegTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "SpoolerTable" : "Advapi32";
                         });

// Failures only the spooler's table lets us inject.
class MonitorRegFailures : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteTree(HKEY_LOCAL_MACHINE, kTestKey);
        CreateKey(HKEY_LOCAL_MACHINE, kTestKey);
        Rec().Clear();
    }
    void TearDown() override {
        Rec().Clear();
        DeleteTree(HKEY_LOCAL_MACHINE, kTestKey);
    }
    RecordingRegistry& Rec() { return RecordingRegistry::Instance(); }
    PMONITORINIT Monitor() { return SpoolerHarness::Instance().Init(); }
};

TEST_F(MonitorRegFailures, OpenKeyClosesTheHeldKeyFirstEvenWhenTheOpenFails) {
    MonitorReg reg(Monitor());
    ASSERT_TRUE(reg.OpenKey(HKEY_LOCAL_MACHINE, kTestKey.c_str(), KEY_READ));
    HANDLE first = reg.Key();
    Rec().Clear();
    Rec().Inject(RegFn::OpenKey, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(reg.OpenKey(HKEY_LOCAL_MACHINE, kTestKey.c_str(), KEY_READ));
    EXPECT_EQ(reg.LastResult(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(reg.IsOpen());
    auto calls = Rec().Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].function, RegFn::CloseKey);
    EXPECT_EQ(calls[0].key, first);
    EXPECT_EQ(calls[1].function, RegFn::OpenKey);
    EXPECT_TRUE(Rec().OpenKeys().empty());
}

TEST_F(MonitorRegFailures, FailedCloseKeepsTheKeyForALaterClose) {
    MonitorReg reg(Monitor());
    ASSERT_TRUE(reg.OpenKey(HKEY_LOCAL_MACHINE, kTestKey.c_str(), KEY_READ));
    HANDLE key = reg.Key();
    Rec().Inject(RegFn::CloseKey, ERROR_INVALID_HANDLE);
    EXPECT_FALSE(reg.Close());
    EXPECT_EQ(reg.LastResult(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(reg.Key(), key);
    EXPECT_TRUE(reg.Close());
    EXPECT_TRUE(Rec().OpenKeys().empty());
}

TEST_F(MonitorRegFailures, EnumSubKeysFailures) {
    for (int i = 0; i < 3; ++i) {
        CreateKey(HKEY_LOCAL_MACHINE, kTestKey + L"\\k" + std::to_wstring(i));
    }
    MonitorReg reg(Monitor());
    ASSERT_TRUE(reg.OpenKey(HKEY_LOCAL_MACHINE, kTestKey.c_str(), KEY_READ));

    NameList names{L"kept"};
    Rec().Inject(RegFn::QueryInfoKey, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(reg.EnumSubKeys(names));
    EXPECT_EQ(reg.LastResult(), ERROR_ACCESS_DENIED);

    // A failure in the middle of the listing empties the list.
    Rec().Inject(RegFn::EnumKey, ERROR_OUTOFMEMORY, 1);
    EXPECT_FALSE(reg.EnumSubKeys(names));
    EXPECT_EQ(reg.LastResult(), ERROR_OUTOFMEMORY);
    EXPECT_TRUE(names.empty());

    EXPECT_TRUE(reg.EnumSubKeys(names));
    EXPECT_EQ(names.size(), 3u);
}
