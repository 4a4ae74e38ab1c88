// The port log: the exact bytes of every kind of line, the system text, and
// what happens to the file when a line cannot be written.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "harness/PortSupport.h"
#include "harness/TestRegistry.h"
#include "monitor/EntryPoints.h"
#include "monitor/PortContext.h"
#include "monitor/PortLog.h"

using namespace Brambleworth::Zel;
using namespace Brambleworth::Zel::PortMon;
using namespace zeltest;

namespace {

struct LogLineCase {
    const char* name;
    const char* function;
    int line;
    int level;
    std::uint32_t systemError;
    const wchar_t* message;
    std::wstring expected;
};

TEST(PortLogLine, ComposesEachPieceExactly) {
    const std::wstring sec = L"; SEC: 0x000005: Denied";
    const LogLineCase cases[] = {
        {"normal with message", "Brambleworth::Zel::PortMon::OpenPort", 608, 0, 0, L"done",
         L"       : Brambleworth::Zel::PortMon::OpenPort: #608: done\n"},
        {"warning tag", "F", 806, 1, 0, L"w", L"WARNING: F: #806: w\n"},
        {"error tag", "F", 852, 2, 0, L"e", L"ERROR  : F: #852: e\n"},
        {"unknown level writes no tag", "F", 3, 3, 0, L"m", L"F: #3: m\n"},
        {"negative level writes no tag", "F", 3, -1, 0, L"m", L"F: #3: m\n"},
        {"null message writes no message piece", "F", 12, 0, 0, nullptr, L"       : F: #12\n"},
        {"empty message still writes the separator", "F", 12, 0, 0, L"", L"       : F: #12: \n"},
        {"null function is the empty name", nullptr, 12, 0, 0, L"m", L"       : : #12: m\n"},
        {"system error after the message", "F", 888, 2, 5, L"fwrite() failed: ",
         L"ERROR  : F: #888: fwrite() failed: " + sec + L"\n"},
        {"system error without message", "F", 9, 0, 5, nullptr, L"       : F: #9" + sec + L"\n"},
        {"line 0 writes nothing", "F", 0, 2, 5, L"m", L""},
        {"large and negative line numbers in decimal", "F", -1234567, 0, 0, nullptr,
         L"       : F: #-1234567\n"},
    };
    for (const LogLineCase& c : cases) {
        EXPECT_EQ(ComposeLogLine(c.function, c.line, static_cast<LogLevel>(c.level), c.systemError,
                                 c.message, L"Denied"),
                  c.expected)
            << c.name;
    }
}

TEST(PortLogLine, SystemErrorCodeIsPaddedHexWithPrefix) {
    const std::pair<std::uint32_t, const wchar_t*> cases[] = {
        {0x5, L"0x000005"},          {28, L"0x00001c"},       {0xABC, L"0x000abc"},
        {0xFFFFF, L"0x0fffff"},      {0x100000, L"0x100000"}, {0x8007000E, L"0x8007000e"},
        {0xFFFFFFFF, L"0xffffffff"}, {0x10, L"0x000010"},
    };
    for (const auto& [code, text] : cases) {
        EXPECT_EQ(FormatSystemErrorCode(code), text) << code;
    }
    // The numbers after the code are decimal again.
    EXPECT_EQ(ComposeLogLine("F", 17, LogLevel::Normal, 0x1F, L"m", L"x"),
              L"       : F: #17: m; SEC: 0x00001f: x\n");
}

TEST(PortLogLine, ErrorLineDescribesFrameZero) {
    struct Case {
        const char* name;
        const char* function;
        std::uint32_t line;
        std::string message;
        std::uint32_t systemError;
        std::wstring expected;
    };
    const Case cases[] = {
        {"message and system error", "Brambleworth::Zel::PortMon::MessageTransport::Send", 367,
         "Cannot create print dispatcher process", 2,
         L"ERROR  : Brambleworth::Zel::PortMon::MessageTransport::Send: #367: Cannot create print "
         L"dispatcher process: ; SEC: 0x000002: T\n"},
        {"no system error ends after the message's separator", "S", 367, "Cannot", 0,
         L"ERROR  : S: #367: Cannot: \n"},
        {"empty message adds no message piece", "S", 957, "", 0, L"ERROR  : S: #957\n"},
        {"empty message with system error", "S", 976, "", 2,
         L"ERROR  : S: #976; SEC: 0x000002: T\n"},
        {"line 0 writes nothing", "S", 0, "m", 2, L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ComposeErrorLine(c.function, c.line, c.message, c.systemError, L"T"), c.expected)
            << c.name;
    }
}

TEST(PortLogLine, SystemTextIsTheSystemsOwnTrimmed) {
    for (DWORD code : {2u, 5u, 28u, 87u, 112u}) {
        const std::wstring text = SystemErrorText(code);
        EXPECT_FALSE(text.empty()) << code;
        EXPECT_EQ(text, SystemText(code)) << code;
        EXPECT_NE(text.back(), L'\n');
    }
    EXPECT_EQ(SystemErrorText(0), L"");
    // A code the system has no text for.
    EXPECT_EQ(SystemErrorText(0x2ABCDEF1), L"");
}

// Port objects built in the test process: the file is read back byte for byte.
class PortLogFile : public ::testing::Test {
protected:
    void SetUp() override { DeletePortLog(kPort); }
    void TearDown() override { DeletePortLog(kPort); }
    static constexpr const wchar_t* kPort = L"ZEL_LOGTEST";
};

TEST_F(PortLogFile, LinesAreLatin1WithCrLfAndFlushedAtOnce) {
    PortContext port(nullptr, kPort);
    ASSERT_TRUE(port.good());
    WriteLogLine(port, kOpenPortName, 599, LogLevel::Normal, 0, L"...");
    // Flushed per line: visible before anything else happens to the stream.
    EXPECT_EQ(ReadPortLog(kPort), NormalLine("OpenPort", 599, "..."));

    WriteLogLine(port, kWritePortName, 888, LogLevel::Error, 5, L"fwrite() failed: ");
    WriteLogLine(port, kStartDocPortName, 806, LogLevel::Warning, 0, L"caf\u00e9 \u00ff\u0001");
    WriteLogLine(port, kReadPortName, 0, LogLevel::Error, 5, L"never");
    WriteErrorLine(port, Error(44, "Brambleworth::Zel::PortMon::MessageTransport::Send", 367, 2,
                               "Cannot create print dispatcher process"));
    WriteLogLine(port, kEndDocPortName, 1, LogLevel::Normal, 0, L"a\nb");

    const std::string expected =
        NormalLine("OpenPort", 599, "...") +
        LogLine("ERROR  : ", "WritePort", 888, "fwrite() failed: " + SecPiece(5, "0x000005")) +
        LogLine("WARNING: ", "StartDocPort", 806, "caf\xe9 \xff\x01") +
        LogLine("ERROR  : ", "MessageTransport::Send", 367,
                "Cannot create print dispatcher process: " + SecPiece(2, "0x000002")) +
        NormalLine("EndDocPort", 1, "a\r\nb");
    EXPECT_EQ(ReadPortLog(kPort), expected);
    EXPECT_TRUE(port.good());
}

TEST_F(PortLogFile, CharacterAboveLatin1CutsTheLineAndSilencesThePort) {
    auto port = std::make_unique<PortContext>(nullptr, kPort);
    WriteLogLine(*port, kOpenPortName, 599, LogLevel::Normal, 0, L"...");
    WriteLogLine(*port, kWritePortName, 879, LogLevel::Normal, 0, L"before\u0100after");
    EXPECT_TRUE(port->fail());
    WriteLogLine(*port, kWritePortName, 892, LogLevel::Normal, 0, L"done");
    // Even a stream whose state someone cleared stays silent.
    port->clear();
    WriteLogLine(*port, kWritePortName, 893, LogLevel::Normal, 0, L"later");
    WriteErrorLine(*port, Error(1, "F", 2, 0, "m"));

    const std::string cut = NormalLine("OpenPort", 599, "...") +
                            "       : Brambleworth::Zel::PortMon::WritePort: #879: before";
    EXPECT_EQ(ReadPortLog(kPort), cut);
    EXPECT_TRUE(port->LogBuffer().Broken());

    // Closing such a port neither crashes nor fails, and the process goes on.
    SetLastError(kPoison);
    EXPECT_TRUE(PortMon::ClosePort(port.release()));
    EXPECT_EQ(GetLastError(), kPoison);

    // A new object on the same port name is not affected by the old failure.
    PortContext next(nullptr, kPort);
    WriteLogLine(next, kOpenPortName, 608, LogLevel::Normal, 0, L"done");
    EXPECT_EQ(ReadPortLog(kPort), cut + NormalLine("OpenPort", 608, "done"));
}

TEST_F(PortLogFile, SecondObjectAppendsAndEarlierContentStays) {
    {
        HANDLE file = CreateFileW(PortLogPath(kPort).c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written;
        WriteFile(file, "old\r\n", 5, &written, nullptr);
        CloseHandle(file);
    }
    PortContext first(nullptr, kPort);
    PortContext second(nullptr, kPort);
    WriteLogLine(first, kOpenPortName, 1, LogLevel::Normal, 0, L"a");
    WriteLogLine(second, kOpenPortName, 2, LogLevel::Normal, 0, L"b");
    WriteLogLine(first, kOpenPortName, 3, LogLevel::Normal, 0, L"c");
    EXPECT_EQ(ReadPortLog(kPort), "old\r\n" + NormalLine("OpenPort", 1, "a") +
                                      NormalLine("OpenPort", 2, "b") +
                                      NormalLine("OpenPort", 3, "c"));
}

TEST_F(PortLogFile, FileThatCannotBeOpenedLeavesASilentButWorkingPort) {
    // A port name whose log would go into a directory that does not exist.
    const std::wstring port = L"no such dir\\PORT";
    PortContext context(nullptr, port.c_str());
    EXPECT_TRUE(context.fail());
    WriteLogLine(context, kOpenPortName, 599, LogLevel::Normal, 0, L"...");
    EXPECT_FALSE(FileExists(PortLogPath(port)));
    EXPECT_EQ(context.portName, port);
}

} // namespace
