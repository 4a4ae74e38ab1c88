#include "zel-dispatch/Ghostscript.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <regex>

#include "common/Files.h"
#include "common/Handles.h"
#include "common/Process.h"
#include "common/Registry.h"
#include "common/Text.h"
#include "common/Wine.h"

namespace zeldispatch {

const char kPageCountMarker[] = "ZelPageCount: ";

std::vector<std::wstring> GhostscriptArguments(const std::wstring& ps, const std::wstring& pdf,
                                               const PdfaFiles* pdfa) {
    // OutputFile reads '%' as the start of a page number format ("%d"): a
    // document named "50% off" must stay one file.
    std::wstring output;
    for (wchar_t c : pdf) {
        output += c == L'%' ? L"%%" : std::wstring(1, c);
    }
    std::wstring marker(kPageCountMarker, kPageCountMarker + sizeof(kPageCountMarker) - 1);
    std::vector<std::wstring> arguments = {L"-q", L"-dSAFER", L"-dBATCH", L"-dNOPAUSE",
                                           L"-sDEVICE=pdfwrite"};
    if (pdfa) {
        // Safe mode reads only what it is allowed to; the definition runs
        // before the job, once the device is set up for PDF/A.
        arguments.insert(arguments.end(), {L"-dPDFA=2", L"-dPDFACompatibilityPolicy=1",
                                           L"-sColorConversionStrategy=RGB",
                                           L"--permit-file-read=" + pdfa->profile});
    }
    arguments.push_back(L"-sOutputFile=" + output);
    if (pdfa) {
        arguments.push_back(pdfa->definition);
    }
    arguments.insert(
        arguments.end(),
        {L"-f", ps, L"-c", L"(" + marker + L") print currentpagedevice /PageCount get == flush"});
    return arguments;
}

std::string PdfaDefinition(const std::string& original, const std::wstring& profile) {
    static const std::regex kProfile("/ICCProfile\\s*\\([^)]*\\)");
    std::smatch found;
    if (!std::regex_search(original, found, kProfile)) {
        return std::string();
    }
    // A PostScript string: forward slashes need no escape and every
    // Ghostscript takes them; parentheses and backslashes would.
    std::string path;
    for (char c : zeltools::ToUtf8(profile)) {
        path += c == '\\'              ? std::string("/")
                : c == '(' || c == ')' ? std::string("\\") + c
                                       : std::string(1, c);
    }
    return found.prefix().str() + "/ICCProfile (" + path + ")" + found.suffix().str();
}

std::vector<std::wstring> UnixRunnerArguments(const std::wstring& statusPath,
                                              const std::wstring& outputPath,
                                              unsigned timeoutSeconds, const std::wstring& program,
                                              const std::vector<std::wstring>& arguments) {
    // The paths travel as arguments, never inside the script: a document
    // name can hold anything a shell would interpret.
    std::vector<std::wstring> all = {
        L"/bin/sh",
        L"-c",
        L"s=$1; o=$2; t=$3; shift 3; timeout -k 5 \"$t\" \"$@\" >\"$o\" 2>&1; echo $? >\"$s\"",
        L"zel-ghostscript",
        statusPath,
        outputPath,
        std::to_wstring(timeoutSeconds),
        program};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return all;
}

bool ParseStatus(const std::string& text, unsigned& exitCode) {
    unsigned long value = 0;
    if (text.empty() || text.back() != '\n' ||
        !zeltools::ParseNumber(std::string_view(text).substr(0, text.size() - 1), 0, 9999, value)) {
        return false;
    }
    exitCode = static_cast<unsigned>(value);
    return true;
}

int ParsePageCount(const std::string& output) {
    const size_t at = output.rfind(kPageCountMarker);
    if (at == std::string::npos) {
        return -1;
    }
    const size_t pos = at + sizeof(kPageCountMarker) - 1;
    const size_t end = std::min(output.find_first_of("\r\n", pos), output.size());
    unsigned long pages = 0;
    return zeltools::ParseNumber(std::string_view(output).substr(pos, end - pos), 0, 999999999,
                                 pages)
               ? static_cast<int>(pages)
               : -1;
}

std::string ProblemLine(const std::string& output) {
    std::string chosen;
    for (std::string line : zeltools::SplitLines(output)) {
        line.erase(line.find_last_not_of(" \r") + 1);
        if (line.rfind("Error: ", 0) == 0) { // the first error caused the rest
            chosen = line;
            break;
        }
        if (!line.empty()) {
            chosen = line;
        }
    }
    // It goes into the JSON record as it is: ASCII only, whatever the
    // output's encoding.
    chosen = chosen.substr(0, 200);
    for (char& c : chosen) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) {
            c = '?';
        }
    }
    return chosen;
}

