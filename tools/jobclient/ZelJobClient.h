/* Zel PortMon solicited jobs: the client side.
 *
 * An application that wants back the PostScript of what it prints prepares a
 * job (ZelJobCreate), prints to a printer on a Zel PortMon port with the
 * document name ZelJobDocumentName gives, waits for the monitor's result
 * (ZelJobWait) and then takes over the PS file (ZelJobPSFilePath). ZelJobClose
 * removes the job's registry key on every path; the PS file is the caller's.
 *
 * Plain C, callable from any language that can call C. Every function that can
 * fail returns a Windows error code (ERROR_SUCCESS, 0, when it did not fail).
 * One job is used by one thread at a time; different jobs are independent, so
 * several jobs can run at once, each on its own thread. The job key lives in
 * the calling user's HKEY_CURRENT_USER: the same user must print the job on
 * this machine (see docs/solicited-jobs.md). Link with the C++ runtime, ssp,
 * advapi32 and bcrypt. */

#ifndef ZEL_JOB_CLIENT_H
#define ZEL_JOB_CLIENT_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ZelJob ZelJob;

/* Prepares a job: a fresh identifier and its job key, whose "TempDirPath"
 * names the folder the monitor creates the PS file in: `psFolder` made
 * absolute, or the user's temporary folder when it is NULL or empty. The
 * folder must exist and be writable by the printing user. On success *job
 * receives the job; otherwise it receives NULL. */
DWORD ZelJobCreate(const wchar_t* psFolder, ZelJob** job);

/* The job's identifier: 16 hexadecimal digits. */
const wchar_t* ZelJobId(const ZelJob* job);

/* The document name to print with: `title` (NULL: none), a blank, and the
 * identifier between "#%" delimiters. The text belongs to the job and stays
 * valid until the next call of this function for it or ZelJobClose; NULL when
 * memory ran out. */
const wchar_t* ZelJobDocumentName(ZelJob* job, const wchar_t* title);

/* Waits at most `timeoutMs` milliseconds (INFINITE: no limit) for the monitor
 * to finish the job; it wakes when the job key changes, not by polling.
 *   ERROR_SUCCESS  the monitor is done: *errorCode holds its "ErrorCode"
 *                  (0: the PS file is complete; see ZelJobErrorText);
 *   ERROR_TIMEOUT  no result yet; the job may be waited for again;
 *   other          the key could not be watched or read (ERROR_KEY_DELETED:
 *                  someone removed it). */
DWORD ZelJobWait(ZelJob* job, DWORD timeoutMs, DWORD* errorCode);

/* The PS file's full path as the monitor recorded it, once ZelJobWait
 * succeeded; empty when it recorded none (a job that failed early). */
const wchar_t* ZelJobPSFilePath(const ZelJob* job);

/* A short English text for an "ErrorCode" the monitor writes into a job key:
 * what went wrong and what to do. Static text; never NULL. */
const wchar_t* ZelJobErrorText(DWORD errorCode);

/* Removes the job key and frees the job (NULL: nothing happens). The PS file
 * stays on disk. */
void ZelJobClose(ZelJob* job);

#ifdef __cplusplus
} /* extern "C" */

namespace zeljob {

// Owns one job: the key goes when the object goes.
class Job {
public:
    explicit Job(const wchar_t* psFolder = nullptr) : status_(ZelJobCreate(psFolder, &job_)) {}
    ~Job() { ZelJobClose(job_); }
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

    // ERROR_SUCCESS when the job was prepared; the other members need one.
    DWORD CreateStatus() const { return status_; }
    const wchar_t* Id() const { return ZelJobId(job_); }
    const wchar_t* DocumentName(const wchar_t* title) { return ZelJobDocumentName(job_, title); }
    DWORD Wait(DWORD timeoutMs, DWORD& errorCode) {
        return ZelJobWait(job_, timeoutMs, &errorCode);
    }
    const wchar_t* PSFilePath() const { return ZelJobPSFilePath(job_); }

private:
    ZelJob* job_ = nullptr;
    DWORD status_;
};

} // namespace zeljob
#endif

#endif
