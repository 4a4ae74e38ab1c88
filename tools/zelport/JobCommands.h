#pragma once

// Jobs: print sends a file as a RAW job; submit sends it as a solicited job
// and waits for the monitor's result in the job key.

#include <string>

#include "zelport/Arguments.h"

namespace zelport {

int RunPrint(const Command& command);
int RunSubmit(const Command& command);

// A printed file's document name by default: its name without folder and
// without its last extension (C:\in\memo.ps prints as "memo").
std::wstring DefaultDocumentName(const std::wstring& path);

} // namespace zelport
