#pragma once

// zel-dispatch's own options (the tokens between its path and the message)
// and its usage text.

#include <string>
#include <vector>

namespace zeldispatch {

struct Settings {
    std::wstring outDir;  // empty: the default
    std::wstring logPath; // empty: beside the captured files
    bool help = false;
    bool pdf = false;
    std::wstring gsPath;                  // empty: the installed Ghostscript
    unsigned long pdfTimeoutSeconds = 40; // below the monitor's one-minute wait
};

// Reads --out DIR, --log FILE, --pdf, --gs PATH (implies --pdf),
// --pdf-timeout SECONDS (1 to 3600) and --help; anything else is an error.
bool ParseOptions(const std::vector<std::wstring>& options, Settings& settings,
                  std::wstring& error);

extern const wchar_t kUsage[];

} // namespace zeldispatch
