#include "zelport/StatusReport.h"

#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "common/Files.h"
#include "common/Process.h"
#include "common/Registry.h"
#include "common/Spooler.h"
#include "common/Text.h"
#include "common/Wine.h"
#include "registry/RegistryLayout.h"
#include "zelport/Failure.h"
#include "zelport/Monitor.h"
#include "zelport/PortLog.h"

namespace zelport {

namespace {

using namespace Brambleworth::Zel;
using Json = nlohmann::ordered_json;
using zeltools::Err;
using zeltools::Out;
using zeltools::ToUtf8;

// What zelport finds out about one port.
struct PortState {
    std::wstring name;
    bool exists = false; // its registry key
    std::wstring description, dispatcher, program;
    bool programFound = false;
    std::vector<std::wstring> printers;
    std::wstring log; // the log's path
    bool logWritten = false;
    unsigned long long logSize = 0;
    std::wstring logTime;                   // last written, UTC
    std::vector<std::wstring> recentErrors; // since the port's last completed job
};

bool ProgramExists(const std::wstring& program) {
    if (program.find_first_of(L"\\/:") != std::wstring::npos) {
        return GetFileAttributesW(program.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    wchar_t found[MAX_PATH] = {};
    return SearchPathW(nullptr, program.c_str(), L".exe", MAX_PATH, found, nullptr) != 0;
}

// Each problem, with what to do about it, goes into `problems`.
PortState ReadPort(const std::wstring& port, const std::wstring& logFolder,
                   std::vector<std::wstring>& problems) {
    PortState state;
    state.name = port;
    zeltools::ScopedKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, PortKeyPath(port).c_str(), 0, KEY_READ, key.Out()) !=
        ERROR_SUCCESS) {
        problems.push_back(L"no Tessivane 3 port named " + Quote(port) +
                           L": zelport ports lists them");
        return state;
    }
    state.exists = true;
    zeltools::QueryString(key.Get(), Registry::kDescriptionValue, state.description);
    zeltools::QueryString(key.Get(), Registry::kPrintDispatcherFilePathValue, state.dispatcher);
    if (state.dispatcher.empty()) {
        problems.push_back(L"port " + port + L" has no print dispatcher: zelport set-dispatcher " +
                           port + L" COMMAND");
    } else {
        state.program = zeltools::CommandProgram(state.dispatcher);
        state.programFound = ProgramExists(state.program);
        if (!state.programFound) {
            problems.push_back(L"the print dispatcher's program " + Quote(state.program) +
                               L" of port " + port + L" does not exist: zelport set-dispatcher " +
                               port + L" with the program's full path, quoted");
        }
    }
    std::vector<zeltools::PrinterOnPort> users;
    if (!zeltools::PrintersOnPorts({port}, users)) {
        problems.push_back(zeltools::ErrorText(L"cannot list the printers", GetLastError()));
    }
    for (const zeltools::PrinterOnPort& user : users) {
        state.printers.push_back(user.printer);
    }
    state.log = PortLogName(logFolder, port);
    zeltools::ScopedHandle log;
    FILETIME written{};
    SYSTEMTIME utc{};
    if (zeltools::OpenShared(state.log, log)) {
        state.logWritten = true;
        state.logSize = zeltools::FileSize(log);
        if (GetFileTime(log.Get(), nullptr, nullptr, &written) &&
            FileTimeToSystemTime(&written, &utc)) {
            state.logTime = zeltools::IsoTime(utc);
        }
        for (const std::string& line :
             ErrorsSinceLastJob(zeltools::SplitLines(zeltools::ReadFrom(log, 0)))) {
            state.recentErrors.push_back(FromLatin1(line));
        }
    }
    return state;
}

void WriteText(const PortState& port) {
    if (!port.exists) {
        return;
    }
    std::wstring text = L"port " + port.name + L"\n  description: " + port.description + L"\n";
    text += L"  dispatcher: " + (port.dispatcher.empty() ? L"(none)" : port.dispatcher) + L"\n";
    if (!port.dispatcher.empty()) {
        text +=
            L"  program: " + port.program + (port.programFound ? L" (found)\n" : L" (NOT FOUND)\n");
    }
    std::wstring printers;
    for (const std::wstring& printer : port.printers) {
        printers += (printers.empty() ? L"" : L", ") + printer;
    }
    text += L"  printers: " + (printers.empty() ? std::wstring(L"(none)") : printers) + L"\n";
    if (!port.logWritten) {
        Out(text + L"  log: " + port.log + L" (not written yet)\n");
        return;
    }
    text += L"  log: " + port.log + L", " + std::to_wstring(port.logSize) + L" bytes, written " +
            (port.logTime.empty() ? L"(unknown)" : port.logTime) + L"\n";
    text += L"  errors since the last completed job:" +
            std::wstring(port.recentErrors.empty() ? L" (none)" : L"") + L"\n";
    for (const std::wstring& line : port.recentErrors) {
        text += L"    " + line + L"\n";
    }
    Out(text);
}

// Scripts read an empty text as null.
Json TextOrNull(const std::wstring& value) {
    return value.empty() ? Json() : Json(ToUtf8(value));
}

Json TextList(const std::vector<std::wstring>& items) {
    std::vector<std::string> utf8(items.size());
    std::transform(items.begin(), items.end(), utf8.begin(), ToUtf8);
    return utf8;
}

Json ToJson(const PortState& port) {
    return {{"name", ToUtf8(port.name)},
            {"exists", port.exists},
            {"description", TextOrNull(port.description)},
            {"dispatcher", TextOrNull(port.dispatcher)},
            {"program", TextOrNull(port.program)},
            {"programFound", port.programFound},
            {"printers", TextList(port.printers)},
            {"log",
             {{"path", ToUtf8(port.log)},
              {"size", port.logWritten ? Json(port.logSize) : Json()},
              {"lastWrite", TextOrNull(port.logTime)}}},
            {"recentErrors", TextList(port.recentErrors)}};
}

void WriteJson(const Json& json) {
    Out(zeltools::FromUtf8(json.dump(2, ' ', false, Json::error_handler_t::replace)) + L"\n");
}

// The registered monitor's library as the spooler names it, empty when it is
// not registered; false with the last error set when the spooler cannot say.
bool RegisteredMonitorDll(std::wstring& dll) {
    zeltools::SpoolerListing<MONITOR_INFO_2W> monitors;
    if (!monitors.Fill(EnumMonitorsW, nullptr, 2)) {
        return false;
    }
    for (const MONITOR_INFO_2W& monitor : monitors) {
        if (monitor.pName && std::wstring(monitor.pName) == Registry::kMonitorName) {
            dll = monitor.pDLLName ? monitor.pDLLName : L"?";
        }
    }
    return true;
}

std::wstring FileVersion(const std::wstring& path) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<BYTE> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info) {
        return std::wstring();
    }
    return std::to_wstring(HIWORD(info->dwFileVersionMS)) + L"." +
           std::to_wstring(LOWORD(info->dwFileVersionMS)) + L"." +
           std::to_wstring(HIWORD(info->dwFileVersionLS)) + L"." +
           std::to_wstring(LOWORD(info->dwFileVersionLS));
}

} // namespace

