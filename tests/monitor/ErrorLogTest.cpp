// Errors and the port log: the error value, the conversions from exceptions
// to results (one guard per kind of entry point), the exact bytes of every
// kind of log line, the system text, and what happens to the file when a line
// cannot be written.

#include <gtest/gtest.h>

#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include "harness/PortSupport.h"
#include "harness/TestRegistry.h"
#include "monitor/EntryPoints.h"
#include "monitor/Error.h"
#include "monitor/Guards.h"
#include "monitor/PortContext.h"
#include "monitor/PortLog.h"

using namespace Brambleworth::Zel;
using namespace Brambleworth::Zel::PortMon;
using namespace zeltest;

namespace {

// An error that carries no frame: readers must fall back to zero and "".
struct FramelessError : Error {
    FramelessError() = default;
};

TEST(Error, FrameValuesAndFallbacks) {
    const Error error(44, "S", 367, 0x1'0000'0002ULL, "Cannot create print dispatcher process");
    const Error copy = error;
    ASSERT_EQ(copy.FrameCount(), 1);
    EXPECT_EQ(copy.SystemError(), 2u) << "readers use the low 32 bits";
    EXPECT_EQ(copy.Line(), 367u);
    EXPECT_EQ(copy.message(), "Cannot create print dispatcher process");
    EXPECT_EQ(Error(7, nullptr, 980, 2, "x").Line(), 0u) << "no function name, no line either";

    const FramelessError frameless; // readers fall back to zero and ""
    EXPECT_EQ(frameless.FrameCount(), 0);
    EXPECT_EQ(frameless.Code(), 0u);
    EXPECT_EQ(frameless.SystemError(), 0u);
    EXPECT_STREQ(frameless.Function(), "");
}

TEST(Guards, EachKindOfEntryPointConvertsEveryExceptionByItsOwnRule) {
    // The kinds of exception a body can throw, in the order of the expectations.
    const std::exception_ptr thrown[] = {std::make_exception_ptr(Error(30, "f", 90, 5, "")),
                                         std::make_exception_ptr(FramelessError()),
                                         std::make_exception_ptr(std::bad_alloc()),
                                         std::make_exception_ptr(0xC0000017UL), // no-memory status
                                         std::make_exception_ptr(1802UL),
                                         std::make_exception_ptr(std::runtime_error("x")),
                                         std::make_exception_ptr(3)};
    using Body = std::function<BOOL()>;
    struct Row {
        const char* guard;
        BOOL (*run)(Body&&); // null: the command guard, whose result is the number
        DWORD expected[7];
    } rows[] = {
        {"OpenPort", GuardPortOpen<Body>, {1359, 1359, 8, 8, 1359, 1359, 1359}},
        {"EnumPorts/XcvOpenPort",
         GuardSilent<Body>,
         {kPoison, kPoison, kPoison, kPoison, kPoison, kPoison, kPoison}},
        {"user interface", GuardUserInterface<Body>, {5, 0, 8, 0xC0000017, 1802, 1359, 1359}},
        {"XcvDataPort (result, last error untouched)", nullptr, {5, 0, 8, 1359, 1359, 1359, 1359}},
    };
    for (const Row& row : rows) {
        for (int kind = 0; kind < 7; ++kind) {
            SetLastError(kPoison);
            if (row.run) {
                EXPECT_FALSE(row.run([&]() -> BOOL { std::rethrow_exception(thrown[kind]); }));
                EXPECT_EQ(GetLastError(), row.expected[kind]) << row.guard << " / " << kind;
            } else {
                EXPECT_EQ(GuardXcvCommand([&]() -> DWORD { std::rethrow_exception(thrown[kind]); }),
                          row.expected[kind])
                    << row.guard << " / " << kind;
                EXPECT_EQ(GetLastError(), kPoison);
            }
        }
    }
    // Normal results pass through untouched.
    SetLastError(kPoison);
    EXPECT_EQ(GuardPortOpen([] { return TRUE; }), TRUE);
    EXPECT_EQ(GuardSilent([] { return FALSE; }), FALSE);
    EXPECT_EQ(GuardXcvCommand([] { return DWORD{1802}; }), 1802u);
    EXPECT_EQ(GetLastError(), kPoison);
}

TEST(PortLogLine, ComposesEachPieceExactly) {
    const std::wstring sec = L"; SEC: 0x000005: Denied";
    struct Case {
        const char* function;
        int line;
        int level;
        std::uint32_t systemError;
        const wchar_t* message;
        std::wstring expected;
    } cases[] = {
        // Tags, system text and line ends are seen in the file below.
        {"F", 3, 3, 0, L"m", L"F: #3: m\n"}, // unknown level: no tag
        {"F", 12, 0, 0, nullptr, L"       : F: #12\n"},
        {"F", 12, 1, 0, L"", L"WARNING: F: #12: \n"},
        {nullptr, 12, 2, 0, L"m", L"ERROR  : : #12: m\n"},
        {"F", -1234567, 0, 5, nullptr, L"       : F: #-1234567" + sec + L"\n"},
        {"F", 0, 2, 5, L"m", L""}, // line 0 writes nothing
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ComposeLogLine(c.function, c.line, static_cast<LogLevel>(c.level), c.systemError,
                                 c.message, L"Denied"),
                  c.expected)
            << c.line << " " << c.level;
    }
    const std::pair<std::uint32_t, const wchar_t*> codes[] = {
        {0xABC, L"0x000abc"}, {0x100000, L"0x100000"}, {0x8007000E, L"0x8007000e"}};
    for (const auto& [code, text] : codes) {
        EXPECT_EQ(FormatSystemErrorCode(code), text) << code;
    }
    // An error line describes frame zero (with a message and a code: in the
    // file below); its system text is the system's own, none for 0 or a code
    // the system lacks.
    EXPECT_EQ(ComposeErrorLine("S", 367, "Cannot", 0, L"T"), L"ERROR  : S: #367: Cannot: \n");
    EXPECT_EQ(ComposeErrorLine("S", 976, "", 2, L"T"), L"ERROR  : S: #976; SEC: 0x000002: T\n");
    EXPECT_EQ(ComposeErrorLine("S", 0, "m", 2, L"T"), L"");
    EXPECT_EQ(SystemErrorText(0), L"");
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
    WriteLogLine(port, kOpenPortName, 599, LogLevel::Normal, 0, L"...");
    EXPECT_EQ(ReadPortLog(kPort), NormalLine("OpenPort", 599, "...")) << "flushed per line";

