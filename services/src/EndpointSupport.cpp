#include "EndpointSupport.h"

#include <fstream>
#include <sstream>
#include <system_error>

namespace services {

std::optional<std::string> readFixture(const std::filesystem::path& path, std::uintmax_t maximumBytes) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return std::nullopt;
    auto size = std::filesystem::file_size(path, ec);
    if (ec || size > maximumBytes)
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool isSafeFixtureName(std::string_view name) {
    if (name.empty() || name.front() == '.')
        return false;
    for (unsigned char c : name) {
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                  c == '_' || c == '.';
        if (!ok)
            return false;
    }
    return true;
}

} // namespace services
