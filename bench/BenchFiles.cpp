#include "bench/BenchFiles.h"

namespace zelbench {

namespace {

// Owns one kernel handle of the benchmark's own file reads.
class ScopedHandle {
public:
    explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
    ~ScopedHandle() {
        if (IsOpen()) {
            CloseHandle(handle_);
        }
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    HANDLE Get() const { return handle_; }
    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }

private:
    HANDLE handle_;
};

// Owns one directory search.
class ScopedSearch {
public:
    explicit ScopedSearch(HANDLE search) : search_(search) {}
    ~ScopedSearch() {
        if (search_ != INVALID_HANDLE_VALUE) {
            FindClose(search_);
        }
    }
    ScopedSearch(const ScopedSearch&) = delete;
    ScopedSearch& operator=(const ScopedSearch&) = delete;
    HANDLE Get() const { return search_; }

private:
    HANDLE search_;
};

} // namespace

std::vector<std::wstring> FilesIn(const std::wstring& directory, const std::wstring& pattern) {
    std::vector<std::wstring> files;
    WIN32_FIND_DATAW found;
    ScopedSearch search(FindFirstFileW((directory + pattern).c_str(), &found));
    if (search.Get() == INVALID_HANDLE_VALUE) {
        return files;
    }
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            files.push_back(directory + found.cFileName);
        }
    } while (FindNextFileW(search.Get(), &found));
    return files;
}

void DeleteFiles(const std::wstring& directory, const std::wstring& pattern) {
    for (const std::wstring& file : FilesIn(directory, pattern)) {
        DeleteFileW(file.c_str());
    }
}

bool FileHoldsStream(const std::wstring& path, const StreamPattern& pattern, std::uint64_t size,
                     std::string& why) {
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.IsOpen()) {
        why = "cannot open " + Ascii(path);
        return false;
    }
    std::vector<std::uint8_t> block(pattern.MaxSpan());
    std::uint64_t offset = 0;
    bool same = true;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), block.data(), static_cast<DWORD>(block.size()), &got, nullptr)) {
            why = "read failed at " + std::to_string(offset);
            same = false;
            break;
        }
        if (got == 0) {
            break;
        }
        if (offset + got > size) {
            why = "longer than the " + std::to_string(size) + " bytes written";
            same = false;
            break;
        }
        if (!pattern.Matches(offset, block.data(), got)) {
            why = "differs from the stream in the block at " + std::to_string(offset);
            same = false;
            break;
        }
        offset += got;
    }
    if (same && offset != size) {
        why = "holds " + std::to_string(offset) + " of " + std::to_string(size) + " bytes";
        same = false;
    }
    return same;
}

std::string ReadWholeFile(const std::wstring& path) {
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsOpen()) {
        return std::string();
    }
    std::string text;
    std::vector<char> block(1 << 20);
    DWORD got = 0;
    while (ReadFile(file.Get(), block.data(), static_cast<DWORD>(block.size()), &got, nullptr) &&
           got) {
        text.append(block.data(), got);
    }
    return text;
}

std::string Ascii(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return out;
}

} // namespace zelbench
