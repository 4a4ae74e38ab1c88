// zelport log and zelport status: what an administrator needs on the second
// day, read from the port logs, the port keys and the spooler.

#include <windows.h>
#include <winspool.h>

#include <string>
#include <vector>

#include "common/Win32Util.h"
#include "registry/RegistryLayout.h"
#include "zelport/CommandSupport.h"
#include "zelport/Diagnosis.h"

namespace zelport {

namespace {

using namespace Brambleworth::Zel;
using zeltools::Err;
using zeltools::Out;
using zeltools::ScopedHandle;

// Opens the log under the exact name the monitor writes. On NTFS the port's
// colon makes that name a stream ".log" of a file without the extension;
// CreateFileW reaches the stream as it reaches a plain file. The monitor keeps
// the file open for appending, so every kind of sharing is allowed.
bool OpenLog(const std::wstring& path, ScopedHandle& file) {
    file.Reset(CreateFileW(path.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.Valid();
}

unsigned long long LogSize(const ScopedHandle& file) {
    LARGE_INTEGER size{};
    return GetFileSizeEx(file.Get(), &size) ? static_cast<unsigned long long>(size.QuadPart) : 0;
}

// The log's bytes from `offset` to its current end.
std::string ReadFrom(const ScopedHandle& file, unsigned long long offset) {
    std::string bytes;
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(file.Get(), position, nullptr, FILE_BEGIN)) {
        return bytes;
    }
    char chunk[64 * 1024];
    DWORD got = 0;
    while (ReadFile(file.Get(), chunk, sizeof(chunk), &got, nullptr) && got > 0) {
        bytes.append(chunk, got);
    }
    return bytes;
}

// The first port a printer prints to, or empty when it cannot be asked.
std::wstring PrinterPort(const std::wstring& printerName) {
    zeltools::ScopedPrinter printer;
    std::wstring name = printerName;
    if (!OpenPrinterW(&name[0], printer.Out(), nullptr)) {
        return std::wstring();
    }
    DWORD needed = 0;
    GetPrinterW(printer.Get(), 2, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    if (needed == 0 || !GetPrinterW(printer.Get(), 2, buffer.data(), needed, &needed)) {
        return std::wstring();
    }
    const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    std::wstring ports = info->pPortName ? info->pPortName : L"";
    return ports.substr(0, ports.find(L','));
}

// The local printers that print to `port` (a printer may name several ports,
// separated by commas).
std::vector<std::wstring> PrintersOn(const std::wstring& port) {
    std::vector<std::wstring> names;
    DWORD needed = 0;
    DWORD count = 0;
    EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed);
    if (needed == 0 ||
        !EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &needed, &count)) {
        return names;
    }
    const auto* printers = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        std::wstring ports =
            L"," + std::wstring(printers[i].pPortName ? printers[i].pPortName : L"") + L",";
        if (ports.find(L"," + port + L",") != std::wstring::npos) {
            names.emplace_back(printers[i].pPrinterName);
        }
    }
    return names;
}

// The registered monitor's library as the spooler names it, or empty.
std::wstring RegisteredMonitorDll() {
    DWORD needed = 0;
    DWORD count = 0;
    EnumMonitorsW(nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed);
    if (needed == 0 || !EnumMonitorsW(nullptr, 2, buffer.data(), needed, &needed, &count)) {
        return std::wstring();
    }
    const auto* monitors = reinterpret_cast<const MONITOR_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        if (monitors[i].pName && std::wstring(monitors[i].pName) == Registry::kMonitorName) {
            return monitors[i].pDLLName ? monitors[i].pDLLName : L"?";
        }
    }
    return std::wstring();
}

std::wstring FileVersion(const std::wstring& path) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<BYTE> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info) {
        return L"no version information";
    }
    return L"version " + std::to_wstring(HIWORD(info->dwFileVersionMS)) + L"." +
           std::to_wstring(LOWORD(info->dwFileVersionMS)) + L"." +
           std::to_wstring(HIWORD(info->dwFileVersionLS)) + L"." +
           std::to_wstring(LOWORD(info->dwFileVersionLS));
}

bool ProgramExists(const std::wstring& program) {
    if (program.find_first_of(L"\\/:") != std::wstring::npos) {
        return GetFileAttributesW(program.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    wchar_t found[MAX_PATH] = {};
    return SearchPathW(nullptr, program.c_str(), L".exe", MAX_PATH, found, nullptr) != 0;
}

// One port's part of the status; each problem goes into `problems`.
void PortStatus(const std::wstring& port, const std::wstring& logFolder,
                std::vector<std::wstring>& problems) {
    std::wstring description;
    std::wstring dispatcher;
    zeltools::ScopedKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, PortKeyPath(port).c_str(), 0, KEY_READ, key.Out()) !=
        ERROR_SUCCESS) {
        problems.push_back(L"no Tessivane 3 port named " + Quote(port) +
                           L": zelport ports lists them");
        return;
    }
    QueryString(key.Get(), Registry::kDescriptionValue, description);
    QueryString(key.Get(), Registry::kPrintDispatcherFilePathValue, dispatcher);
    Out(L"port " + port + L"\n  description: " + description + L"\n");
    if (dispatcher.empty()) {
        Out(L"  dispatcher: (none)\n");
        problems.push_back(L"port " + port + L" has no print dispatcher: zelport set-dispatcher " +
                           port + L" COMMAND");
    } else {
        const std::wstring program = DispatcherProgram(dispatcher);
        const bool exists = ProgramExists(program);
        Out(L"  dispatcher: " + dispatcher + L"\n  program: " + program +
            (exists ? L" (found)\n" : L" (NOT FOUND)\n"));
        if (!exists) {
            problems.push_back(L"the print dispatcher's program " + Quote(program) + L" of port " +
                               port + L" does not exist: zelport set-dispatcher " + port +
                               L" with the program's full path, quoted");
        }
    }
    std::wstring printers;
    for (const std::wstring& printer : PrintersOn(port)) {
        printers += (printers.empty() ? L"" : L", ") + printer;
    }
    Out(L"  printers: " + (printers.empty() ? std::wstring(L"(none)") : printers) + L"\n");
    const std::wstring path = PortLogName(logFolder, port);
    ScopedHandle log;
    if (!OpenLog(path, log)) {
        Out(L"  log: " + path + L" (not written yet)\n");
        return;
    }
    Out(L"  log: " + path + L", " + std::to_wstring(LogSize(log)) + L" bytes\n");
    const std::string last = LastErrorLine(LogLines(ReadFrom(log, 0)));
    Out(L"  last error: " + (last.empty() ? std::wstring(L"(none)") : FromLatin1(last)) + L"\n");
}

} // namespace

