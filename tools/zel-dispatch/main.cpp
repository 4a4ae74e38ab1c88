// zel-dispatch: the reference print dispatcher. The monitor starts it, as the
// printing user, for every job that nobody asked for in advance; it moves the
// job's PS file into an output folder under a name taken from the document,
// leaves a JSON record beside it and appends a line to its log. A non-zero
// exit code makes the monitor fail the job (and delete the PS file).

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "common/Win32Util.h"
#include "zel-dispatch/DispatchMessage.h"

namespace {

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
    L"usage: zel-dispatch [--out DIR] [--log FILE] Zel::Create::Plain \"DOCUMENT\" \"PS-FILE\"\n"
    L"       zel-dispatch [--out DIR] [--log FILE] Zel::Create::Hex \"HEX-DOCUMENT\" "
    L"\"HEX-PS-FILE\"\n"
    L"\n"
    L"The print dispatcher of the Tessivane 3 ports. The monitor starts it with the\n"
    L"message after the options; put the program and its options into the port's\n"
    L"\"PrintDispatcherFilePath\" value (zelport set-dispatcher).\n"
    L"\n"
    L"  --out DIR   where captured jobs go (default: Documents\\Zel Jobs of the user)\n"
    L"  --log FILE  the dispatcher's log (default: zel-dispatch.log in the output folder)\n"
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
        if (MoveFileExW(job.psFilePath.c_str(), target.c_str(),
                        MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
            break;
        }
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
            return Fail(kMoveFailed, L"cannot move " + job.psFilePath + L" to " + target, error);
        }
    }

    zeldispatch::JobRecord record;
    record.document = job.document;
    record.encoding = job.encoding;
    record.originalPath = job.psFilePath;
    record.capturedPath = target;
    record.size = size;
    record.time = UtcNow();
    std::wstring recordPath = outDir + L"\\" + chosenStem + L".json";
    if (!WriteWhole(recordPath, zeldispatch::RecordJson(record), CREATE_ALWAYS)) {
        return Fail(kRecordFailed, L"cannot write " + recordPath, GetLastError());
    }
    Log(L"captured " + zeltools::FromUtf8(zeldispatch::JsonString(job.document)) + L" -> " +
        target + L" (" + std::to_wstring(size) + L" bytes)");
    return kOk;
}

} // namespace

int main() {
    Dispatcher dispatcher;
    return dispatcher.Run();
}
