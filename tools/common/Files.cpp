#include "common/Files.h"

namespace zeltools {

bool OpenShared(const std::wstring& path, ScopedHandle& file) {
    file.Reset(CreateFileW(path.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.Valid();
}

unsigned long long FileSize(const ScopedHandle& file) {
    LARGE_INTEGER size{};
    return GetFileSizeEx(file.Get(), &size) ? static_cast<unsigned long long>(size.QuadPart) : 0;
}

std::string ReadFrom(const ScopedHandle& file, unsigned long long offset) {
    std::string bytes;
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(file.Get(), position, nullptr, FILE_BEGIN)) {
        return bytes;
    }
    char chunk[64 * 1024];
    DWORD got = 0;
    while (ReadFile(file.Get(), chunk, sizeof(chunk), &got, nullptr) && got > 0) {
        bytes.append(chunk, got);
    }
    return bytes;
}

std::string ReadFileBytes(const std::wstring& path) {
    ScopedHandle file;
    return OpenShared(path, file) ? ReadFrom(file, 0) : std::string();
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes, DWORD disposition) {
    // Appenders share the file with each other: two dispatchers of jobs that
    // end at once both get their line in, each landing whole at the end.
    const bool append = disposition == OPEN_ALWAYS;
    ScopedHandle file(CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE,
                                  append ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ,
                                  nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file.Valid() ||
        !WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
        return false;
    }
    if (written != bytes.size()) {
        SetLastError(ERROR_WRITE_FAULT);
        return false;
    }
    return true;
}

} // namespace zeltools
