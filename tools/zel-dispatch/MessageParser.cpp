#include "zel-dispatch/MessageParser.h"

#include "common/Process.h"

namespace zeldispatch {

namespace {

const std::wstring kPlainKeyword = L"Zel::Create::Plain";
const std::wstring kHexKeyword = L"Zel::Create::Hex";

// Keeps the options read so far: --out and --log still say where a bad
// command line gets logged.
ParseOutcome Fail(ParseOutcome& outcome, const std::wstring& error) {
    outcome.ok = false;
    outcome.error = error;
    return outcome;
}

} // namespace

bool DecodeHex(const std::wstring& digits, std::wstring& text) {
    if (digits.size() % 4 != 0 ||
        digits.find_first_not_of(L"0123456789abcdefABCDEF") != std::wstring::npos) {
        return false;
    }
    std::wstring decoded;
    for (size_t i = 0; i < digits.size(); i += 4) {
        decoded.push_back(static_cast<wchar_t>(std::stoul(digits.substr(i, 4), nullptr, 16)));
    }
    text = std::move(decoded);
    return true;
}

ParseOutcome ParseCommandLine(const std::wstring& line) {
    ParseOutcome outcome;
    Invocation& invocation = outcome.invocation;

    // Our own options come first, each split off as the program name is; the
    // keyword, unquoted, ends them.
    size_t pos = 0;
    zeltools::CommandProgram(line, pos);
    for (;;) {
        pos = line.find_first_not_of(L" \t", pos);
        if (pos == std::wstring::npos) {
            return Fail(outcome,
                        L"no Zel::Create::Plain or Zel::Create::Hex message on the command line");
        }
        if (line[pos] == L'"' && line.find(L'"', pos + 1) == std::wstring::npos) {
            return Fail(outcome, L"unterminated quote in the options");
        }
        size_t end = 0;
        std::wstring token = zeltools::CommandProgram(line.substr(pos), end);
        const bool keyword = line[pos] != L'"' && (token == kPlainKeyword || token == kHexKeyword);
        pos += end;
        if (keyword) {
            invocation.encoding = token == kPlainKeyword ? Encoding::Plain : Encoding::Hex;
            break;
        }
        invocation.options.push_back(std::move(token));
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

} // namespace zeldispatch
