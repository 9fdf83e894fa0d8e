#include "platform/ui/FileSupport.h"

#include <fstream>
#include <random>
#include <system_error>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/Strings.h"

namespace platform::detail {

bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, std::string* reason) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    if (ec) {
        if (reason)
            *reason = "cannot create " + path.parent_path().string() + ": " + ec.message();
        return false;
    }
    Error error;
    if (!FileManager::writeAtomically(path, bytes, &error)) {
        if (reason)
            *reason = error.localizedDescription;
        return false;
    }
    return true;
}

std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::size_t maxBytes) {
    std::error_code ec;
    auto size = std::filesystem::file_size(path, ec);
    if (ec || size > maxBytes)
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string data(size, '\0');
    in.read(data.data(), std::streamsize(size));
    if (std::size_t(in.gcount()) != size)
        return std::nullopt;
    return data;
}

std::string randomBytes(std::size_t count) {
    static thread_local std::random_device device;
    std::string out;
    out.reserve(count);
    while (out.size() < count) {
        unsigned v = device();
        for (int i = 0; i < 4 && out.size() < count; ++i)
            out.push_back(char((v >> (8 * i)) & 0xFF));
    }
    return out;
}

} // namespace platform::detail
