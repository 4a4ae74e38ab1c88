#include "common/Wine.h"

#include <windows.h>
#include <winspool.h>

#include <cstring>

#include "common/Files.h"
#include "common/Text.h"

namespace zeltools {

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

namespace {

// Wine's own path converters in kernel32; what they return is the caller's to
// free from the process heap.
template <typename Result, typename Argument>
Result* WinePathCall(const char* name, const Argument* path) {
    using Convert = Result*(CDECL*)(const Argument*);
    auto convert = reinterpret_cast<Convert>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
    return convert ? convert(path) : nullptr;
}

} // namespace

std::wstring UnixPath(const std::wstring& path) {
    char* unixPath = WinePathCall<char>("wine_get_unix_file_name", path.c_str());
    if (!unixPath) {
        return std::wstring();
    }
    std::wstring result = FromUtf8(unixPath);
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}

std::wstring WindowsPath(const std::wstring& unixPath) {
    WCHAR* path = WinePathCall<WCHAR>("wine_get_dos_file_name", ToUtf8(unixPath).c_str());
    if (!path) {
        return std::wstring();
    }
    std::wstring result = path;
    HeapFree(GetProcessHeap(), 0, path);
    return result;
}

namespace {

constexpr const wchar_t* kPpdName = L"wineps-generic.ppd";

// Wine keeps its generic PPD as resource 1 of type "PPDFILE" in winspool.drv;
// the text ends at the first NUL (the resource may be padded).
bool WineGenericPpd(std::string& text) {
    HMODULE winspool = GetModuleHandleW(L"winspool.drv");
    HRSRC resource = winspool ? FindResourceW(winspool, MAKEINTRESOURCEW(1), L"PPDFILE") : nullptr;
    HGLOBAL loaded = resource ? LoadResource(winspool, resource) : nullptr;
    const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (!data) {
        if (GetLastError() == ERROR_SUCCESS) {
            SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        }
        return false;
    }
    const DWORD size = SizeofResource(winspool, resource);
    const void* end = std::memchr(data, 0, size);
    text.assign(data, end ? static_cast<const char*>(end) : data + size);
    return true;
}

// Writes the PPD into the version-3 driver folder unless a file of that name
// is already there.
bool StagePpd() {
    wchar_t folder[MAX_PATH] = {};
    DWORD needed = 0;
    if (!GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(folder),
                                    sizeof(folder), &needed)) {
        return false;
    }
    const std::wstring versionFolder = std::wstring(folder) + L"\\3";
    CreateDirectoryW(versionFolder.c_str(), nullptr);
    const std::wstring path = versionFolder + L"\\" + kPpdName;
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    std::string text;
    if (!WineGenericPpd(text)) {
        return false;
    }
    if (!WriteFileBytes(path, text, CREATE_NEW)) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_EXISTS) {
            return true; // written meanwhile by another installer
        }
        DeleteFileW(path.c_str());
        SetLastError(error);
        return false;
    }
    return true;
}

} // namespace

bool InstallWinePostScriptDriver(const std::wstring& name) {
    if (!StagePpd()) {
        return false;
    }
    std::wstring driverName = name;
    std::wstring environment = L"Windows x64";
    std::wstring driver = L"wineps.drv";
    std::wstring data = kPpdName;
    DRIVER_INFO_3W info{};
    info.cVersion = 3;
    info.pName = &driverName[0];
    info.pEnvironment = &environment[0];
    info.pDriverPath = &driver[0];
    info.pDataFile = &data[0];
    info.pConfigFile = &driver[0];
    return AddPrinterDriverExW(nullptr, 3, reinterpret_cast<LPBYTE>(&info), APD_COPY_NEW_FILES) !=
           FALSE;
}

} // namespace zeltools
