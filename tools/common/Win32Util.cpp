#include "common/Win32Util.h"

#include <vector>

namespace zeltools {

void ScopedHandle::Reset(HANDLE handle) {
    if (Valid()) {
        CloseHandle(handle_);
    }
    handle_ = handle;
}

void ScopedKey::Reset() {
    if (key_) {
        RegCloseKey(key_);
        key_ = nullptr;
    }
}

void ScopedPrinter::Reset() {
    if (printer_) {
        ClosePrinter(printer_);
        printer_ = nullptr;
    }
}

ScopedLibrary::~ScopedLibrary() {
    if (module_) {
        FreeLibrary(module_);
    }
}

void ScopedGlobal::Reset() {
    if (text_) {
        GlobalFree(text_);
        text_ = nullptr;
    }
}

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) {
        return std::string();
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size,
                        nullptr, nullptr);
    return result;
}

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) {
        return std::wstring();
    }
    int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size);
    return result;
}

std::wstring SystemText(DWORD code) {
    wchar_t buffer[512] = {};
    DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                       buffer, static_cast<DWORD>(sizeof(buffer) / sizeof(buffer[0])), nullptr);
    std::wstring text(buffer, length);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
        text.pop_back();
    }
    return text.empty() ? L"unknown error" : text;
}

namespace {
void Write(DWORD which, const std::wstring& text) {
    HANDLE stream = GetStdHandle(which);
    if (!stream || stream == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(stream, &mode)) {
        WriteConsoleW(stream, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    std::string bytes = ToUtf8(text);
    WriteFile(stream, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}
} // namespace

void Out(const std::wstring& text) {
    Write(STD_OUTPUT_HANDLE, text);
}

void Err(const std::wstring& text) {
    Write(STD_ERROR_HANDLE, text);
}

std::wstring FullPath(const std::wstring& path) {
    DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        return path;
    }
    std::vector<wchar_t> buffer(size);
    DWORD length = GetFullPathNameW(path.c_str(), size, buffer.data(), nullptr);
    if (length == 0 || length >= size) {
        return path;
    }
    return std::wstring(buffer.data(), length);
}

bool AddRawPrinter(const std::wstring& name, const std::wstring& port, const std::wstring& driver,
                   ScopedPrinter& printer) {
    std::wstring printerName = name;
    std::wstring portName = port;
    std::wstring driverName = driver;
    std::wstring processor = L"winprint";
    std::wstring datatype = L"RAW";
    PRINTER_INFO_2W info{};
    info.pPrinterName = &printerName[0];
    info.pPortName = &portName[0];
    info.pDriverName = &driverName[0];
    info.pPrintProcessor = &processor[0];
    info.pDatatype = &datatype[0];
    *printer.Out() = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    return printer.Get() != nullptr;
}

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool RunHidden(std::wstring commandLine, HANDLE output, HANDLE error, DWORD timeoutMs,
               DWORD& exitCode, bool& timedOut) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = error;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
        return false;
    }
    ScopedHandle processHandle(process.hProcess), threadHandle(process.hThread);
    timedOut = WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_TIMEOUT;
    if (timedOut) {
        TerminateProcess(process.hProcess, ERROR_TIMEOUT);
        WaitForSingleObject(process.hProcess, 5000);
    }
    exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    return true;
}

std::vector<std::wstring> SubKeyNames(HKEY root, const std::wstring& path) {
    std::vector<std::wstring> names;
    ScopedKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.Out()) != ERROR_SUCCESS) {
        return names;
    }
    wchar_t name[256];
    DWORD length = 256;
    for (DWORD i = 0; RegEnumKeyExW(key.Get(), i, name, &length, nullptr, nullptr, nullptr,
                                    nullptr) == ERROR_SUCCESS;
         ++i, length = 256) {
        names.emplace_back(name, length);
    }
    return names;
}

bool ListSpoolerPorts(std::vector<SpoolerPort>& ports) {
    DWORD needed = 0;
    DWORD returned = 0;
    std::vector<BYTE> buffer;
    while (!EnumPortsW(nullptr, 2, buffer.empty() ? nullptr : buffer.data(),
                       static_cast<DWORD>(buffer.size()), &needed, &returned)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= buffer.size()) {
            return false;
        }
        buffer.assign(needed, 0);
    }
    const auto* info = reinterpret_cast<const PORT_INFO_2W*>(buffer.data());
    const auto text = [](const wchar_t* value) {
        return std::wstring(value ? value : L"");
    };
    ports.clear();
    for (DWORD i = 0; i < returned; ++i) {
        ports.push_back(
            {text(info[i].pPortName), text(info[i].pMonitorName), text(info[i].pDescription)});
    }
    return true;
}

} // namespace zeltools
