#pragma once

// Reading the message the monitor starts us with:
//
//   <dispatcher command> Zel::Create::Plain "<document>" "<PS file path>"
//   <dispatcher command> Zel::Create::Hex "<hex document>" "<hex PS file path>"
//
// where the dispatcher command is our own path plus any options the port's
// registry value carries. Nothing inside the quotes is escaped, so a document
// name may itself hold '"' or '" "'; a Windows path never holds '"', which is
// why the fields are split from the right-hand end.

#include <string>
#include <vector>

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

} // namespace zeldispatch
