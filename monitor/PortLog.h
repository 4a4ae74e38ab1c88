#pragma once

// The per-port text log: how a line looks, and the stream buffer that puts the
// lines into the file.

#include <windows.h>

#include <cstdint>
#include <ostream>
#include <streambuf>
#include <string>

#include "monitor/Error.h"
#include "monitor/Resources.h"

namespace Brambleworth {
namespace Zel {
namespace PortMon {

enum class LogLevel : int { Normal = 0, Warning = 1, Error = 2 };

// The origins that the log lines name.
constexpr const char* kOpenPortName = "Brambleworth::Zel::PortMon::OpenPort";
constexpr const char* kClosePortName = "Brambleworth::Zel::PortMon::ClosePort";
constexpr const char* kStartDocPortName = "Brambleworth::Zel::PortMon::StartDocPort";
constexpr const char* kWritePortName = "Brambleworth::Zel::PortMon::WritePort";
constexpr const char* kReadPortName = "Brambleworth::Zel::PortMon::ReadPort";
constexpr const char* kEndDocPortName = "Brambleworth::Zel::PortMon::EndDocPort";

// Writes one complete line to the port's log and flushes it. Line 0 writes
// nothing; a null message writes no message piece; a zero system error writes
// no "; SEC: " piece. May throw std::bad_alloc while the line is composed.
void WriteLogLine(std::wostream& stream, const char* function, int line, LogLevel level,
                  std::uint32_t systemError, const wchar_t* message);

// Writes the Error-level line that describes a caught Error (its frame 0).
void WriteErrorLine(std::wostream& stream, const Error& error);

// The system's text for a Windows error code, trailing blanks and line ends
// removed; empty for 0 or an unknown code.
std::wstring SystemErrorText(std::uint32_t code);

// The pure halves of the writers: the line as it goes into the stream (ending
// in L'\n'), given the system text of the code. Empty when nothing is written.
std::wstring ComposeLogLine(const char* function, int line, LogLevel level,
                            std::uint32_t systemError, const wchar_t* message,
                            const std::wstring& systemText);
std::wstring ComposeErrorLine(const char* function, std::uint32_t line, const std::string& message,
                              std::uint32_t systemError, const std::wstring& systemText);
// "0x" and lower-case hex digits, '0'-padded after the prefix to 8 characters.
std::wstring FormatSystemErrorCode(std::uint32_t code);
// Removes trailing U+0020, LF and CR.
void TrimSystemText(std::wstring& text);

// The log's stream buffer. The log is Latin-1 text with CR LF line ends,
// appended to a file that other openers may share. A character above U+00FF
// cannot be written: what came before it still reaches the file, the write
// stops there and the buffer refuses everything after, for good. A line is
// handed to the file in one write when the stream is flushed, so lines of two
// port objects on one file never tear.
class LogFileBuffer : public std::wstreambuf {
public:
    LogFileBuffer() = default;
    ~LogFileBuffer() override;
    LogFileBuffer(const LogFileBuffer&) = delete;
    LogFileBuffer& operator=(const LogFileBuffer&) = delete;

    // Opens (or creates) the file for appending; false when it cannot.
    bool Open(const std::wstring& path);
    bool IsOpen() const { return file_.IsOpen(); }
    // True once a write failed or met an unrepresentable character.
    bool Broken() const { return broken_; }

protected:
    std::streamsize xsputn(const wchar_t* text, std::streamsize count) override;
    int_type overflow(int_type c) override;
    int sync() override;

private:
    bool WritePending();

    KernelHandle file_;
    std::string pending_;
    bool broken_ = false;
};

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
