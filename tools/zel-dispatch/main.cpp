// zel-dispatch: the reference print dispatcher. The monitor starts it, as the
// printing user, for every job that nobody asked for in advance; it moves the
// job's PS file into an output folder under a name taken from the document,
// with --pdf converts it into a PDF beside it with Ghostscript, leaves a JSON
// record beside it and appends a line to its log. A non-zero exit code makes
// the monitor fail the job (and delete the PS file), so a failed conversion
// never changes the exit code: the PS file is filed before it starts.

#include <windows.h>

#include <string>

#include "common/Files.h"
#include "common/Text.h"
#include "zel-dispatch/Ghostscript.h"
#include "zel-dispatch/JsonRecord.h"
#include "zel-dispatch/MessageParser.h"
#include "zel-dispatch/Options.h"
#include "zel-dispatch/OutputNames.h"

namespace {

using namespace zeldispatch;

// Exit codes. 259 must never be used: the monitor reads it as "still running".
enum Exit : int {
    kOk = 0,
    kBadCommandLine = 2,
    kPsFileMissing = 3,
    kNoOutputDir = 4,
    kMoveFailed = 5,
    kRecordFailed = 6,
};

std::wstring UtcNow() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    return zeltools::IsoTime(now);
}

// The monitor starts us as the printing user, so this is who printed.
NameFields FieldsNow(const std::wstring& document) {
    NameFields fields;
    wchar_t user[257] = {};
    DWORD size = 257;
    if (GetUserNameW(user, &size)) {
        fields.user = user;
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t text[16];
    swprintf(text, 16, L"%04u-%02u-%02u", now.wYear, now.wMonth, now.wDay);
    fields.date = text;
    swprintf(text, 16, L"%02u-%02u-%02u", now.wHour, now.wMinute, now.wSecond);
    fields.time = text;
    fields.document = document;
    return fields;
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
        zeltools::WriteFileBytes(logPath_, zeltools::ToUtf8(UtcNow() + L" " + line + L"\r\n"),
                                 OPEN_ALWAYS);
    }
}

int Dispatcher::Fail(int code, const std::wstring& what, DWORD systemError) {
    const std::wstring line = systemError ? zeltools::ErrorText(what, systemError) : what;
    zeltools::Err(L"zel-dispatch: " + line + L"\n");
    Log(L"failed (exit " + std::to_wstring(code) + L"): " + line + L"; document " +
        JsonQuoted(document_));
    return code;
}

int Dispatcher::Run() {
    ParseOutcome parsed = ParseCommandLine(GetCommandLineW());
    Settings settings;
    std::wstring optionError;
    bool optionsOk = ParseOptions(parsed.invocation.options, settings, optionError);
    if (settings.help) {
        zeltools::Out(kUsage);
        return kOk;
    }
    if (!optionsOk) {
        zeltools::Err(L"zel-dispatch: " + optionError + L"\n" + kUsage);
        return kBadCommandLine;
    }
    // The options' patterns were checked with the options.
    const NameFields fields = FieldsNow(parsed.invocation.document);
    std::wstring outDir, name, ignored;
    ExpandNamePattern(settings.outDir, fields, outDir, ignored);
    ExpandNamePattern(settings.namePattern, fields, name, ignored);
    outDir = outDir.empty() ? DefaultOutDir() : outDir;
    while (outDir.size() > 3 && (outDir.back() == L'\\' || outDir.back() == L'/')) {
        outDir.pop_back();
    }
    outDir = zeltools::FullPath(outDir);
    bool haveDir = EnsureDirectory(outDir);
    logPath_ = settings.logPath.empty() ? outDir + L"\\zel-dispatch.log" : settings.logPath;

    if (!parsed.ok) {
        return Fail(kBadCommandLine, L"bad command line: " + parsed.error);
    }
    const Invocation& job = parsed.invocation;
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
    const std::wstring stem = SafeFileStem(name);
    std::wstring target;
    std::wstring chosenStem;
    for (unsigned attempt = 1;; ++attempt) {
        if (attempt > 9999) {
            return Fail(kMoveFailed, L"no free file name for " + stem + L".ps in " + outDir);
        }
        chosenStem = NumberedStem(stem, attempt);
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

    Log(L"captured " + JsonQuoted(job.document) + L" -> " + target + L" (" + std::to_wstring(size) +
        L" bytes)");

    JobRecord record;
    record.document = job.document;
    record.encoding = job.encoding;
    record.originalPath = job.psFilePath;
    record.capturedPath = target;
    record.size = size;
    record.time = UtcNow();
    record.user = fields.user;
    if (settings.pdf) {
        std::wstring gs = settings.gsPath.empty() ? InstalledGhostscript() : settings.gsPath;
        record.pdf = ConvertToPdf(gs, target, outDir + L"\\" + chosenStem + L".pdf", settings.pdfa,
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
                zeltools::FromUtf8(OutcomeName(record.pdf.outcome)) + L": " + message +
                L"); the PS file is kept");
        }
    }
    std::wstring recordPath = outDir + L"\\" + chosenStem + L".json";
    if (!zeltools::WriteFileBytes(recordPath, RecordJson(record), CREATE_ALWAYS)) {
        return Fail(kRecordFailed, L"cannot write " + recordPath, GetLastError());
    }
    return kOk;
}

} // namespace

int main() {
    Dispatcher dispatcher;
    return dispatcher.Run();
}
