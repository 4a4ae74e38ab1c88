#include "zelport/Commands.h"

#include <windows.h>
#include <bcrypt.h>
#include <winspool.h>
#include <winsplp.h>

#include <algorithm>
#include <fstream>
#include <vector>

#include "common/PrinterDriver.h"
#include "common/Win32Util.h"
#include "registry/RegistryLayout.h"
#include "zelport/CommandSupport.h"
#include "zelport/Diagnosis.h"

namespace zelport {

using namespace Brambleworth::Zel;
using zeltools::Out;
using zeltools::ScopedKey;
using zeltools::ScopedPrinter;

void Fail(const std::wstring& what, unsigned long code) {
    throw Failure{what, code};
}

void FailLast(const std::wstring& what) {
    Fail(what, GetLastError());
}

std::wstring Quote(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

// Opened as the monitor's own user interface opens it.
void OpenXcv(ScopedPrinter& printer, const std::wstring& object) {
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
    std::wstring name = L"," + object;
    if (!OpenPrinterW(&name[0], printer.Out(), &defaults)) {
        FailLast(L"cannot open " + Quote(name));
    }
}

std::wstring MonitorLibrary(const std::wstring& monitor) {
    ScopedPrinter xcv;
    OpenXcv(xcv, L"XcvMonitor " + monitor);
    wchar_t path[MAX_PATH + 1] = {};
    DWORD needed = 0;
    DWORD status = 0;
    if (!XcvDataW(xcv.Get(), L"MonitorUI", nullptr, 0, reinterpret_cast<PBYTE>(path),
                  sizeof(path) - sizeof(wchar_t), &needed, &status)) {
        status = GetLastError();
    }
    if (status != ERROR_SUCCESS) {
        Fail(L"monitor " + Quote(monitor) + L" did not name its user interface", status);
    }
    return path;
}

std::wstring PortKeyPath(const std::wstring& port) {
    return std::wstring(Registry::kPortsKeyPath) + L"\\" + port;
}

bool QueryString(HKEY key, const wchar_t* name, std::wstring& value) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return false;
    }
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                         &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return false;
    }
    value.assign(buffer.data());
    return true;
}

namespace {

constexpr const wchar_t* kEnvironment = L"Windows x64";
constexpr const wchar_t* kDllName = L"Brambleworth.Zel.3.PortMon.x64.dll";
constexpr const wchar_t* kDefaultDriver = L"Microsoft PS Class Driver";

// Sends a port command; both the call's failure and the monitor's refusal
// count.
void SendXcv(HANDLE xcv, const wchar_t* command, const std::wstring& port,
             const std::wstring& what) {
    DWORD output = 0;
    DWORD needed = 0;
    DWORD status = 0;
    if (!XcvDataW(xcv, command, reinterpret_cast<PBYTE>(const_cast<wchar_t*>(port.c_str())),
                  static_cast<DWORD>((port.size() + 1) * sizeof(wchar_t)),
                  reinterpret_cast<PBYTE>(&output), 0, &needed, &status)) {
        status = GetLastError();
    }
    if (status != ERROR_SUCCESS) {
        Fail(what, status);
    }
}

std::wstring JobKeyPath(const std::wstring& id) {
    return std::wstring(Registry::kJobsKeyPath) + L"\\" + id;
}

bool QueryDword(HKEY key, const wchar_t* name, DWORD& value) {
    DWORD type = 0;
    DWORD size = sizeof(value);
    return RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD;
}

void SetString(HKEY key, const wchar_t* name, const std::wstring& value, const std::wstring& what) {
    LONG status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS) {
        Fail(what, static_cast<unsigned long>(status));
    }
}

int RunInstall(const Command& command) {
    std::wstring name = Registry::kMonitorName;
    std::wstring environment = kEnvironment;
    std::wstring dll = command.dll.empty() ? kDllName : command.dll;
    MONITOR_INFO_2W info{&name[0], &environment[0], &dll[0]};
    if (!AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info))) {
        DWORD error = GetLastError();
        if (error == ERROR_PRINT_MONITOR_ALREADY_INSTALLED) {
            Out(L"monitor " + Quote(name) + L" is already installed\n");
            return kExitOk;
        }
        Fail(L"cannot install monitor " + Quote(name) + L" from " + dll, error);
    }
    Out(L"installed monitor " + Quote(name) + L" (" + dll + L")\n");
    return kExitOk;
}

