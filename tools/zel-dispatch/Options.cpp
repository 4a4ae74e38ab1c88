#include "zel-dispatch/Options.h"

#include <iterator>

#include "common/Text.h"
#include "zel-dispatch/OutputNames.h"

namespace zeldispatch {

const wchar_t kUsage[] =
    L"usage: zel-dispatch [OPTIONS] Zel::Create::Plain \"DOCUMENT\" \"PS-FILE\"\n"
    L"       zel-dispatch [OPTIONS] Zel::Create::Hex \"HEX-DOCUMENT\" \"HEX-PS-FILE\"\n"
    L"\n"
    L"The print dispatcher of the Tessivane 3 ports. The monitor starts it with the\n"
    L"message after the options; put the program and its options into the port's\n"
    L"\"PrintDispatcherFilePath\" value (zelport set-dispatcher).\n"
    L"\n"
    L"  --out DIR   where captured jobs go (default: Documents\\Zel Jobs of the user)\n"
    L"  --name PATTERN  the captured files' name without extension (default {document})\n"
    L"              DIR and PATTERN may hold {user} (the printing user), {date} and\n"
    L"              {time} (local, 2026-12-06 and 08-30-15) and {document}; characters\n"
    L"              Windows refuses in a file name become _, in the tokens and in PATTERN\n"
    L"  --log FILE  the dispatcher's log (default: zel-dispatch.log in the output folder)\n"
    L"  --pdf       also convert each job into a PDF beside it with Ghostscript\n"
    L"              (pdfwrite, safe mode); the record gets the PDF's path, pages and outcome\n"
    L"  --pdfa      the PDF as PDF/A-2b (Ghostscript's PDFA_def.ps and sRGB profile;\n"
    L"              implies --pdf)\n"
    L"  --gs PATH   the Ghostscript console program (implies --pdf); default: the newest\n"
    L"              installed Ghostscript from the registry, else gswin64c.exe on the PATH\n"
    L"              (under Wine a Unix path such as /usr/bin/gs runs that program)\n"
    L"  --pdf-timeout SECONDS  stop a conversion after this long (default 40)\n"
    L"\n"
    L"A job is never lost to the PDF: the PS file is filed first, and a missing\n"
    L"Ghostscript, a failed conversion or a timeout is only written to the record\n"
    L"and the log; the exit code stays 0.\n"
    L"\n"
    L"Exit codes: 0 done, 2 bad command line, 3 PS file missing, 4 output folder\n"
    L"unusable, 5 PS file not moved, 6 record not written.\n";

namespace {

// Each option once: the field it fills (a value) or sets (a flag).
const struct {
    const wchar_t* name;
    std::wstring Settings::*text;
    bool Settings::*flag; // with a value too: --gs implies --pdf
} kOptions[] = {
    {L"--help", nullptr, &Settings::help},
    {L"-h", nullptr, &Settings::help},
    {L"/?", nullptr, &Settings::help},
    {L"--pdf", nullptr, &Settings::pdf},
    {L"--pdfa", nullptr, &Settings::pdfa},
    {L"--out", &Settings::outDir, nullptr},
    {L"--name", &Settings::namePattern, nullptr},
    {L"--log", &Settings::logPath, nullptr},
    {L"--gs", &Settings::gsPath, &Settings::pdf},
    {L"--pdf-timeout", nullptr, nullptr},
};

} // namespace

bool ParseOptions(const std::vector<std::wstring>& options, Settings& settings,
                  std::wstring& error) {
    for (size_t i = 0; i < options.size(); ++i) {
        const std::wstring& name = options[i];
        const auto* option = std::begin(kOptions);
        while (option != std::end(kOptions) && name != option->name) {
            ++option;
        }
        if (option == std::end(kOptions)) {
            error = L"unknown option " + name;
            return false;
        }
        if (option->flag) {
            settings.*option->flag = true;
        }
        if (option->flag && !option->text) {
            continue;
        }
        if (i + 1 >= options.size() || options[i + 1].empty()) {
            error = name + L" needs a value";
            return false;
        }
        const std::wstring& value = options[++i];
        if (option->text) {
            settings.*option->text = value;
        } else if (!zeltools::ParseNumber(value, 1, 3600, settings.pdfTimeoutSeconds)) {
            error = L"--pdf-timeout needs whole seconds from 1 to 3600";
            return false;
        }
    }
    settings.pdf = settings.pdf || settings.pdfa;
    // A bad token stops the dispatcher before it files anything.
    std::wstring ignored;
    for (const std::wstring* pattern : {&settings.outDir, &settings.namePattern}) {
        if (!ExpandNamePattern(*pattern, NameFields(), ignored, error)) {
            return false;
        }
    }
    return true;
}

} // namespace zeldispatch
