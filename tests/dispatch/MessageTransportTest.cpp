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
    const HANDLE token = port_.userToken.Get();
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
    // The token stays the port's: the same handle, still open.
    EXPECT_EQ(port_.userToken.Get(), token);
    EXPECT_NE(zeltest::TokenElevationText(token), L"none");
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

struct CreateFailureCase {
    const char* label;
    const wchar_t* command; // null: the stand-in dispatcher
    bool withToken;
    DWORD systemError; // 0: any code but 0
};

class TransportCreateFailureTest : public TransportTest,
                                   public ::testing::WithParamInterface<CreateFailureCase> {};

TEST_P(TransportCreateFailureTest, IsError44WithTheSystemsCode) {
    const CreateFailureCase& c = GetParam();
    if (!c.withToken) {
        port_.userToken.Close();
    }
    CaughtError error;
    ASSERT_TRUE(SendCatching(c.command ? std::wstring(c.command)
                                       : zeltest::DispatcherCommand(record_.Path(), 0),
                             &error));

    ASSERT_EQ(error.FrameCount(), 1);
    EXPECT_EQ(error.Code(), 44u);
    EXPECT_EQ(error.Line(), 367u);
    EXPECT_STREQ(error.Function(), kSendName);
    EXPECT_EQ(error.message(), "Cannot create print dispatcher process");
    if (c.systemError) {
        EXPECT_EQ(error.SystemError(), c.systemError);
    } else {
        EXPECT_NE(error.SystemError(), 0u);
    }
    EXPECT_FALSE(zeltest::ReadDispatcherRecord(record_.Path()).present);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TransportCreateFailureTest,
    ::testing::Values(CreateFailureCase{"missing_program", L"\"C:\\no\\such\\dispatcher.exe\" x",
                                        true, ERROR_FILE_NOT_FOUND},
                      // A job started on a thread without a token has none to give.
                      CreateFailureCase{"no_token", nullptr, false, 0}),
    [](const ::testing::TestParamInfo<CreateFailureCase>& info) {
        return std::string(info.param.label);
    });

} // namespace
