#include <gtest/gtest.h>

#include <string>

#include "dispatch/DispatcherMessage.h"

namespace {

using Brambleworth::Zel::PortMon::BuildDispatcherCommandLine;
using Brambleworth::Zel::PortMon::EncodeHex;

struct HexCase {
    const char* label;
    std::wstring text;
    std::wstring digits;
};

class EncodeHexTest : public ::testing::TestWithParam<HexCase> {};

TEST_P(EncodeHexTest, FourLowerCaseDigitsPerCodeUnit) {
    EXPECT_EQ(EncodeHex(GetParam().text), GetParam().digits);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EncodeHexTest,
    ::testing::Values(HexCase{"empty", L"", L""}, HexCase{"e_acute", L"\x00e9", L"00e9"},
                      HexCase{"a_and_euro", L"A\x20ac", L"004120ac"},
                      HexCase{"nul_and_highest", std::wstring(L"\0\xffff", 2), L"0000ffff"},
                      HexCase{"every_digit_once", L"\x0123\x4567\x89ab\xcdef", L"0123456789abcdef"},
                      // U+1F600 stays two surrogate units, one group each.
                      HexCase{"surrogate_pair", L"\xd83d\xde00", L"d83dde00"},
                      HexCase{"ascii_path", L"C:\\t", L"0043003a005c0074"}),
    [](const ::testing::TestParamInfo<HexCase>& info) { return std::string(info.param.label); });

struct LineCase {
    const char* label;
    std::wstring command;
    std::wstring document;
    std::wstring path;
    std::wstring expected;
};

class CommandLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(CommandLineTest, ComposedExactly) {
    const LineCase& c = GetParam();
    EXPECT_EQ(BuildDispatcherCommandLine(c.command, c.document, c.path), c.expected);
}

const std::wstring kPath = L"C:\\T\\ps1.tmp"; // 12 code units
const std::wstring kPathHex =
    L"0043003a005c0054005c007000730031002e0074006d0070"; // 48 digits: 4 per unit

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineTest,
    ::testing::Values(
        LineCase{"plain_ascii", L"disp.exe", L"Report 7", kPath,
                 L"disp.exe Zel::Create::Plain \"Report 7\" \"C:\\T\\ps1.tmp\""},
        // The command is copied as stored: its own quotes and arguments stay ahead.
        LineCase{"command_verbatim", L"\"C:\\Program Files\\d.exe\" -x 1", L"a", L"b",
                 L"\"C:\\Program Files\\d.exe\" -x 1 Zel::Create::Plain \"a\" \"b\""},
        LineCase{"tilde_stays_plain", L"d", L"~", L"~", L"d Zel::Create::Plain \"~\" \"~\""},
        LineCase{"del_selects_hex", L"d", L"\x7f", L"x", L"d Zel::Create::Hex \"007f\" \"0078\""},
        // One unit above 126 in either field turns both fields into hex.
        LineCase{"e_acute_in_document", L"d", L"caf\x00e9", kPath,
                 L"d Zel::Create::Hex \"00630061006600e9\" \"" + kPathHex + L"\""},
        LineCase{"high_unit_in_path_only", L"d", L"ab", L"C:\\\x00e9",
                 L"d Zel::Create::Hex \"00610062\" \"0043003a005c00e9\""},
        LineCase{"quote_and_tab_copied", L"d", L"say \"hi\"\tnow", L"p\"q",
                 L"d Zel::Create::Plain \"say \"hi\"\tnow\" \"p\"q\""},
        LineCase{"control_units_stay_plain", L"d", std::wstring(L"\0\x01\x1f", 3), L"p",
                 L"d Zel::Create::Plain \"" + std::wstring(L"\0\x01\x1f", 3) + L"\" \"p\""},
        LineCase{"empty_document_plain", L"d", L"", L"p", L"d Zel::Create::Plain \"\" \"p\""},
        LineCase{"empty_document_hex", L"d", L"", L"\x00e9", L"d Zel::Create::Hex \"\" \"00e9\""},
        LineCase{"surrogates_two_groups", L"d", L"\xd83d\xde00", L"p",
                 L"d Zel::Create::Hex \"d83dde00\" \"0070\""},
        LineCase{"empty_command", L"", L"a", L"b", L" Zel::Create::Plain \"a\" \"b\""}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return std::string(info.param.label); });

} // namespace
