#include "zelport/JobCommands.h"

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <vector>

#include "common/Handles.h"
#include "common/Spooler.h"
#include "common/Text.h"
#include "ZelJobClient.h"
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
    // The job key goes when the job does, whatever happened to the job.
    zeljob::Job job(command.dir.c_str());
    if (DWORD status = job.CreateStatus()) {
        Fail(L"cannot prepare a job key under HKEY_CURRENT_USER\\" +
                 std::wstring(Registry::kJobsKeyPath),
             status);
    }
    const std::wstring id = job.Id();
    Out(L"job key: HKEY_CURRENT_USER\\" + JobKeyPath(id) + L"\n");

    DWORD jobId = 0;
    PortLogWatch log(command.printer);
    DWORD errorCode = 0;
    try {
        unsigned long long bytes =
            PrintFile(file, command.printer, job.DocumentName(document.c_str()), jobId);
        Out(L"job " + std::to_wstring(jobId) + L" sent to " + command.printer + L": " +
            std::to_wstring(bytes) + L" bytes; waiting for the monitor\n");
    } catch (const Failure& failure) {
        // The monitor may still have recorded why it refused the job.
        if (job.Wait(0, errorCode) != ERROR_SUCCESS) {
            Failure explained = failure;
            log.Explain(explained);
            throw explained;
        }
    }

    // Woken by the monitor's result; the slices only pace the progress lines.
    const ULONGLONG limit = static_cast<ULONGLONG>(command.timeoutSeconds) * 1000;
    for (ULONGLONG waited = 0;;) {
        const DWORD slice = static_cast<DWORD>(std::min<ULONGLONG>(5000, limit - waited));
        const DWORD status = job.Wait(slice, errorCode);
        if (status == ERROR_SUCCESS) {
            break;
        }
        waited += slice;
        if (status != ERROR_TIMEOUT) {
            Fail(L"cannot read the result of job " + id, status);
        }
        if (waited >= limit) {
            throw Failure{L"no result for job " + id + L" after " +
                              std::to_wstring(command.timeoutSeconds) + L" s",
                          ERROR_TIMEOUT, kExitTimeout};
        }
        zeltools::Err(L"zelport: still waiting for job " + id + L" (" +
                      std::to_wstring(waited / 1000) + L" s)\n");
    }
    const std::wstring psFile = job.PSFilePath();
    Out(L"PSFilePath: " + (psFile.empty() ? std::wstring(L"(none)") : psFile) + L"\n");
    Out(L"ErrorCode: " + std::to_wstring(errorCode) + L"\n");
    if (errorCode != 0) {
        Failure explained{L"", errorCode};
        log.Explain(explained);
        zeltools::Err(L"zelport: the monitor failed job " + id + L" with error " +
                      std::to_wstring(errorCode) + L": " + ZelJobErrorText(errorCode) + L"\n");
        for (const std::wstring& line : explained.advice) {
            zeltools::Err(L"zelport: " + line + L"\n");
        }
        return kExitJobError;
    }
    return kExitOk;
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
