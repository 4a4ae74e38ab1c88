// zel-dispatch: the reference print dispatcher. The monitor starts it, as the
// printing user, for every job that nobody asked for in advance; it moves the
// job's PS file into an output folder under a name taken from the document,
// with --pdf converts it into a PDF beside it with Ghostscript, leaves a JSON
// record beside it and appends a line to its log. A non-zero exit code makes
// the monitor fail the job (and delete the PS file), so a failed conversion
// never changes the exit code: the PS file is filed before it starts.

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "common/Win32Util.h"
#include "zel-dispatch/DispatchMessage.h"

namespace {

using zeldispatch::PdfOutcome;
using zeldispatch::PdfResult;
using zeltools::ScopedHandle;

// Exit codes. 259 must never be used: the monitor reads it as "still running".
enum Exit : int {
    kOk = 0,
    kBadCommandLine = 2,
    kPsFileMissing = 3,
    kNoOutputDir = 4,
    kMoveFailed = 5,
    kRecordFailed = 6,
};

const wchar_t kUsage[] =
    L"usage: zel-dispatch [OPTIONS] Zel::Create::Plain \"DOCUMENT\" \"PS-FILE\"\n"
    L"       zel-dispatch [OPTIONS] Zel::Create::Hex \"HEX-DOCUMENT\" \"HEX-PS-FILE\"\n"
    L"\n"
    L"The print dispatcher of the Tessivane 3 ports. The monitor starts it with the\n"
    L"message after the options; put the program and its options into the port's\n"
    L"\"PrintDispatcherFilePath\" value (zelport set-dispatcher).\n"
    L"\n"
    L"  --out DIR   where captured jobs go (default: Documents\\Zel Jobs of the user)\n"
    L"  --log FILE  the dispatcher's log (default: zel-dispatch.log in the output folder)\n"
    L"  --pdf       also convert each job into a PDF beside it with Ghostscript\n"
    L"              (pdfwrite, safe mode); the record gets the PDF's path, pages and outcome\n"
    L"  --gs PATH   the Ghostscript console program (implies --pdf); default: the newest\n"
    L"              installed Ghostscript from the registry, else gswin64c.exe on the PATH\n"
    L"              (under Wine a Unix path such as /usr/bin/gs runs that program)\n"
    L"  --pdf-timeout SECONDS  stop a conversion after this long (default 40)\n"
    L"\n"
    L"A job is never lost to the PDF: the PS file is filed first, and a missing\n"
    L"Ghostscript, a failed conversion or a timeout is only written to the record\n"
    L"and the log; the exit code stays 0.\n"
    L"\n"
    L"Exit codes: 0 done, 2 bad command line, 3 PS file missing, 4 output folder\n"
    L"unusable, 5 PS file not moved, 6 record not written.\n";

std::wstring UtcNow() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    wchar_t text[32];
    swprintf(text, 32, L"%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay,
             now.wHour, now.wMinute, now.wSecond);
    return text;
}

std::wstring DefaultOutDir() {
    wchar_t documents[MAX_PATH] = {};
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, 0, documents))) {
        return std::wstring(documents) + L"\\Zel Jobs";
    }
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"Zel Jobs";
}