namespace {

// "10.02.1" -> {10, 2, 1}; empty when the name is not a version.
std::vector<unsigned long> VersionParts(const std::wstring& name) {
    std::vector<unsigned long> parts;
    size_t pos = 0;
    while (pos <= name.size()) {
        size_t dot = name.find(L'.', pos);
        unsigned long part = 0;
        if (!zeltools::ParseNumber(
                std::wstring_view(name).substr(pos, dot == std::wstring::npos ? dot : dot - pos), 0,
                999999, part)) {
            return {};
        }
        parts.push_back(part);
        if (dot == std::wstring::npos) {
            break;
        }
        pos = dot + 1;
    }
    return parts;
}

} // namespace

std::wstring NewestVersion(const std::vector<std::wstring>& names) {
    std::wstring best;
    std::vector<unsigned long> bestParts;
    for (const std::wstring& name : names) {
        std::vector<unsigned long> parts = VersionParts(name);
        if (!parts.empty() && (bestParts.empty() || parts > bestParts)) {
            best = name;
            bestParts = parts;
        }
    }
    return best;
}

const char* OutcomeName(PdfOutcome outcome) {
    switch (outcome) {
    case PdfOutcome::Converted:
        return "converted";
    case PdfOutcome::NotFound:
        return "ghostscript not found";
    case PdfOutcome::Failed:
        return "failed";
    case PdfOutcome::TimedOut:
        return "timed out";
    case PdfOutcome::NotRequested:
        break;
    }
    return "not requested";
}

PdfResult JudgeConversion(unsigned exitCode, bool unixRunner, const std::string& output,
                          bool pdfWritten) {
    PdfResult result;
    std::string problem = ProblemLine(output);
    std::string said = problem.empty() ? "" : ": " + problem;
    if (unixRunner && (exitCode == 124 || exitCode == 137)) {
        result.outcome = PdfOutcome::TimedOut;
        result.message = "stopped at the time limit";
    } else if (unixRunner && (exitCode == 126 || exitCode == 127)) {
        result.outcome = PdfOutcome::NotFound;
        result.message = "cannot run Ghostscript" + said;
    } else if (exitCode != 0) {
        result.outcome = PdfOutcome::Failed;
        result.message = "exit code " + std::to_string(exitCode) + said;
    } else if (!pdfWritten) {
        result.outcome = PdfOutcome::Failed;
        result.message = "no PDF written" + said;
    } else {
        result.outcome = PdfOutcome::Converted;
        result.pages = ParsePageCount(output);
    }
    return result;
}

namespace {

// A scratch file in the output folder, removed on every path.
struct ScratchFile {
    explicit ScratchFile(const std::wstring& dir) {
        wchar_t name[MAX_PATH] = {};
        if (GetTempFileNameW(dir.c_str(), L"gs", 0, name)) {
            path = name;
        }
    }
    ~ScratchFile() {
        if (!path.empty()) {
            DeleteFileW(path.c_str());
        }
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    std::wstring path;
};

PdfResult Problem(PdfOutcome outcome, const std::wstring& message) {
    PdfResult result;
    result.outcome = outcome;
    result.message = zeltools::ToUtf8(message);
    return result;
}

std::vector<std::wstring> SubfolderNames(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            names.push_back(found.cFileName);
        }
    }
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
    }
    return names;
}

