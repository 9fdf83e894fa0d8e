#pragma once
// Reading a page or script from disk with a size cap (internal to the web view).
#include <cstddef>
#include <filesystem>
#include <string>

namespace platform {

class URLRequest;

// Gives `request` the web view's user-agent text as "User-Agent", unless it names its own.
void setUserAgent(URLRequest& request);

struct FileRead {
    enum class Status { Ok, Missing, TooLarge };
    Status status = Status::Missing;
    std::string bytes;
};

// The whole file, or Missing (no regular file, or unreadable) or TooLarge (over `limit`).
FileRead readFileWithLimit(const std::filesystem::path& path, std::size_t limit);

} // namespace platform
