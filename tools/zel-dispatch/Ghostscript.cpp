#include "zel-dispatch/Ghostscript.h"

#include <cstdlib>

namespace zeldispatch {

const char kPageCountMarker[] = "ZelPageCount: ";

std::wstring QuoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return argument;
    }
    // Backslashes are literal except in a run that ends at a quote: there
    // each one is doubled, and the quote itself is escaped.
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

std::wstring JoinCommandLine(const std::vector<std::wstring>& arguments) {
    std::wstring line;
    for (const std::wstring& argument : arguments) {
        line += (line.empty() ? L"" : L" ") + QuoteArgument(argument);
    }
    return line;
}

std::vector<std::wstring> GhostscriptArguments(const std::wstring& ps, const std::wstring& pdf) {
    // OutputFile reads '%' as the start of a page number format ("%d"): a
    // document named "50% off" must stay one file.
    std::wstring output;
    for (wchar_t c : pdf) {
        output += c == L'%' ? L"%%" : std::wstring(1, c);
    }
    std::wstring marker(kPageCountMarker, kPageCountMarker + sizeof(kPageCountMarker) - 1);
    return {L"-q",
            L"-dSAFER",
            L"-dBATCH",
            L"-dNOPAUSE",
            L"-sDEVICE=pdfwrite",
            L"-sOutputFile=" + output,
            L"-f",
            ps,
            L"-c",
            L"(" + marker + L") print currentpagedevice /PageCount get == flush"};
}

std::vector<std::wstring> UnixRunnerArguments(const std::wstring& statusPath,
                                              const std::wstring& outputPath,
                                              unsigned timeoutSeconds, const std::wstring& program,
                                              const std::vector<std::wstring>& arguments) {
    // The paths travel as arguments, never inside the script: a document
    // name can hold anything a shell would interpret.
    std::vector<std::wstring> all = {
        L"/bin/sh",
        L"-c",
        L"s=$1; o=$2; t=$3; shift 3; timeout -k 5 \"$t\" \"$@\" >\"$o\" 2>&1; echo $? >\"$s\"",
        L"zel-ghostscript",
        statusPath,
        outputPath,
        std::to_wstring(timeoutSeconds),
        program};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return all;
}

bool ParseStatus(const std::string& text, unsigned& exitCode) {
    if (text.size() < 2 || text.back() != '\n' || text.size() > 5) {
        return false;
    }
    unsigned value = 0;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    exitCode = value;
    return true;
}

int ParsePageCount(const std::string& output) {
    size_t at = output.rfind(kPageCountMarker);
    if (at == std::string::npos) {
        return -1;
    }
    size_t pos = at + sizeof(kPageCountMarker) - 1;
    size_t end = pos;
    while (end < output.size() && end - pos < 9 && output[end] >= '0' && output[end] <= '9') {
        ++end;
    }
    if (end == pos || (end < output.size() && output[end] != '\r' && output[end] != '\n')) {
        return -1;
    }
    return std::atoi(output.substr(pos, end - pos).c_str());
}

std::string ProblemLine(const std::string& output) {
    std::string chosen;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        std::string line = output.substr(start, end == std::string::npos ? end : end - start);
        start = end == std::string::npos ? output.size() : end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.pop_back();
        }
        if (line.rfind("Error: ", 0) == 0) { // the first error caused the rest
            chosen = line;
            break;
        }
        if (!line.empty()) {
            chosen = line;
        }
    }
    // It goes into the JSON record as it is: ASCII only, whatever the
    // output's encoding.
    chosen = chosen.substr(0, 200);
    for (char& c : chosen) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) {
            c = '?';
        }
    }
    return chosen;
}

namespace {

// "10.02.1" -> {10, 2, 1}; empty when the name is not a version.
std::vector<unsigned long> VersionParts(const std::wstring& name) {
    std::vector<unsigned long> parts;
    size_t pos = 0;
    while (pos <= name.size()) {
        size_t dot = name.find(L'.', pos);
        std::wstring part = name.substr(pos, dot == std::wstring::npos ? dot : dot - pos);
        if (part.empty() || part.size() > 6 ||
            part.find_first_not_of(L"0123456789") != std::wstring::npos) {
            return {};
        }
        parts.push_back(std::wcstoul(part.c_str(), nullptr, 10));
        if (dot == std::wstring::npos) {
            break;
        }
        pos = dot + 1;
    }
    return parts;
}

} // namespace

std::wstring NewestVersion(const std::vector<std::wstring>& names) {
    std::wstring best;
    std::vector<unsigned long> bestParts;
    for (const std::wstring& name : names) {
        std::vector<unsigned long> parts = VersionParts(name);
        if (!parts.empty() && (bestParts.empty() || parts > bestParts)) {
            best = name;
            bestParts = parts;
        }
    }
    return best;
}

const char* OutcomeName(PdfOutcome outcome) {
    switch (outcome) {
    case PdfOutcome::Converted:
        return "converted";
    case PdfOutcome::NotFound:
        return "ghostscript not found";
    case PdfOutcome::Failed:
        return "failed";
    case PdfOutcome::TimedOut:
        return "timed out";
    case PdfOutcome::NotRequested:
        break;
    }
    return "not requested";
}

PdfResult JudgeConversion(unsigned exitCode, bool unixRunner, const std::string& output,
                          bool pdfWritten) {
    PdfResult result;
    std::string problem = ProblemLine(output);
    std::string said = problem.empty() ? "" : ": " + problem;
    if (unixRunner && (exitCode == 124 || exitCode == 137)) {
        result.outcome = PdfOutcome::TimedOut;
        result.message = "stopped at the time limit";
    } else if (unixRunner && (exitCode == 126 || exitCode == 127)) {
        result.outcome = PdfOutcome::NotFound;
        result.message = "cannot run Ghostscript" + said;
    } else if (exitCode != 0) {
        result.outcome = PdfOutcome::Failed;
        result.message = "exit code " + std::to_string(exitCode) + said;
    } else if (!pdfWritten) {
        result.outcome = PdfOutcome::Failed;
        result.message = "no PDF written" + said;
    } else {
        result.outcome = PdfOutcome::Converted;
        result.pages = ParsePageCount(output);
    }
    return result;
}

} // namespace zeldispatch
