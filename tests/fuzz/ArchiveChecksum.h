#pragma once
// Keyed archives end in a CRC-32 of every byte before it, and the reader drops an archive whose
// trailer does not match. A mutated input almost never matches, so the parser behind that check
// would only ever see the seeds: the archive targets rewrite the trailer to match the bytes
// before it, and the fuzzer's changes reach the reader's parsing and object building.
#include <zlib.h>

#include <cstddef>
#include <cstdint>

#include "platform/foundation/Value.h"

namespace fwfuzz {

inline platform::Data withMatchingChecksum(const std::uint8_t* data, std::size_t size) {
    platform::Data out(data, data + size);
    if (size < 4 || size - 4 > 0xFFFFFFFFu)
        return out;
    const auto body = static_cast<uInt>(size - 4);
    const auto crc = static_cast<std::uint32_t>(crc32(crc32(0L, Z_NULL, 0), data, body));
    for (int i = 0; i < 4; ++i)
        out[body + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(crc >> (8 * i));
    return out;
}

} // namespace fwfuzz
