#pragma once
// Helpers shared by the service endpoints: bounded reads of fixture files, the check that a
// name taken from a request is one plain file name, and the first missing query item.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "services/ServiceHost.h"

namespace services {

inline constexpr std::uintmax_t kMaximumFixtureBytes = 1024 * 1024;

// The whole file, or nullopt when it is missing, not a regular file or over `maximumBytes`.
std::optional<std::string> readFixture(const std::filesystem::path& path,
                                       std::uintmax_t maximumBytes = kMaximumFixtureBytes);

// A name that is one plain file name: letters, digits, "-", "_" and "."; not empty and not
// starting with a dot, so it can never leave its folder.
bool isSafeFixtureName(std::string_view name);

// The first of `names` that the request's query lacks.
template <typename Names>
std::optional<std::string> missingQueryItem(const LoggedRequest& request, const Names& names) {
    for (auto name : names)
        if (!request.queryValue(name))
            return std::string(name);
    return std::nullopt;
}

} // namespace services