// "<printer> (<port>)" for every local printer one of whose ports (a
// comma-separated list) is in `ports`, joined by ", ".
std::wstring PrintersOnPorts(const std::vector<std::wstring>& ports) {
    DWORD needed = 0;
    DWORD returned = 0;
    std::vector<BYTE> buffer;
    while (!EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.empty() ? nullptr : buffer.data(),
                          static_cast<DWORD>(buffer.size()), &needed, &returned)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= buffer.size()) {
            FailLast(L"cannot list the printers");
        }
        buffer.assign(needed, 0);
    }
    std::wstring users;
    const PRINTER_INFO_2W* printers = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < returned; ++i) {
        std::wstring list = printers[i].pPortName ? printers[i].pPortName : L"";
        for (size_t start = 0; start <= list.size();) {
            size_t end = std::min(list.find(L',', start), list.size());
            std::wstring port = list.substr(start, end - start);
            port.erase(0, port.find_first_not_of(L' '));
            for (const std::wstring& ours : ports) {
                if (CompareStringOrdinal(port.c_str(), -1, ours.c_str(), -1, TRUE) == CSTR_EQUAL) {
                    users += (users.empty() ? L"" : L", ") +
                             std::wstring(printers[i].pPrinterName) + L" (" + ours + L")";
                }
            }
            start = end + 1;
        }
    }
    return users;
}

int RunUninstall(const Command&) {
    std::wstring name = Registry::kMonitorName;
    std::wstring environment = kEnvironment;
    // Removing the monitor under a printer would leave the printer on a port
    // that no longer exists; the installer's removal relies on this refusal
    // to roll back before it changed anything.
    // The monitor's ports from its own registry keys: the spooler's port list
    // would have to load the monitor to answer.
    const std::wstring users =
        PrintersOnPorts(zeltools::SubKeyNames(HKEY_LOCAL_MACHINE, Registry::kPortsKeyPath));
    if (!users.empty()) {
        Fail(L"cannot remove monitor " + Quote(name) + L" while printers use its ports: " + users,
             ERROR_PRINT_MONITOR_IN_USE);
    }
    if (!DeleteMonitorW(nullptr, &environment[0], &name[0])) {
        FailLast(L"cannot remove monitor " + Quote(name));
    }
    Out(L"removed monitor " + Quote(name) + L"\n");
    return kExitOk;
}

int RunPorts(const Command&) {
    std::vector<zeltools::SpoolerPort> ports;
    if (!zeltools::ListSpoolerPorts(ports)) {
        FailLast(L"cannot list the spooler's ports");
    }
    for (const zeltools::SpoolerPort& port : ports) {
        if (port.monitor != Registry::kMonitorName) {
            continue;
        }
        std::wstring dispatcher;
        ScopedKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, PortKeyPath(port.name).c_str(), 0, KEY_READ,
                          key.Out()) == ERROR_SUCCESS) {
            QueryString(key.Get(), Registry::kPrintDispatcherFilePathValue, dispatcher);
        }
        Out(port.name + L"\t" + port.description + L"\t" + dispatcher + L"\n");
    }
    return kExitOk;
}

// Without a name, do what the spooler's client side does for "Add Port": ask
// the monitor which library holds its user interface, load it there, and let
// it choose the name.
std::wstring AddPortThroughUi(const std::wstring& monitor) {
    const std::wstring library = MonitorLibrary(monitor);
    zeltools::ScopedLibrary module(LoadLibraryW(library.c_str()));
    if (!module.Get()) {
        FailLast(L"cannot load " + library);
    }
    using InitUi = PMONITORUI(WINAPI*)();
    auto init = reinterpret_cast<InitUi>(
        reinterpret_cast<void*>(GetProcAddress(module.Get(), "InitializePrintMonitorUI")));
    if (!init) {
        FailLast(library + L" has no InitializePrintMonitorUI");
    }
    PMONITORUI ui = init();
    if (!ui || !ui->pfnAddPortUI) {
        Fail(library + L" offers no AddPortUI", ERROR_NOT_SUPPORTED);
    }
    zeltools::ScopedGlobal name;
    if (!ui->pfnAddPortUI(nullptr, nullptr, monitor.c_str(), name.Out())) {
        FailLast(L"the monitor's user interface did not add a port");
    }
    if (!name.Get()) {
        Fail(L"the monitor's user interface did not return the new port's name",
             ERROR_NOT_ENOUGH_MEMORY);
    }
    return name.Get();
}

