#include <gtest/gtest.h>

#include "harness/TestRegistry.h"
#include "registry/RegKey.h"

using Brambleworth::Zel::NameList;
using Brambleworth::Zel::RegKey;
using namespace zeltest;

// Listing replaces the list. Once released, listing fails with ERROR_INVALID_HANDLE and leaves the
// list alone.
TEST(RegKey, ListsSubKeysOnlyWhileItHoldsARecord) {
    const std::wstring path = L"Software\\Brambleworth Inc.\\Zel\\3\\RegKeyTest";
    DeleteTree(HKEY_LOCAL_MACHINE, path);
    for (const wchar_t* sub : {L"ZEL_3_PORT1:", L"zel_3_port2:"}) {
        CreateKey(HKEY_LOCAL_MACHINE, path + L"\\" + sub);
    }
    HKEY raw;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &raw), 0);
    RegKey key;
    key.CreateRef(raw);
    NameList names{L"stale"};
    EXPECT_TRUE(key.EnumSubKeys(names));
    EXPECT_EQ(key.LastResult(), ERROR_SUCCESS);
    EXPECT_EQ(names, (NameList{L"ZEL_3_PORT1:", L"zel_3_port2:"}));
    key.Release();
    EXPECT_FALSE(key.HasRecord());
    // The last holder let go: the key itself is closed.
    EXPECT_EQ(RegQueryInfoKeyW(raw, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_HANDLE);
    EXPECT_FALSE(key.EnumSubKeys(names));
    EXPECT_EQ(key.LastResult(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(names.size(), 2u) << "the list is left alone";
    DeleteTree(HKEY_LOCAL_MACHINE, path);
}