// Creates every missing folder along the path.
bool EnsureDirectory(const std::wstring& path) {
    for (size_t pos = path.find_first_of(L"\\/", 3);; pos = path.find_first_of(L"\\/", pos + 1)) {
        std::wstring part = path.substr(0, pos);
        if (!part.empty() && !CreateDirectoryW(part.c_str(), nullptr) &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            // A drive root or share fails with other codes; only the final
            // folder has to exist.
            if (pos == std::wstring::npos) {
                return false;
            }
        }
        if (pos == std::wstring::npos) {
            break;
        }
    }
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool WriteWhole(const std::wstring& path, const std::string& bytes, DWORD disposition) {
    ScopedHandle file(
        CreateFileW(path.c_str(), disposition == OPEN_ALWAYS ? FILE_APPEND_DATA : GENERIC_WRITE,
                    FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        return false;
    }
    DWORD written = 0;
    return WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) &&
           written == bytes.size();
}

std::string ReadWhole(const std::wstring& path) {
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (file.Valid() && ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
        bytes.append(buffer, got);
    }
    return bytes;
}

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

template <typename Function> Function WineFunction(const wchar_t* module, const char* name) {
    FARPROC address = GetProcAddress(GetModuleHandleW(module), name);
    return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

// The Unix path of a file (its folder must exist); empty outside Wine.
std::wstring UnixPath(const std::wstring& path) {
    auto convert =
        WineFunction<char*(CDECL*)(const WCHAR*)>(L"kernel32.dll", "wine_get_unix_file_name");
    char* unixPath = convert ? convert(path.c_str()) : nullptr;
    if (!unixPath) {
        return std::wstring();
    }
    std::wstring result = zeltools::FromUtf8(unixPath);
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}

// The newest Ghostscript its installer registered (GS_DLL names its DLL, the
// console program sits beside it), else a console program on the PATH.
std::wstring InstalledGhostscript() {
    for (const wchar_t* vendor : {L"SOFTWARE\\GPL Ghostscript", L"SOFTWARE\\Artifex Ghostscript"}) {
        zeltools::ScopedKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, vendor, 0, KEY_READ | KEY_WOW64_64KEY, key.Out()) !=
            ERROR_SUCCESS) {
            continue;
        }
        std::vector<std::wstring> versions;
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD length = 256;
            if (RegEnumKeyExW(key.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                break;
            }
            versions.push_back(name);
        }
        std::wstring version = zeldispatch::NewestVersion(versions);
        wchar_t dll[MAX_PATH] = {};
        DWORD size = sizeof dll;
        if (version.empty() || RegGetValueW(key.Get(), version.c_str(), L"GS_DLL", RRF_RT_REG_SZ,
                                            nullptr, dll, &size) != ERROR_SUCCESS) {
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

PdfResult Problem(PdfOutcome outcome, const std::wstring& message) {
    PdfResult result;
    result.outcome = outcome;
    result.message = zeltools::ToUtf8(message);
    return result;
}

// Runs Ghostscript on `ps`, bounded by `timeout` seconds; the PDF is left only
// when the conversion succeeded.
PdfResult ConvertToPdf(const std::wstring& gs, const std::wstring& ps, const std::wstring& pdf,
                       unsigned timeout, const std::wstring& outDir) {
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
    unsigned exitCode = 0;
    if (unixRunner) {
        std::wstring unixPs = UnixPath(ps), unixPdf = UnixPath(pdf);
        std::wstring unixOutput = UnixPath(output.path), unixStatus = UnixPath(status.path);
        if (unixPs.empty() || unixPdf.empty() || unixOutput.empty() || unixStatus.empty()) {
            return Problem(PdfOutcome::Failed, L"Wine gave no Unix path for the files");
        }
        std::wstring line = zeldispatch::JoinCommandLine(
            zeldispatch::UnixRunnerArguments(unixStatus, unixOutput, timeout, gs,
                                             zeldispatch::GhostscriptArguments(unixPs, unixPdf)));
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                            nullptr, &startup, &process)) {
            return Problem(PdfOutcome::Failed,
                           L"cannot start /bin/sh: " + zeltools::SystemText(GetLastError()));
        }
        ScopedHandle processHandle(process.hProcess), threadHandle(process.hThread);
        // The shell's timeout has stopped Ghostscript five seconds after the
        // limit; a little more covers a slow start.
        const ULONGLONG deadline = GetTickCount64() + (timeout + 10ULL) * 1000;
        while (!zeldispatch::ParseStatus(ReadWhole(status.path), exitCode)) {
            if (GetTickCount64() > deadline) {
                return Problem(PdfOutcome::TimedOut, L"no exit status from /bin/sh");
            }
            Sleep(100);
        }
    } else {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        ScopedHandle sink(CreateFileW(output.path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        std::vector<std::wstring> arguments = zeldispatch::GhostscriptArguments(ps, pdf);
        arguments.insert(arguments.begin(), gs);
        DWORD code = 0;
        bool timedOut = false;
        if (!sink.Valid() ||
            !zeltools::RunHidden(zeldispatch::JoinCommandLine(arguments), sink.Get(), sink.Get(),
                                 timeout * 1000, code, timedOut)) {
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
        zeldispatch::JudgeConversion(exitCode, unixRunner, ReadWhole(output.path), written);
    if (result.outcome == PdfOutcome::Converted) {
        result.path = pdf;
    } else {
        DeleteFileW(pdf.c_str()); // a partial PDF would pass for the job
    }
    return result;
}

class Dispatcher {
public:
    int Run();

private:
    int Fail(int code, const std::wstring& what, DWORD systemError = 0);
    void Log(const std::wstring& line);

    std::wstring logPath_;
    std::wstring document_;
};

void Dispatcher::Log(const std::wstring& line) {
    if (!logPath_.empty()) {
        WriteWhole(logPath_, zeldispatch::Utf8(UtcNow() + L" " + line + L"\r\n"), OPEN_ALWAYS);
    }
}

int Dispatcher::Fail(int code, const std::wstring& what, DWORD systemError) {
    std::wstring line = what;
    if (systemError) {
        line +=
            L": " + zeltools::SystemText(systemError) + L" (" + std::to_wstring(systemError) + L")";
    }
    zeltools::Err(L"zel-dispatch: " + line + L"\n");
    Log(L"failed (exit " + std::to_wstring(code) + L"): " + line + L"; document " +
        zeltools::FromUtf8(zeldispatch::JsonString(document_)));
    return code;
}

int Dispatcher::Run() {
    zeldispatch::ParseOutcome parsed = zeldispatch::ParseCommandLine(GetCommandLineW());
    zeldispatch::Settings settings;
    std::wstring optionError;
    bool optionsOk = zeldispatch::ParseOptions(parsed.invocation.options, settings, optionError);
    if (settings.help) {
        zeltools::Out(kUsage);
        return kOk;
    }
    if (!optionsOk) {
        zeltools::Err(L"zel-dispatch: " + optionError + L"\n" + kUsage);
        return kBadCommandLine;
    }
    std::wstring outDir = settings.outDir.empty() ? DefaultOutDir() : settings.outDir;
    while (outDir.size() > 3 && (outDir.back() == L'\\' || outDir.back() == L'/')) {
        outDir.pop_back();
    }
    outDir = zeltools::FullPath(outDir);
    bool haveDir = EnsureDirectory(outDir);
    logPath_ = settings.logPath.empty() ? outDir + L"\\zel-dispatch.log" : settings.logPath;

    if (!parsed.ok) {
        return Fail(kBadCommandLine, L"bad command line: " + parsed.error);
    }
    const zeldispatch::Invocation& job = parsed.invocation;
    document_ = job.document;
    if (!haveDir) {
        return Fail(kNoOutputDir, L"cannot create the output folder " + outDir, GetLastError());
    }

    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW(job.psFilePath.c_str(), GetFileExInfoStandard, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DWORD error = GetLastError();
        return Fail(kPsFileMissing, L"no PS file at " + job.psFilePath,
                    error ? error : ERROR_FILE_NOT_FOUND);
    }
    unsigned long long size =
        (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;

    // Another job with the same document name may be there already: number
    // the new one instead of replacing it.
    const std::wstring stem = zeldispatch::SafeFileStem(job.document);
    std::wstring target;
    std::wstring chosenStem;
    for (unsigned attempt = 1;; ++attempt) {
        if (attempt > 9999) {
            return Fail(kMoveFailed, L"no free file name for " + stem + L".ps in " + outDir);
        }
        chosenStem = zeldispatch::NumberedStem(stem, attempt);
        target = outDir + L"\\" + chosenStem + L".ps";
        if (settings.pdf && GetFileAttributesW((outDir + L"\\" + chosenStem + L".pdf").c_str()) !=
                                INVALID_FILE_ATTRIBUTES) {
            continue; // the PDF beside it would replace another job's
        }
        if (MoveFileExW(job.psFilePath.c_str(), target.c_str(),
                        MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
            break;
        }
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
            return Fail(kMoveFailed, L"cannot move " + job.psFilePath + L" to " + target, error);
        }
    }

    Log(L"captured " + zeltools::FromUtf8(zeldispatch::JsonString(job.document)) + L" -> " +
        target + L" (" + std::to_wstring(size) + L" bytes)");

    zeldispatch::JobRecord record;
    record.document = job.document;
    record.encoding = job.encoding;
    record.originalPath = job.psFilePath;
    record.capturedPath = target;
    record.size = size;
    record.time = UtcNow();
    if (settings.pdf) {
        std::wstring gs = settings.gsPath.empty() ? InstalledGhostscript() : settings.gsPath;
        record.pdf = ConvertToPdf(gs, target, outDir + L"\\" + chosenStem + L".pdf",
                                  settings.pdfTimeoutSeconds, outDir);
        std::wstring message = zeltools::FromUtf8(record.pdf.message);
        if (record.pdf.outcome == PdfOutcome::Converted) {
            Log(L"PDF " + record.pdf.path + L" (" +
                (record.pdf.pages < 0    ? L"? pages"
                 : record.pdf.pages == 1 ? L"1 page"
                                         : std::to_wstring(record.pdf.pages) + L" pages") +
                L")");
        } else {
            Log(L"no PDF for " + target + L" (" +
                zeltools::FromUtf8(zeldispatch::OutcomeName(record.pdf.outcome)) + L": " + message +
                L"); the PS file is kept");
        }
    }
    std::wstring recordPath = outDir + L"\\" + chosenStem + L".json";
    if (!WriteWhole(recordPath, zeldispatch::RecordJson(record), CREATE_ALWAYS)) {
        return Fail(kRecordFailed, L"cannot write " + recordPath, GetLastError());
    }
    return kOk;
}

} // namespace

int main() {
    Dispatcher dispatcher;
    return dispatcher.Run();
}
