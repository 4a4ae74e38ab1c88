// Lists the spooler's print monitors, one "<name>\t<DLL>" line each, for the
// MSI round trip: the registration it checks is what EnumMonitorsW reports.
#include <windows.h>
#include <winspool.h>

#include <cwchar>
#include <vector>

int wmain() {
    DWORD needed = 0;
    DWORD count = 0;
    EnumMonitorsW(nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed + 1);
    if (!EnumMonitorsW(nullptr, 2, buffer.data(), needed, &needed, &count)) {
        std::fwprintf(stderr, L"EnumMonitorsW failed: %lu\n", GetLastError());
        return 1;
    }
    const auto* monitors = reinterpret_cast<const MONITOR_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        std::wprintf(L"%ls\t%ls\n", monitors[i].pName, monitors[i].pDLLName);
    }
    return 0;
}
