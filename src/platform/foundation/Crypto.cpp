#include "platform/foundation/Crypto.h"

#include <openssl/evp.h>

#include <memory>

namespace platform {

std::array<std::uint8_t, kMD5DigestLength> md5Digest(std::string_view bytes) {
    std::array<std::uint8_t, kMD5DigestLength> out{};
    unsigned length = 0;
    EVP_Digest(bytes.data(), bytes.size(), out.data(), &length, EVP_md5(), nullptr);
    return out;
}

std::optional<Data> aes128CBCEncryptNoPadding(const Data& plain,
                                              const std::array<std::uint8_t, kAES128KeyLength>& key,
                                              const std::array<std::uint8_t, kAESBlockLength>& iv) {
    if (plain.size() % kAESBlockLength != 0)
        return std::nullopt;
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, key.data(), iv.data()) != 1)
        return std::nullopt;
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    Data out(plain.size() + kAESBlockLength);
    int written = 0, tail = 0;
    if (EVP_EncryptUpdate(ctx.get(), out.data(), &written, plain.data(), static_cast<int>(plain.size())) !=
            1 ||
        EVP_EncryptFinal_ex(ctx.get(), out.data() + written, &tail) != 1)
        return std::nullopt;
    out.resize(static_cast<std::size_t>(written + tail));
    return out;
}

} // namespace platform
