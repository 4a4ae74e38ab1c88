#pragma once

// The dispatcher's view of its command line. The monitor starts us with
//
//   <dispatcher command> Zel::Create::Plain "<document>" "<PS file path>"
//   <dispatcher command> Zel::Create::Hex "<hex document>" "<hex PS file path>"
//
// where the dispatcher command is our own path plus any options the port's
// registry value carries. Nothing inside the quotes is escaped, so a document
// name may itself hold '"' or '" "'; a Windows path never holds '"', which is
// why the fields are split from the right-hand end.
//
// Everything here is pure: no Win32 calls, so it is tested with tables.

#include <string>
#include <vector>

#include "zel-dispatch/Ghostscript.h"

namespace zeldispatch {

enum class Encoding { Plain, Hex };

struct Invocation {
    std::vector<std::wstring> options; // our own tokens, between program and keyword
    Encoding encoding = Encoding::Plain;
    std::wstring document;   // decoded
    std::wstring psFilePath; // decoded
};

struct ParseOutcome {
    bool ok = false;
    std::wstring error; // what is wrong with the command line, when !ok
    Invocation invocation;
};

ParseOutcome ParseCommandLine(const std::wstring& commandLine);

// Four hex digits (either case) per UTF-16 code unit. False on a length that
// is not a multiple of four or on a character that is not a hex digit.
bool DecodeHex(const std::wstring& digits, std::wstring& text);

struct Settings {
    std::wstring outDir;  // empty: the default
    std::wstring logPath; // empty: beside the captured files
    bool help = false;
    bool pdf = false;
    std::wstring gsPath;             // empty: the installed Ghostscript
    unsigned pdfTimeoutSeconds = 40; // below the monitor's one-minute wait
};

// Reads --out DIR, --log FILE, --pdf, --gs PATH (implies --pdf),
// --pdf-timeout SECONDS (1 to 3600) and --help; anything else is an error.
bool ParseOptions(const std::vector<std::wstring>& options, Settings& settings,
                  std::wstring& error);

// A file name stem that Windows accepts and that still reads like the
// document name: reserved characters, control characters and unpaired
// surrogates become '_', device names are defused, the length is bounded.
std::wstring SafeFileStem(const std::wstring& document);

// The stem with a collision counter: "name", "name (2)", "name (3)", ...
std::wstring NumberedStem(const std::wstring& stem, unsigned attempt);

// UTF-8 of UTF-16 text; unpaired surrogates become U+FFFD.
std::string Utf8(const std::wstring& text);

// A JSON string literal (with its quotes) in UTF-8.
std::string JsonString(const std::wstring& text);
std::string JsonUtf8String(const std::string& utf8);

struct JobRecord {
    std::wstring document;
    Encoding encoding = Encoding::Plain;
    std::wstring originalPath;
    std::wstring capturedPath;
    unsigned long long size = 0;
    std::wstring time; // ISO 8601, UTC
    PdfResult pdf;     // in the record unless not requested
};

std::string RecordJson(const JobRecord& record);

} // namespace zeldispatch
