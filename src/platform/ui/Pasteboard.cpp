#include "platform/ui/Pasteboard.h"

namespace platform {

Pasteboard& Pasteboard::generalPasteboard() {
    static auto* board = new Pasteboard();
    return *board;
}

void Pasteboard::resetForTesting() {
    auto& board = generalPasteboard();
    std::lock_guard lock(board.mutex_);
    board.string_.reset();
}

std::optional<std::string> Pasteboard::string() const {
    std::lock_guard lock(mutex_);
    return string_;
}

void Pasteboard::setString(std::string text) {
    std::lock_guard lock(mutex_);
    string_ = std::move(text);
}

} // namespace platform