// A guard rail: what the monitor would take but an administrator should think
// twice about is refused, with the reason, unless --force was given.
void RefuseUnlessForced(const Command& command, const std::wstring& problem,
                        const std::wstring& what, unsigned long code, const wchar_t* forced) {
    if (!problem.empty() && !command.force) {
        throw Failure{what, code, kExitFailed, {problem + L"; --force " + forced}};
    }
}

int RunAddPort(const Command& command) {
    const std::wstring monitor = Registry::kMonitorName;
    if (command.positional.empty()) {
        Out(AddPortThroughUi(monitor) + L"\n");
        return kExitOk;
    }
    const std::wstring& port = command.positional[0];
    // The monitor takes any name; the administrator gets a second thought.
    RefuseUnlessForced(command, PortNameProblem(port), L"refusing port name " + Quote(port),
                       ERROR_INVALID_NAME, L"adds it all the same");
    ScopedPrinter xcv;
    OpenXcv(xcv, L"XcvMonitor " + monitor);
    SendXcv(xcv.Get(), L"AddPort", port, L"cannot add port " + Quote(port));
    Out(port + L"\n");
    return kExitOk;
}

int RunDeletePort(const Command& command) {
    const std::wstring& port = command.positional[0];
    ScopedPrinter xcv;
    OpenXcv(xcv, L"XcvPort " + port);
    SendXcv(xcv.Get(), L"DeletePort", port, L"cannot delete port " + Quote(port));
    Out(L"deleted port " + port + L"\n");
    return kExitOk;
}

int RunSetDispatcher(const Command& command) {
    const std::wstring& port = command.positional[0];
    const std::wstring& dispatcher = command.positional[1];
    // The value is the start of a command line, used as it stands.
    RefuseUnlessForced(command, DispatcherCommandProblem(dispatcher),
                       L"refusing print dispatcher " + Quote(dispatcher), ERROR_BAD_PATHNAME,
                       L"sets it all the same");
    ScopedKey key;
    LONG status =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, PortKeyPath(port).c_str(), 0, KEY_SET_VALUE, key.Out());
    if (status == ERROR_FILE_NOT_FOUND) {
        Fail(L"no Tessivane 3 port named " + Quote(port), static_cast<unsigned long>(status));
    }
    if (status != ERROR_SUCCESS) {
        Fail(L"cannot open the registry key of port " + Quote(port),
             static_cast<unsigned long>(status));
    }
    SetString(key.Get(), Registry::kPrintDispatcherFilePathValue, dispatcher,
              L"cannot set the print dispatcher of port " + Quote(port));
    Out(port + L" dispatches with: " + dispatcher + L"\n");
    return kExitOk;
}

int RunAddPrinter(const Command& command) {
    std::wstring name = command.positional[0];
    std::wstring port = command.port;
    std::wstring driver = command.driver.empty() ? kDefaultDriver : command.driver;
    const std::wstring what = L"cannot create printer " + Quote(name) + L" on port " + Quote(port) +
                              L" with driver " + Quote(driver);
    ScopedPrinter printer;
    if (zeltools::AddRawPrinter(name, port, driver, printer)) {
        Out(L"created printer " + name + L" on " + port + L"\n");
        return kExitOk;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_UNKNOWN_PRINTER_DRIVER) {
        Fail(what, error);
    }
    if (!zeltools::RunningUnderWine()) {
        throw Failure{what,
                      error,
                      kExitFailed,
                      {L"install the driver first, for example in PowerShell: Add-PrinterDriver "
                       L"-Name " +
                       Quote(driver) +
                       L" (or Print Management, Drivers); --driver names an installed one"}};
    }
    // A fresh Wine prefix has no driver at all: Wine's own PostScript driver
    // makes what a real application would send.
    if (!zeltools::InstallWinePostScriptDriver(driver) &&
        GetLastError() != ERROR_PRINTER_DRIVER_ALREADY_INSTALLED) {
        FailLast(L"cannot install Wine's PostScript driver as " + Quote(driver));
    }
    Out(L"installed Wine's PostScript driver as " + driver + L"\n");
    if (!zeltools::AddRawPrinter(name, port, driver, printer)) {
        FailLast(what);
    }
    Out(L"created printer " + name + L" on " + port + L"\n");
    return kExitOk;
}

