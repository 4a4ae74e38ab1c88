#include "harness/PortSupport.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "common/Text.h"
#include "harness/TestRegistry.h"

namespace zeltest {

std::string ReadFileBytes(const std::wstring& path) {
    std::ifstream file(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream(path.c_str(), std::ios::binary).write(bytes.data(), bytes.size());
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

std::string SecPiece(DWORD code, const std::string& hex) {
    return "; SEC: " + hex + ": " + Narrow(zeltools::SystemText(code));
}

ScopedImpersonation::ScopedImpersonation(HANDLE token)
    : active_((token ? SetThreadToken(nullptr, token) : ImpersonateSelf(SecurityImpersonation)) !=
              FALSE) {}

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
