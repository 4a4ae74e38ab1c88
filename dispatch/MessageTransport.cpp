#include "dispatch/MessageTransport.h"

#include <windows.h>

#include <vector>

#include "dispatch/DispatcherMessage.h"
#include "monitor/Error.h"
#include "monitor/PortContext.h"
#include "monitor/Resources.h"

namespace Brambleworth {
namespace Zel {
namespace PortMon {

namespace {

constexpr const char* kSendName = "Brambleworth::Zel::PortMon::MessageTransport::Send";

// The two handles of a started process. The monitor keeps nothing of the
// dispatcher beyond this call, so both go on every path, process first.
class StartedProcess {
public:
    StartedProcess() = default;
    ~StartedProcess() { Close(); }
    StartedProcess(const StartedProcess&) = delete;
    StartedProcess& operator=(const StartedProcess&) = delete;

    void Take(const PROCESS_INFORMATION& info) {
        process_ = KernelHandle(info.hProcess);
        thread_ = KernelHandle(info.hThread);
    }
    HANDLE Process() const { return process_.Get(); }
    void Close() {
        process_.Close();
        thread_.Close();
    }

private:
    KernelHandle process_;
    KernelHandle thread_;
};

// The dispatcher opens no console or window of its own that a user should
// see: only the show-window setting is given, and it hides the first window.
STARTUPINFOW DispatcherStartup() {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwX = CW_USEDEFAULT;
    startup.dwY = CW_USEDEFAULT;
    startup.dwXSize = CW_USEDEFAULT;
    startup.dwYSize = CW_USEDEFAULT;
    startup.dwXCountChars = 80;
    startup.dwYCountChars = 25;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    return startup;
}

} // namespace

void MessageTransport::Send(const std::wstring& command, const PortContext& port) {
    STARTUPINFOW startup = DispatcherStartup();
    const std::wstring line =
        BuildDispatcherCommandLine(command, port.documentName, port.psFilePath);
    // CreateProcessAsUserW may write into the command line, so it gets a copy.
    std::vector<wchar_t> writableLine(line.begin(), line.end());
    writableLine.push_back(L'\0');

    PROCESS_INFORMATION info{};
    if (!CreateProcessAsUserW(port.userToken.Get(), nullptr, writableLine.data(), nullptr, nullptr,
                              FALSE, 0, nullptr, nullptr, &startup, &info)) {
        throw Error(44, kSendName, 367, GetLastError(), "Cannot create print dispatcher process");
    }
    StartedProcess dispatcher;
    dispatcher.Take(info);

    // Whatever the wait reports, the exit code below tells what happened: a
    // dispatcher still busy after the bound reads as STILL_ACTIVE and is left
    // running.
    WaitForSingleObject(dispatcher.Process(), kWaitMilliseconds);

    DWORD exitCode = 0;
    const bool known = GetExitCodeProcess(dispatcher.Process(), &exitCode) != FALSE;
    if (known && exitCode != 0 && exitCode != STILL_ACTIVE) {
        dispatcher.Close();
        throw Error(6, kSendName, 386, exitCode, std::string());
    }
}

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