// One RAW job. The document is aborted unless it was ended, so a failure
// halfway leaves no half-written job in the queue.
class RawJob {
public:
    RawJob(const std::wstring& printerName, const std::wstring& document) {
        std::wstring name = printerName;
        if (!OpenPrinterW(&name[0], printer_.Out(), nullptr)) {
            FailLast(L"cannot open printer " + Quote(printerName));
        }
        std::wstring doc = document;
        std::wstring datatype = L"RAW";
        DOC_INFO_1W info{&doc[0], nullptr, &datatype[0]};
        jobId_ = StartDocPrinterW(printer_.Get(), 1, reinterpret_cast<LPBYTE>(&info));
        if (jobId_ == 0) {
            FailLast(L"cannot start a job on printer " + Quote(printerName));
        }
        started_ = true;
    }
    ~RawJob() {
        if (started_) {
            AbortPrinter(printer_.Get());
        }
    }
    RawJob(const RawJob&) = delete;
    RawJob& operator=(const RawJob&) = delete;

    void Write(const char* data, DWORD size) {
        while (size > 0) {
            DWORD written = 0;
            if (!WritePrinter(printer_.Get(), const_cast<char*>(data), size, &written) ||
                written == 0) {
                FailLast(L"cannot write job " + std::to_wstring(jobId_));
            }
            data += written;
            size -= written;
        }
    }

    void End() {
        started_ = false;
        if (!EndDocPrinter(printer_.Get())) {
            FailLast(L"the printer did not accept job " + std::to_wstring(jobId_));
        }
    }

    DWORD Id() const { return jobId_; }

private:
    ScopedPrinter printer_;
    DWORD jobId_ = 0;
    bool started_ = false;
};

unsigned long long PrintFile(const std::wstring& file, const std::wstring& printer,
                             const std::wstring& document, DWORD& jobId) {
    std::ifstream input(file.c_str(), std::ios::binary);
    if (!input) {
        Fail(L"cannot read " + file, GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES
                                         ? ERROR_FILE_NOT_FOUND
                                         : ERROR_ACCESS_DENIED);
    }
    RawJob job(printer, document);
    jobId = job.Id();
    std::vector<char> chunk(64 * 1024);
    unsigned long long total = 0;
    while (input) {
        input.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        std::streamsize got = input.gcount();
        if (got > 0) {
            job.Write(chunk.data(), static_cast<DWORD>(got));
            total += static_cast<unsigned long long>(got);
        }
    }
    if (input.bad()) {
        Fail(L"cannot read " + file, ERROR_READ_FAULT);
    }
    job.End();
    return total;
}

int RunPrint(const Command& command) {
    const std::wstring& file = command.positional[0];
    std::wstring document = command.document.empty() ? DefaultDocumentName(file) : command.document;
    DWORD jobId = 0;
    PortLogWatch log(command.printer);
    unsigned long long bytes = 0;
    try {
        bytes = PrintFile(file, command.printer, document, jobId);
    } catch (Failure& failure) {
        log.Explain(failure);
        throw;
    }
    Out(L"job " + std::to_wstring(jobId) + L" sent to " + command.printer + L": " +
        std::to_wstring(bytes) + L" bytes\n");
    return kExitOk;
}

// The prepared job key. It belongs to this run only and goes when we do,
// whatever happened to the job.
class JobKey {
public:
    JobKey() {
        for (int attempt = 0; attempt < 8; ++attempt) {
            std::uint64_t random = 0;
            NTSTATUS status = BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&random),
                                              sizeof(random), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
            if (status != 0) {
                Fail(L"cannot make a job identifier", ERROR_GEN_FAILURE);
            }
            std::wstring id = FormatJobId(random);
            DWORD disposition = 0;
            LONG result = RegCreateKeyExW(HKEY_CURRENT_USER, JobKeyPath(id).c_str(), 0, nullptr,
                                          REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                          key_.Out(), &disposition);
            if (result != ERROR_SUCCESS) {
                Fail(L"cannot create the job key " + JobKeyPath(id),
                     static_cast<unsigned long>(result));
            }
            if (disposition == REG_CREATED_NEW_KEY) {
                id_ = id;
                return;
            }
            key_.Reset(); // someone else's job: never touch it
        }
        Fail(L"cannot find a free job identifier", ERROR_ALREADY_EXISTS);
    }
    ~JobKey() {
        key_.Reset();
        RegDeleteKeyW(HKEY_CURRENT_USER, JobKeyPath(id_).c_str());
    }
    JobKey(const JobKey&) = delete;
    JobKey& operator=(const JobKey&) = delete;

    HKEY Get() const { return key_.Get(); }
    const std::wstring& Id() const { return id_; }