std::wstring PortLogFolder(const std::wstring& dir) {
    wchar_t folder[MAX_PATH + 1] = {};
    std::wstring result;
    if (!dir.empty()) {
        result = zeltools::FullPath(dir);
    } else if (zeltools::RunningUnderWine()) {
        // Wine's spooler runs inside each process that prints: its temporary
        // folder is ours.
        if (GetTempPathW(MAX_PATH, folder)) {
            result = folder;
        }
    } else if (GetSystemWindowsDirectoryW(folder, MAX_PATH)) {
        // The spooler service runs as LocalSystem, whose temporary folder is
        // the system's own (the shared Windows folder, also on a terminal server).
        result = std::wstring(folder) + L"\\Temp";
    }
    if (!result.empty() && result.back() != L'\\') {
        result += L'\\';
    }
    return result;
}

PortLogWatch::PortLogWatch(const std::wstring& printer)
    : port_(PrinterPort(printer)), path_(PortLogName(PortLogFolder(L""), port_)) {
    ScopedHandle log;
    if (!port_.empty() && OpenLog(path_, log)) {
        start_ = LogSize(log);
    }
}

void PortLogWatch::Explain(Failure& failure) const {
    ScopedHandle log;
    if (port_.empty() || !OpenLog(path_, log)) {
        return;
    }
    const std::string line = LastErrorLine(LogLines(ReadFrom(log, start_)));
    if (line.empty()) {
        return;
    }
    const std::wstring advice = AdviceFor(line, port_);
    if (!advice.empty()) {
        failure.advice.push_back(advice);
    }
    failure.advice.push_back(L"port " + port_ + L" logged: " + FromLatin1(line));
}

int RunLog(const Command& command) {
    const std::wstring& port = command.positional[0];
    const std::wstring folder = PortLogFolder(command.dir);
    const std::wstring path = PortLogName(folder, port);
    ScopedHandle log;
    if (!OpenLog(path, log)) {
        throw Failure{L"cannot open the log of port " + Quote(port) + L" (" + path + L")",
                      GetLastError(),
                      kExitFailed,
                      {L"the monitor writes it once the port has been opened; --dir names "
                       L"another folder"}};
    }
    std::string bytes = ReadFrom(log, 0);
    unsigned long long offset = bytes.size();
    std::vector<std::string> lines = LogLines(bytes);
    // A line still being written is left for --follow to complete.
    std::string partial;
    if (!bytes.empty() && bytes.back() != '\n') {
        partial = lines.back();
        lines.pop_back();
    }
    for (const std::string& line : LastLines(lines, command.lines, command.errorsOnly)) {
        Out(FromLatin1(line) + L"\n");
    }
    while (command.follow) {
        Sleep(500);
        std::string more = ReadFrom(log, offset);
        if (more.empty()) {
            continue;
        }
        offset += more.size();
        more.insert(0, partial);
        const std::size_t complete = more.rfind('\n') + 1; // 0 when there is none
        partial = more.substr(complete);
        for (const std::string& line : LogLines(more.substr(0, complete))) {
            if (!command.errorsOnly || IsProblemLine(line)) {
                Out(FromLatin1(line) + L"\n");
            }
        }
    }
    return kExitOk;
}

int RunStatus(const Command& command) {
    std::vector<std::wstring> problems;
    const std::wstring monitor = Registry::kMonitorName;
    const std::wstring dll = RegisteredMonitorDll();
    if (dll.empty()) {
        Out(L"monitor " + Quote(monitor) + L": not registered\n");
        problems.push_back(L"monitor " + Quote(monitor) +
                           L" is not registered: zelport install (as an administrator)");
    } else {
        Out(L"monitor " + Quote(monitor) + L": registered (" + dll + L")\n");
        try {
            const std::wstring library = MonitorLibrary(monitor);
            Out(L"library: " + library + L" (" + FileVersion(library) + L")\n");
        } catch (const Failure& failure) {
            problems.push_back(failure.what + L": " + zeltools::SystemText(failure.code));
        }
    }
    const std::wstring folder = PortLogFolder(command.dir);
    std::vector<std::wstring> ports =
        command.positional.empty()
            ? zeltools::SubKeyNames(HKEY_LOCAL_MACHINE, Registry::kPortsKeyPath)
            : command.positional;
    for (const std::wstring& port : ports) {
        PortStatus(port, folder, problems);
    }
    for (const std::wstring& problem : problems) {
        Err(L"zelport: " + problem + L"\n");
    }
    return problems.empty() ? kExitOk : kExitProblems;
}

} // namespace zelport
