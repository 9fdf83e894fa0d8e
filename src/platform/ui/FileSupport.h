#pragma once
// Internal to the user-interface library: small file helpers for the state it keeps in the
// device home (device token, device identifier, composed mail).
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform::detail {

// Writes `bytes` to `path` through a temporary file in the same folder and a rename, so the
// path holds either the old content or the whole new one. Creates the folder when needed.
// Answers false and fills `reason` on failure.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::string* reason = nullptr);
// The whole file, or nullopt when it cannot be read or is larger than `maxBytes`.
std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::size_t maxBytes);
// `count` bytes from the system's random source.
std::string randomBytes(std::size_t count);

} // namespace platform::detail
