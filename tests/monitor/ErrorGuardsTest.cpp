// The error value and the conversions from exceptions to results, one guard
// per kind of entry point.

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>

#include "harness/TestRegistry.h"
#include "monitor/Error.h"
#include "monitor/Guards.h"

using Brambleworth::Zel::Error;
using namespace Brambleworth::Zel;
using zeltest::kPoison;

namespace {

// An error that carries no frame: readers must fall back to zero and "".
struct FramelessError : Error {
    FramelessError() = default;
};

} // namespace

TEST(Error, KeepsOneFrameWithTheGivenValues) {
    Error error(44, "Brambleworth::Zel::PortMon::MessageTransport::Send", 367, 0x1'0000'0002ULL,
                "Cannot create print dispatcher process");
    ASSERT_EQ(error.FrameCount(), 1);
    EXPECT_EQ(error.Code(), 44u);
    EXPECT_STREQ(error.Function(), "Brambleworth::Zel::PortMon::MessageTransport::Send");
    EXPECT_EQ(error.Line(), 367u);
    EXPECT_EQ(error.Frame(0).systemError, 0x1'0000'0002ULL);
    EXPECT_EQ(error.SystemError(), 2u) << "readers use the low 32 bits";
    EXPECT_EQ(error.message(), "Cannot create print dispatcher process");
    for (std::uint8_t i = 1; i < Error::kMaxFrames; ++i) {
        EXPECT_EQ(error.Frame(i).code, 0u);
        EXPECT_STREQ(error.Frame(i).function, "");
    }

    Error copy = error;
    EXPECT_EQ(copy.FrameCount(), 1);
    EXPECT_EQ(copy.message(), error.message());
    EXPECT_EQ(copy.Line(), 367u);
}

TEST(Error, NullFunctionNameMeansNoLineEither) {
    Error error(7, nullptr, 980, 2, "x");
    EXPECT_STREQ(error.Function(), "");
    EXPECT_EQ(error.Line(), 0u);
    EXPECT_EQ(error.Code(), 7u);
}

TEST(Error, FramelessErrorReadsAsZeroAndEmpty) {
    FramelessError error;
    EXPECT_EQ(error.FrameCount(), 0);
    EXPECT_EQ(error.message(), "");
    EXPECT_EQ(error.Code(), 0u);
    EXPECT_EQ(error.SystemError(), 0u);
    EXPECT_STREQ(error.Function(), "");
}

namespace {

using Thrower = std::function<void()>;

struct ThrowCase {
    const char* name;
    Thrower raise;
};

const ThrowCase kThrows[] = {
    {"Error with system error 5",
     [] {
         throw Error(30, "f", 90, 5, "");
     }},
    {"Error without frames",
     [] {
         throw FramelessError();
     }},
    {"bad_alloc",
     [] {
         throw std::bad_alloc();
     }},
    {"status no-memory",
     [] {
         throw 0xC0000017UL;
     }},
    {"status 1802",
     [] {
         throw 1802UL;
     }},
    {"runtime_error",
     [] {
         throw std::runtime_error("x");
     }},
    {"int",
     [] {
         throw 3;
     }},
};

// Expected last error (or, for the command guard, the result) per throw kind,
// in the order of kThrows. kPoison means "left alone".
struct GuardRow {
    const char* guard;
    std::function<DWORD(Thrower)> run; // returns last error, or result for commands
    DWORD expected[7];
};

DWORD LastErrorAfter(BOOL (*guard)(std::function<BOOL()>), Thrower raise) {
    SetLastError(kPoison);
    BOOL result = guard([&]() -> BOOL {
        raise();
        return TRUE;
    });
    EXPECT_FALSE(result);
    return GetLastError();
}

BOOL PortOpen(std::function<BOOL()> body) {
    return GuardPortOpen(body);
}
BOOL Silent(std::function<BOOL()> body) {
    return GuardSilent(body);
}
BOOL Ui(std::function<BOOL()> body) {
    return GuardUserInterface(body);
}

} // namespace

TEST(Guards, EachKindOfEntryPointConvertsEveryExceptionByItsOwnRule) {
    const GuardRow rows[] = {
        {"OpenPort",
         [](Thrower t) { return LastErrorAfter(PortOpen, t); },
         {1359, 1359, 8, 8, 1359, 1359, 1359}},
        {"EnumPorts/XcvOpenPort",
         [](Thrower t) { return LastErrorAfter(Silent, t); },
         {kPoison, kPoison, kPoison, kPoison, kPoison, kPoison, kPoison}},
        {"user interface",
         [](Thrower t) { return LastErrorAfter(Ui, t); },
         {5, 0, 8, 0xC0000017, 1802, 1359, 1359}},
        {"XcvDataPort (result, last error untouched)",
         [](Thrower t) {
             SetLastError(kPoison);
             DWORD result = GuardXcvCommand([&]() -> DWORD {
                 t();
                 return 0;
             });
             EXPECT_EQ(GetLastError(), kPoison);
             return result;
         },
         {5, 0, 8, 1359, 1359, 1359, 1359}},
    };
    for (const GuardRow& row : rows) {
        for (std::size_t i = 0; i < std::size(kThrows); ++i) {
            EXPECT_EQ(row.run(kThrows[i].raise), row.expected[i])
                << row.guard << " / " << kThrows[i].name;
        }
    }
}

TEST(Guards, NormalResultsPassThroughUntouched) {
    SetLastError(kPoison);
    EXPECT_EQ(GuardPortOpen([] { return TRUE; }), TRUE);
    EXPECT_EQ(GuardSilent([] { return FALSE; }), FALSE);
    EXPECT_EQ(GuardXcvCommand([] { return DWORD{1802}; }), 1802u);
    EXPECT_EQ(GetLastError(), kPoison);
}
