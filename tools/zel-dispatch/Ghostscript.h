#pragma once

// The PDF made of a job with Ghostscript: finding Ghostscript, the command
// lines that start it, running it within a time limit, and what its output
// and exit status mean.

#include <string>
#include <vector>

namespace zeldispatch {

// What makes the PDF a PDF/A-2b: a copy of Ghostscript's PDFA_def.ps naming
// its sRGB profile, both as Ghostscript sees them.
struct PdfaFiles {
    std::wstring definition, profile;
};

// Ghostscript's arguments, after the program, for converting `ps` into
// `pdf` in safe mode, as PDF/A when `pdfa` is given. After the job it prints
// kPageCountMarker and the number of pages it wrote.
std::vector<std::wstring> GhostscriptArguments(const std::wstring& ps, const std::wstring& pdf,
                                               const PdfaFiles* pdfa = nullptr);
extern const char kPageCountMarker[];

// Ghostscript's PDFA_def.ps with its "/ICCProfile (...)" naming `profile`;
// empty when the text names no profile to replace.
std::string PdfaDefinition(const std::string& original, const std::wstring& profile);

// Wine starts a Unix program detached: no process handle, so neither its end
// nor its exit code can be seen and it cannot be stopped. So a Unix program
// runs under /bin/sh, which bounds it with coreutils' timeout (TERM, then
// KILL five seconds later), sends its output to `outputPath` and then writes
// its exit status to `statusPath`. All paths are Unix paths.
std::vector<std::wstring> UnixRunnerArguments(const std::wstring& statusPath,
                                              const std::wstring& outputPath,
                                              unsigned timeoutSeconds, const std::wstring& program,
                                              const std::vector<std::wstring>& arguments);

// The status file's text once the shell has written it completely.
bool ParseStatus(const std::string& text, unsigned& exitCode);

// The number after the last marker line; -1 when there is none (the job ended
// with `quit`, or Ghostscript failed first).
int ParsePageCount(const std::string& output);

// The line of Ghostscript's output that says what went wrong: its "Error:"
// line, else the last non-blank line; at most 200 characters, other than
// printable ASCII replaced by '?'.
std::string ProblemLine(const std::string& output);

// Of registry subkey names like "9.56.1" and "10.02.1", the highest version;
// empty when none is a version.
std::wstring NewestVersion(const std::vector<std::wstring>& names);

enum class PdfOutcome { NotRequested, Converted, NotFound, Failed, TimedOut };

struct PdfResult {
    PdfOutcome outcome = PdfOutcome::NotRequested;
    std::wstring path;   // the PDF, when converted
    int pages = -1;      // -1: unknown
    std::string message; // ASCII: what went wrong
};

const char* OutcomeName(PdfOutcome outcome);

// What an ended conversion amounts to, from how it ended. `unixRunner`: the
// exit status came through UnixRunnerArguments, whose timeout and shell have
// codes of their own.
PdfResult JudgeConversion(unsigned exitCode, bool unixRunner, const std::string& output,
                          bool pdfWritten);

// The newest Ghostscript its installer registered, else a console program on
// the PATH; empty when there is none.
std::wstring InstalledGhostscript();

// Runs Ghostscript `gs` on `ps`, bounded by `timeout` seconds, with scratch
// files in `scratchDir`; the PDF is left only when the conversion succeeded.
PdfResult ConvertToPdf(const std::wstring& gs, const std::wstring& ps, const std::wstring& pdf,
                       bool pdfa, unsigned long timeout, const std::wstring& scratchDir);

} // namespace zeldispatch