    WriteLogLine(port, kWritePortName, 888, LogLevel::Error, 5, L"fwrite() failed: ");
    WriteLogLine(port, kStartDocPortName, 806, LogLevel::Warning, 0, L"caf\u00e9 \u00ff\u0001");
    WriteErrorLine(port, Error(44, "Brambleworth::Zel::PortMon::MessageTransport::Send", 367, 2,
                               "Cannot create print dispatcher process"));
    WriteLogLine(port, kEndDocPortName, 1, LogLevel::Normal, 0, L"a\nb");

    EXPECT_EQ(
        ReadPortLog(kPort),
        NormalLine("OpenPort", 599, "...") +
            LogLine("ERROR  : ", "WritePort", 888, "fwrite() failed: " + SecPiece(5, "0x000005")) +
            LogLine("WARNING: ", "StartDocPort", 806, "caf\xe9 \xff\x01") +
            LogLine("ERROR  : ", "MessageTransport::Send", 367,
                    "Cannot create print dispatcher process: " + SecPiece(2, "0x000002")) +
            NormalLine("EndDocPort", 1, "a\r\nb"));
}

TEST_F(PortLogFile, CharacterAboveLatin1OrNoFileSilenceThePort) {
    auto port = std::make_unique<PortContext>(nullptr, kPort);
    WriteLogLine(*port, kOpenPortName, 599, LogLevel::Normal, 0, L"...");
    WriteLogLine(*port, kWritePortName, 879, LogLevel::Normal, 0, L"before\u0100after");
    // Even a stream whose state someone cleared stays silent.
    port->clear();
    WriteLogLine(*port, kWritePortName, 893, LogLevel::Normal, 0, L"later");
    WriteErrorLine(*port, Error(1, "F", 2, 0, "m"));

    const std::string cut = NormalLine("OpenPort", 599, "...") +
                            "       : Brambleworth::Zel::PortMon::WritePort: #879: before";
    EXPECT_EQ(ReadPortLog(kPort), cut);

    // Closing such a port neither crashes nor fails, and the process goes on.
    SetLastError(kPoison);
    EXPECT_TRUE(PortMon::ClosePort(port.release()));
    EXPECT_EQ(GetLastError(), kPoison);

    // Another object on the same port name appends to the one log.
    PortContext first(nullptr, kPort);
    PortContext second(nullptr, kPort);
    WriteLogLine(first, kOpenPortName, 1, LogLevel::Normal, 0, L"a");
    WriteLogLine(second, kOpenPortName, 2, LogLevel::Normal, 0, L"b");
    WriteLogLine(first, kOpenPortName, 3, LogLevel::Normal, 0, L"c");
    EXPECT_EQ(ReadPortLog(kPort), cut + NormalLine("OpenPort", 1, "a") +
                                      NormalLine("OpenPort", 2, "b") +
                                      NormalLine("OpenPort", 3, "c"));

    // A log file that cannot be opened leaves a silent but working port.
    const std::wstring unopened = L"no such dir\\PORT";
    PortContext context(nullptr, unopened.c_str());
    WriteLogLine(context, kOpenPortName, 599, LogLevel::Normal, 0, L"...");
    EXPECT_FALSE(FileExists(PortLogPath(unopened)));
    EXPECT_EQ(context.portName, unopened);
}

} // namespace