int RunPorts(const Command& command) {
    std::vector<zeltools::SpoolerPort> ports;
    if (!zeltools::ListSpoolerPorts(ports)) {
        FailLast(L"cannot list the spooler's ports");
    }
    const std::wstring folder = PortLogFolder(command.dir);
    Json json = Json::array();
    std::vector<std::wstring> ignored;
    for (const zeltools::SpoolerPort& port : ports) {
        if (port.monitor != Registry::kMonitorName) {
            continue;
        }
        const PortState state = ReadPort(port.name, folder, ignored);
        if (command.json) {
            json.push_back(ToJson(state));
        } else {
            Out(port.name + L"\t" + port.description + L"\t" + state.dispatcher + L"\n");
        }
    }
    if (command.json) {
        WriteJson({{"ports", json}});
    }
    return kExitOk;
}

int RunStatus(const Command& command) {
    std::vector<std::wstring> problems;
    Json json;
    const auto report = [&](const std::wstring& text) {
        if (!command.json) {
            Out(text);
        }
    };
    // Wine's spooler runs inside each program that prints: there is no
    // service to ask. A service that cannot be asked is left to the checks
    // below, which then say what fails.
    const DWORD spooler = zeltools::RunningUnderWine() ? 0 : zeltools::SpoolerServiceState();
    if (spooler != 0 && spooler != SERVICE_RUNNING) {
        problems.push_back(L"the Spooler service is not running: start it with \"net start "
                           L"spooler\" (PowerShell: Start-Service Spooler) as an administrator");
        json["spooler"] = "not running";
    } else {
        const std::wstring monitor = Registry::kMonitorName;
        std::wstring dll, library, version;
        if (!RegisteredMonitorDll(dll)) {
            problems.push_back(
                zeltools::ErrorText(L"cannot list the spooler's monitors", GetLastError()));
        } else if (dll.empty()) {
            report(L"monitor " + Quote(monitor) + L": not registered\n");
            problems.push_back(L"monitor " + Quote(monitor) +
                               L" is not registered: zelport install (as an administrator)");
        } else {
            report(L"monitor " + Quote(monitor) + L": registered (" + dll + L")\n");
            try {
                library = MonitorLibrary(monitor);
                version = FileVersion(library);
                report(L"library: " + library + L" (" +
                       (version.empty() ? L"no version information" : L"version " + version) +
                       L")\n");
            } catch (const Failure& failure) {
                problems.push_back(failure.what + L": " + zeltools::SystemText(failure.code));
            }
        }
        json["spooler"] = "running";
        json["monitor"] = {{"name", ToUtf8(monitor)},
                           {"registered", !dll.empty()},
                           {"dll", TextOrNull(dll)},
                           {"library", TextOrNull(library)},
                           {"version", TextOrNull(version)}};
        const std::wstring folder = PortLogFolder(command.dir);
        json["ports"] = Json::array();
        for (const std::wstring& port :
             command.positional.empty()
                 ? zeltools::SubKeyNames(HKEY_LOCAL_MACHINE, Registry::kPortsKeyPath)
                 : command.positional) {
            const PortState state = ReadPort(port, folder, problems);
            if (command.json) {
                json["ports"].push_back(ToJson(state));
            } else {
                WriteText(state);
            }
        }
    }
    for (const std::wstring& problem : problems) {
        Err(L"zelport: " + problem + L"\n");
    }
    json["problems"] = TextList(problems);
    if (command.json) {
        WriteJson(json);
    }
    return problems.empty() ? kExitOk : kExitProblems;
}

} // namespace zelport
