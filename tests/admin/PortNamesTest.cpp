#include <gtest/gtest.h>

#include <locale>
#include <string>

#include "admin/PortNames.h"
#include "harness/TestRegistry.h"

using namespace Brambleworth::Zel::PortMon;
using zeltest::Narrow;

namespace {

// Groups thousands with an apostrophe: 1000 prints as "1'000" through any
// stream that is not pinned to the classic locale.
struct GroupingPunct : std::numpunct<wchar_t> {
    wchar_t do_thousands_sep() const override { return L'\''; }
    std::string do_grouping() const override { return "\3"; }
};

} // namespace

TEST(PortNames, GeneratedNamesIgnoreTheUsersLocale) {
    const std::locale previous =
        std::locale::global(std::locale(std::locale::classic(), new GroupingPunct));
    EXPECT_EQ(Narrow(GeneratedPortName(1000)), "ZEL_3_PORT1000:");
    std::locale::global(previous);
}

TEST(PortNames, TransceiveNames) {
    EXPECT_EQ(Narrow(XcvPrinterName(nullptr, L"XcvPort", L"ZEL_3_PORT1:")),
              ",XcvPort ZEL_3_PORT1:");
    EXPECT_EQ(Narrow(XcvPrinterName(L"\\\\host", L"XcvMonitor", L"M")), "\\\\host\\,XcvMonitor M");
}
