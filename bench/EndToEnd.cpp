// A job through Wine's real spooler: a printer on one of the monitor's ports,
// a RAW job written with WritePrinter, and EndDocPrinter, during which the
// spooler runs the whole port side (OpenPort to EndDocPort, the data in
// 4 KiB chunks) and the monitor starts the print dispatcher and waits for it.
// The dispatcher on the other side of the process start is timed alone too.

#include "bench/Benchmarks.h"
#include "common/PrinterDriver.h"
#include "common/Win32Util.h"
#include "harness/TestRegistry.h"
#include "registry/RegistryLayout.h"

namespace zelbench {

namespace {

namespace Layout = Brambleworth::Zel::Registry;

const wchar_t* const kPort = L"ZEL_BENCH_E2E";
const wchar_t* const kPrinterName = L"Zel Bench E2E";
const wchar_t* const kDriverName = L"Zel Bench PostScript";
constexpr std::uint32_t kJobBytes = 1 << 20;

// Owns one process and its thread.
struct ProcessHandles {
    PROCESS_INFORMATION info{};
    ~ProcessHandles() {
        if (info.hThread) {
            CloseHandle(info.hThread);
        }
        if (info.hProcess) {
            CloseHandle(info.hProcess);
        }
    }
};

bool InstallDriver() {
    return zeltools::InstallWinePostScriptDriver(kDriverName) ||
           GetLastError() == ERROR_PRINTER_DRIVER_ALREADY_INSTALLED;
}

// A printer on the bench port, deleted again when the section ends.
class BenchPrinter {
public:
    BenchPrinter() {
        zeltools::AddRawPrinter(kPrinterName, kPort, kDriverName, printer_);
        error_ = printer_.Get() ? 0 : GetLastError();
    }
    ~BenchPrinter() {
        if (printer_.Get()) {
            DeletePrinter(printer_.Get());
        }
    }
    BenchPrinter(const BenchPrinter&) = delete;
    BenchPrinter& operator=(const BenchPrinter&) = delete;
    bool Ok() const { return printer_.Get() != nullptr; }
    DWORD Error() const { return error_; }

private:
    zeltools::ScopedPrinter printer_;
    DWORD error_ = 0;
};

// One RAW job; `seconds` is the time EndDocPrinter took.
bool PrintJob(const StreamPattern& pattern, const std::wstring& document, double& seconds,
              std::string& why) {
    zeltools::ScopedPrinter printer;
    std::wstring name = kPrinterName;
    if (!OpenPrinterW(&name[0], printer.Out(), nullptr)) {
        why = "OpenPrinterW failed: " + std::to_string(GetLastError());
        return false;
    }
    std::wstring doc = document;
    std::wstring datatype = L"RAW";
    DOC_INFO_1W info{&doc[0], nullptr, &datatype[0]};
    if (StartDocPrinterW(printer.Get(), 1, reinterpret_cast<LPBYTE>(&info)) == 0) {
        why = "StartDocPrinterW failed: " + std::to_string(GetLastError());
        return false;
    }
    DWORD written = 0;
    if (!WritePrinter(printer.Get(), const_cast<std::uint8_t*>(pattern.At(0)), kJobBytes,
                      &written) ||
        written != kJobBytes) {
        why = "WritePrinter failed: " + std::to_string(GetLastError());
        EndDocPrinter(printer.Get());
        return false;
    }
    Stopwatch clock;
    const BOOL ended = EndDocPrinter(printer.Get());
    seconds = clock.Seconds();
    if (!ended) {
        why = "EndDocPrinter failed: " + std::to_string(GetLastError());
        return false;
    }
    return true;
}

// The dispatcher alone, on a PS file made here: what the process start and
// the dispatcher's own work cost without the spooler and the monitor.
bool RunDispatcher(const std::wstring& command, const std::wstring& psFile, double& seconds) {
    std::wstring line = command + L" Zel::Create::Plain \"Zel bench alone\" \"" + psFile + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    ProcessHandles process;
    Stopwatch clock;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process.info)) {
        return false;
    }
    WaitForSingleObject(process.info.hProcess, INFINITE);
    seconds = clock.Seconds();
    DWORD code = 1;
    return GetExitCodeProcess(process.info.hProcess, &code) && code == 0;
}

