// zel-dispatch: its command line, names and records directly, then the
// program itself, given messages the monitor's own encoder made.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ProgramRun.h"
#include "common/Text.h"
#include "dispatch/DispatcherMessage.h"
#include "zel-dispatch/Ghostscript.h"
#include "zel-dispatch/JsonRecord.h"
#include "zel-dispatch/MessageParser.h"
#include "zel-dispatch/Options.h"
#include "zel-dispatch/OutputNames.h"

using Brambleworth::Zel::PortMon::BuildDispatcherCommandLine;
using namespace zeldispatch;
using namespace zeltest;
using zeltools::ToUtf8;
using Json = nlohmann::ordered_json;

namespace {

const std::wstring kExe = L"C:\\zel\\zel-dispatch.exe ";
const std::wstring kPs = L"C:\\users\\root\\Temp\\ps1A2B.tmp";
const std::wstring kPair{wchar_t(0xd83d), wchar_t(0xde00)};

std::wstring UserName() {
    wchar_t name[257] = {};
    DWORD size = 257;
    return GetUserNameW(name, &size) ? name : L"";
}

std::wstring Plain(const std::wstring& doc, const std::wstring& path = kPs) {
    return kExe + L"Zel::Create::Plain \"" + doc + L"\" \"" + path + L"\"";
}

// The tables below hold what the program's runs further down do not reach.
TEST(DispatchCommandLine, ParsesWhatTheMonitorSends) {
    const Encoding kHex = Encoding::Hex;
    const struct {
        std::wstring line;
        bool ok;
        std::wstring document, path;
        Encoding encoding = Encoding::Plain;
    } cases[] = {
        // The plain form copies quotes unchanged: the path is the last quoted field.
        {Plain(L"a\" \"b"), true, L"a\" \"b", kPs},
        {Plain(L"Zel::Create::Hex"), true, L"Zel::Create::Hex", kPs},
        {Plain(L"d", L"C:\\Temp Dir\\ps1.tmp"), true, L"d", L"C:\\Temp Dir\\ps1.tmp"},
        {kExe + L"Zel::Create::Hex \"00E9\" \"0043003a\"", true, L"\u00e9", L"C:", kHex},
        {kExe + L"Zel::Create::Hex \"d83dde00\" \"0041\"", true, kPair, L"A", kHex},
        {kExe + L"Zel::Create::Hex \"d800\" \"0041\"", true, {wchar_t(0xd800)}, L"A", kHex},
        {kExe + L"Zel::Create::Hex \"00g9\" \"0041\"", false},
        {kExe + L"\"d\" \"p\"", false},
        {kExe + L"Zel::Create::Plain \"p\"", false},
        {kExe + L"Zel::Create::Plain \"d\" \"p", false},
        {Plain(L"d", L"p") + L" x", false},
        {Plain(L"d", L""), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.line));
        ParseOutcome outcome = ParseCommandLine(c.line);
        ASSERT_EQ(outcome.ok, c.ok) << ToUtf8(outcome.error);
        EXPECT_EQ(outcome.error.empty(), c.ok);
        if (c.ok) {
            EXPECT_EQ(outcome.invocation.encoding, c.encoding);
            EXPECT_EQ(outcome.invocation.document, c.document);
            EXPECT_EQ(outcome.invocation.psFilePath, c.path);
        }
    }
}

TEST(DispatchNames, SafeFileStems) {
    const struct {
        std::wstring document, stem;
    } cases[] = {
        {L"a/b\\c:d*e?f\"g<h>i|j", L"a_b_c_d_e_f_g_h_i_j"},
        {L"  padded name. . ", L"padded name"},
        {L"con", L"_con"},
        {L"LPT1.txt", L"_LPT1.txt"},
        {L"caf\u00e9 \u20ac" + kPair, L"caf\u00e9 \u20ac" + kPair},
        {{L'a', wchar_t(0xdc00), L'b', wchar_t(0xd800)}, L"a_b_"},
        {std::wstring(200, L'x'), std::wstring(80, L'x')},
        // Truncation never splits a surrogate pair.
        {std::wstring(79, L'x') + kPair, std::wstring(79, L'x')},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SafeFileStem(c.document), c.stem) << ToUtf8(c.document);
    }
}

// The record parses back to what went in; a lone surrogate cannot be UTF-8
// and becomes the replacement character.
TEST(DispatchRecord, ParsesBackWithEveryCharacter) {
    JobRecord record;
    record.document = L"a\"b\\c\td\x01\u00e9\u20ac" + kPair + wchar_t(0xdc00);
    record.pdf.outcome = PdfOutcome::Failed;
    const Json json = Json::parse(RecordJson(record));
    EXPECT_EQ(json["document"], "a\"b\\c\td\x01\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\xef\xbf\xbd");
    EXPECT_TRUE(json["pdf"]["path"].is_null() && json["pdf"]["pages"].is_null());
}

