#include <gtest/gtest.h>

#include <string>

#include "zel-dispatch/DispatchMessage.h"

using namespace zeldispatch;

namespace {

struct LineCase {
    const char* what;
    std::wstring line;
    bool ok;
    Encoding encoding;
    std::wstring document;
    std::wstring path;
    std::vector<std::wstring> options;
};

const std::wstring kExe = L"C:\\zel\\zel-dispatch.exe";

std::wstring Plain(const std::wstring& doc, const std::wstring& path) {
    return kExe + L" Zel::Create::Plain \"" + doc + L"\" \"" + path + L"\"";
}

TEST(DispatchCommandLine, ParsesWhatTheMonitorSends) {
    const std::wstring ps = L"C:\\users\\root\\Temp\\ps1A2B.tmp";
    const std::vector<LineCase> cases = {
        {"plain ascii", Plain(L"Invoice 42", ps), true, Encoding::Plain, L"Invoice 42", ps, {}},
        {"quote inside the name",
         Plain(L"say \"hi\"", ps),
         true,
         Encoding::Plain,
         L"say \"hi\"",
         ps,
         {}},
        {"quote-blank-quote inside the name",
         Plain(L"a\" \"b", ps),
         true,
         Encoding::Plain,
         L"a\" \"b",
         ps,
         {}},
        {"name ending in a quote", Plain(L"x\"", ps), true, Encoding::Plain, L"x\"", ps, {}},
        {"tab in the name", Plain(L"a\tb", ps), true, Encoding::Plain, L"a\tb", ps, {}},
        {"empty name", Plain(L"", ps), true, Encoding::Plain, L"", ps, {}},
        {"name that looks like a keyword",
         Plain(L"Zel::Create::Hex", ps),
         true,
         Encoding::Plain,
         L"Zel::Create::Hex",
         ps,
         {}},
        {"path with blanks",
         Plain(L"d", L"C:\\Temp Dir\\ps1.tmp"),
         true,
         Encoding::Plain,
         L"d",
         L"C:\\Temp Dir\\ps1.tmp",
         {}},
        {"hex with e-acute",
         kExe + L" Zel::Create::Hex \"00e9\" \"0043003a\"",
         true,
         Encoding::Hex,
         L"\u00e9",
         L"C:",
         {}},
        {"hex upper-case digits",
         kExe + L" Zel::Create::Hex \"20AC\" \"0041\"",
         true,
         Encoding::Hex,
         L"\u20ac",
         L"A",
         {}},
        {"hex surrogate pair",
         kExe + L" Zel::Create::Hex \"d83dde00\" \"0041\"",
         true,
         Encoding::Hex,
         std::wstring{wchar_t(0xd83d), wchar_t(0xde00)},
         L"A",
         {}},
        {"hex lone surrogate",
         kExe + L" Zel::Create::Hex \"d800\" \"0041\"",
         true,
         Encoding::Hex,
         std::wstring{wchar_t(0xd800)},
         L"A",
         {}},
        {"hex empty name",
         kExe + L" Zel::Create::Hex \"\" \"0041\"",
         true,
         Encoding::Hex,
         L"",
         L"A",
         {}},
        {"quoted program with blanks and options",
         L"\"C:\\Program Files\\Zel\\zel-dispatch.exe\" --out \"D:\\My Jobs\" --log l.txt "
         L"Zel::Create::Plain \"d\" \"p\"",
         true,
         Encoding::Plain,
         L"d",
         L"p",
         {L"--out", L"D:\\My Jobs", L"--log", L"l.txt"}},
        {"bad hex digit", kExe + L" Zel::Create::Hex \"00g9\" \"0041\"", false},
        {"hex not a multiple of four", kExe + L" Zel::Create::Hex \"00e\" \"0041\"", false},
        {"bad hex in the path", kExe + L" Zel::Create::Hex \"0041\" \"zz41\"", false},
        {"no keyword", kExe + L" \"d\" \"p\"", false},
        {"keyword in the wrong case", kExe + L" zel::create::plain \"d\" \"p\"", false},
        {"quoted keyword is not the keyword", kExe + L" \"Zel::Create::Plain\" \"d\" \"p\"", false},
        {"only one field", kExe + L" Zel::Create::Plain \"p\"", false},
        {"missing closing quote", kExe + L" Zel::Create::Plain \"d\" \"p", false},
        {"two blanks before the name", kExe + L"  Zel::Create::Plain  \"d\" \"p\"", false},
        {"trailing text", Plain(L"d", L"p") + L" x", false},
        {"empty path", Plain(L"d", L""), false},
        {"nothing after the keyword", kExe + L" Zel::Create::Plain", false},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.what);
        ParseOutcome outcome = ParseCommandLine(c.line);
        ASSERT_EQ(outcome.ok, c.ok) << std::string(outcome.error.begin(), outcome.error.end());
        if (!c.ok) {
            EXPECT_FALSE(outcome.error.empty());
            continue;
        }
        EXPECT_EQ(outcome.invocation.encoding, c.encoding);
        EXPECT_EQ(outcome.invocation.document, c.document);
        EXPECT_EQ(outcome.invocation.psFilePath, c.path);
        EXPECT_EQ(outcome.invocation.options, c.options);
    }
}

