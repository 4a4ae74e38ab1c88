#include <gtest/gtest.h>

#include "admin/PortList.h"

using namespace Brambleworth::Zel::PortMon;

TEST(PortList, SizesCountRecordsAndEveryStringWithItsNull) {
    const std::wstring monitor = L"Tessivane 3 Monitor"; // 20 units with the null
    struct Case {
        DWORD level;
        std::vector<PortListEntry> ports;
        std::uint64_t size;
    };
    const Case cases[] = {
        {1, {}, 0},
        {2, {}, 0},
        {1, {{L"ZEL_3_PORT1:", L"ignored at level 1"}}, 8 + 26},
        {2, {{L"ZEL_3_PORT1:", L"Tessivane 3 Port"}}, 32 + 26 + 40 + 34},
        {2, {{L"", L""}}, 32 + 2 + 40 + 2},
        {1, {{L"A", L""}, {L"BB", L""}}, 8 + 4 + 8 + 6},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PortListSize(c.level, c.ports, monitor), c.size) << "level " << c.level;
    }
}
