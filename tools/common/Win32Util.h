#pragma once

// Owning wrappers and text helpers for the command-line programs. Each Windows
// resource has exactly one owner that releases it on every path.

#include <windows.h>
#include <winspool.h>

#include <string>
#include <vector>

namespace zeltools {

// A kernel handle (file, process, thread). Both null and INVALID_HANDLE_VALUE
// mean "none", because different APIs use different sentinels.
class ScopedHandle {
public:
    ScopedHandle() = default;
    explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
    ~ScopedHandle() { Reset(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ && handle_ != INVALID_HANDLE_VALUE; }
    void Reset(HANDLE handle = nullptr);

private:
    HANDLE handle_ = nullptr;
};

class ScopedKey {
public:
    ScopedKey() = default;
    ~ScopedKey() { Reset(); }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;

    HKEY Get() const { return key_; }
    HKEY* Out() {
        Reset();
        return &key_;
    }
    void Reset();

private:
    HKEY key_ = nullptr;
};

class ScopedPrinter {
public:
    ScopedPrinter() = default;
    ~ScopedPrinter() { Reset(); }
    ScopedPrinter(const ScopedPrinter&) = delete;
    ScopedPrinter& operator=(const ScopedPrinter&) = delete;

    HANDLE Get() const { return printer_; }
    HANDLE* Out() {
        Reset();
        return &printer_;
    }
    void Reset();

private:
    HANDLE printer_ = nullptr;
};

class ScopedLibrary {
public:
    ScopedLibrary() = default;
    explicit ScopedLibrary(HMODULE module) : module_(module) {}
    ~ScopedLibrary();
    ScopedLibrary(const ScopedLibrary&) = delete;
    ScopedLibrary& operator=(const ScopedLibrary&) = delete;

    HMODULE Get() const { return module_; }

private:
    HMODULE module_ = nullptr;
};

// Memory the callee allocated with GlobalAlloc and handed to us.
class ScopedGlobal {
public:
    ScopedGlobal() = default;
    ~ScopedGlobal() { Reset(); }
    ScopedGlobal(const ScopedGlobal&) = delete;
    ScopedGlobal& operator=(const ScopedGlobal&) = delete;

    wchar_t* Get() const { return text_; }
    wchar_t** Out() {
        Reset();
        return &text_;
    }
    void Reset();

private:
    wchar_t* text_ = nullptr;
};

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// The system's wording for a Windows error code, without the trailing line
// break; "unknown error" when the system has none.
std::wstring SystemText(DWORD code);

// Writes to stdout/stderr: as wide text on a console, as UTF-8 when redirected
// to a file or pipe (where WriteConsoleW would fail).
void Out(const std::wstring& text);
void Err(const std::wstring& text);

// Full path of a file, or the input unchanged when it cannot be resolved.
std::wstring FullPath(const std::wstring& path);

// True when this process runs under Wine (its ntdll exports wine_get_version).
bool RunningUnderWine();

// Runs `commandLine` without a window, its standard output and error going to
// `output` and `error` (inheritable handles), for at most `timeoutMs`: a
// program still running then is ended and `timedOut` set. False with the last
// error set when the program does not start.
bool RunHidden(std::wstring commandLine, HANDLE output, HANDLE error, DWORD timeoutMs,
               DWORD& exitCode, bool& timedOut);

// The names of a key's subkeys in the registry's order; none when the key
// does not open.
std::vector<std::wstring> SubKeyNames(HKEY root, const std::wstring& path);

// One entry of the spooler's port list.
struct SpoolerPort {
    std::wstring name, monitor, description;
};
// Every port the spooler lists; false with the last error set when it cannot
// list them. Listing has the spooler load each monitor.
bool ListSpoolerPorts(std::vector<SpoolerPort>& ports);

// Creates a local printer on `port` that takes RAW jobs through the standard
// print processor. The printer handle goes to `printer`; false with the last
// error set.
bool AddRawPrinter(const std::wstring& name, const std::wstring& port, const std::wstring& driver,
                   ScopedPrinter& printer);

} // namespace zeltools