// The folder that holds Ghostscript's lib and iccprofiles folders, as a
// Windows path: above the bin folder of a Windows installation, and
// share/ghostscript/<newest version> beside the bin folder of a Unix one.
std::wstring GhostscriptRoot(const std::wstring& gs, bool unixProgram) {
    const std::wstring bin = gs.substr(0, gs.find_last_of(L"\\/"));
    const std::wstring root = bin.substr(0, bin.find_last_of(L"\\/"));
    if (!unixProgram) {
        return root;
    }
    const std::wstring share = zeltools::WindowsPath(root + L"/share/ghostscript");
    const std::wstring version = NewestVersion(SubfolderNames(share));
    return version.empty() ? std::wstring() : share + L"\\" + version;
}

// Writes the PDF/A definition into `scratch` and names the files as `gs` sees
// them; what went wrong, or empty.
std::wstring PreparePdfa(const std::wstring& gs, bool unixProgram, const std::wstring& scratch,
                         PdfaFiles& files) {
    const std::wstring root = GhostscriptRoot(gs, unixProgram);
    auto seen = [&](const std::wstring& path) {
        return unixProgram ? zeltools::UnixPath(path) : path;
    };
    // Debian's Ghostscript ships its sRGB profile only as default_rgb.icc.
    for (const wchar_t* name : {L"srgb.icc", L"default_rgb.icc"}) {
        const std::wstring profile = root + L"\\iccprofiles\\" + name;
        if (root.empty() || GetFileAttributesW(profile.c_str()) == INVALID_FILE_ATTRIBUTES) {
            continue;
        }
        const std::string definition =
            PdfaDefinition(zeltools::ReadFileBytes(root + L"\\lib\\PDFA_def.ps"), seen(profile));
        if (definition.empty()) {
            break;
        }
        if (!zeltools::WriteFileBytes(scratch, definition, CREATE_ALWAYS)) {
            return L"cannot write " + scratch + L": " + zeltools::SystemText(GetLastError());
        }
        files = {seen(scratch), seen(profile)};
        return std::wstring();
    }
    return L"no PDFA_def.ps with an sRGB profile beside " + gs;
}

} // namespace

// The newest Ghostscript its installer registered (GS_DLL names its DLL, the
// console program sits beside it), else a console program on the PATH.
std::wstring InstalledGhostscript() {
    for (const wchar_t* vendor : {L"SOFTWARE\\GPL Ghostscript", L"SOFTWARE\\Artifex Ghostscript"}) {
        const std::wstring version =
            NewestVersion(zeltools::SubKeyNames(HKEY_LOCAL_MACHINE, vendor));
        wchar_t dll[MAX_PATH] = {};
        DWORD size = sizeof dll;
        if (version.empty() ||
            RegGetValueW(HKEY_LOCAL_MACHINE, (std::wstring(vendor) + L"\\" + version).c_str(),
                         L"GS_DLL", RRF_RT_REG_SZ, nullptr, dll, &size) != ERROR_SUCCESS) {
            continue;
        }
        std::wstring program = dll;
        program = program.substr(0, program.find_last_of(L"\\/") + 1) + L"gswin64c.exe";
        if (GetFileAttributesW(program.c_str()) != INVALID_FILE_ATTRIBUTES) {
            return program;
        }
    }
    for (const wchar_t* name : {L"gswin64c.exe", L"gswin32c.exe"}) {
        wchar_t found[MAX_PATH] = {};
        DWORD length = SearchPathW(nullptr, name, nullptr, MAX_PATH, found, nullptr);
        if (length > 0 && length < MAX_PATH) {
            return found;
        }
    }
    return std::wstring();
}