bool WriteStream(const std::wstring& path, const StreamPattern& pattern) {
    std::FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file) {
        return false;
    }
    const bool ok = std::fwrite(pattern.At(0), 1, kJobBytes, file) == kJobBytes;
    return std::fclose(file) == 0 && ok;
}

} // namespace

void RunEndToEnd(const Options& options, Results& results) {
    const std::wstring dispatcher = ProgramDirectory() + L"zel-dispatch.exe";
    if (GetFileAttributesW(dispatcher.c_str()) == INVALID_FILE_ATTRIBUTES) {
        results.Fail("end-to-end: zel-dispatch.exe is not built");
        return;
    }
    const std::wstring directory = BenchDirectory();
    const std::wstring outDirectory = directory + L"e2e-out\\";
    const std::wstring command = L"\"" + dispatcher + L"\" --out \"" +
                                 outDirectory.substr(0, outDirectory.size() - 1) + L"\" --log \"" +
                                 directory + L"e2e-dispatch.log\"";
    CreateDirectoryW(outDirectory.c_str(), nullptr);
    DeleteFiles(outDirectory, L"*");

    zeltest::ScopedPorts ports({kPort});
    zeltest::SetString(HKEY_LOCAL_MACHINE, zeltest::PortKeyPath(kPort),
                       Layout::kPrintDispatcherFilePathValue, command);
    // Any listing loads the monitor, and with it the spooler's routing to the
    // new port.
    DWORD needed = 0;
    DWORD returned = 0;
    EnumPortsW(nullptr, 1, nullptr, 0, &needed, &returned);
    if (!InstallDriver()) {
        results.Fail("end-to-end: cannot install the PostScript driver: " +
                     std::to_string(GetLastError()));
        return;
    }
    BenchPrinter printer;
    if (!printer.Ok()) {
        results.Fail("end-to-end: cannot add the printer: " + std::to_string(printer.Error()));
        return;
    }

    const StreamPattern pattern(kJobBytes);
    std::vector<double> samples;
    // The first job loads the driver and the monitor for the first time.
    for (int job = -1; job < options.endToEndJobs; ++job) {
        double seconds = 0;
        std::string why;
        if (!PrintJob(pattern, L"Zel bench e2e", seconds, why)) {
            results.Fail("end-to-end: " + why);
            return;
        }
        // The dispatcher took the PS file over: it must hold the job's bytes.
        const std::vector<std::wstring> dispatched = FilesIn(outDirectory, L"*.ps");
        if (dispatched.size() != 1 || !FileHoldsStream(dispatched[0], pattern, kJobBytes, why)) {
            results.Fail("end-to-end: the dispatched PS file is missing or wrong " + why);
            return;
        }
        DeleteFiles(outDirectory, L"*");
        if (job >= 0) {
            samples.push_back(seconds);
        }
    }
    results.rows.push_back({"end-to-end 1 MiB RAW", "EndDocPrinter",
                            Fixed(Median(samples) * 1e3, 1), "ms",
                            "spooler, monitor, zel-dispatch until its exit"});

    std::vector<double> alone;
    const std::wstring psFile = directory + L"ps-alone.tmp";
    for (int run = -1; run < options.endToEndJobs; ++run) {
        double seconds = 0;
        if (!WriteStream(psFile, pattern) || !RunDispatcher(command, psFile, seconds)) {
            results.Fail("end-to-end: zel-dispatch alone failed");
            return;
        }
        DeleteFiles(outDirectory, L"*");
        if (run >= 0) {
            alone.push_back(seconds);
        }
    }
    DeleteFileW(psFile.c_str());
    DeleteFileW((directory + L"e2e-dispatch.log").c_str());
    RemoveDirectoryW(outDirectory.c_str());
    DeleteFileW(PortLogPath(kPort).c_str());
    results.rows.push_back({"end-to-end 1 MiB RAW", "zel-dispatch alone",
                            Fixed(Median(alone) * 1e3, 1), "ms",
                            "process start to exit, same file and options"});
}

} // namespace zelbench