private:
    ScopedKey key_;
    std::wstring id_;
};

int RunSubmit(const Command& command) {
    const std::wstring& file = command.positional[0];
    std::wstring document = command.document.empty() ? DefaultDocumentName(file) : command.document;
    std::wstring dir = command.dir;
    if (dir.empty()) {
        wchar_t temp[MAX_PATH + 1] = {};
        if (!GetTempPathW(MAX_PATH, temp)) {
            FailLast(L"cannot find the temporary folder");
        }
        dir = temp;
    } else {
        dir = zeltools::FullPath(dir);
    }

    JobKey key;
    SetString(key.Get(), Registry::kTempDirPathValue, dir,
              L"cannot write " + JobKeyPath(key.Id()) + L"\\TempDirPath");
    Out(L"job key: HKEY_CURRENT_USER\\" + JobKeyPath(key.Id()) + L"\n");

    DWORD jobId = 0;
    PortLogWatch log(command.printer);
    bool printed = true;
    Failure printFailure;
    try {
        unsigned long long bytes =
            PrintFile(file, command.printer, SolicitedDocumentName(document, key.Id()), jobId);
        Out(L"job " + std::to_wstring(jobId) + L" sent to " + command.printer + L": " +
            std::to_wstring(bytes) + L" bytes; waiting for the monitor\n");
    } catch (const Failure& failure) {
        // The monitor may still have recorded why it refused the job.
        printed = false;
        printFailure = failure;
    }

    const ULONGLONG start = GetTickCount64();
    const ULONGLONG limit = static_cast<ULONGLONG>(command.timeoutSeconds) * 1000;
    ULONGLONG nextReport = 5000;
    DWORD errorCode = 0;
    for (;;) {
        if (QueryDword(key.Get(), Registry::kErrorCodeValue, errorCode)) {
            break;
        }
        ULONGLONG elapsed = GetTickCount64() - start;
        if (!printed) {
            log.Explain(printFailure);
            throw printFailure;
        }
        if (elapsed >= limit) {
            throw Failure{L"no result for job " + key.Id() + L" after " +
                              std::to_wstring(command.timeoutSeconds) + L" s",
                          ERROR_TIMEOUT, kExitTimeout};
        }
        if (elapsed >= nextReport) {
            zeltools::Err(L"zelport: still waiting for job " + key.Id() + L" (" +
                          std::to_wstring(elapsed / 1000) + L" s)\n");
            nextReport += 5000;
        }
        Sleep(100);
    }
    std::wstring psFile;
    bool havePath = QueryString(key.Get(), Registry::kPSFilePathValue, psFile);
    Out(L"PSFilePath: " + (havePath ? psFile : std::wstring(L"(none)")) + L"\n");
    Out(L"ErrorCode: " + std::to_wstring(errorCode) + L"\n");
    if (errorCode != 0) {
        Failure explained{L"", errorCode};
        log.Explain(explained);
        zeltools::Err(L"zelport: the monitor failed job " + key.Id() + L" with error " +
                      std::to_wstring(errorCode) + L"\n");
        for (const std::wstring& line : explained.advice) {
            zeltools::Err(L"zelport: " + line + L"\n");
        }
        return kExitJobError;
    }
    return kExitOk;
}

} // namespace

int RunCommand(const Command& command) {
    switch (command.verb) {
    case Verb::kInstall:
        return RunInstall(command);
    case Verb::kUninstall:
        return RunUninstall(command);
    case Verb::kPorts:
        return RunPorts(command);
    case Verb::kAddPort:
        return RunAddPort(command);
    case Verb::kDeletePort:
        return RunDeletePort(command);
    case Verb::kSetDispatcher:
        return RunSetDispatcher(command);
    case Verb::kAddPrinter:
        return RunAddPrinter(command);
    case Verb::kPrint:
        return RunPrint(command);
    case Verb::kSubmit:
        return RunSubmit(command);
    case Verb::kLog:
        return RunLog(command);
    case Verb::kStatus:
        return RunStatus(command);
    case Verb::kNone:
        break;
    }
    Out(UsageText(Verb::kNone));
    return kExitUsage;
}

} // namespace zelport
