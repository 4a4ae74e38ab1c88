#pragma once

// Printing through Wine's real spooler from a test or benchmark: a RAW printer
// on a port and RAW jobs sent to it, as an application prints.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "common/Handles.h"

namespace zeltest {

// A printer that takes RAW jobs on `port`, with Wine's PostScript driver
// installed first when missing; a printer of that name left behind by an
// interrupted run is deleted first. It is deleted again at the end.
class RawPrinter {
public:
    RawPrinter(const std::wstring& name, const std::wstring& port);
    ~RawPrinter();
    RawPrinter(const RawPrinter&) = delete;
    RawPrinter& operator=(const RawPrinter&) = delete;
    // False when it could not be added; the last error then says why.
    bool Ready() const { return printer_.Get() != nullptr; }
    const std::wstring& Name() const { return name_; }

private:
    std::wstring name_;
    zeltools::ScopedPrinter printer_;
};

// Where a job's bytes from `offset` on are; each call is read for at most
// kPrintPiece bytes.
using JobBytes = std::function<const void*(std::uint64_t offset)>;
constexpr std::uint32_t kPrintPiece = 64 * 1024;

// One RAW job of `size` bytes, written in pieces of kPrintPiece as an
// application writes a large job; `outputFile` is the job's print-to-file
// target (empty: none). True when every call succeeded.
bool PrintRaw(const std::wstring& printer, const std::wstring& document, std::uint64_t size,
              const JobBytes& bytes, const std::wstring& outputFile = std::wstring());

} // namespace zeltest
