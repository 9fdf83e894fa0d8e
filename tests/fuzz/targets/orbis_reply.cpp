// The Orbis ad service's XML reply. Nothing outside the reply is read: the parser gets the
// reply in a buffer of exactly its size (the sanitizer stops any read past it), the markup an
// ad carries is a piece of the reply's own text, and no document type declaration (the way to
// entities and outside files) is ever honoured: the reply that makes an ad makes none with
// one put before it. A reply over the size cap makes no ad, whatever it holds.
#include "FuzzSupport.h"

#include "orbis/AdUnit.h"

namespace {

// The reply's text with its line ends as the XML parser reports them: "\r\n" and "\r" as
// "\n", or (in a section left open at the end of a broken reply) each "\r" as "\n".
std::string withXMLLineEnds(std::string_view text, bool pairsAsOne) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (pairsAsOne && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

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
    if (unit->CDATABlock)
        FUZZ_CHECK(withXMLLineEnds(text, true).find(*unit->CDATABlock) != std::string::npos ||
                   withXMLLineEnds(text, false).find(*unit->CDATABlock) != std::string::npos);

    FUZZ_CHECK(!build(withDoctype(text)));

    std::string oversized(text);
    oversized.resize(orbis::XMLParser::kMaximumReplyBytes + 1, ' ');
    FUZZ_CHECK(!build(oversized));
    return 0;
}