TEST(DispatchPdf, OptionsAndCommandLines) {
    const struct {
        std::vector<std::wstring> options;
        bool ok;
        std::wstring gs;
        unsigned timeout;
    } options[] = {
        {{L"--pdf"}, true, L"", 40},
        {{L"--gs", L"C:\\gs.exe", L"--pdf-timeout", L"5"}, true, L"C:\\gs.exe", 5},
        {{L"--pdfa"}, true, L"", 40},
        {{L"--pdf-timeout", L"0"}, false},
        {{L"--gs"}, false},
        {{L"--name", L"{document"}, false},
    };
    for (const auto& c : options) {
        Settings settings;
        std::wstring error;
        ASSERT_EQ(ParseOptions(c.options, settings, error), c.ok) << ToUtf8(c.options[0]);
        if (c.ok) { // --gs and --pdfa imply --pdf
            EXPECT_TRUE(settings.pdf);
            EXPECT_EQ(settings.pdfa, c.options[0] == L"--pdfa");
            EXPECT_EQ(settings.gsPath, c.gs);
            EXPECT_EQ(settings.pdfTimeoutSeconds, c.timeout);
        }
    }
    // Quoting that the C runtime and Wine split back into the same arguments.
    const std::pair<std::wstring, std::wstring> quoted[] = {
        {L"C:\\plain\\gs.exe", L"C:\\plain\\gs.exe"},
        {L"", L"\"\""},
        {L"C:\\Dir X\\", L"\"C:\\Dir X\\\\\""},
        {L"say \"a\\\"", L"\"say \\\"a\\\\\\\"\""},
    };
    for (const auto& [argument, expected] : quoted) {
        EXPECT_EQ(zeltools::QuoteArgument(argument), expected) << ToUtf8(argument);
    }
    std::vector<std::wstring> gs =
        GhostscriptArguments(L"C:\\j\\50% off.ps", L"C:\\j\\50% off.pdf");
    EXPECT_NE(std::find(gs.begin(), gs.end(), L"-dSAFER"), gs.end());
    EXPECT_NE(std::find(gs.begin(), gs.end(), L"-sOutputFile=C:\\j\\50%% off.pdf"), gs.end());
    EXPECT_EQ(*(std::find(gs.begin(), gs.end(), L"-f") + 1), L"C:\\j\\50% off.ps");
    // PDF/A: a Windows profile path in a PostScript string.
    EXPECT_EQ(PdfaDefinition("a\n/ICCProfile (srgb.icc) % Customise\ndef", L"C:\\gs (x)\\s.icc"),
              "a\n/ICCProfile (C:/gs \\(x\\)/s.icc) % Customise\ndef");
    // A path never becomes part of the shell's script.
    std::vector<std::wstring> sh =
        UnixRunnerArguments(L"/s", L"/o $(x)", 9, L"/usr/bin/gs", {L"a"});
    EXPECT_EQ(std::vector<std::wstring>(sh.begin() + 4, sh.end()),
              (std::vector<std::wstring>{L"/s", L"/o $(x)", L"9", L"/usr/bin/gs", L"a"}));
}

TEST(DispatchPdf, GhostscriptsEndIsJudged) {
    const PdfOutcome kOk = PdfOutcome::Converted, kFailed = PdfOutcome::Failed;
    const struct {
        unsigned exitCode;
        bool unixRunner;
        std::string output;
        bool written;
        PdfOutcome outcome;
        int pages;
        std::string message;
    } cases[] = {
        {0, false, "job says ZelPageCount: 9\nZelPageCount: 3\r\n", true, kOk, 3, ""},
        {0, false, "ZelPageCount: 3x\n", true, kOk, -1, ""},
        {0, false, "caf\xc3\xa9 odd\n\n", false, kFailed, -1, "no PDF written: caf?? odd"},
        {124, false, "", false, kFailed, -1, "exit code 124"},
        {127, true, "timeout: failed to run command\n", false, PdfOutcome::NotFound, -1,
         "cannot run Ghostscript: timeout: failed to run command"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        PdfResult result = JudgeConversion(c.exitCode, c.unixRunner, c.output, c.written);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.pages, c.pages);
        EXPECT_EQ(result.message, c.message);
    }
    unsigned code = 0xDEADBEEF;
    EXPECT_TRUE(ParseStatus("137\n", code) && code == 137u) << code;
    EXPECT_FALSE(ParseStatus("", code) || ParseStatus("1", code) || ParseStatus("x\n", code) ||
                 ParseStatus("1234567\n", code));
    EXPECT_EQ(NewestVersion({L"9.56.1", L"10.02.1", L"10.0", L"x"}), L"10.02.1");
    EXPECT_EQ(NewestVersion({L"9.9", L"9.10"}), L"9.10");
    EXPECT_EQ(NewestVersion({L"", L"1..2", L"v9"}), L"");
}

