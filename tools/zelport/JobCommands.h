#pragma once

// Jobs: print sends a file as a RAW job; submit sends it as a solicited job
// and waits for the monitor's result in the job key.

#include <cstdint>
#include <string>

#include "zelport/Arguments.h"

namespace zelport {

int RunPrint(const Command& command);
int RunSubmit(const Command& command);

// Sixteen upper-case hex digits.
std::wstring FormatJobId(std::uint64_t value);

// The document name that makes the monitor treat a job as solicited.
std::wstring SolicitedDocumentName(const std::wstring& document, const std::wstring& jobId);

// A printed file's document name by default: its name without folder and
// without its last extension (C:\in\memo.ps prints as "memo").
std::wstring DefaultDocumentName(const std::wstring& path);

} // namespace zelport
