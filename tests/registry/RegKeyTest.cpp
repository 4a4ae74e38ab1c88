#include <gtest/gtest.h>

#include "harness/TestRegistry.h"
#include "registry/RegKey.h"

using Brambleworth::Zel::NameList;
using Brambleworth::Zel::RegKey;
using namespace zeltest;

namespace {
const std::wstring kTestKey = L"Software\\Brambleworth Inc.\\Zel\\3\\RegKeyTest";
}

TEST(RegKey, WithoutARecordEnumerationFailsWithInvalidHandle) {
    RegKey key;
    NameList names{L"kept"};
    EXPECT_FALSE(key.EnumSubKeys(names));
    EXPECT_EQ(key.LastResult(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(names, NameList{L"kept"});
}

TEST(RegKey, ListsSubKeysAndReleasesTheKey) {
    DeleteTree(HKEY_LOCAL_MACHINE, kTestKey);
    for (const wchar_t* sub : {L"ZEL_3_PORT1:", L"zel_3_port2:"}) {
        CreateKey(HKEY_LOCAL_MACHINE, kTestKey + L"\\" + sub);
    }
    HKEY raw;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestKey.c_str(), 0, KEY_ALL_ACCESS, &raw), 0);
    {
        RegKey key;
        key.CreateRef(raw);
        NameList names;
        EXPECT_TRUE(key.EnumSubKeys(names));
        EXPECT_EQ(key.LastResult(), ERROR_SUCCESS);
        EXPECT_EQ(names.size(), 2u);
        key.Release();
        EXPECT_FALSE(key.HasRecord());
        EXPECT_FALSE(key.EnumSubKeys(names));
        EXPECT_EQ(key.LastResult(), ERROR_INVALID_HANDLE);
    }
    DeleteTree(HKEY_LOCAL_MACHINE, kTestKey);
}
