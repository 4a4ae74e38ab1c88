// The error value and the conversions from exceptions to results, one guard
// per kind of entry point.

#include <gtest/gtest.h>

#include <exception>
#include <functional>
#include <new>
#include <stdexcept>

#include "harness/TestRegistry.h"
#include "monitor/Error.h"
#include "monitor/Guards.h"

using namespace Brambleworth::Zel;
using zeltest::kPoison;

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
    using Guard = BOOL (*)(std::function<BOOL()>);
    struct Row {
        const char* guard;
        Guard run; // null: the command guard, whose result is the number
        DWORD expected[7];
    };
    const Row rows[] = {
        {"OpenPort",
         [](auto body) { return GuardPortOpen(body); },
         {1359, 1359, 8, 8, 1359, 1359, 1359}},
        {"EnumPorts/XcvOpenPort",
         [](auto body) { return GuardSilent(body); },
         {kPoison, kPoison, kPoison, kPoison, kPoison, kPoison, kPoison}},
        {"user interface",
         [](auto body) { return GuardUserInterface(body); },
         {5, 0, 8, 0xC0000017, 1802, 1359, 1359}},
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

} // namespace
