#include "zelport/PortLog.h"

#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <cstdint>

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
std::wstring PrinterPort(const std::wstring& printer) {
    std::wstring ports;
    zeltools::PrinterPortList(printer, ports);
    return ports.substr(0, ports.find(L','));
}

} // namespace

std::wstring PortLogName(const std::wstring& folder, const std::wstring& port) {
    return folder + L"Brambleworth.Zel.3.PortMon." + port + L".log";
}

std::vector<std::string> LastLines(const std::vector<std::string>& lines, std::size_t count,
                                   bool problemsOnly) {
    std::vector<std::string> picked;
    for (auto it = lines.rbegin(); it != lines.rend() && picked.size() < count; ++it) {
        if (!problemsOnly || StartsWith(*it, kErrorTag) || StartsWith(*it, kWarningTag)) {
            picked.push_back(*it);
        }
    }
    std::reverse(picked.begin(), picked.end());
    return picked;
}

std::vector<std::string> ErrorsSinceLastJob(const std::vector<std::string>& lines) {
    std::vector<std::string> errors;
    for (const std::string& line : lines) {
        if (line.find("EndDocPort: #987: done") != std::string::npos) {
            errors.clear();
        } else if (StartsWith(line, kErrorTag)) {
            errors.push_back(line);
        }
    }
    return errors;
}

std::string LastErrorLine(const std::vector<std::string>& lines) {
    const auto last = std::find_if(lines.rbegin(), lines.rend(), [](const std::string& line) {
        return StartsWith(line, kErrorTag);
    });
    return last == lines.rend() ? std::string() : *last;
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
        if (errorLine.find(row.origin) != std::string::npos) {
            std::wstring advice = row.advice;
            const std::size_t at = advice.find(L"PORT");
            return at == std::wstring::npos ? advice : advice.replace(at, 4, port);
        }
    }
    return std::wstring();
}

std::wstring FromLatin1(const std::string& text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    return std::wstring(bytes, bytes + text.size());
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
        FailLast(L"cannot open the log of port " + Quote(port) + L" (" + path + L")",
                 {L"the monitor writes it once the port has been opened; --dir names another "
                  L"folder"});
    }
    unsigned long long offset = 0;
    std::string unread; // a line still being written, left for --follow to complete
    const auto printNewLines = [&](std::size_t count) {
        const std::string more = zeltools::ReadFrom(log, offset);
        offset += more.size();
        unread += more;
        const std::size_t complete = unread.rfind('\n') + 1; // 0 when there is none
        for (const std::string& line : LastLines(zeltools::SplitLines(unread.substr(0, complete)),
                                                 count, command.errorsOnly)) {
            Out(FromLatin1(line) + L"\n");
        }
        unread.erase(0, complete);
    };
    printNewLines(command.lines);
    while (command.follow) {
        Sleep(500);
        printNewLines(SIZE_MAX);
    }
    return kExitOk;
}

} // namespace zelport
