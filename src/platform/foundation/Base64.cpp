#include "platform/foundation/Base64.h"

#include <array>
#include <cstdint>

namespace platform {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kPad = '=';

constexpr std::array<std::int8_t, 256> makeReverse() {
    std::array<std::int8_t, 256> table{};
    for (auto& e : table)
        e = -1;
    for (int i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
    return table;
}
constexpr auto kReverse = makeReverse();

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

} // namespace

std::string base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    auto at = [&](std::size_t k) { return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[k])); };
    for (; i + 3 <= bytes.size(); i += 3) {
        std::uint32_t v = (at(i) << 16) | (at(i + 1) << 8) | at(i + 2);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    std::size_t rest = bytes.size() - i;
    if (rest == 1) {
        std::uint32_t v = at(i) << 16;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kPad;
        out += kPad;
    } else if (rest == 2) {
        std::uint32_t v = (at(i) << 16) | (at(i + 1) << 8);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kPad;
    }
    return out;
}

std::string base64Encode(const Data& bytes) {
    return base64Encode(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::optional<Data> base64Decode(std::string_view text) {
    Data out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t bits = 0;
    int held = 0;    // digits in the current group of four
    int padding = 0; // padding characters seen
    for (char c : text) {
        if (isSpace(c))
            continue;
        if (c == kPad) {
            ++padding;
            if (padding > 2)
                return std::nullopt;
            continue;
        }
        if (padding)
            return std::nullopt; // a digit after padding
        int v = kReverse[static_cast<unsigned char>(c)];
        if (v < 0)
            return std::nullopt;
        bits = (bits << 6) | static_cast<std::uint32_t>(v);
        if (++held == 4) {
            out.push_back(static_cast<std::uint8_t>(bits >> 16));
            out.push_back(static_cast<std::uint8_t>(bits >> 8));
            out.push_back(static_cast<std::uint8_t>(bits));
            bits = 0;
            held = 0;
        }
    }
    switch (held) {
    case 0:
        if (padding)
            return std::nullopt;
        break;
    case 1:
        return std::nullopt; // six bits make no byte
    case 2:
        if (padding && padding != 2)
            return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(bits >> 4));
        break;
    case 3:
        if (padding && padding != 1)
            return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(bits >> 10));
        out.push_back(static_cast<std::uint8_t>(bits >> 2));
        break;
    }
    return out;
}

} // namespace platform
