// Keyed archives: any bytes give an object or nothing, within the time bound (an archive
// whose objects refuse to be built, or that refer to one object many times, must not make
// the reader redo the work per reference). What is read writes back into an archive that
// reads back to the same archive.
#include "FuzzSupport.h"

#include <array>

#include "ArchiveChecksum.h"

#include "platform/archive/KeyedArchiver.h"

namespace {

using platform::ArchivedValue;

constexpr std::array<std::string_view, 6> kKeys = {"value", "next", "other", "items", "number", "flag"};

// Reads the keys above into values and writes them back under the same keys.
class Node : public platform::Coding {
public:
    static constexpr std::string_view kCodingClassName = "Node";
    std::array<ArchivedValue, kKeys.size()> values;
    std::string_view codingClassName() const override { return kCodingClassName; }
    void encodeWithCoder(platform::KeyedArchiver& coder) const override {
        for (std::size_t i = 0; i < kKeys.size(); ++i)
            coder.encodeObject(values[i], kKeys[i]);
    }
    static std::shared_ptr<Node> initWithCoder(platform::KeyedUnarchiver& coder) {
        auto node = std::make_shared<Node>();
        for (std::size_t i = 0; i < kKeys.size(); ++i)
            node->values[i] = coder.decodeObjectForKey(kKeys[i]);
        // The typed readers too, on every key.
        for (auto key : kKeys) {
            (void)coder.decodeBoolForKey(key);
            (void)coder.decodeIntForKey(key);
            (void)coder.decodeFloatForKey(key);
            (void)coder.containsValueForKey(key);
        }
        return node;
    }
};

// Reads every key and refuses to be built.
std::shared_ptr<platform::Coding> refuse(platform::KeyedUnarchiver& coder) {
    for (auto key : kKeys)
        (void)coder.decodeObjectForKey(key);
    return nullptr;
}

const platform::CodingClasses& classes() {
    static const platform::CodingClasses classes = platform::CodingClasses().add<Node>().add("Refuse", refuse);
    return classes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto root = platform::KeyedUnarchiver::unarchiveObjectWithData(fwfuzz::withMatchingChecksum(data, size), classes());
    if (!root)
        return 0;
    FUZZ_CHECK(root->codingClassName() == Node::kCodingClassName);
    const platform::Data written = platform::KeyedArchiver::archivedDataWithRootObject(*root);
    auto again = platform::KeyedUnarchiver::unarchiveObjectWithData(written, classes());
    FUZZ_CHECK(again != nullptr);
    FUZZ_CHECK(platform::KeyedArchiver::archivedDataWithRootObject(*again) == written);
    return 0;
}
