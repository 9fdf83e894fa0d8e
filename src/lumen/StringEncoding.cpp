#include "lumen/StringEncoding.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <stdexcept>
#include <vector>

#include "platform/foundation/Error.h"

namespace lumen {

namespace {

constexpr std::string_view kBase64Websafe =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr std::string_view kBase64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view kBase32 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
constexpr std::string_view kBase32Hex = "0123456789ABCDEFGHIJKLMNOPQRSTUV";
constexpr std::string_view kCrockford = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";
constexpr std::string_view kCrockfordSynonyms = "0oO1iIlLAaBbCcDdEeFfGgHhJjKkMmNnPpQqRrSsTtVvWwXxYyZz";
constexpr std::string_view kHex = "0123456789ABCDEF";
constexpr std::string_view kHexSynonyms = "AaBbCcDdEeFf";
constexpr std::string_view kBinary = "01";
constexpr char kPaddingChar = '=';
constexpr std::size_t kMaximumAlphabet = 128;
constexpr int kStackFrames = 64;
constexpr const char* kNoSymbol = "???";
constexpr const char* kNoImage = "??";
// The name of the exception that an internal consistency check raises.
constexpr const char* kAssertionFailure = "AssertionFailure";

UTLStringEncoding make(std::string_view alphabet, bool pad) {
    auto encoding = UTLStringEncoding::stringEncodingWithString(alphabet);
    if (!encoding)
        throw std::logic_error("bad built-in alphabet");
    if (pad)
        encoding->setPaddingChar(kPaddingChar);
    encoding->setDoPad(pad);
    return *encoding;
}

} // namespace

std::optional<UTLStringEncoding> UTLStringEncoding::stringEncodingWithString(std::string_view alphabet) {
    const std::size_t length = alphabet.size();
    if (length < 2 || length > kMaximumAlphabet || (length & (length - 1)) != 0)
        return std::nullopt;
    UTLStringEncoding e;
    e.reverseCharMap_.fill(kNotInAlphabet);
    for (std::size_t i = 0; i < length; ++i) {
        auto c = static_cast<unsigned char>(alphabet[i]);
        if (c >= kMaximumAlphabet || e.reverseCharMap_[c] != kNotInAlphabet)
            return std::nullopt;
        e.reverseCharMap_[c] = static_cast<int>(i);
    }
    e.charMapData_ = std::string(alphabet);
    while ((1u << e.shift_) < length)
        ++e.shift_;
    e.mask_ = static_cast<int>(length) - 1;
    e.padLen_ = std::lcm(8, e.shift_) / e.shift_;
    return e;
}

UTLStringEncoding UTLStringEncoding::rfc4648Base64WebsafeStringEncoding() {
    return make(kBase64Websafe, true);
}
UTLStringEncoding UTLStringEncoding::rfc4648Base64StringEncoding() {
    return make(kBase64, true);
}
UTLStringEncoding UTLStringEncoding::rfc4648Base32StringEncoding() {
    return make(kBase32, true);
}
UTLStringEncoding UTLStringEncoding::rfc4648Base32HexStringEncoding() {
    return make(kBase32Hex, true);
}
UTLStringEncoding UTLStringEncoding::crockfordBase32StringEncoding() {
    auto e = make(kCrockford, false);
    e.addDecodeSynonyms(kCrockfordSynonyms);
    return e;
}
UTLStringEncoding UTLStringEncoding::hexStringEncoding() {
    auto e = make(kHex, false);
    e.addDecodeSynonyms(kHexSynonyms);
    return e;
}
UTLStringEncoding UTLStringEncoding::binaryStringEncoding() {
    return make(kBinary, false);
}

std::string UTLStringEncoding::encode(const platform::Data& data) const {
    if (data.empty())
        return {};
    const std::size_t bits = data.size() * 8;
    std::size_t digits = (bits + static_cast<std::size_t>(shift_) - 1) / static_cast<std::size_t>(shift_);
    std::size_t total = digits;
    if (doPad_) {
        const auto group = static_cast<std::size_t>(padLen_);
        total = (digits + group - 1) / group * group;
    }
    std::string out;
    out.reserve(total);
    unsigned buffer = 0;
    int held = 0;
    for (auto byte : data) {
        buffer = (buffer << 8) | byte;
        held += 8;
        while (held >= shift_) {
            held -= shift_;
            out.push_back(charMapData_[(buffer >> held) & static_cast<unsigned>(mask_)]);
        }
        buffer &= (1u << held) - 1;
    }
    if (held > 0)
        out.push_back(charMapData_[(buffer << (shift_ - held)) & static_cast<unsigned>(mask_)]);
    if (out.size() != digits)
        throw platform::NamedException(kAssertionFailure, "Underflowed output buffer");
    out.resize(total, paddingChar_);
    return out;
}

std::string UTLStringEncoding::encodeString(std::string_view text) const {
    return encode(platform::Data(text.begin(), text.end()));
}

std::optional<platform::Data> UTLStringEncoding::decode(std::string_view text) const {
    platform::Data out;
    unsigned buffer = 0;
    int held = 0;
    bool padded = false;
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (c >= kMaximumAlphabet)
            return std::nullopt;
        const int value = reverseCharMap_[c];
        if (value == kIgnored)
            continue;
        if (value == kPadding) {
            padded = true;
            continue;
        }
        if (value == kNotInAlphabet || padded)
            return std::nullopt;
        buffer = (buffer << shift_) | static_cast<unsigned>(value);
        held += shift_;
        if (held >= 8) {
            held -= 8;
            out.push_back(static_cast<std::uint8_t>(buffer >> held));
            buffer &= (1u << held) - 1;
        }
    }
    if (buffer != 0)
        return std::nullopt;
    return out;
}