class DispatchProgram : public ::testing::Test {
protected:
    // zel-dispatch writing into "out dir", with more options and a message
    // made by the monitor's own composer (or, with `raw`, the text as given).
    ProgramResult Dispatch(const std::wstring& options, const std::wstring& document,
                           const std::wstring& ps, const wchar_t* raw = nullptr) {
        const std::wstring command = Quoted(ProgramDirectory() + L"zel-dispatch.exe") + L" --out " +
                                     Quoted(dir.File(L"out dir")) + options;
        return RunProgram(raw ? command + raw : BuildDispatcherCommandLine(command, document, ps));
    }
    std::string Out(const std::wstring& name) {
        return ReadFileBytes(dir.File(L"out dir\\" + name));
    }
    ScratchDir dir{L"zel-dispatch"};
};

TEST_F(DispatchProgram, MovesThePsFileAndWritesItsRecord) {
    const std::string bytes("%!PS-Adobe-3.0\r\n\x00\xff binary\n", 25);
    const struct {
        std::wstring document, stem;
        bool hex;
    } cases[] = {
        {L"say \"a\" \"b\"\tc", L"say _a_ _b__c", false},
        {L"Caf\u00e9 \u20ac \U0001F600", L"Caf\u00e9 \u20ac \U0001F600", true},
        {L"", L"Document", false},
        {L"", L"Document (2)", false},
    };
    // Another dispatcher appending to the log at the same time.
    CreateDirectoryW(dir.File(L"out dir").c_str(), nullptr);
    zeltools::ScopedHandle otherAppender(CreateFileW(
        dir.File(L"out dir\\zel-dispatch.log").c_str(), FILE_APPEND_DATA,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(otherAppender.Valid());
    int n = 0;
    for (const auto& [document, stem, hex] : cases) {
        SCOPED_TRACE(ToUtf8(stem));
        std::wstring ps = dir.File(L"ps" + std::to_wstring(++n) + L".tmp");
        WriteBytes(ps, bytes);
        ProgramResult run = Dispatch(L"", document, ps);
        ASSERT_EQ(run.exitCode, 0u) << run.err;
        EXPECT_EQ(Out(stem + L".ps"), bytes);
        EXPECT_FALSE(std::filesystem::exists(ps)) << "the PS file was copied, not moved";
        // Every field, in this order; the time as ISO 8601 UTC.
        Json json = Json::parse(Out(stem + L".json"));
        EXPECT_TRUE(std::regex_match(json["time"].get<std::string>(),
                                     std::regex("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ")));
        json["time"] = "";
        EXPECT_EQ(json, Json({{"document", ToUtf8(document)},
                              {"encoding", hex ? "hex" : "plain"},
                              {"originalPath", ToUtf8(ps)},
                              {"capturedPath", ToUtf8(dir.File(L"out dir\\" + stem + L".ps"))},
                              {"size", 25},
                              {"time", ""},
                              {"user", ToUtf8(UserName())}}));
    }
    std::string log = Out(L"zel-dispatch.log");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 4) << log;

    // Named by user and date, in a folder named by them; a later --out wins.
    std::wstring ps = dir.File(L"named.tmp");
    WriteBytes(ps, bytes);
    ProgramResult run = Dispatch(L" --out " + Quoted(dir.File(L"by\\{user}")) +
                                     L" --name \"{date} {time} {document}\"",
                                 L"memo: 1", ps);
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    std::string names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.File(L"by\\" + UserName()))) {
        names += ToUtf8(entry.path().filename().wstring()) + "|";
    }
    const std::string stamp = "\\d{4}-\\d\\d-\\d\\d \\d\\d-\\d\\d-\\d\\d memo_ 1";
    EXPECT_TRUE(std::regex_search(names, std::regex("(^|\\|)" + stamp + "\\.ps\\|"))) << names;
    EXPECT_TRUE(std::regex_search(names, std::regex("(^|\\|)" + stamp + "\\.json\\|"))) << names;
}

