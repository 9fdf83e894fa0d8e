#pragma once
// UTLStringEncoding: turns bytes into text and back in any base that is a power of two (2 to
// 128), one alphabet character per group of bits, most significant bit first, with optional
// padding. The ready-made forms (RFC 4648 Base64, web-safe Base64, Base32, Base32 hex,
// Crockford Base32, hexadecimal, binary) are made by the class operations. A plain value:
// owned by its user, no callbacks, safe to use from one thread at a time.
#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace lumen {

class UTLStringEncoding {
public:
    // Nullopt unless the alphabet's length is a power of two between 2 and 128 and no character
    // appears twice.
    static std::optional<UTLStringEncoding> stringEncodingWithString(std::string_view alphabet);

    static UTLStringEncoding rfc4648Base64WebsafeStringEncoding();
    static UTLStringEncoding rfc4648Base64StringEncoding();
    static UTLStringEncoding rfc4648Base32StringEncoding();
    static UTLStringEncoding rfc4648Base32HexStringEncoding();
    static UTLStringEncoding crockfordBase32StringEncoding();
    static UTLStringEncoding hexStringEncoding();
    static UTLStringEncoding binaryStringEncoding();

    std::string encode(const platform::Data& data) const;
    std::string encodeString(std::string_view text) const;
    // Nullopt for a character outside the alphabet, a digit after padding, or leftover bits
    // that are not all zero.
    std::optional<platform::Data> decode(std::string_view text) const;
    std::optional<std::string> stringByDecoding(std::string_view text) const;

    // Each unmapped character decodes as the alphabet digit that precedes it in `synonyms`.
    void addDecodeSynonyms(std::string_view synonyms);
    // Throws "Character already mapped" for a character of the alphabet.
    void ignoreCharacters(std::string_view characters);
    // Replaces the padding character; throws "Character already mapped" for a character that
    // decodes as a digit.
    void setPaddingChar(char c);
    bool doPad() const { return doPad_; }
    void setDoPad(bool pad) { doPad_ = pad; }
    std::string description() const;

private:
    static constexpr int kNotInAlphabet = -1;
    static constexpr int kPadding = -2;
    static constexpr int kIgnored = -3;
    UTLStringEncoding() = default;

    std::string charMapData_;
    std::array<int, 128> reverseCharMap_{};
    int shift_ = 0;
    int mask_ = 0;
    bool doPad_ = false;
    char paddingChar_ = '=';
    int padLen_ = 0;
};

// What is known of one return address of a call stack: the nearest symbol at or below it
// (demangled; "???" when none), the class and method kind when the symbol is a method of a
// class, and the path of the image (program or library) holding it. The runtime here has no
// class lists to search, so the class fields are filled only by callers that know them.
struct UTLStackAddressDescriptor {
    const void* address = nullptr;
    std::string symbol;
    std::optional<std::string> className;
    bool isClassMethod = false;
    std::string imagePath;
};

// Fills one descriptor per address; answers how many were filled (0 when an argument is
// missing).
std::size_t UTLGetStackAddressDescriptorsForAddresses(const void* const* addresses,
                                                      UTLStackAddressDescriptor* descriptors,
                                                      std::size_t count);
// One line per descriptor, numbered from 0: image file name, address and the method
// ("+[Class method]" or "-[Class method]") or symbol ("symbol()").
std::string UTLStackTraceFromAddressDescriptors(const UTLStackAddressDescriptor* descriptors,
                                                std::size_t count);
// The current call stack as text, the trace routine itself left out.
std::string UTLStackTrace();

} // namespace lumen
