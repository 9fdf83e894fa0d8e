#pragma once
// What every fuzz target shares: the entry point's declaration, a check that stops the run
// with a message (a finding, as a crash, so libFuzzer saves the input and the replay fails),
// and a scratch folder for parsers that read files.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/foundation/Value.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

// Stops the run when something that must hold does not.
#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition))                                                                                    \
            ::fwfuzz::fail(__FILE__, __LINE__, #condition);                                                  \
    } while (false)

namespace fwfuzz {

[[noreturn]] inline void fail(const char* file, int line, const char* what) {
    std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, what);
    std::abort();
}

inline std::string_view text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

inline platform::Data bytes(const std::uint8_t* data, std::size_t size) {
    return platform::Data(data, data + size);
}

// JSON has no NaN or infinity; such reals are written as null, so a value holding one cannot
// round-trip through JSON.
inline bool hasNonFiniteReal(const platform::Value& v) {
    if (v.type() == platform::Value::Type::Real)
        return !std::isfinite(*v.number());
    if (auto items = v.array())
        for (const auto& item : *items)
            if (hasNonFiniteReal(item))
                return true;
    if (auto entries = v.dictionary())
        for (const auto& [key, item] : *entries)
            if (hasNonFiniteReal(item))
                return true;
    return false;
}

// A fresh, empty folder under the system's temporary folder, removed with everything in it.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "fw-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            fail(__FILE__, __LINE__, "mkdtemp");
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

} // namespace fwfuzz