std::optional<std::string> UTLStringEncoding::stringByDecoding(std::string_view text) const {
    auto data = decode(text);
    if (!data)
        return std::nullopt;
    return std::string(data->begin(), data->end());
}

void UTLStringEncoding::addDecodeSynonyms(std::string_view synonyms) {
    int current = kNotInAlphabet;
    for (char ch : synonyms) {
        auto c = static_cast<unsigned char>(ch);
        if (c >= kMaximumAlphabet)
            continue;
        if (reverseCharMap_[c] >= 0)
            current = reverseCharMap_[c];
        else
            reverseCharMap_[c] = current;
    }
}

void UTLStringEncoding::ignoreCharacters(std::string_view characters) {
    for (char ch : characters) {
        auto c = static_cast<unsigned char>(ch);
        if (c >= kMaximumAlphabet)
            continue;
        if (reverseCharMap_[c] >= 0)
            throw platform::NamedException(kAssertionFailure, "Character already mapped");
        reverseCharMap_[c] = kIgnored;
    }
}

void UTLStringEncoding::setPaddingChar(char c) {
    auto u = static_cast<unsigned char>(c);
    // A digit (or a synonym of one) stays a digit: as padding it would change what decodes.
    if (u < kMaximumAlphabet && reverseCharMap_[u] >= 0)
        throw platform::NamedException(kAssertionFailure, "Character already mapped");
    // The previous padding character is padding no more.
    auto previous = static_cast<unsigned char>(paddingChar_);
    if (previous < kMaximumAlphabet && reverseCharMap_[previous] == kPadding)
        reverseCharMap_[previous] = kNotInAlphabet;
    paddingChar_ = c;
    if (u < kMaximumAlphabet)
        reverseCharMap_[u] = kPadding;
}

std::string UTLStringEncoding::description() const {
    return "<Base" + std::to_string(1 << shift_) + " StringEncoder: " + charMapData_ + ">";
}

std::size_t UTLGetStackAddressDescriptorsForAddresses(const void* const* addresses,
                                                      UTLStackAddressDescriptor* descriptors,
                                                      std::size_t count) {
    if (!addresses || !descriptors || count == 0)
        return 0;
    for (std::size_t i = 0; i < count; ++i) {
        auto& d = descriptors[i];
        d = UTLStackAddressDescriptor{};
        d.address = addresses[i];
        Dl_info info{};
        const bool found = dladdr(addresses[i], &info) != 0;
        if (found && info.dli_fname)
            d.imagePath = info.dli_fname;
        d.symbol = found && info.dli_sname ? info.dli_sname : kNoSymbol;
        int status = 0;
        if (char* readable = abi::__cxa_demangle(d.symbol.c_str(), nullptr, nullptr, &status)) {
            if (status == 0)
                d.symbol = readable;
            std::free(readable);
        }
    }
    return count;
}

std::string UTLStackTraceFromAddressDescriptors(const UTLStackAddressDescriptor* descriptors,
                                                std::size_t count) {
    if (!descriptors)
        return {};
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        const auto& d = descriptors[i];
        const std::string file =
            d.imagePath.empty() ? kNoImage : std::filesystem::path(d.imagePath).filename().string();
        char address[32];
        std::snprintf(address, sizeof address, "0x%08llx",
                      static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(d.address)));
        const std::string symbol = d.symbol.empty() ? kNoImage : d.symbol;
        std::string call =
            d.className ? std::string(d.isClassMethod ? "+" : "-") + "[" + *d.className + " " + symbol + "]"
                        : symbol + "()";
        char line[512];
        std::snprintf(line, sizeof line, "#%-2u %-35s %10s %s", static_cast<unsigned>(i), file.c_str(),
                      address, call.c_str());
        if (!out.empty())
            out += "\n";
        out += line;
    }
    return out;
}

std::string UTLStackTrace() {
    void* addresses[kStackFrames];
    const int count = backtrace(addresses, kStackFrames);
    if (count <= 1)
        return {};
    // The first frame is this routine itself.
    std::vector<UTLStackAddressDescriptor> descriptors(static_cast<std::size_t>(count - 1));
    const auto filled =
        UTLGetStackAddressDescriptorsForAddresses(addresses + 1, descriptors.data(), descriptors.size());
    return UTLStackTraceFromAddressDescriptors(descriptors.data(), filled);
}

} // namespace lumen
