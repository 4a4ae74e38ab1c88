#include <gtest/gtest.h>

#include <string>

#include "dispatch/MessageTransport.h"
#include "harness/TestDispatcher.h"
#include "harness/TestRegistry.h"
#include "monitor/Error.h"
#include "monitor/PortContext.h"

namespace {

using Brambleworth::Zel::Error;
using Brambleworth::Zel::PortMon::KernelHandle;
using Brambleworth::Zel::PortMon::MessageTransport;
using Brambleworth::Zel::PortMon::PortContext;
using zeltest::kPoison;

constexpr const char* kSendName = "Brambleworth::Zel::PortMon::MessageTransport::Send";

// A port object carrying a job as StartDocPort leaves it, with a primary token
// of the test program's own user unless a test picks another.
class TransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        HANDLE process = nullptr;
        ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process));
        ownToken_ = KernelHandle(process);
        UseToken(ownToken_.Get());
        port_.documentName = L"Quarterly report";
        port_.psFilePath = L"C:\\users\\root\\Temp\\ps12AB.tmp";
    }

    void UseToken(HANDLE source) {
        HANDLE primary = zeltest::PrimaryToken(source);
        ASSERT_NE(primary, nullptr);
        port_.userToken = KernelHandle(primary);
    }

    // Calls Send with a poisoned last error; true when it threw, with the
    // error copied into `caught`.
    bool SendCatching(const std::wstring& command, Error* caught) {
        SetLastError(kPoison);
        try {
            MessageTransport::Send(command, port_);
        } catch (const Error& error) {
            *caught = error;
            return true;
        }
        return false;
    }

    KernelHandle ownToken_;
    PortContext port_{nullptr, L"ZEL_TEST_TRANSPORT:"};
    zeltest::ScopedRecordFile record_;
};

// An Error to copy a caught one into.
struct CaughtError : Error {
    CaughtError() = default;
};

struct ExitCase {
    const char* label;
    DWORD exitCode;
    bool fails;
};

class TransportExitTest : public TransportTest, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(TransportExitTest, ExitCodeDecidesAndBothHandlesAreClosed) {
    const ExitCase& c = GetParam();
    CaughtError error;
    const bool thrown =
        SendCatching(zeltest::DispatcherCommand(record_.Path(), c.exitCode), &error);

    EXPECT_EQ(thrown, c.fails);
    if (c.fails) {
        ASSERT_EQ(error.FrameCount(), 1);
        EXPECT_EQ(error.Code(), 6u);
        EXPECT_EQ(error.Line(), 386u);
        EXPECT_STREQ(error.Function(), kSendName);
        EXPECT_EQ(error.SystemError(), c.exitCode);
        EXPECT_EQ(error.message(), "");
    }
    // The dispatcher ran to its end in every case, and nothing of it is kept.
    const zeltest::DispatcherRecord record = zeltest::ReadDispatcherRecord(record_.Path());
    EXPECT_TRUE(record.present);
    EXPECT_TRUE(zeltest::ProcessObjectGoes(record.pid));
    EXPECT_TRUE(zeltest::ThreadObjectGoes(record.tid));
}

INSTANTIATE_TEST_SUITE_P(Cases, TransportExitTest,
                         ::testing::Values(ExitCase{"success", 0, false},
                                           ExitCase{"failure_1", 1, true},
                                           ExitCase{"failure_5", 5, true},
                                           // Reads like a dispatcher still at work.
                                           ExitCase{"still_active_code", STILL_ACTIVE, false},
                                           ExitCase{"high_bit", 0xC0000005u, true}),
                         [](const ::testing::TestParamInfo<ExitCase>& info) {
                             return std::string(info.param.label);
                         });

TEST_F(TransportTest, DispatcherGetsTheMessageAndAHiddenWindow) {
    const std::wstring command = zeltest::DispatcherCommand(record_.Path(), 0);
    CaughtError error;
    ASSERT_FALSE(SendCatching(command, &error));

    const zeltest::DispatcherRecord record = zeltest::ReadDispatcherRecord(record_.Path());
    ASSERT_TRUE(record.present);
    EXPECT_EQ(record.commandLine, command + L" Zel::Create::Plain \"Quarterly report\" "
                                            L"\"C:\\users\\root\\Temp\\ps12AB.tmp\"");
    // flags, show, x, y, x size, y size, x chars, y chars.
    EXPECT_EQ(record.startup, L"1,0,2147483648,2147483648,2147483648,2147483648,80,25");
}

TEST_F(TransportTest, HexMessageReachesTheDispatcherUnchanged) {
    port_.documentName = L"caf\x00e9";
    port_.psFilePath = L"C:\\p";
    const std::wstring command = zeltest::DispatcherCommand(record_.Path(), 0);
    CaughtError error;
    ASSERT_FALSE(SendCatching(command, &error));

    const zeltest::DispatcherRecord record = zeltest::ReadDispatcherRecord(record_.Path());
    EXPECT_EQ(record.commandLine,
              command + L" Zel::Create::Hex \"00630061006600e9\" \"0043003a005c0070\"");
}

TEST_F(TransportTest, DispatcherRunsWithThePortsTokenNotTheCallers) {
    HANDLE other = zeltest::OtherElevationImpersonationToken();
    if (!other) {
        GTEST_SKIP() << "the platform offers no second token to tell apart";
    }
    KernelHandle otherOwner(other);
    UseToken(other);
    const std::wstring expected = zeltest::TokenElevationText(other);
    ASSERT_NE(expected, zeltest::TokenElevationText(ownToken_.Get()));
    const HANDLE tokenBefore = port_.userToken.Get();

    CaughtError error;
    ASSERT_FALSE(SendCatching(zeltest::DispatcherCommand(record_.Path(), 0), &error));

    const zeltest::DispatcherRecord record = zeltest::ReadDispatcherRecord(record_.Path());
    EXPECT_EQ(record.elevation, expected);
    EXPECT_EQ(record.user, zeltest::TokenUserText(other));
    // The port keeps its token: still the same, still open.
    EXPECT_EQ(port_.userToken.Get(), tokenBefore);
    EXPECT_EQ(zeltest::TokenElevationText(port_.userToken.Get()), expected);
}

TEST_F(TransportTest, MissingProgramIsError44WithTheSystemsCode) {
    CaughtError error;
    ASSERT_TRUE(SendCatching(L"\"C:\\no\\such\\dispatcher.exe\" x", &error));

    ASSERT_EQ(error.FrameCount(), 1);
    EXPECT_EQ(error.Code(), 44u);
    EXPECT_EQ(error.Line(), 367u);
    EXPECT_STREQ(error.Function(), kSendName);
    EXPECT_EQ(error.SystemError(), static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(error.message(), "Cannot create print dispatcher process");
}

TEST_F(TransportTest, NoTokenMeansNoDispatcher) {
    // A job whose start ran on a thread without a token has none to give.
    port_.userToken.Close();
    CaughtError error;
    ASSERT_TRUE(SendCatching(zeltest::DispatcherCommand(record_.Path(), 0), &error));
    EXPECT_EQ(error.Code(), 44u);
    EXPECT_EQ(error.Line(), 367u);
    EXPECT_NE(error.SystemError(), 0u);
    EXPECT_FALSE(zeltest::ReadDispatcherRecord(record_.Path()).present);
}

} // namespace
