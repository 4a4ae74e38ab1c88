// The client side of a solicited job: the job key this process prepares and
// removes, and the wait for the monitor's result in it.

#include "ZelJobClient.h"

#include <bcrypt.h>

#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "job/JobOperations.h"
#include "registry/RegistryLayout.h"

namespace Layout = Brambleworth::Zel::Registry;
using Brambleworth::Zel::PortMon::kJobIdLength;

struct ZelJob {
    HKEY key = nullptr;
    // Signalled by the registry when the key changes; auto-reset, so each
    // signal wakes one look at the key.
    HANDLE changed = nullptr;
    // A change notification is registered and has not fired yet; registering
    // again would only pile up registrations on the key.
    bool watching = false;
    std::wstring id, keyPath, documentName, psFilePath;

    ~ZelJob() {
        if (key) {
            RegCloseKey(key);
            // The key was created by this job, so it is ours to remove; the
            // monitor never creates one and never needs it after the job.
            RegDeleteKeyW(HKEY_CURRENT_USER, keyPath.c_str());
        }
        if (changed) {
            CloseHandle(changed);
        }
    }
};

namespace {

std::wstring HexId(std::uint64_t value) {
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring id(kJobIdLength, L'0');
    for (std::size_t i = kJobIdLength; i-- > 0; value >>= 4) {
        id[i] = kDigits[value & 0xF];
    }
    return id;
}

// The spooler resolves a relative folder against its own working folder, not
// ours.
DWORD AbsoluteFolder(const wchar_t* folder, std::wstring& absolute) {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    DWORD length =
        folder && *folder
            ? GetFullPathNameW(folder, static_cast<DWORD>(buffer.size()), buffer.data(), nullptr)
            : GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length >= buffer.size()) {
        return ERROR_FILENAME_EXCED_RANGE; // no PS file name would fit anyway
    }
    if (length == 0) {
        return GetLastError();
    }
    absolute.assign(buffer.data(), length);
    return ERROR_SUCCESS;
}

// A fresh identifier whose key did not exist yet: an existing key belongs to
// another job and is never touched.
DWORD CreateJobKey(ZelJob& job) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::uint64_t random = 0;
        if (BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&random), sizeof(random),
                            BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) {
            return ERROR_GEN_FAILURE;
        }
        const std::wstring id = HexId(random);
        const std::wstring path = std::wstring(Layout::kJobsKeyPath) + L"\\" + id;
        HKEY key = nullptr;
        DWORD disposition = 0;
        LONG status =
            RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, &disposition);
        if (status != ERROR_SUCCESS) {
            return static_cast<DWORD>(status);
        }
        if (disposition == REG_CREATED_NEW_KEY) {
            job.key = key;
            job.id = id;
            job.keyPath = path;
            return ERROR_SUCCESS;
        }
        RegCloseKey(key);
    }
    return ERROR_ALREADY_EXISTS;
}

// The monitor writes "PSFilePath" first and "ErrorCode" last, so "ErrorCode"
// marks a finished job. ERROR_FILE_NOT_FOUND: not finished yet.
LONG ReadResult(ZelJob& job, DWORD& errorCode) {
    DWORD size = sizeof(errorCode);
    LONG status = RegGetValueW(job.key, nullptr, Layout::kErrorCodeValue, RRF_RT_REG_DWORD, nullptr,
                               &errorCode, &size);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    job.psFilePath.clear();
    std::vector<wchar_t> path(MAX_PATH + 1);
    size = static_cast<DWORD>(path.size() * sizeof(wchar_t));
    status = RegGetValueW(job.key, nullptr, Layout::kPSFilePathValue, RRF_RT_REG_SZ, nullptr,
                          path.data(), &size);
    if (status == ERROR_MORE_DATA) {
        path.resize(size / sizeof(wchar_t) + 1);
        status = RegGetValueW(job.key, nullptr, Layout::kPSFilePathValue, RRF_RT_REG_SZ, nullptr,
                              path.data(), &size);
    }
    if (status == ERROR_SUCCESS) {
        job.psFilePath = path.data();
    }
    return ERROR_SUCCESS; // a failed job has no PS file to name
}

