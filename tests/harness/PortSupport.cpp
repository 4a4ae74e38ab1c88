#include "harness/PortSupport.h"

#include <stdexcept>
#include <vector>

#include "harness/TestRegistry.h"

namespace zeltest {

std::string ReadFileBytes(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::string();
    }
    std::string bytes;
    std::vector<char> chunk(1 << 16);
    DWORD got = 0;
    while (ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) && got) {
        bytes.append(chunk.data(), got);
    }
    CloseHandle(file);
    return bytes;
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring TempDirectory() {
    wchar_t buffer[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH, buffer);
    return std::wstring(buffer, length);
}

std::wstring PortLogPath(const std::wstring& port) {
    return TempDirectory() + L"Brambleworth.Zel.3.PortMon." + port + L".log";
}

void DeletePortLog(const std::wstring& port) {
    DeleteFileW(PortLogPath(port).c_str());
}

std::string ReadPortLog(const std::wstring& port) {
    return ReadFileBytes(PortLogPath(port));
}

std::string LogLine(const char* tag, const std::string& function, int line,
                    const std::string& message) {
    return std::string(tag) + "Brambleworth::Zel::PortMon::" + function + ": #" +
           std::to_string(line) + ": " + message + "\r\n";
}

std::string NormalLine(const std::string& function, int line, const std::string& message) {
    return LogLine("       : ", function, line, message);
}

std::wstring SystemText(DWORD code) {
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                      FORMAT_MESSAGE_FROM_SYSTEM,
                                  nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (length == 0) {
        return std::wstring();
    }
    std::wstring text(buffer, length);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L' ' || text.back() == L'\r' || text.back() == L'\n')) {
        text.pop_back();
    }
    return text;
}

std::string SecPiece(DWORD code, const std::string& hex) {
    return "; SEC: " + hex + ": " + Narrow(SystemText(code));
}

ScopedImpersonation::ScopedImpersonation()
    : active_(ImpersonateSelf(SecurityImpersonation) != FALSE) {}

ScopedImpersonation::~ScopedImpersonation() {
    if (active_) {
        RevertToSelf();
    }
}

const MONITOR2& Table() {
    return SpoolerHarness::Instance().Monitor();
}

OpenedPort::OpenedPort(const std::wstring& name) {
    std::wstring copy = name;
    if (!Table().pfnOpenPort(SpoolerHarness::Instance().MonitorHandle(), copy.data(), &handle_)) {
        throw std::runtime_error("OpenPort failed: " + std::to_string(GetLastError()));
    }
}

OpenedPort::~OpenedPort() {
    Close();
}

BOOL OpenedPort::Close() {
    if (!handle_) {
        return FALSE;
    }
    BOOL result = Table().pfnClosePort(handle_);
    handle_ = nullptr;
    return result;
}

} // namespace zeltest
