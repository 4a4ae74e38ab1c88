#include "zelport/Diagnosis.h"

namespace zelport {

namespace {

constexpr const char* kErrorTag = "ERROR  : ";
constexpr const char* kWarningTag = "WARNING: ";

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

bool EndsWithNoCase(const std::wstring& text, const std::wstring& suffix) {
    if (text.size() < suffix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        wchar_t c = text[text.size() - suffix.size() + i];
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
        if (c != suffix[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

std::wstring PortLogName(const std::wstring& folder, const std::wstring& port) {
    return folder + L"Brambleworth.Zel.3.PortMon." + port + L".log";
}

std::vector<std::string> LogLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        std::size_t next = end == std::string::npos ? bytes.size() : end + 1;
        if (end == std::string::npos) {
            end = bytes.size();
        }
        if (end > start && bytes[end - 1] == '\r') {
            --end;
        }
        lines.push_back(bytes.substr(start, end - start));
        start = next;
    }
    return lines;
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

std::wstring DispatcherProgram(const std::wstring& command) {
    if (!command.empty() && command[0] == L'"') {
        std::size_t close = command.find(L'"', 1);
        return command.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
    }
    return command.substr(0, command.find(L' '));
}

std::wstring PortNameProblem(const std::wstring& name) {
    if (name.find_first_of(L"\\/") != std::wstring::npos) {
        return L"a port name with \\ or / makes nested registry keys and puts the port's log "
               L"into another folder";
    }
    if (name.find(L"..") != std::wstring::npos) {
        return L"a port name with .. can put the port's log outside the temporary folder";
    }
    return std::wstring();
}

std::wstring DispatcherCommandProblem(const std::wstring& command) {
    // The monitor starts the command line as it stands: an unquoted path with
    // blanks names another program (C:\Program) or none.
    if (command.empty() || command[0] == L'"' || command.find(L' ') == std::wstring::npos) {
        return std::wstring();
    }
    const std::wstring program = DispatcherProgram(command);
    if (EndsWithNoCase(program, L".exe")) {
        return std::wstring();
    }
    return L"the program \"" + program +
           L"\" is not an .exe; quote a program path that has blanks "
           L"(\"\\\"C:\\Program Files\\...\\zel-dispatch.exe\\\" --out DIR\")";
}

} // namespace zelport
