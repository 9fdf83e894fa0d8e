#pragma once
// The general pasteboard: the one text the user can paste into any application. There is no
// other application here to paste into, so the text is kept for the process (tests and the
// runner's screen read it). One shared instance (generalPasteboard); thread-safe.
#include <mutex>
#include <optional>
#include <string>

namespace platform {

class Pasteboard {
public:
    static Pasteboard& generalPasteboard();
    // Empties the general pasteboard.
    static void resetForTesting();

    // The text on the pasteboard; nullopt when it holds none.
    std::optional<std::string> string() const;
    void setString(std::string text);

private:
    Pasteboard() = default;
    mutable std::mutex mutex_;
    std::optional<std::string> string_;
};

} // namespace platform
