#include "vellum/richmedia/VellumResourceExpander.h"

#include <array>
#include <cctype>

#include "platform/foundation/Base64.h"
#include "vellum/richmedia/VellumResourceStrings.h"

namespace vellum {
namespace {

constexpr std::uint8_t kInvalid = 127;

const std::array<std::uint8_t, 256>& decodingTable() {
    static const std::array<std::uint8_t, 256> table = [] {
        std::array<std::uint8_t, 256> t;
        t.fill(kInvalid);
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (std::uint8_t i = 0; i < 64; ++i)
            t[static_cast<unsigned char>(alphabet[i])] = i;
        return t;
    }();
    return table;
}

} // namespace

VellumResourceExpander::VellumResourceExpander() {
    for (std::size_t i = 0; i < kVellumResourceStringCount; ++i)
        resourceStrings_.emplace(kVellumResourceStrings[i].name, kVellumResourceStrings[i].base64);
}

std::optional<platform::Data> VellumResourceExpander::dataForKey(std::string_view name) {
    if (auto cached = resourceData_.find(name); cached != resourceData_.end())
        return cached->second;
    auto text = resourceStrings_.find(name);
    if (text == resourceStrings_.end())
        return std::nullopt;
    auto data = dataWithBase64EncodedString(text->second);
    if (data)
        resourceData_.emplace(std::string(name), *data);
    return data;
}

std::shared_ptr<platform::Image> VellumResourceExpander::imageForKey(std::string_view name) {
    auto data = dataForKey(name);
    return data ? platform::Image::fromData(*data, std::string(name)) : nullptr;
}

std::optional<platform::Data> VellumResourceExpander::dataWithBase64EncodedString(std::string_view text) {
    const auto& table = decodingTable();
    platform::Data out;
    out.reserve((text.size() + 3) / 4 * 3);
    std::uint32_t group = 0;
    int filled = 0;
    for (unsigned char c : text) {
        if (c >= 0x80)
            return std::nullopt; // not ASCII
        if (std::isspace(c) || c == '=')
            continue;
        const std::uint8_t value = table[c];
        if (value == kInvalid)
            return std::nullopt;
        group = (group << 6) | value;
        if (++filled == 4) {
            out.push_back(static_cast<std::uint8_t>(group >> 16));
            out.push_back(static_cast<std::uint8_t>(group >> 8));
            out.push_back(static_cast<std::uint8_t>(group));
            group = 0;
            filled = 0;
        }
    }
    switch (filled) {
    case 1: return std::nullopt;
    case 2: out.push_back(static_cast<std::uint8_t>(group >> 4)); break;
    case 3:
        out.push_back(static_cast<std::uint8_t>(group >> 10));
        out.push_back(static_cast<std::uint8_t>(group >> 2));
        break;
    default: break;
    }
    return out;
}

std::string VellumResourceExpander::base64Encoding(const platform::Data& data) {
    return platform::base64Encode(data);
}

} // namespace vellum