TEST_F(DispatchProgram, PdfNeverCostsTheJob) {
    if (GetFileAttributesW(L"Z:\\usr\\bin\\gs") == INVALID_FILE_ATTRIBUTES) {
        GTEST_SKIP() << "Debian's ghostscript is not installed";
    }
    const std::string page = "/Courier findfont 20 scalefont setfont 72 700 moveto (p) show "
                             "showpage\n";
    const struct {
        std::wstring options;
        std::string ps;
        const char* outcome;
        const char* detail;
    } cases[] = {
        {L" --gs /usr/bin/gs", "%!PS\n" + page + page, "converted", ""},
        {L" --gs /usr/bin/gs --pdfa", "%!PS\n" + page + page, "converted", ""},
        {L" --gs /bin/false --pdfa", "%!PS\n", "failed", "no PDFA_def.ps"},
        {L" --gs /usr/bin/gs", "%!PS\n" + page + "nosuchop\n", "failed", "Error: /undefined"},
        {L" --gs /usr/bin/gs --pdf-timeout 1", "%!PS\n{} loop\n", "timed out", "time limit"},
        {L" --gs /bin/false", "%!PS\n", "failed", "exit code 1"},
        {L" --gs " + Quoted(dir.File(L"no gs.exe")), "%!PS\n", "ghostscript not found", "no gs"},
        // A Windows program's exit code, from its process handle.
        {L" --gs " + Quoted(ProgramDirectory() + L"zel-dispatch.exe"), "%!PS\n", "failed",
         "exit code 2"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.outcome);
        std::wstring stem = L"job " + std::to_wstring(++n), ps = dir.File(stem + L".tmp");
        WriteBytes(ps, c.ps);
        EXPECT_EQ(Dispatch(c.options, stem, ps).exitCode, 0u);
        EXPECT_EQ(Out(stem + L".ps"), c.ps);
        const Json pdf = Json::parse(Out(stem + L".json"))["pdf"];
        EXPECT_EQ(pdf["outcome"], c.outcome);
        EXPECT_NE(pdf["message"].get<std::string>().find(c.detail), std::string::npos) << pdf;
        const bool converted = pdf["outcome"] == "converted";
        EXPECT_EQ(pdf["pages"], converted ? Json(2) : Json()) << pdf;
        const std::string bytes = Out(stem + L".pdf");
        EXPECT_EQ(bytes.rfind("%PDF-", 0) == 0, converted);
        // The XMP identification that pdfinfo -meta shows, stored uncompressed.
        EXPECT_EQ(bytes.find("pdfaid:part='2' pdfaid:conformance='B'") != std::string::npos,
                  converted && c.options.find(L"--pdfa") != std::wstring::npos);
        std::string log = Out(L"zel-dispatch.log");
        EXPECT_EQ(log.find(ToUtf8(stem) + ".ps (" + c.outcome + ": ") != std::string::npos,
                  !converted)
            << log;
    }
}

TEST_F(DispatchProgram, FailuresExitNonZeroAndKeepThePsFile) {
    std::wstring ps = dir.File(L"ps.tmp");
    WriteBytes(ps, "%!PS\n");
    WriteBytes(dir.File(L"blocker"), "a file where a folder should be");
    const struct {
        std::wstring options, ps;
        const wchar_t* raw;
        DWORD exitCode;
        const char* message;
    } cases[] = {
        {L"", dir.File(L"nope.tmp"), nullptr, 3, "zel-dispatch: no PS file at "},
        {L"", ps, L" Zel::Create::Hex \"00zz\" \"0041\"", 2,
         "zel-dispatch: bad command line: the document name is not valid hex"},
        {L" --fast", ps, nullptr, 2, "zel-dispatch: unknown option --fast"},
        {L" --name {User}", ps, nullptr, 2, "zel-dispatch: no such token at \"{User}\""},
        // The later --out wins; its folder cannot be made.
        {L" --out " + Quoted(dir.File(L"blocker\\sub")), ps, nullptr, 4,
         "zel-dispatch: cannot create the output folder "},
    };
    for (const auto& c : cases) {
        ProgramResult run = Dispatch(c.options, L"d", c.ps, c.raw);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_EQ(run.err.rfind(c.message, 0), 0u) << run.err;
        EXPECT_TRUE(std::filesystem::exists(ps));
    }
    // The failures are in the log too, so an administrator sees why jobs vanish.
    std::string log = Out(L"zel-dispatch.log");
    EXPECT_NE(log.find("failed (exit 3)"), std::string::npos) << log;
    EXPECT_NE(log.find("failed (exit 2)"), std::string::npos) << log;
}

} // namespace
