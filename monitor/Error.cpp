#include "monitor/Error.h"

#include <utility>

namespace Brambleworth {
namespace Zel {

Error::Error(std::uint32_t code, const char* function, std::uint32_t line,
             std::uint64_t systemError, std::string message)
    : count_(1) {
    ErrorFrame& frame = frames_[0];
    frame.code = code;
    frame.function = function ? function : "";
    frame.line = function ? line : 0;
    frame.systemError = systemError;
    frame.message = std::move(message);
}

std::string Error::message() const {
    return count_ ? frames_[0].message : std::string();
}

} // namespace Zel
} // namespace Brambleworth
