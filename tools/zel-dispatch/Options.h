#pragma once

// zel-dispatch's own options (the tokens between its path and the message)
// and its usage text.

#include <string>
#include <vector>

namespace zeldispatch {

struct Settings {
    std::wstring outDir;                      // empty: the default; may hold name tokens
    std::wstring namePattern = L"{document}"; // the captured files' name, without extension
    std::wstring logPath;                     // empty: beside the captured files
    bool help = false;
    bool pdf = false;
    bool pdfa = false;                    // the PDF as PDF/A-2b
    std::wstring gsPath;                  // empty: the installed Ghostscript
    unsigned long pdfTimeoutSeconds = 40; // below the monitor's one-minute wait
};

// Reads --out DIR, --name PATTERN, --log FILE, --pdf, --pdfa (implies --pdf),
// --gs PATH (implies --pdf), --pdf-timeout SECONDS (1 to 3600) and --help;
// anything else, or an unknown token in DIR or PATTERN, is an error.
bool ParseOptions(const std::vector<std::wstring>& options, Settings& settings,
                  std::wstring& error);

extern const wchar_t kUsage[];

} // namespace zeldispatch
