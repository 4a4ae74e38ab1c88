// What every benchmark section shares (see Bench.h).

#include "bench/Bench.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>

#include "common/Spooler.h"
#include "common/Text.h"
#include "common/Wine.h"
#include "harness/PortSupport.h"
#include "harness/SpoolerHarness.h"
#include "registry/RegistryLayout.h"

// After windows.h, which Bench.h brings in.
#include <psapi.h>

namespace zelbench {

double Stopwatch::Seconds() const {
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start_.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    const std::size_t middle = samples.size() / 2;
    return samples.empty()      ? 0.0
           : samples.size() % 2 ? samples[middle]
                                : (samples[middle - 1] + samples[middle]) / 2.0;
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

double MegabytesPerSecond(std::uint64_t bytes, double seconds) {
    return seconds > 0.0 ? static_cast<double>(bytes) / seconds / 1e6 : 0.0;
}

const std::uint8_t* Stream(std::uint64_t offset) {
    static const std::size_t period = kMiB + 4099;
    static const std::vector<std::uint8_t> bytes = [] {
        std::vector<std::uint8_t> stream(period + kMiB);
        std::uint64_t state = 0x9E3779B97F4A7C15ULL;
        for (std::size_t i = 0; i < stream.size(); ++i) {
            // xorshift64 for one period, then the period again so spans never wrap.
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            stream[i] = i < period ? static_cast<std::uint8_t>(state >> 24) : stream[i - period];
        }
        return stream;
    }();
    return bytes.data() + offset % period;
}

bool FileHoldsStream(const std::wstring& path, std::uint64_t start, std::uint64_t size) {
    const std::string bytes = zeltest::ReadFileBytes(path);
    if (bytes.size() != size) {
        return false;
    }
    for (std::uint64_t offset = 0; offset < size; offset += kMiB) {
        const std::size_t span =
            static_cast<std::size_t>(std::min<std::uint64_t>(kMiB, size - offset));
        if (std::memcmp(bytes.data() + offset, Stream(start + offset), span) != 0) {
            return false;
        }
    }
    return true;
}

namespace {
namespace Layout = Brambleworth::Zel::Registry;
const wchar_t* const kDriver = L"Zel Bench PostScript";
} // namespace

std::uint64_t StreamStart(int job) {
    return static_cast<std::uint64_t>(job) * 7919;
}

std::wstring JobId(int job) {
    wchar_t id[17];
    swprintf(id, 17, L"0BE4C40C%08X", static_cast<unsigned>(job));
    return id;
}

SolicitedKey::SolicitedKey(const std::wstring& id, const std::wstring& directory)
    : ScopedJobKey(id) {
    zeltest::SetString(HKEY_CURRENT_USER, Path(), Layout::kTempDirPathValue, directory);
}

bool SolicitedKey::PSFile(std::wstring& path) const {
    return zeltest::ReadString(HKEY_CURRENT_USER, Path(), Layout::kPSFilePathValue, path);
}

bool SolicitedKey::Captured(std::wstring& path) const {
    DWORD error = zeltest::kPoison;
    return PSFile(path) &&
           zeltest::ReadDword(HKEY_CURRENT_USER, Path(), Layout::kErrorCodeValue, error) &&
           error == 0;
}

SpoolerRun::SpoolerRun(const std::wstring& directory)
    : directory_(directory), dispatched_(directory + L"dispatched\\") {
    CreateDirectoryW(directory_.c_str(), nullptr);
    CreateDirectoryW(dispatched_.c_str(), nullptr);
}

SpoolerRun::~SpoolerRun() {
    for (const auto& printer : printers_) {
        if (printer->Valid()) {
            DeletePrinter(printer->Get());
        }
    }
    printers_.clear();
    for (const std::wstring& port : portNames_) {
        zeltest::DeletePortLog(port);
    }
    for (const wchar_t* pattern : {L"*.ps", L"*.json"}) {
        DeleteFiles(dispatched_, pattern);
    }
    for (const wchar_t* pattern : {L"ps*.tmp", L"*.prn", L"*.txt", L"dispatch.log"}) {
        DeleteFiles(directory_, pattern);
    }
    RemoveDirectoryW(dispatched_.c_str());
    RemoveDirectoryW(directory_.c_str());
}

void SpoolerRun::AddPort(const std::wstring& port, const std::wstring& dispatcher) {
    ports_.Add(port);
    portNames_.push_back(port);
    zeltest::DeletePortLog(port);
    zeltest::SetString(
        HKEY_LOCAL_MACHINE, zeltest::PortKeyPath(port), Layout::kPrintDispatcherFilePathValue,
        !dispatcher.empty() ? dispatcher
                            : L"\"" + zeltest::ProgramDirectory() + L"zel-dispatch.exe\" --out \"" +
                                  dispatched_.substr(0, dispatched_.size() - 1) + L"\" --log \"" +
                                  directory_ + L"dispatch.log\"");
}

bool SpoolerRun::AddPrinter(const std::wstring& name, const std::wstring& port) {
    // Any listing has the spooler load the monitor, whose host then routes
    // ports written straight into the registry.
    std::vector<zeltools::SpoolerPort> ports;
    zeltools::ListSpoolerPorts(ports);
    printers_.push_back(std::make_unique<zeltools::ScopedPrinter>());
    zeltools::ScopedPrinter& printer = *printers_.back();
    // A printer of that name left behind by an interrupted run.
    std::wstring printerName = name;
    PRINTER_DEFAULTSW all{nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (OpenPrinterW(&printerName[0], printer.Out(), &all)) {
        DeletePrinter(printer.Get());
        printer.Reset();
    }
    return (zeltools::InstallWinePostScriptDriver(kDriver) ||
            GetLastError() == ERROR_PRINTER_DRIVER_ALREADY_INSTALLED) &&
           zeltools::AddRawPrinter(name, port, kDriver, printer);
}

bool SpoolerRun::Arrived(const SolicitedKey* key, const std::wstring& document, int job,
                         std::uint64_t bytes) const {
    std::wstring path = dispatched_ + document + L".ps";
    const bool whole =
        (!key || key->Captured(path)) && FileHoldsStream(path, StreamStart(job), bytes);
    DeleteFileW(path.c_str());
    DeleteFileW((dispatched_ + document + L".json").c_str());
    return whole;
}

void ForJobs(int threads, int from, int to, const std::function<void(int job, int thread)>& job) {
    std::atomic<int> next{from};
    std::vector<std::unique_ptr<zeltest::TestThread>> running;
    for (int thread = 0; thread < threads; ++thread) {
        running.push_back(std::make_unique<zeltest::TestThread>([&, thread] {
            for (int n; (n = next++) < to;) {
                job(n, thread);
            }
        }));
    }
    running.clear(); // joins them
}

std::string PrintJob(const std::wstring& printer, const std::wstring& document, int job,
                     std::uint64_t bytes, const std::wstring& outputFile) {
    std::uint64_t offset = 0;
    const auto piece = [&](const char*& data, DWORD& size) {
        size = static_cast<DWORD>(std::min<std::uint64_t>(kPiece, bytes - offset));
        data = reinterpret_cast<const char*>(Stream(StreamStart(job) + offset));
        offset += size;
        return true;
    };
    const zeltools::RawJobResult result = zeltools::PrintRaw(printer, document, piece, outputFile);
    return result.failure.empty()
               ? std::string()
               : zeltools::ToUtf8(result.failure) + " (error " + std::to_string(result.error) + ")";
}

void Results::Row(const std::string& item, const std::string& label, const std::string& value,
                  const std::string& unit, const std::string& notes) {
    char line[512];
    std::snprintf(line, sizeof line, "%-24s %-26s %10s %-7s %s", item.c_str(), label.c_str(),
                  value.c_str(), unit.c_str(), notes.c_str());
    std::string text = line;
    text.erase(text.find_last_not_of(' ') + 1);
    rows.push_back(text);
}

bool Results::Check(bool ok, const std::string& what) {
    if (!ok) {
        failures.push_back(what);
    }
    return ok;
}

std::wstring BenchDirectory() {
    const std::wstring directory = zeltest::TempDirectory() + L"zel-bench\\";
    CreateDirectoryW(directory.c_str(), nullptr);
    return directory;
}

int DeleteFiles(const std::wstring& directory, const wchar_t* pattern) {
    WIN32_FIND_DATAW found;
    const zeltools::Owned<HANDLE, &FindClose> search(
        FindFirstFileW((directory + pattern).c_str(), &found));
    int deleted = 0;
    for (bool more = search.Valid(); more; more = FindNextFileW(search.Get(), &found)) {
        deleted += DeleteFileW((directory + found.cFileName).c_str()) != FALSE;
    }
    return deleted;
}

std::uint64_t PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof counters);
    // Windows reports the same commit charge in both fields; Wine fills only the
    // older one.
    return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

void Results::Goal(const std::string& name, double value, double limit, bool atLeast) {
    summary.push_back(name + ": " + Fixed(value, 3));
    const bool met = atLeast ? value >= limit : value <= limit;
    goals.push_back(summary.back() + (atLeast ? " >= " : " <= ") + Fixed(limit, 2) +
                    (met ? ": met" : ": MISSED"));
}

} // namespace zelbench
