#include "zelport/PortLog.h"

#include <windows.h>
#include <winspool.h>

#include "common/Files.h"
#include "common/Spooler.h"
#include "common/Text.h"
#include "common/Wine.h"

namespace zelport {

using zeltools::Out;
using zeltools::ScopedHandle;

namespace {

constexpr const char* kErrorTag = "ERROR  : ";
constexpr const char* kWarningTag = "WARNING: ";

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// The first port a printer prints to, or empty when it cannot be asked.
std::wstring PrinterPort(const std::wstring& printerName) {
    zeltools::ScopedPrinter printer;
    std::wstring name = printerName;
    std::vector<BYTE> buffer;
    DWORD returned = 0;
    const auto get = [&printer](BYTE* data, DWORD size, DWORD* needed, DWORD*) {
        return GetPrinterW(printer.Get(), 2, data, size, needed);
    };
    if (!OpenPrinterW(&name[0], printer.Out(), nullptr) ||
        !zeltools::SpoolerList(get, buffer, returned) || buffer.empty()) {
        return std::wstring();
    }
    const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    std::wstring ports = info->pPortName ? info->pPortName : L"";
    return ports.substr(0, ports.find(L','));
}

} // namespace

std::wstring PortLogName(const std::wstring& folder, const std::wstring& port) {
    return folder + L"Brambleworth.Zel.3.PortMon." + port + L".log";
}

bool IsProblemLine(const std::string& line) {
    return StartsWith(line, kErrorTag) || StartsWith(line, kWarningTag);
}

std::vector<std::string> LastLines(const std::vector<std::string>& lines, std::size_t count,
                                   bool problemsOnly) {
    std::vector<std::string> picked;
    for (auto it = lines.rbegin(); it != lines.rend() && picked.size() < count; ++it) {
        if (!problemsOnly || IsProblemLine(*it)) {
            picked.insert(picked.begin(), *it);
        }
    }
    return picked;
}

std::string LastErrorLine(const std::vector<std::string>& lines) {
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        if (StartsWith(*it, kErrorTag)) {
            return *it;
        }
    }
    return std::string();
}

std::wstring AdviceFor(const std::string& errorLine, const std::wstring& port) {
    // Each failure the monitor logs names its origin and a fixed line number
    // (followed by ": " and a message, or by the system error alone).
    static const struct {
        const char* origin;
        const wchar_t* advice; // PORT stands for the port's name
    } kAdvice[] = {
        {"EndDocPort: #980", L"the port has no print dispatcher: zelport set-dispatcher PORT "
                             L"COMMAND"},
        {"EndDocPort: #976", L"the port's registry key did not open: zelport status PORT"},
        {"Send: #367", L"the print dispatcher's program did not start: check its path with "
                       L"zelport status PORT"},
        {"Send: #386", L"the print dispatcher failed the job (its exit code follows SEC): "
                       L"see its own output or log"},
        {"EndDocPort: #957", L"the result could not be written into the job key: check the "
                             L"submitting program's job key"},
        {"StartDocPort: #831", L"no PS file could be created in the temporary folder: clean out "
                               L"old ps*.tmp files (at most 65,535 fit in one folder)"},
        {"StartDocPort: #839", L"no PS file could be created: check the folder's free space and "
                               L"its permissions"},
        {"WritePort: #88", L"the job could not be written to its PS file: check the free space "
                           L"of the temporary folder"},
    };
    for (const auto& row : kAdvice) {
        if (errorLine.find(row.origin) == std::string::npos) {
            continue;
        }
        std::wstring advice = row.advice;
        std::size_t at = advice.find(L"PORT");
        if (at != std::wstring::npos) {
            advice.replace(at, 4, port);
        }
        return advice;
    }
    return std::wstring();
}

std::wstring FromLatin1(const std::string& text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (char c : text) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return wide;
}

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
    if (!port_.empty() && zeltools::OpenShared(path_, log)) {
        start_ = zeltools::FileSize(log);
    }
}

void PortLogWatch::Explain(Failure& failure) const {
    ScopedHandle log;
    if (port_.empty() || !zeltools::OpenShared(path_, log)) {
        return;
    }
    const std::string line = LastErrorLine(zeltools::SplitLines(zeltools::ReadFrom(log, start_)));
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
    if (!zeltools::OpenShared(path, log)) {
        throw Failure{L"cannot open the log of port " + Quote(port) + L" (" + path + L")",
                      GetLastError(),
                      kExitFailed,
                      {L"the monitor writes it once the port has been opened; --dir names "
                       L"another folder"}};
    }
    std::string bytes = zeltools::ReadFrom(log, 0);
    unsigned long long offset = bytes.size();
    std::vector<std::string> lines = zeltools::SplitLines(bytes);
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
        std::string more = zeltools::ReadFrom(log, offset);
        if (more.empty()) {
            continue;
        }
        offset += more.size();
        more.insert(0, partial);
        const std::size_t complete = more.rfind('\n') + 1; // 0 when there is none
        partial = more.substr(complete);
        for (const std::string& line : zeltools::SplitLines(more.substr(0, complete))) {
            if (!command.errorsOnly || IsProblemLine(line)) {
                Out(FromLatin1(line) + L"\n");
            }
        }
    }
    return kExitOk;
}

} // namespace zelport
