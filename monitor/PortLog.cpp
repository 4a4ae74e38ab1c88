#include "monitor/PortLog.h"

namespace Brambleworth {
namespace Zel {
namespace PortMon {

namespace {

const wchar_t* Tag(LogLevel level) {
    switch (level) {
    case LogLevel::Normal:
        return L"       : ";
    case LogLevel::Warning:
        return L"WARNING: ";
    case LogLevel::Error:
        return L"ERROR  : ";
    }
    return L"";
}

// Library names and messages are narrow; each byte is taken as a signed char,
// as the log has always done, so plain ASCII keeps its value.
void AppendWidened(std::wstring& out, const char* text) {
    for (; *text; ++text) {
        out.push_back(static_cast<wchar_t>(static_cast<signed char>(*text)));
    }
}

void AppendSystemError(std::wstring& out, std::uint32_t code, const std::wstring& systemText) {
    out += L"; SEC: ";
    out += FormatSystemErrorCode(code);
    out += L": ";
    out += systemText;
}

void WriteComposed(std::wostream& stream, const std::wstring& line) {
    if (line.empty()) {
        return;
    }
    stream.write(line.data(), static_cast<std::streamsize>(line.size()));
    stream.flush();
}

} // namespace

std::wstring FormatSystemErrorCode(std::uint32_t code) {
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring digits;
    do {
        digits.insert(digits.begin(), kDigits[code & 0xF]);
        code >>= 4;
    } while (code);
    // Readers are people: the padding goes between the prefix and the digits.
    constexpr std::size_t kWidth = 8;
    std::wstring text = L"0x";
    if (digits.size() + 2 < kWidth) {
        text.append(kWidth - 2 - digits.size(), L'0');
    }
    return text + digits;
}

void TrimSystemText(std::wstring& text) {
    while (!text.empty() && (text.back() == L' ' || text.back() == L'\n' || text.back() == L'\r')) {
        text.pop_back();
    }
}

std::wstring ComposeLogLine(const char* function, int line, LogLevel level,
                            std::uint32_t systemError, const wchar_t* message,
                            const std::wstring& systemText) {
    std::wstring out;
    if (line == 0) {
        return out;
    }
    out.reserve(128);
    out += Tag(level);
    AppendWidened(out, function ? function : "");
    out += L": #";
    out += std::to_wstring(line);
    if (message) {
        out += L": ";
        out += message;
    }
    if (systemError != 0) {
        AppendSystemError(out, systemError, systemText);
    }
    out += L'\n';
    return out;
}

std::wstring ComposeErrorLine(const char* function, std::uint32_t line, const std::string& message,
                              std::uint32_t systemError, const std::wstring& systemText) {
    // An error's message ends in ": " so that the system's text reads on from
    // it; an empty message adds no message piece at all.
    std::wstring widened;
    AppendWidened(widened, message.c_str());
    if (!widened.empty()) {
        widened += L": ";
    }
    return ComposeLogLine(function, static_cast<int>(line), LogLevel::Error, systemError,
                          widened.empty() ? nullptr : widened.c_str(), systemText);
}

std::wstring SystemErrorText(std::uint32_t code) {
    if (code == 0) {
        return std::wstring();
    }
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                      FORMAT_MESSAGE_FROM_SYSTEM,
                                  nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (length == 0 || !buffer) {
        return std::wstring();
    }
    // The system's buffer must go back even when the copy runs out of memory.
    struct LocalBuffer {
        wchar_t* text;
        ~LocalBuffer() { LocalFree(text); }
    } owned{buffer};
    std::wstring text(owned.text, length);
    TrimSystemText(text);
    return text;
}

void WriteLogLine(std::wostream& stream, const char* function, int line, LogLevel level,
                  std::uint32_t systemError, const wchar_t* message) {
    if (line == 0) {
        return;
    }
    WriteComposed(stream, ComposeLogLine(function, line, level, systemError, message,
                                         SystemErrorText(systemError)));
}

void WriteErrorLine(std::wostream& stream, const Error& error) {
    if (error.Line() == 0) {
        return;
    }
    const std::uint32_t code = error.SystemError();
    WriteComposed(stream, ComposeErrorLine(error.Function(), error.Line(), error.message(), code,
                                           SystemErrorText(code)));
}

LogFileBuffer::~LogFileBuffer() {
    WritePending();
}

bool LogFileBuffer::Open(const std::wstring& path) {
    // Append-only access makes every write land at the current end of the
    // file, also when another port object of the same name appends at once.
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    *file_.Receive() = file;
    return true;
}

std::streamsize LogFileBuffer::xsputn(const wchar_t* text, std::streamsize count) {
    if (broken_ || !file_.IsOpen()) {
        return 0;
    }
    for (std::streamsize i = 0; i < count; ++i) {
        const wchar_t c = text[i];
        if (static_cast<std::uint16_t>(c) > 0xFF) {
            // What came before the character belongs in the file even though
            // the stream now fails and will never flush again.
            WritePending();
            broken_ = true;
            return i;
        }
        if (c == L'\n') {
            pending_ += "\r\n";
        } else {
            pending_ += static_cast<char>(static_cast<unsigned char>(c));
        }
    }
    return count;
}

LogFileBuffer::int_type LogFileBuffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        return traits_type::not_eof(c);
    }
    const wchar_t character = traits_type::to_char_type(c);
    return xsputn(&character, 1) == 1 ? c : traits_type::eof();
}

int LogFileBuffer::sync() {
    if (broken_ || !file_.IsOpen()) {
        return -1;
    }
    return WritePending() ? 0 : -1;
}

bool LogFileBuffer::WritePending() {
    if (pending_.empty()) {
        return true;
    }
    bool written = false;
    if (file_.IsOpen() && !broken_) {
        DWORD count = 0;
        written = WriteFile(file_.Get(), pending_.data(), static_cast<DWORD>(pending_.size()),
                            &count, nullptr) &&
                  count == pending_.size();
    }
    pending_.clear();
    if (!written) {
        broken_ = true;
    }
    return written;
}

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
