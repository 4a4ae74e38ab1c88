#include <gtest/gtest.h>

#include <string>

#include "ProgramRun.h"
#include "zel-dispatch/DispatchMessage.h"

using namespace zeltest;

namespace {

std::wstring Dispatcher(const ScratchDir& dir) {
    return L"\"" + ProgramDir() + L"zel-dispatch.exe\" --out \"" + dir.File(L"out dir") + L"\"";
}

std::wstring Hex(const std::wstring& text) {
    std::wstring digits;
    wchar_t group[8];
    for (wchar_t c : text) {
        swprintf(group, 8, L"%04x", static_cast<unsigned>(static_cast<unsigned short>(c)));
        digits += group;
    }
    return digits;
}

TEST(DispatchProgram, MovesThePsFileAndWritesItsRecord) {
    ScratchDir dir(L"zel-dispatch");
    const std::string bytes("%!PS-Adobe-3.0\r\n\x00\xff binary\n", 25);
    const struct {
        const char* what;
        std::wstring document;
        bool hex;
        std::wstring expectedStem;
    } cases[] = {
        {"quotes", L"say \"a\" \"b\"", false, L"say _a_ _b_"},
        {"tab", L"col\tumn", false, L"col_umn"},
        {"non-ASCII", L"Caf\u00e9 \u20ac \U0001F600", true, L"Caf\u00e9 \u20ac \U0001F600"},
        {"empty", L"", false, L"Document"},
        {"same name again", L"", false, L"Document (2)"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring ps = dir.File(L"ps" + std::to_wstring(++n) + L".tmp");
        WriteBytes(ps, bytes);
        std::wstring line = Dispatcher(dir);
        line += c.hex ? L" Zel::Create::Hex \"" + Hex(c.document) + L"\" \"" + Hex(ps) + L"\""
                      : L" Zel::Create::Plain \"" + c.document + L"\" \"" + ps + L"\"";
        ProgramResult run = RunProgram(line);
        ASSERT_EQ(run.exitCode, 0u) << run.err;

        std::wstring captured = dir.File(L"out dir\\" + c.expectedStem + L".ps");
        std::string got;
        ASSERT_TRUE(ReadBytes(captured, got));
        EXPECT_EQ(got, bytes);
        EXPECT_FALSE(FileExists(ps)) << "the PS file was copied, not moved";

        std::string json;
        ASSERT_TRUE(ReadBytes(dir.File(L"out dir\\" + c.expectedStem + L".json"), json));
        EXPECT_NE(json.find("\"document\": " + zeldispatch::JsonString(c.document)),
                  std::string::npos)
            << json;
        EXPECT_NE(json.find("\"originalPath\": " + zeldispatch::JsonString(ps)), std::string::npos);
        EXPECT_NE(json.find("\"size\": 25,"), std::string::npos);
        EXPECT_NE(json.find(c.hex ? "\"encoding\": \"hex\"" : "\"encoding\": \"plain\""),
                  std::string::npos);
    }
    std::string log;
    ASSERT_TRUE(ReadBytes(dir.File(L"out dir\\zel-dispatch.log"), log));
    size_t lines = 0;
    for (char ch : log) {
        lines += ch == '\n';
    }
    EXPECT_EQ(lines, 5u) << log;
}

TEST(DispatchProgram, FailuresExitNonZeroAndKeepThePsFile) {
    ScratchDir dir(L"zel-dispatch");
    std::wstring ps = dir.File(L"ps.tmp");
    WriteBytes(ps, "%!PS\n");
    const struct {
        const char* what;
        std::wstring tail;
        DWORD exitCode;
        const char* message;
    } cases[] = {
        {"missing PS file", L" Zel::Create::Plain \"d\" \"" + dir.File(L"nope.tmp") + L"\"", 3,
         "zel-dispatch: no PS file at "},
        {"bad hex", L" Zel::Create::Hex \"00zz\" \"" + Hex(ps) + L"\"", 2,
         "zel-dispatch: bad command line: the document name is not valid hex"},
        {"no message", L"", 2, "zel-dispatch: bad command line: no Zel::Create::Plain"},
        {"unknown option", L" --fast Zel::Create::Plain \"d\" \"" + ps + L"\"", 2,
         "zel-dispatch: unknown option --fast"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramResult run = RunProgram(Dispatcher(dir) + c.tail);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.err.rfind(c.message, 0), 0u) << run.err;
        EXPECT_TRUE(FileExists(ps));
    }
    // The failures are in the log too, so an administrator sees why jobs vanish.
    std::string log;
    ASSERT_TRUE(ReadBytes(dir.File(L"out dir\\zel-dispatch.log"), log));
    EXPECT_NE(log.find("failed (exit 3)"), std::string::npos) << log;
    EXPECT_NE(log.find("failed (exit 2)"), std::string::npos) << log;
}

TEST(DispatchProgram, OutputFolderThatCannotBeCreated) {
    ScratchDir dir(L"zel-dispatch");
    std::wstring ps = dir.File(L"ps.tmp");
    WriteBytes(ps, "%!PS\n");
    WriteBytes(dir.File(L"blocker"), "a file where a folder should be");
    ProgramResult run = RunProgram(L"\"" + ProgramDir() + L"zel-dispatch.exe\" --out \"" +
                                   dir.File(L"blocker\\sub") + L"\" --log \"" + dir.File(L"d.log") +
                                   L"\" Zel::Create::Plain \"d\" \"" + ps + L"\"");
    EXPECT_EQ(run.exitCode, 4u) << run.err;
    EXPECT_TRUE(FileExists(ps));
}

TEST(DispatchProgram, HelpExitsZero) {
    ProgramResult run = RunProgram(L"\"" + ProgramDir() + L"zel-dispatch.exe\" --help");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.out.rfind("usage: zel-dispatch", 0), 0u) << run.out;
}

} // namespace
