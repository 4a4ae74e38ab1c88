#pragma once

// Helpers for tests that drive ports through the monitor's table: the port's
// log file, impersonation of the printing user, and expected log lines.

#include <windows.h>

#include <string>

#include "common/Files.h"
#include "harness/SpoolerHarness.h"

namespace zeltest {

// Whole contents of a file; empty when it does not exist.
using zeltools::ReadFileBytes;
inline void WriteBytes(const std::wstring& path, const std::string& bytes) {
    zeltools::WriteFileBytes(path, bytes, CREATE_ALWAYS);
}
bool FileExists(const std::wstring& path);
std::wstring TempDirectory();

// The port's log file in the temporary directory.
std::wstring PortLogPath(const std::wstring& port);
void DeletePortLog(const std::wstring& port);
std::string ReadPortLog(const std::wstring& port);

// One log line as the file holds it, CR LF included. `tag` is the 9-character
// level tag; `function` the last part of the qualified name.
std::string LogLine(const char* tag, const std::string& function, int line,
                    const std::string& message);
std::string NormalLine(const std::string& function, int line, const std::string& message);
// The "; SEC: " piece for a Windows code, with the system's own trimmed text.
std::string SecPiece(DWORD code, const std::string& hex);

// The calling thread impersonates `token` (null: its own process user) for its
// lifetime, as the spooler's thread impersonates the printing user around
// StartDocPort.
class ScopedImpersonation {
public:
    explicit ScopedImpersonation(HANDLE token = nullptr);
    ~ScopedImpersonation();
    ScopedImpersonation(const ScopedImpersonation&) = delete;
    ScopedImpersonation& operator=(const ScopedImpersonation&) = delete;
    bool Active() const { return active_; }

private:
    bool active_;
};

// A port opened through the monitor table and closed again when the test ends.
class OpenedPort {
public:
    explicit OpenedPort(const std::wstring& name);
    ~OpenedPort();
    OpenedPort(const OpenedPort&) = delete;
    OpenedPort& operator=(const OpenedPort&) = delete;
    HANDLE Get() const { return handle_; }
    // Closes now (the handle is gone afterwards); returns ClosePort's result.
    BOOL Close();

private:
    HANDLE handle_ = nullptr;
};

const MONITOR2& Table();

} // namespace zeltest
