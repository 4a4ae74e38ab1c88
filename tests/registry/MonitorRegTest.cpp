// MonitorReg in both of its modes, through the spooler's registry table (the
// recording one of the harness) and through plain advapi32; and RegKey, the
// user-interface half's key.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness/ImportHook.h"
#include "harness/SpoolerHarness.h"
#include "harness/TestRegistry.h"
#include "registry/MonitorReg.h"
#include "registry/RegKey.h"

using Brambleworth::Zel::NameList;
using Brambleworth::Zel::RegKey;
using Brambleworth::Zel::PortMon::MonitorReg;
using namespace zeltest;

namespace {

const std::wstring kTestKey = L"Software\\Brambleworth Inc.\\Zel\\3\\RegistryTest";

// The parameter: through the spooler's table (true) or advapi32 (false).
class MonitorRegTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        DeleteTree(HKEY_LOCAL_MACHINE, kTestKey);
        CreateKey(HKEY_LOCAL_MACHINE, kTestKey);
        Rec().Clear();
    }
    void TearDown() override {
        reg.Close();
        Rec().ExpectTidyAndClear();
        DeleteTree(HKEY_LOCAL_MACHINE, kTestKey);
    }
    RecordingRegistry& Rec() { return RecordingRegistry::Instance(); }
    bool Open(REGSAM access = KEY_ALL_ACCESS) {
        return reg.OpenKey(HKEY_LOCAL_MACHINE, kTestKey.c_str(), access);
    }

    MonitorReg reg{GetParam() ? SpoolerHarness::Instance().Init() : nullptr};
};

// Only the spooler's table lets failures be injected.
class MonitorRegFailures : public MonitorRegTest {};

// advapi32's RegEnumKeyW, with every key after the first refused.
using EnumKeyFn = LONG(WINAPI*)(HKEY, DWORD, LPWSTR, DWORD);
EnumKeyFn g_enumKey = nullptr;
LONG WINAPI EnumKeyFailingAfterOne(HKEY key, DWORD index, LPWSTR name, DWORD size) {
    return index == 0 ? g_enumKey(key, index, name, size) : ERROR_ACCESS_DENIED;
}

} // namespace

TEST_P(MonitorRegTest, QueryValueReadsStringsAsStored) {
    struct Case {
        const char* what; // also the value's name
        DWORD type;       // REG_NONE: no such value
        std::wstring stored;
        bool ok;
        std::wstring expected;
        LONG lastResult;
    } cases[] = {
        {"with its null", REG_SZ, std::wstring(L"C:\\Temp\\", 9), true, L"C:\\Temp\\", 0},
        {"without a null", REG_SZ, L"C:\\Temp", true, L"C:\\Temp", 0},
        {"two nulls keep one", REG_SZ, std::wstring(L"ab\0\0", 4), true, std::wstring(L"ab\0", 3),
         0},
        {"no data bytes", REG_SZ, L"", true, L"", 0},
        {"beyond the first 100 bytes", REG_SZ, std::wstring(300, L'x') + L'\0', true,
         std::wstring(300, L'x'), 0},
        {"another type reads as absent", REG_EXPAND_SZ, std::wstring(L"%TEMP%", 7), false,
         L"untouched", 0},
        {"missing", REG_NONE, L"", false, L"untouched", ERROR_FILE_NOT_FOUND},
    };
    ASSERT_TRUE(Open());
    for (const Case& c : cases) {
        const std::wstring name = Widen(c.what);
        if (c.type != REG_NONE) {
            SetRaw(HKEY_LOCAL_MACHINE, kTestKey, name.c_str(), c.type, c.stored.data(),
                   static_cast<DWORD>(c.stored.size() * sizeof(wchar_t)));
        }
        std::wstring value = L"untouched";
        EXPECT_EQ(reg.QueryValue(name.c_str(), value), c.ok) << c.what;
        EXPECT_EQ(value, c.expected) << c.what;
        EXPECT_EQ(reg.LastResult(), c.lastResult) << c.what;
    }
}

TEST_P(MonitorRegTest, CreateKeyCreatesOrOpensAndValuesAreWrittenWhole) {
    const std::wstring path = kTestKey + L"\\Created";
    ASSERT_TRUE(reg.CreateKey(path.c_str()));
    ASSERT_TRUE(reg.SetValue(L"S", std::wstring(L"Z:\\ps1.tmp")));
    ASSERT_TRUE(reg.SetValue(L"D", DWORD{16}));
    ASSERT_TRUE(reg.CreateKey(path.c_str())) << "an existing key opens";

    DWORD type;
    std::vector<BYTE> data;
    ASSERT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, path, L"S", type, data));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(data.size(), (10u + 1) * 2) << "the null is written too";
    ASSERT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, path, L"D", type, data));
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(data, (std::vector<BYTE>{16, 0, 0, 0}));
}

