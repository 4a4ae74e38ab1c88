#pragma once

// GoogleTest's one use of std::mutex and std::condition_variable, which the
// compiler's win32 thread model (the monitor DLL's) lacks: the same event from
// the Windows API instead. Included ahead of every file that sees GoogleTest.

#include <windows.h>

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(event_); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};

} // namespace internal
} // namespace testing
