#pragma once

// Loads the built monitor DLL the way the spooler does and gives it a
// MONITORINIT whose registry table forwards to advapi32, records every call and
// can fail a chosen one.

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "monitor/Resources.h"

namespace zeltest {

// A thread of the Windows API running `body`, joined at the latest when the
// object goes: the tests build with either thread model of the compiler, and
// the win32 one, which the monitor DLL uses, has no std::thread.
class TestThread {
public:
    explicit TestThread(std::function<void()> body) : body_(std::move(body)) {
        handle_ = CreateThread(nullptr, 0, &TestThread::Run, this, 0, nullptr);
    }
    ~TestThread() { join(); }
    TestThread(const TestThread&) = delete;
    TestThread& operator=(const TestThread&) = delete;
    void join() {
        if (handle_) {
            WaitForSingleObject(handle_, INFINITE);
            CloseHandle(handle_);
            handle_ = nullptr;
        }
    }

private:
    static DWORD WINAPI Run(void* self) {
        static_cast<TestThread*>(self)->body_();
        return 0;
    }
    std::function<void()> body_;
    HANDLE handle_ = nullptr;
};

enum class RegFn {
    CreateKey,
    OpenKey,
    CloseKey,
    DeleteKey,
    EnumKey,
    QueryInfoKey,
    SetValue,
    QueryValue
};

struct RegCall {
    RegFn function;
    HANDLE hSpooler;
    HANDLE key;        // the key the call worked on (or the one it opened)
    std::wstring name; // subkey or value name, when the call takes one
    LONG status;
};

class RecordingRegistry {
public:
    static RecordingRegistry& Instance();

    // The hSpooler value the harness hands out; every table call must carry it.
    static HANDLE SpoolerHandle() {
        return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x5F00C0DE));
    }

    MONITORREG* Table() { return &table_; }

    void Clear();
    // The `skip`-th following call of `fn` (0: the next one) returns `status`
    // without reaching the registry.
    void Inject(RegFn fn, LONG status, unsigned skip = 0);
    std::vector<RegCall> Calls();
    std::vector<RegCall> CallsOf(RegFn fn);
    // Keys opened or created through the table and not closed yet.
    std::set<HANDLE> OpenKeys();
    // A test's expectations that every call so far carried the spooler's
    // handle and that no key was left open; then the record is cleared.
    void ExpectTidyAndClear();

    // Every table slot: an injected failure if one is due, else `call` (which
    // stores any key it opens in `*opened`); then the call is recorded.
    template <class Call>
    LONG Forward(RegFn fn, HANDLE spooler, HANDLE key, LPCWSTR name, Call&& call,
                 PHANDLE opened = nullptr);

private:
    RecordingRegistry();
    struct Injection {
        RegFn fn;
        LONG status;
        unsigned skip;
    };
    Brambleworth::Zel::PortMon::CriticalSection mutex_;
    MONITORREG table_{};
    std::vector<RegCall> calls_;
    std::vector<Injection> injections_;
    std::set<HANDLE> open_;
};

// The DLL loaded as the spooler loads it, with a MONITORINIT that lives as long
// as this object and carries `registry` and `spooler`. The tests share one that
// lives until the program ends, as the spooler's MONITORINIT does.
class SpoolerHarness {
public:
    static SpoolerHarness& Instance();
    SpoolerHarness(MONITORREG* registry, HANDLE spooler);
    // The spooler shuts the monitor down and unloads it only after its last call.
    ~SpoolerHarness();
    SpoolerHarness(const SpoolerHarness&) = delete;
    SpoolerHarness& operator=(const SpoolerHarness&) = delete;

    const MONITOR2& Monitor() const { return *monitor_; }
    const MONITORUI& Ui() const { return *ui_; }
    HANDLE MonitorHandle() const { return hMonitor_; }
    PMONITORINIT Init() { return &init_; }
    HMODULE Module() const { return module_; }
    RecordingRegistry& Registry() { return RecordingRegistry::Instance(); }

private:
    HMODULE module_ = nullptr;
    MONITORINIT init_{};
    HANDLE hMonitor_ = nullptr;
    const MONITOR2* monitor_ = nullptr;
    const MONITORUI* ui_ = nullptr;
};

// The folder of the running program, with its trailing separator: the DLL and
// the helper programs are built beside it.
std::wstring ProgramDirectory();
// Full path of the monitor DLL built beside the test program.
std::wstring MonitorDllPath();

} // namespace zeltest
