/* Prints a file as a solicited job and tells where its PostScript went.
 *
 *   zel-solicited-print PRINTER FILE [PS-FOLDER]
 *
 * PRINTER is a printer on a Zel PortMon port; FILE is sent to it as it is (a
 * RAW job, as an application that makes its own PostScript would send it).
 * The monitor creates the PS file in PS-FOLDER (default: the temporary
 * folder) and names it in the job key; this program then prints its path.
 * Exit code: 0 done, 1 failed, 2 bad arguments, 3 the monitor failed the job,
 * 4 no result within a minute. */

#include <windows.h>
#include <winspool.h>

#include <stdio.h>

#include "ZelJobClient.h"

/* Sends the file's bytes to the printer as one RAW job; FALSE with the last
 * error set. */
static BOOL PrintRaw(const wchar_t* printerName, const wchar_t* document, const wchar_t* file) {
    char buffer[65536];
    DOC_INFO_1W info = {(LPWSTR)document, NULL, (LPWSTR)L"RAW"};
    HANDLE printer = NULL;
    BOOL ok = FALSE;
    FILE* input = _wfopen(file, L"rb");
    if (!input) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (OpenPrinterW((LPWSTR)printerName, &printer, NULL)) {
        if (StartDocPrinterW(printer, 1, (LPBYTE)&info)) {
            size_t got;
            ok = TRUE;
            while (ok && (got = fread(buffer, 1, sizeof buffer, input)) > 0) {
                DWORD written = 0;
                ok = WritePrinter(printer, buffer, (DWORD)got, &written) && written == got;
            }
            /* Ending the document is what hands the job to the monitor. */
            ok = EndDocPrinter(printer) && ok;
        }
        ClosePrinter(printer);
    }
    fclose(input);
    return ok;
}

int wmain(int argc, wchar_t** argv) {
    ZelJob* job = NULL;
    DWORD status, errorCode = 0;
    int exitCode = 1;
    if (argc < 3 || argc > 4) {
        fwprintf(stderr, L"usage: zel-solicited-print PRINTER FILE [PS-FOLDER]\n");
        return 2;
    }
    status = ZelJobCreate(argc == 4 ? argv[3] : NULL, &job);
    if (status != ERROR_SUCCESS) {
        fwprintf(stderr, L"cannot prepare the job: error %lu\n", status);
        return 1;
    }
    /* The document name carries the job's identifier: that is how the
     * monitor finds the job key. */
    if (!PrintRaw(argv[1], ZelJobDocumentName(job, argv[2]), argv[2])) {
        fwprintf(stderr, L"cannot print %ls on %ls: error %lu\n", argv[2], argv[1], GetLastError());
    } else if ((status = ZelJobWait(job, 60000, &errorCode)) == ERROR_TIMEOUT) {
        fwprintf(stderr, L"no result for job %ls within a minute\n", ZelJobId(job));
        exitCode = 4;
    } else if (status != ERROR_SUCCESS) {
        fwprintf(stderr, L"cannot read the result of job %ls: error %lu\n", ZelJobId(job), status);
    } else {
        wprintf(L"PSFilePath: %ls\nErrorCode: %lu (%ls)\n", ZelJobPSFilePath(job), errorCode,
                ZelJobErrorText(errorCode));
        exitCode = errorCode == 0 ? 0 : 3;
    }
    /* The key goes; the PS file is now ours to keep or delete. */
    ZelJobClose(job);
    return exitCode;
}