PdfResult ConvertToPdf(const std::wstring& gs, const std::wstring& ps, const std::wstring& pdf,
                       bool pdfa, unsigned long timeout, const std::wstring& outDir) {
    if (gs.empty()) {
        return Problem(PdfOutcome::NotFound,
                       L"no installed Ghostscript found; name its console program with --gs");
    }
    ScratchFile output(outDir);
    ScratchFile status(outDir);
    if (output.path.empty() || status.path.empty()) {
        return Problem(PdfOutcome::Failed, L"no scratch file in " + outDir + L": " +
                                               zeltools::SystemText(GetLastError()));
    }
    const bool unixRunner = gs[0] == L'/' && zeltools::RunningUnderWine();
    std::optional<ScratchFile> definition; // only a PDF/A needs one
    PdfaFiles pdfaFiles;
    if (pdfa) {
        const std::wstring problem =
            PreparePdfa(gs, unixRunner, definition.emplace(outDir).path, pdfaFiles);
        if (!problem.empty()) {
            return Problem(PdfOutcome::Failed, problem);
        }
    }
    const PdfaFiles* asPdfa = pdfa ? &pdfaFiles : nullptr;
    unsigned exitCode = 0;
    if (unixRunner) {
        std::wstring unixPs = zeltools::UnixPath(ps), unixPdf = zeltools::UnixPath(pdf);
        std::wstring unixOutput = zeltools::UnixPath(output.path),
                     unixStatus = zeltools::UnixPath(status.path);
        if (unixPs.empty() || unixPdf.empty() || unixOutput.empty() || unixStatus.empty()) {
            return Problem(PdfOutcome::Failed, L"Wine gave no Unix path for the files");
        }
        std::wstring line = zeltools::JoinCommandLine(UnixRunnerArguments(
            unixStatus, unixOutput, timeout, gs, GhostscriptArguments(unixPs, unixPdf, asPdfa)));
        // Wine hands back no handle that ends with the program: its end is
        // the status file.
        DWORD ignored = 0;
        bool timedOut = false;
        if (!zeltools::RunHidden(line, nullptr, nullptr, 0, ignored, timedOut)) {
            return Problem(PdfOutcome::Failed,
                           L"cannot start /bin/sh: " + zeltools::SystemText(GetLastError()));
        }
        // The shell's timeout has stopped Ghostscript five seconds after the
        // limit; a little more covers a slow start.
        const ULONGLONG deadline = GetTickCount64() + (timeout + 10ULL) * 1000;
        while (!ParseStatus(zeltools::ReadFileBytes(status.path), exitCode)) {
            if (GetTickCount64() > deadline) {
                return Problem(PdfOutcome::TimedOut, L"no exit status from /bin/sh");
            }
            Sleep(100);
        }
    } else {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        zeltools::ScopedHandle sink(CreateFileW(output.path.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                                &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                                nullptr));
        std::vector<std::wstring> arguments = GhostscriptArguments(ps, pdf, asPdfa);
        arguments.insert(arguments.begin(), gs);
        DWORD code = 0;
        bool timedOut = false;
        if (!sink.Valid() || !zeltools::RunHidden(zeltools::JoinCommandLine(arguments), sink.Get(),
                                                  sink.Get(), timeout * 1000, code, timedOut)) {
            DWORD error = GetLastError();
            bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
            return Problem(missing ? PdfOutcome::NotFound : PdfOutcome::Failed,
                           L"cannot start " + gs + L": " + zeltools::SystemText(error));
        }
        if (timedOut) {
            DeleteFileW(pdf.c_str());
            return Problem(PdfOutcome::TimedOut,
                           L"stopped after " + std::to_wstring(timeout) + L" s");
        }
        exitCode = code;
    }
    WIN32_FILE_ATTRIBUTE_DATA info;
    bool written = GetFileAttributesExW(pdf.c_str(), GetFileExInfoStandard, &info) &&
                   (info.nFileSizeLow || info.nFileSizeHigh);
    PdfResult result =
        JudgeConversion(exitCode, unixRunner, zeltools::ReadFileBytes(output.path), written);
    if (result.outcome == PdfOutcome::Converted) {
        result.path = pdf;
    } else {
        DeleteFileW(pdf.c_str()); // a partial PDF would pass for the job
    }
    return result;
}

} // namespace zeldispatch
