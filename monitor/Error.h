#pragma once

#include <cstdint>
#include <string>

namespace Brambleworth {
namespace Zel {

// One raising site: what failed (the library's error number, which a failed
// job also records as its "ErrorCode"), where, and the system's code behind it.
struct ErrorFrame {
    std::uint32_t code = 0;
    const char* function = "";
    std::uint32_t line = 0;
    std::uint64_t systemError = 0;
    std::string message;
};

// The library's exception: a plain value thrown by value and caught by const
// reference. Every raising site builds it with exactly one frame.
class Error {
public:
    static constexpr std::uint8_t kMaxFrames = 5;

    Error(std::uint32_t code, const char* function, std::uint32_t line, std::uint64_t systemError,
          std::string message);

    std::uint8_t FrameCount() const { return count_; }
    const ErrorFrame& Frame(std::uint8_t index) const { return frames_[index]; }

    // Frame 0's fields, or zero/empty when the error carries no frame.
    std::string message() const;
    std::uint32_t Code() const { return count_ ? frames_[0].code : 0; }
    std::uint32_t Line() const { return count_ ? frames_[0].line : 0; }
    const char* Function() const { return count_ ? frames_[0].function : ""; }
    std::uint32_t SystemError() const {
        return count_ ? static_cast<std::uint32_t>(frames_[0].systemError) : 0;
    }

protected:
    // Only the tests need an error without frames (a caught error must then
    // still turn into a FALSE result).
    Error() = default;

private:
    std::uint8_t count_ = 0;
    ErrorFrame frames_[kMaxFrames];
};

} // namespace Zel
} // namespace Brambleworth
