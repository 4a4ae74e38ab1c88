#pragma once

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <list>
#include <string>

namespace Brambleworth {
namespace Zel {

// Subkey names, in the order the registry enumerates them.
using NameList = std::list<std::wstring>;

namespace PortMon {

// One registry key of the monitor half. With a monitor handle every call goes
// through the spooler's own registry table (so the spooler can redirect it, for
// clusters for instance); without one, through plain advapi32. Registry
// failures are reported by the boolean result plus LastResult(), never thrown.
class MonitorReg {
public:
    explicit MonitorReg(PMONITORINIT monitor);
    virtual ~MonitorReg();
    MonitorReg(const MonitorReg&) = delete;
    MonitorReg& operator=(const MonitorReg&) = delete;

    bool OpenKey(HANDLE parent, const wchar_t* subKey, REGSAM access);
    bool OpenKey(const MonitorReg& parent, const wchar_t* subKey);
    bool CreateKey(const wchar_t* subKey);
    bool Close();
    bool DeleteSubKey(const wchar_t* name);
    bool EnumSubKeys(NameList& names);
    bool SetValue(const wchar_t* name, const std::wstring& data);
    bool SetValue(const wchar_t* name, DWORD data);
    bool QueryValue(const wchar_t* name, std::wstring& data);

    bool IsOpen() const { return key_ != kNoKey; }
    HANDLE Key() const { return key_; }
    LONG LastResult() const { return lastResult_; }
    void SetLastResult(LONG status) { lastResult_ = status; }
    PMONITORINIT Monitor() const { return monitor_; }

    static inline const HANDLE kNoKey = INVALID_HANDLE_VALUE;

private:
    bool Record(LONG status) {
        lastResult_ = status;
        return status == ERROR_SUCCESS;
    }
    const MONITORREG& Table() const { return *monitor_->pMonitorReg; }

    PMONITORINIT monitor_;
    HANDLE key_ = kNoKey;
    LONG lastResult_ = ERROR_SUCCESS;
};

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
