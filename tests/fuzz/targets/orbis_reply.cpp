// The Orbis ad service's XML reply. Nothing outside the reply is read: the parser gets the
// reply in a buffer of exactly its size (the sanitizer stops any read past it), the markup an
// ad carries is a piece of the reply's own text, and no document type declaration (the way to
// entities and outside files) is ever honoured: the reply that makes an ad makes none with
// one put before it. A reply over the size cap makes no ad, whatever it holds.
#include "FuzzSupport.h"

#include "orbis/AdUnit.h"

namespace {

// The reply with a document type declaration before its root: after the XML declaration when
// it starts with one, else at the very start.
std::string withDoctype(std::string_view text) {
    constexpr std::string_view kDoctype = "<!DOCTYPE Ads [<!ENTITY e SYSTEM \"file:///etc/hostname\">]>";
    std::size_t at = 0;
    if (text.starts_with("<?xml")) {
        const auto end = text.find("?>");
        at = end == std::string_view::npos ? 0 : end + 2;
    }
    return std::string(text.substr(0, at)) + std::string(kDoctype) + std::string(text.substr(at));
}

std::optional<orbis::AdUnit> build(std::string_view text) {
    return orbis::XMLParser::buildAdUnitFromResponseData(platform::Data(text.begin(), text.end()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fwfuzz::text(data, size);
    const auto unit = build(text);
    if (!unit)
        return 0;
    FUZZ_CHECK(unit->isValid());
    // The reader turns "\r" line ends into "\n" (and, in a section left open at the end of a
    // broken reply, leaves some of the text it moved doubled); without one it changes nothing.
    if (unit->CDATABlock && text.find('\r') == std::string_view::npos)
        FUZZ_CHECK(text.find(*unit->CDATABlock) != std::string_view::npos);

    FUZZ_CHECK(!build(withDoctype(text)));

    std::string oversized(text);
    oversized.resize(orbis::XMLParser::kMaximumReplyBytes + 1, ' ');
    FUZZ_CHECK(!build(oversized));
    return 0;
}
