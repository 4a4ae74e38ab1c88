#pragma once

// Test support for the stand-in print dispatcher (tests/dispatch/helper): how
// to name it in a dispatcher command, what it recorded about its start, and
// tokens that a test can tell apart from the test program's own.

#include <windows.h>

#include <string>

namespace zeltest {

// Full path of test-dispatcher.exe, built beside the test program.
std::wstring TestDispatcherPath();

// A fresh path in the temporary directory for one dispatcher record; the file
// (and its ".partial" sibling) is removed when the object goes.
class ScopedRecordFile {
public:
    ScopedRecordFile();
    ~ScopedRecordFile();
    ScopedRecordFile(const ScopedRecordFile&) = delete;
    ScopedRecordFile& operator=(const ScopedRecordFile&) = delete;
    const std::wstring& Path() const { return path_; }

private:
    std::wstring path_;
};

// The dispatcher command a port key would hold: the quoted program path and
// its own arguments (record file, exit code, and a sleep in milliseconds or
// "@<event name>" to wait for), ahead of the monitor's message.
std::wstring DispatcherCommand(const std::wstring& recordFile, DWORD exitCode,
                               const std::wstring& wait = L"0");

struct DispatcherRecord {
    bool present = false;
    std::wstring commandLine; // as GetCommandLineW returned it
    DWORD pid = 0;
    DWORD tid = 0;          // the main thread
    std::wstring elevation; // TOKEN_ELEVATION_TYPE
    std::wstring startup;   // flags,show,x,y,xsize,ysize,xchars,ychars
};

DispatcherRecord ReadDispatcherRecord(const std::wstring& path);
// Whether the ended process or thread object goes away, which it does only once
// nobody holds a handle to it any more: then its id no longer opens. Wine drops
// the object a little after the last handle, so this polls (for up to 20 s).
bool ProcessObjectGoes(DWORD pid);
bool ThreadObjectGoes(DWORD tid);

// A token's TOKEN_ELEVATION_TYPE as the test dispatcher records it ("none" when
// the platform does not say).
inline std::wstring TokenElevationText(HANDLE token) {
    TOKEN_ELEVATION_TYPE type;
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size)) {
        return L"none";
    }
    return std::to_wstring(static_cast<int>(type));
}

// A token the test program can tell apart from its own: the process token's
// linked token (the other elevation), as an impersonation token. Null when the
// platform has none. The caller closes it.
HANDLE OtherElevationImpersonationToken();
// A primary duplicate of an impersonation token, as the job start keeps it.
HANDLE PrimaryToken(HANDLE impersonation);

} // namespace zeltest