// Without an open key neither lists nor deletes, and makes no call.
TEST_P(MonitorRegTest, SubKeysAreListedInRegistryOrderAndDeletedOneByOne) {
    NameList names{L"kept"};
    reg.SetLastResult(5);
    EXPECT_FALSE(reg.EnumSubKeys(names));
    EXPECT_FALSE(reg.DeleteSubKey(L"a:b:c"));
    EXPECT_EQ(reg.LastResult(), ERROR_SUCCESS);
    EXPECT_EQ(names, NameList{L"kept"});
    EXPECT_TRUE(Rec().Calls().empty());

    ASSERT_TRUE(Open());
    EXPECT_TRUE(reg.EnumSubKeys(names));
    EXPECT_TRUE(names.empty()) << "no subkeys: true with an empty list";
    const NameList subKeys = {L"a:b:c", std::wstring(200, L'n'), L"ZEL_3_PORT1:"};
    for (const std::wstring& sub : subKeys) {
        CreateKey(HKEY_LOCAL_MACHINE, kTestKey + L"\\" + sub);
    }
    EXPECT_TRUE(reg.EnumSubKeys(names));
    EXPECT_EQ(names, subKeys);

    EXPECT_TRUE(reg.DeleteSubKey(L"a:b:c"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kTestKey + L"\\a:b:c"));
    EXPECT_FALSE(reg.DeleteSubKey(L"a:b:c"));
    EXPECT_EQ(reg.LastResult(), ERROR_FILE_NOT_FOUND);
}

TEST_P(MonitorRegFailures, OpenClosesTheHeldKeyFirstAndAFailedCloseKeepsIt) {
    ASSERT_TRUE(Open(KEY_READ));
    HANDLE first = reg.Key();
    Rec().Clear();
    Rec().Inject(RegFn::OpenKey, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(Open(KEY_READ));
    EXPECT_EQ(reg.LastResult(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(reg.IsOpen());
    auto calls = Rec().Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].function, RegFn::CloseKey);
    EXPECT_EQ(calls[0].key, first);
    EXPECT_EQ(calls[1].function, RegFn::OpenKey);

    // A failed close keeps the key; a closed key is not closed again.
    ASSERT_TRUE(Open(KEY_READ));
    HANDLE key = reg.Key();
    Rec().Inject(RegFn::CloseKey, ERROR_INVALID_HANDLE);
    EXPECT_FALSE(reg.Close());
    EXPECT_EQ(reg.LastResult(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(reg.Key(), key);
    EXPECT_TRUE(reg.Close());
    EXPECT_FALSE(reg.IsOpen());
    EXPECT_TRUE(reg.Close());
    EXPECT_EQ(Rec().CallsOf(RegFn::CloseKey).size(), 3u) << "the first key's, the failed, the last";
}

INSTANTIATE_TEST_SUITE_P(Modes, MonitorRegTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "SpoolerTable" : "Advapi32";
                         });
INSTANTIATE_TEST_SUITE_P(SpoolerTable, MonitorRegFailures, ::testing::Values(true));

// Listing replaces the list; a listing that fails part way leaves none. Once
// released, listing fails with ERROR_INVALID_HANDLE and leaves the list alone.
TEST(RegKey, ListsSubKeysOnlyWhileItHoldsARecord) {
    DeleteTree(HKEY_LOCAL_MACHINE, kTestKey);
    for (const wchar_t* sub : {L"ZEL_3_PORT1:", L"zel_3_port2:"}) {
        CreateKey(HKEY_LOCAL_MACHINE, kTestKey + L"\\" + sub);
    }
    HKEY raw;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestKey.c_str(), 0, KEY_ALL_ACCESS, &raw), 0);
    RegKey key;
    key.CreateRef(raw);
    NameList names{L"stale"};
    EXPECT_TRUE(key.EnumSubKeys(names));
    EXPECT_EQ(key.LastResult(), ERROR_SUCCESS);
    EXPECT_EQ(names, (NameList{L"ZEL_3_PORT1:", L"zel_3_port2:"}));
    {
        ScopedImportHook hook(GetModuleHandleW(nullptr), "advapi32.dll", "RegEnumKeyW",
                              reinterpret_cast<void*>(EnumKeyFailingAfterOne));
        g_enumKey = reinterpret_cast<EnumKeyFn>(hook.Original());
        EXPECT_FALSE(key.EnumSubKeys(names));
        EXPECT_EQ(key.LastResult(), ERROR_ACCESS_DENIED);
        EXPECT_TRUE(names.empty()) << "a partial list";
    }
    EXPECT_TRUE(key.EnumSubKeys(names));
    key.Release();
    EXPECT_FALSE(key.HasRecord());
    // The last holder let go: the key itself is closed.
    EXPECT_EQ(RegQueryInfoKeyW(raw, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_HANDLE);
    EXPECT_FALSE(key.EnumSubKeys(names));
    EXPECT_EQ(key.LastResult(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(names.size(), 2u) << "the list is left alone";
    DeleteTree(HKEY_LOCAL_MACHINE, kTestKey);
}
