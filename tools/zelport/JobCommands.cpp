#include "zelport/JobCommands.h"

#include <windows.h>
#include <bcrypt.h>

#include <fstream>
#include <vector>

#include "common/Handles.h"
#include "common/Registry.h"
#include "common/Spooler.h"
#include "common/Text.h"
#include "registry/RegistryLayout.h"
#include "zelport/Failure.h"
#include "zelport/PortLog.h"

namespace zelport {

using namespace Brambleworth::Zel;
using zeltools::Out;

namespace {

std::wstring JobKeyPath(const std::wstring& id) {
    return std::wstring(Registry::kJobsKeyPath) + L"\\" + id;
}

// Sends the file unchanged as one RAW job; the number of bytes sent.
unsigned long long PrintFile(const std::wstring& file, const std::wstring& printer,
                             const std::wstring& document, DWORD& jobId) {
    std::ifstream input(file.c_str(), std::ios::binary);
    if (!input) {
        Fail(L"cannot read " + file, GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES
                                         ? ERROR_FILE_NOT_FOUND
                                         : ERROR_ACCESS_DENIED);
    }
    std::vector<char> chunk(64 * 1024);
    const auto read = [&](const char*& data, DWORD& size) {
        input.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        data = chunk.data();
        size = static_cast<DWORD>(input.gcount());
        return !input.bad();
    };
    const zeltools::RawJobResult job = zeltools::PrintRaw(printer, document, read);
    jobId = job.jobId;
    if (input.bad()) {
        Fail(L"cannot read " + file, ERROR_READ_FAULT);
    }
    if (!job.failure.empty()) {
        Fail(job.failure, job.error);
    }
    return job.bytes;
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
    zeltools::ScopedKey key_;
    std::wstring id_;
};

} // namespace

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
    if (LONG status = zeltools::SetString(key.Get(), Registry::kTempDirPathValue, dir)) {
        Fail(L"cannot write " + JobKeyPath(key.Id()) + L"\\TempDirPath",
             static_cast<unsigned long>(status));
    }
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
        if (zeltools::QueryDword(key.Get(), Registry::kErrorCodeValue, errorCode)) {
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
    bool havePath = zeltools::QueryString(key.Get(), Registry::kPSFilePathValue, psFile);
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

std::wstring FormatJobId(std::uint64_t value) {
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring id(16, L'0');
    for (int i = 15; i >= 0; --i) {
        id[static_cast<size_t>(i)] = kDigits[value & 0xF];
        value >>= 4;
    }
    return id;
}

std::wstring SolicitedDocumentName(const std::wstring& document, const std::wstring& jobId) {
    return document + L" #%" + jobId + L"#%";
}

std::wstring DefaultDocumentName(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/:");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos && dot > 0) {
        name.erase(dot);
    }
    return name;
}

} // namespace zelport
