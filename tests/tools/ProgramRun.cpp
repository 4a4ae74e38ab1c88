#include "ProgramRun.h"

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

#include "common/Win32Util.h"

namespace zeltest {

using zeltools::ScopedHandle;

std::wstring ProgramDir() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir = path;
    return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

namespace {

ScopedHandle* OpenCapture(const std::wstring& path, ScopedHandle& handle) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    handle.Reset(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr));
    if (!handle.Valid()) {
        throw std::runtime_error("cannot create a capture file");
    }
    return &handle;
}

} // namespace

ProgramResult RunProgram(const std::wstring& commandLine) {
    ScratchDir scratch(L"zel-run");
    ProgramResult result;
    {
        ScopedHandle out;
        ScopedHandle err;
        OpenCapture(scratch.File(L"out.txt"), out);
        OpenCapture(scratch.File(L"err.txt"), err);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nullptr;
        startup.hStdOutput = out.Get();
        startup.hStdError = err.Get();
        PROCESS_INFORMATION process{};
        std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
        line.push_back(L'\0');
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                            nullptr, &startup, &process)) {
            return result;
        }
        ScopedHandle processHandle(process.hProcess);
        ScopedHandle threadHandle(process.hThread);
        // A safety net only: a hung program should fail the test, not hang it.
        WaitForSingleObject(process.hProcess, 120000);
        GetExitCodeProcess(process.hProcess, &result.exitCode);
    }
    ReadBytes(scratch.File(L"out.txt"), result.out);
    ReadBytes(scratch.File(L"err.txt"), result.err);
    return result;
}

ScratchDir::ScratchDir(const std::wstring& name) {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + name + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(GetTickCount64());
    for (int i = 0; !CreateDirectoryW(path_.c_str(), nullptr); ++i) {
        if (i > 100) {
            throw std::runtime_error("cannot create a scratch directory");
        }
        path_ += L"x";
    }
}

ScratchDir::~ScratchDir() {
    // Two levels are enough for what the tests put there.
    std::vector<std::wstring> dirs{path_};
    for (size_t i = 0; i < dirs.size(); ++i) {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((dirs[i] + L"\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            continue;
        }
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            std::wstring full = dirs[i] + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                dirs.push_back(full);
            } else {
                DeleteFileW(full.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    for (auto it = dirs.rbegin(); it != dirs.rend(); ++it) {
        RemoveDirectoryW(it->c_str());
    }
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream file(path.c_str(), std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        throw std::runtime_error("cannot write a test file");
    }
}

bool ReadBytes(const std::wstring& path, std::string& bytes) {
    std::ifstream file(path.c_str(), std::ios::binary);
    if (!file) {
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return true;
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace zeltest
