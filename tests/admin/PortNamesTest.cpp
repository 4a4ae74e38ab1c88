#include <gtest/gtest.h>

#include <locale>
#include <string>

#include "admin/PortNames.h"
#include "harness/TestRegistry.h"

using namespace Brambleworth::Zel;
using namespace Brambleworth::Zel::PortMon;
using zeltest::Narrow;

namespace {

// A locale that groups thousands with an apostrophe, so 1000 would print as
// "1'000" through any stream that is not pinned to the classic locale.
struct GroupingPunct : std::numpunct<wchar_t> {
    wchar_t do_thousands_sep() const override { return L'\''; }
    std::string do_grouping() const override { return "\3"; }
};

class ScopedGlobalLocale {
public:
    explicit ScopedGlobalLocale(const std::locale& locale)
        : previous_(std::locale::global(locale)) {}
    ~ScopedGlobalLocale() { std::locale::global(previous_); }

private:
    std::locale previous_;
};

NameList Numbered(unsigned from, unsigned to, unsigned except = 0) {
    NameList names;
    for (unsigned n = from; n <= to; ++n) {
        if (n != except) {
            names.push_back(GeneratedPortName(n));
        }
    }
    return names;
}

} // namespace

TEST(PortNames, GeneratedNamesIgnoreTheUsersLocale) {
    ScopedGlobalLocale grouping(std::locale(std::locale::classic(), new GroupingPunct));
    struct Case {
        unsigned number;
        const wchar_t* name;
    } cases[] = {
        {1, L"ZEL_3_PORT1:"},     {9, L"ZEL_3_PORT9:"},       {10, L"ZEL_3_PORT10:"},
        {999, L"ZEL_3_PORT999:"}, {1000, L"ZEL_3_PORT1000:"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Narrow(GeneratedPortName(c.number)), Narrow(c.name)) << c.number;
    }
}

TEST(PortNames, FirstFreeNameIsTheLowestUnusedNumberComparedExactly) {
    struct Case {
        const char* what;
        NameList taken;
        const wchar_t* expected; // null: every number is taken
    } cases[] = {
        {"no ports", {}, L"ZEL_3_PORT1:"},
        {"a gap", {L"ZEL_3_PORT1:", L"ZEL_3_PORT3:"}, L"ZEL_3_PORT2:"},
        {"unsorted listing", {L"ZEL_3_PORT2:", L"ZEL_3_PORT1:"}, L"ZEL_3_PORT3:"},
        {"case counts", {L"zel_3_port1:"}, L"ZEL_3_PORT1:"},
        {"no colon", {L"ZEL_3_PORT1"}, L"ZEL_3_PORT1:"},
        {"leading zero", {L"ZEL_3_PORT01:"}, L"ZEL_3_PORT1:"},
        {"other monitors' names", {L"LPT1:", L"FILE:"}, L"ZEL_3_PORT1:"},
        {"999 taken", Numbered(1, 999), L"ZEL_3_PORT1000:"},
        {"hole in the middle", Numbered(1, 1000, 500), L"ZEL_3_PORT500:"},
        {"beyond the range does not help", Numbered(2, 1001), L"ZEL_3_PORT1:"},
        {"all 1000 taken", Numbered(1, 1000), nullptr},
    };
    for (const Case& c : cases) {
        std::optional<std::wstring> name = FirstFreePortName(c.taken);
        if (c.expected) {
            ASSERT_TRUE(name.has_value()) << c.what;
            EXPECT_EQ(Narrow(*name), Narrow(c.expected)) << c.what;
        } else {
            EXPECT_FALSE(name.has_value()) << c.what;
        }
    }
}

TEST(PortNames, TransceiveNames) {
    struct Case {
        const wchar_t* server;
        const wchar_t* keyword;
        const wchar_t* object;
        const wchar_t* expected;
    } cases[] = {
        {nullptr, L"XcvMonitor", L"Tessivane 3 Monitor", L",XcvMonitor Tessivane 3 Monitor"},
        {nullptr, L"XcvPort", L"ZEL_3_PORT1:", L",XcvPort ZEL_3_PORT1:"},
        {L"", L"XcvPort", L"P:", L"\\,XcvPort P:"},
        {L"\\\\host", L"XcvMonitor", nullptr, L"\\\\host\\,XcvMonitor "},
        {nullptr, L"XcvPort", L"", L",XcvPort "},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Narrow(XcvPrinterName(c.server, c.keyword, c.object)), Narrow(c.expected));
    }
}

TEST(PortNames, PortListMatchesWholeNamesWithCase) {
    wchar_t lpt[] = L"LPT1:";
    wchar_t ours[] = L"ZEL_3_PORT1:";
    PORT_INFO_2W ports[3] = {};
    ports[0].pPortName = lpt;
    ports[1].pPortName = nullptr;
    ports[2].pPortName = ours;
    EXPECT_TRUE(PortListHas(ports, 3, L"ZEL_3_PORT1:"));
    EXPECT_TRUE(PortListHas(ports, 3, L"LPT1:"));
    EXPECT_FALSE(PortListHas(ports, 3, L"lpt1:"));
    EXPECT_FALSE(PortListHas(ports, 3, L"LPT1"));
    EXPECT_FALSE(PortListHas(ports, 3, L"LPT1: "));
    EXPECT_FALSE(PortListHas(ports, 2, L"ZEL_3_PORT1:")) << "count bounds the search";
    EXPECT_FALSE(PortListHas(ports, 0, L"LPT1:"));
}
