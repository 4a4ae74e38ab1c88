#pragma once

// Starts one of the built programs (they sit beside the test program) with an
// exact command line and collects its exit code and output.

#include <windows.h>

#include <string>

namespace zeltest {

struct ProgramResult {
    DWORD exitCode = kNotRun;
    std::string out; // UTF-8 as the program wrote it
    std::string err;
    static constexpr DWORD kNotRun = 0xDEADBEEF;
};

// Directory of the running test program, with a trailing backslash.
std::wstring ProgramDir();

// `commandLine` is passed to CreateProcessW unchanged.
ProgramResult RunProgram(const std::wstring& commandLine);

// A fresh, empty directory under the temporary directory, removed with its
// files when destroyed.
class ScratchDir {
public:
    explicit ScratchDir(const std::wstring& name);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::wstring& Path() const { return path_; }
    std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

void WriteBytes(const std::wstring& path, const std::string& bytes);
bool ReadBytes(const std::wstring& path, std::string& bytes);
bool FileExists(const std::wstring& path);

} // namespace zeltest
