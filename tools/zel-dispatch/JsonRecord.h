#pragma once

// The JSON record zel-dispatch leaves beside each job it files.

#include <string>

#include "zel-dispatch/Ghostscript.h"
#include "zel-dispatch/MessageParser.h"

namespace zeldispatch {

struct JobRecord {
    std::wstring document;
    Encoding encoding = Encoding::Plain;
    std::wstring originalPath;
    std::wstring capturedPath;
    unsigned long long size = 0;
    std::wstring time; // ISO 8601, UTC
    std::wstring user; // the user the dispatcher runs as
    PdfResult pdf;     // in the record unless not requested
};

// The record as UTF-8 JSON, its fields in a fixed order.
std::string RecordJson(const JobRecord& record);

// A JSON string literal of `text` (with its quotes), as the dispatcher's log
// quotes document names.
std::wstring JsonQuoted(const std::wstring& text);

} // namespace zeldispatch
