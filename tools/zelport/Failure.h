#pragma once

// How a zelport command fails: it throws what it tried and the system's code
// for why that failed; main turns that into the one error line, the advice
// lines after it and the exit code.

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "zelport/Arguments.h"

namespace zelport {

struct Failure {
    std::wstring what;
    unsigned long code;
    int exitCode = kExitFailed;
    std::vector<std::wstring> advice = {}; // lines after the error line: what to do
};

[[noreturn]] inline void Fail(const std::wstring& what, unsigned long code,
                              std::vector<std::wstring> advice = {}) {
    throw Failure{what, code, kExitFailed, std::move(advice)};
}

[[noreturn]] inline void FailLast(const std::wstring& what, std::vector<std::wstring> advice = {}) {
    Fail(what, GetLastError(), std::move(advice));
}

inline std::wstring Quote(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

} // namespace zelport