TEST(DispatchNames, SafeFileStems) {
    const struct {
        std::wstring document;
        std::wstring stem;
    } cases[] = {
        {L"Quarterly report", L"Quarterly report"},
        {L"a/b\\c:d*e?f\"g<h>i|j", L"a_b_c_d_e_f_g_h_i_j"},
        {L"tab\there\r\n", L"tab_here__"},
        {L"", L"Document"},
        {L"   ", L"Document"},
        {L"...", L"Document"},
        {L"  padded name. . ", L"padded name"},
        {L"con", L"_con"},
        {L"LPT1.txt", L"_LPT1.txt"},
        {L"com10", L"com10"},
        {L"Console", L"Console"},
        {L"caf\u00e9 \u20ac", L"caf\u00e9 \u20ac"},
        {std::wstring{L'a', wchar_t(0xd83d), wchar_t(0xde00)},
         std::wstring{L'a', wchar_t(0xd83d), wchar_t(0xde00)}},
        {std::wstring{L'a', wchar_t(0xdc00), L'b', wchar_t(0xd800)}, L"a_b_"},
        {std::wstring(200, L'x'), std::wstring(80, L'x')},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SafeFileStem(c.document), c.stem)
            << "for " << std::string(c.document.begin(), c.document.end());
    }
}

TEST(DispatchNames, TruncationNeverSplitsASurrogatePair) {
    std::wstring document(79, L'x');
    document += wchar_t(0xd83d);
    document += wchar_t(0xde00);
    std::wstring stem = SafeFileStem(document);
    EXPECT_EQ(stem, std::wstring(79, L'x'));
    EXPECT_EQ(NumberedStem(L"a", 1), L"a");
    EXPECT_EQ(NumberedStem(L"a", 3), L"a (3)");
}

TEST(DispatchRecord, JsonIsValidUtf8WithEscapes) {
    EXPECT_EQ(JsonString(L"a\"b\\c\td\x01"), "\"a\\\"b\\\\c\\td\\u0001\"");
    EXPECT_EQ(JsonString(L"\u00e9\u20ac"), "\"\xc3\xa9\xe2\x82\xac\"");
    EXPECT_EQ(JsonString(std::wstring{wchar_t(0xd83d), wchar_t(0xde00)}), "\"\xf0\x9f\x98\x80\"");
    // A lone surrogate cannot be UTF-8: it becomes the replacement character.
    EXPECT_EQ(JsonString(std::wstring{wchar_t(0xdc00)}), "\"\xef\xbf\xbd\"");

    JobRecord record;
    record.document = L"x\"y";
    record.encoding = Encoding::Hex;
    record.originalPath = L"C:\\t\\ps1.tmp";
    record.capturedPath = L"D:\\out\\x_y.ps";
    record.size = 1234567890123ULL;
    record.time = L"2026-01-02T03:04:05Z";
    EXPECT_EQ(RecordJson(record), "{\n"
                                  "  \"document\": \"x\\\"y\",\n"
                                  "  \"encoding\": \"hex\",\n"
                                  "  \"originalPath\": \"C:\\\\t\\\\ps1.tmp\",\n"
                                  "  \"capturedPath\": \"D:\\\\out\\\\x_y.ps\",\n"
                                  "  \"size\": 1234567890123,\n"
                                  "  \"time\": \"2026-01-02T03:04:05Z\"\n"
                                  "}\n");
}

} // namespace
