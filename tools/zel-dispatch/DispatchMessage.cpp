#include "zel-dispatch/DispatchMessage.h"

#include <cstdio>
#include <cwchar>

namespace zeldispatch {

namespace {

const std::wstring kPlainKeyword = L"Zel::Create::Plain";
const std::wstring kHexKeyword = L"Zel::Create::Hex";

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

bool IsHighSurrogate(wchar_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(wchar_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

int HexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'a' && c <= L'f') {
        return c - L'a' + 10;
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    return -1;
}

// Windows' rule for the program name: a quoted first token ends at the next
// quote, without escapes; an unquoted one at the first blank.
size_t SkipProgramName(const std::wstring& line) {
    size_t pos = 0;
    if (!line.empty() && line[0] == L'"') {
        size_t close = line.find(L'"', 1);
        pos = close == std::wstring::npos ? line.size() : close + 1;
    }
    while (pos < line.size() && !IsBlank(line[pos])) {
        ++pos;
    }
    return pos;
}

// Keeps the options read so far: --out and --log still say where a bad
// command line gets logged.
ParseOutcome Fail(ParseOutcome& outcome, const std::wstring& error) {
    outcome.ok = false;
    outcome.error = error;
    return outcome;
}

} // namespace

bool DecodeHex(const std::wstring& digits, std::wstring& text) {
    if (digits.size() % 4 != 0) {
        return false;
    }
    std::wstring decoded;
    decoded.reserve(digits.size() / 4);
    for (size_t i = 0; i < digits.size(); i += 4) {
        unsigned value = 0;
        for (size_t j = 0; j < 4; ++j) {
            int digit = HexValue(digits[i + j]);
            if (digit < 0) {
                return false;
            }
            value = value * 16 + static_cast<unsigned>(digit);
        }
        decoded.push_back(static_cast<wchar_t>(value));
    }
    text = std::move(decoded);
    return true;
}

ParseOutcome ParseCommandLine(const std::wstring& line) {
    ParseOutcome outcome;
    Invocation& invocation = outcome.invocation;

    // Our own options come first; the keyword, unquoted, ends them.
    size_t pos = SkipProgramName(line);
    bool keywordFound = false;
    while (pos < line.size()) {
        while (pos < line.size() && IsBlank(line[pos])) {
            ++pos;
        }
        if (pos >= line.size()) {
            break;
        }
        std::wstring token;
        if (line[pos] == L'"') {
            size_t close = line.find(L'"', pos + 1);
            if (close == std::wstring::npos) {
                return Fail(outcome, L"unterminated quote in the options");
            }
            token = line.substr(pos + 1, close - pos - 1);
            pos = close + 1;
        } else {
            size_t end = pos;
            while (end < line.size() && !IsBlank(line[end])) {
                ++end;
            }
            token = line.substr(pos, end - pos);
            pos = end;
            if (token == kPlainKeyword || token == kHexKeyword) {
                invocation.encoding = token == kPlainKeyword ? Encoding::Plain : Encoding::Hex;
                keywordFound = true;
                break;
            }
        }
        invocation.options.push_back(std::move(token));
    }
    if (!keywordFound) {
        return Fail(outcome,
                    L"no Zel::Create::Plain or Zel::Create::Hex message on the command line");
    }

    // Exactly: blank, quote, document, quote, blank, quote, path, quote.
    std::wstring rest = line.substr(pos);
    if (rest.size() < 2 || rest[0] != L' ' || rest[1] != L'"') {
        return Fail(outcome, L"the message must continue with a blank and a quoted document name");
    }
    if (rest.size() < 3 || rest.back() != L'"') {
        return Fail(outcome, L"the message must end with the quoted PS file path");
    }
    std::wstring inner = rest.substr(2, rest.size() - 3);
    size_t separator = inner.rfind(L"\" \"");
    if (separator == std::wstring::npos) {
        return Fail(outcome, L"the message needs two quoted fields");
    }
    std::wstring document = inner.substr(0, separator);
    std::wstring path = inner.substr(separator + 3);

    if (invocation.encoding == Encoding::Hex) {
        if (!DecodeHex(document, invocation.document)) {
            return Fail(outcome, L"the document name is not valid hex");
        }
        if (!DecodeHex(path, invocation.psFilePath)) {
            return Fail(outcome, L"the PS file path is not valid hex");
        }
    } else {
        invocation.document = std::move(document);
        invocation.psFilePath = std::move(path);
    }
    if (invocation.psFilePath.empty()) {
        return Fail(outcome, L"the PS file path is empty");
    }
    if (invocation.psFilePath.find(L'"') != std::wstring::npos) {
        return Fail(outcome, L"the PS file path contains a quote");
    }
    outcome.ok = true;
    return outcome;
}

bool ParseOptions(const std::vector<std::wstring>& options, Settings& settings,
                  std::wstring& error) {
    for (size_t i = 0; i < options.size(); ++i) {
        const std::wstring& option = options[i];
        if (option == L"--help" || option == L"-h" || option == L"/?") {
            settings.help = true;
        } else if (option == L"--pdf") {
            settings.pdf = true;
        } else if (option == L"--out" || option == L"--log" || option == L"--gs" ||
                   option == L"--pdf-timeout") {
            if (i + 1 >= options.size() || options[i + 1].empty()) {
                error = option + L" needs a value";
                return false;
            }
            const std::wstring& value = options[++i];
            if (option == L"--pdf-timeout") {
                size_t digits = value.find_first_not_of(L"0123456789");
                unsigned long seconds = value.size() <= 4 && digits == std::wstring::npos
                                            ? std::wcstoul(value.c_str(), nullptr, 10)
                                            : 0;
                if (seconds < 1 || seconds > 3600) {
                    error = L"--pdf-timeout needs whole seconds from 1 to 3600";
                    return false;
                }
                settings.pdfTimeoutSeconds = static_cast<unsigned>(seconds);
            } else if (option == L"--gs") {
                settings.gsPath = value;
                settings.pdf = true;
            } else {
                (option == L"--out" ? settings.outDir : settings.logPath) = value;
            }
        } else {
            error = L"unknown option " + option;
            return false;
        }
    }
    return true;
}

std::wstring SafeFileStem(const std::wstring& document) {
    constexpr size_t kMaxLength = 80;
    static const std::wstring kReserved = L"<>:\"/\\|?*";

    std::wstring stem;
    for (size_t i = 0; i < document.size(); ++i) {
        wchar_t c = document[i];
        if (IsHighSurrogate(c) && i + 1 < document.size() && IsLowSurrogate(document[i + 1])) {
            if (stem.size() + 2 > kMaxLength) {
                break;
            }
            stem.push_back(c);
            stem.push_back(document[++i]);
            continue;
        }
        if (stem.size() + 1 > kMaxLength) {
            break;
        }
        bool bad = c < 32 || c == 127 || IsHighSurrogate(c) || IsLowSurrogate(c) ||
                   kReserved.find(c) != std::wstring::npos;
        stem.push_back(bad ? L'_' : c);
    }

    // Windows drops trailing dots and blanks from names; leading blanks only
    // make the file hard to find.
    while (!stem.empty() && (stem.back() == L' ' || stem.back() == L'.')) {
        stem.pop_back();
    }
    size_t first = stem.find_first_not_of(L' ');
    stem.erase(0, first == std::wstring::npos ? stem.size() : first);
    if (stem.empty()) {
        return L"Document";
    }

    // CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices, with any extension.
    std::wstring base = stem.substr(0, stem.find(L'.'));
    while (!base.empty() && base.back() == L' ') {
        base.pop_back();
    }
    for (wchar_t& c : base) {
        if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    bool device = base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL";
    if (base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
        base[3] >= L'1' && base[3] <= L'9') {
        device = true;
    }
    if (device) {
        stem.insert(stem.begin(), L'_');
    }
    return stem;
}

std::wstring NumberedStem(const std::wstring& stem, unsigned attempt) {
    if (attempt <= 1) {
        return stem;
    }
    return stem + L" (" + std::to_wstring(attempt) + L")";
}

std::string Utf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned long cp = static_cast<unsigned short>(text[i]);
        if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            cp = 0x10000 + ((cp - 0xD800) << 10) +
                 (static_cast<unsigned short>(text[i + 1]) - 0xDC00);
            ++i;
        } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::string JsonString(const std::wstring& text) {
    return JsonUtf8String(Utf8(text));
}

std::string JsonUtf8String(const std::string& utf8) {
    std::string out = "\"";
    for (char c : utf8) {
        unsigned char u = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (u < 0x20 || u == 0x7F) {
                char escape[8];
                std::snprintf(escape, sizeof(escape), "\\u%04x", u);
                out += escape;
            } else {
                out.push_back(c);
            }
        }
    }
    out += "\"";
    return out;
}

std::string RecordJson(const JobRecord& record) {
    std::string json = "{\n";
    json += "  \"document\": " + JsonString(record.document) + ",\n";
    json += std::string("  \"encoding\": \"") +
            (record.encoding == Encoding::Hex ? "hex" : "plain") + "\",\n";
    json += "  \"originalPath\": " + JsonString(record.originalPath) + ",\n";
    json += "  \"capturedPath\": " + JsonString(record.capturedPath) + ",\n";
    json += "  \"size\": " + std::to_string(record.size) + ",\n";
    json += "  \"time\": " + JsonString(record.time);
    const PdfResult& pdf = record.pdf;
    if (pdf.outcome != PdfOutcome::NotRequested) {
        // null, not 0 or "", for what is not known: a consumer must not
        // mistake a failed conversion for an empty document.
        json += ",\n  \"pdf\": {\n";
        json += std::string("    \"outcome\": \"") + OutcomeName(pdf.outcome) + "\",\n";
        json += "    \"path\": " + (pdf.path.empty() ? "null" : JsonString(pdf.path)) + ",\n";
        json += "    \"pages\": " + (pdf.pages < 0 ? "null" : std::to_string(pdf.pages)) + ",\n";
        json += "    \"message\": " + JsonUtf8String(pdf.message) + "\n  }";
    }
    json += "\n}\n";
    return json;
}

} // namespace zeldispatch