DWORD Wait(ZelJob& job, DWORD timeoutMs, DWORD& errorCode) {
    if (!job.changed && !(job.changed = CreateEventW(nullptr, FALSE, FALSE, nullptr))) {
        return GetLastError();
    }
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        // Watch first, then look: a result written in between still wakes us.
        if (!job.watching) {
            LONG status = RegNotifyChangeKeyValue(job.key, FALSE, REG_NOTIFY_CHANGE_LAST_SET,
                                                  job.changed, TRUE);
            if (status != ERROR_SUCCESS) {
                return static_cast<DWORD>(status);
            }
            job.watching = true;
        }
        LONG status = ReadResult(job, errorCode);
        if (status != ERROR_FILE_NOT_FOUND) {
            return static_cast<DWORD>(status);
        }
        DWORD remaining = INFINITE;
        if (timeoutMs != INFINITE) {
            const ULONGLONG elapsed = GetTickCount64() - start;
            if (elapsed >= timeoutMs) {
                return ERROR_TIMEOUT;
            }
            remaining = static_cast<DWORD>(timeoutMs - elapsed);
        }
        switch (WaitForSingleObject(job.changed, remaining)) {
        case WAIT_OBJECT_0:
            // A change, or the thread that registered the watch has ended:
            // either way the key is looked at again.
            job.watching = false;
            break;
        case WAIT_TIMEOUT:
            break; // one last look above, then the time-out
        default:
            return GetLastError();
        }
    }
}

} // namespace

extern "C" {

DWORD ZelJobCreate(const wchar_t* psFolder, ZelJob** job) {
    if (!job) {
        return ERROR_INVALID_PARAMETER;
    }
    *job = nullptr;
    try {
        std::wstring folder;
        DWORD status = AbsoluteFolder(psFolder, folder);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        ZelJob* created = new ZelJob;
        status = CreateJobKey(*created);
        if (status == ERROR_SUCCESS) {
            status = static_cast<DWORD>(
                RegSetValueExW(created->key, Layout::kTempDirPathValue, 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(folder.c_str()),
                               static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t))));
        }
        if (status != ERROR_SUCCESS) {
            delete created;
            return status;
        }
        *job = created;
        return ERROR_SUCCESS;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

const wchar_t* ZelJobId(const ZelJob* job) {
    return job ? job->id.c_str() : L"";
}

const wchar_t* ZelJobDocumentName(ZelJob* job, const wchar_t* title) {
    if (!job) {
        return nullptr;
    }
    try {
        job->documentName = std::wstring(title ? title : L"") + L" #%" + job->id + L"#%";
        return job->documentName.c_str();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

DWORD ZelJobWait(ZelJob* job, DWORD timeoutMs, DWORD* errorCode) {
    if (!job || !errorCode) {
        return ERROR_INVALID_PARAMETER;
    }
    try {
        return Wait(*job, timeoutMs, *errorCode);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

const wchar_t* ZelJobPSFilePath(const ZelJob* job) {
    return job ? job->psFilePath.c_str() : L"";
}

const wchar_t* ZelJobErrorText(DWORD errorCode) {
    // Every number the monitor records in a job key; the others it raises
    // concern jobs without one.
    switch (errorCode) {
    case 0:
        return L"done: the PS file holds the whole job";
    case 1:
        return L"no PS file could be created: the folder is missing or full, or the monitor "
               L"failed unexpectedly; check the folder and the port's log";
    case 2:
        return L"the monitor ran out of memory: print the job again";
    case 7:
        return L"the monitor received data for a job it had not started: print the job again";
    case 15:
        return L"the PS file could not be opened for writing: check the folder's permissions";
    case 16:
        return L"the PS file could not take all of the job (disk full?): it is incomplete; free "
               L"some space and print again";
    case 30:
        return L"the monitor could not record the PS file's path in the job key";
    default:
        return L"not an error code the monitor records for a job";
    }
}

void ZelJobClose(ZelJob* job) {
    delete job;
}

} // extern "C"
