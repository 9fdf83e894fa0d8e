#pragma once
// Message digests and block ciphers as the platform offers them: MD5 and AES-128 in CBC mode
// without padding. Plain functions, thread-safe, no state.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/foundation/Value.h"

namespace platform {

inline constexpr std::size_t kMD5DigestLength = 16;
inline constexpr std::size_t kAES128KeyLength = 16;
inline constexpr std::size_t kAESBlockLength = 16;

std::array<std::uint8_t, kMD5DigestLength> md5Digest(std::string_view bytes);

// Encrypts `plain` (a whole number of blocks) with AES-128 in CBC mode and no padding;
// nullopt when the length is not a multiple of the block or the cipher fails.
std::optional<Data> aes128CBCEncryptNoPadding(const Data& plain,
                                              const std::array<std::uint8_t, kAES128KeyLength>& key,
                                              const std::array<std::uint8_t, kAESBlockLength>& iv);

} // namespace platform
