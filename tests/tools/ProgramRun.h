#pragma once

// Starts one of the built programs (they sit beside the test program) with an
// exact command line and collects its exit code and output; scratch folders.

#include <windows.h>

#include <filesystem>
#include <string>

#include "common/Handles.h"
#include "common/Process.h"
#include "harness/PortSupport.h"

namespace zeltest {

inline std::wstring Quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

// A fresh, empty folder under the temporary folder, removed with its contents
// when destroyed.
struct ScratchDir {
    explicit ScratchDir(const std::wstring& name) {
        static int count = 0;
        path = (std::filesystem::temp_directory_path() /
                (name + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                 std::to_wstring(++count)))
                   .wstring();
        std::filesystem::remove_all(path);
        std::filesystem::create_directory(path);
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::wstring File(const std::wstring& name) const { return path + L"\\" + name; }
    std::wstring path;
};

struct ProgramResult {
    DWORD exitCode = 0xDEADBEEF; // not run
    std::string out;             // UTF-8 as the program wrote it
    std::string err;
};

// `commandLine` is passed to CreateProcessW unchanged. Two minutes are a
// safety net only: a hung program fails the test instead of hanging it.
inline ProgramResult RunProgram(const std::wstring& commandLine) {
    ScratchDir scratch(L"zel-run");
    ProgramResult result;
    {
        SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
        auto capture = [&](const wchar_t* name) {
            return CreateFileW(scratch.File(name).c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS, 0,
                               nullptr);
        };
        zeltools::ScopedHandle out(capture(L"out")), err(capture(L"err"));
        bool timedOut = false;
        zeltools::RunHidden(commandLine, out.Get(), err.Get(), 120000, result.exitCode, timedOut);
    }
    result.out = ReadFileBytes(scratch.File(L"out"));
    result.err = ReadFileBytes(scratch.File(L"err"));
    return result;
}

} // namespace zeltest
