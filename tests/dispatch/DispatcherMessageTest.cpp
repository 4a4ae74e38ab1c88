// The dispatcher command line, plain or hex, composed exactly.

#include <gtest/gtest.h>

#include <string>

#include "dispatch/DispatcherMessage.h"

namespace {

using Brambleworth::Zel::PortMon::BuildDispatcherCommandLine;
using Brambleworth::Zel::PortMon::EncodeHex;

TEST(EncodeHex, FourLowerCaseDigitsPerCodeUnit) {
    EXPECT_EQ(EncodeHex(L""), L"");
    EXPECT_EQ(EncodeHex(std::wstring(L"\0\xffff", 2)), L"0000ffff");
    EXPECT_EQ(EncodeHex(L"\x0123\x4567\x89ab\xcdef"), L"0123456789abcdef");
}

TEST(DispatcherCommandLine, ComposedExactly) {
    const std::wstring path = L"C:\\T\\ps1.tmp"; // 12 code units: 48 digits in hex
    const std::wstring pathHex = L"0043003a005c0054005c007000730031002e0074006d0070";
    const std::wstring controls(L"\0\x01\x1f", 3);
    struct Case {
        std::wstring command, document, path, expected;
    };
    const Case cases[] = {
        {L"disp.exe", L"Report 7", path,
         L"disp.exe Zel::Create::Plain \"Report 7\" \"C:\\T\\ps1.tmp\""},
        // The command is copied as stored: its own quotes and arguments stay ahead.
        {L"\"C:\\Program Files\\d.exe\" -x 1", L"a", L"b",
         L"\"C:\\Program Files\\d.exe\" -x 1 Zel::Create::Plain \"a\" \"b\""},
        {L"d", L"~", L"~", L"d Zel::Create::Plain \"~\" \"~\""}, // 126 stays plain
        {L"d", L"\x7f", L"x", L"d Zel::Create::Hex \"007f\" \"0078\""},
        // One unit above 126 in either field turns both fields into hex.
        {L"d", L"caf\x00e9", path, L"d Zel::Create::Hex \"00630061006600e9\" \"" + pathHex + L"\""},
        {L"d", L"ab", L"C:\\\x00e9", L"d Zel::Create::Hex \"00610062\" \"0043003a005c00e9\""},
        {L"d", L"say \"hi\"\tnow", L"p\"q", L"d Zel::Create::Plain \"say \"hi\"\tnow\" \"p\"q\""},
        {L"d", controls, L"p", L"d Zel::Create::Plain \"" + controls + L"\" \"p\""},
        {L"d", L"", L"p", L"d Zel::Create::Plain \"\" \"p\""},
        {L"d", L"", L"\x00e9", L"d Zel::Create::Hex \"\" \"00e9\""},
        // U+1F600 stays two surrogate units, one group each.
        {L"d", L"\xd83d\xde00", L"p", L"d Zel::Create::Hex \"d83dde00\" \"0070\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BuildDispatcherCommandLine(c.command, c.document, c.path), c.expected);
    }
}

} // namespace
