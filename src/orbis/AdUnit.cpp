#include "orbis/AdUnit.h"

#include "orbis/TextValues.h"

#include <array>
#include <cctype>
#include <pugixml.hpp>

namespace orbis {

namespace {

struct AdTypeName {
    std::string_view name;
    int type;
};
constexpr std::array<AdTypeName, 3> kAdTypes = {{{"text", 1}, {"banner", 2}, {"search", 3}}};

constexpr std::string_view kAdElement = "Ad";
constexpr std::string_view kAdURLElement = "AdURL";
constexpr std::string_view kTitleTextElement = "titleText";
constexpr const char* kTypeAttribute = "type";
constexpr const char* kActionTypeAttribute = "actionType";
constexpr const char* kActionTypeLowerAttribute = "actiontype";
constexpr const char* kWidthAttribute = "width";
constexpr const char* kHeightAttribute = "height";

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

int attributeInteger(const char* text) {
    return leadingInteger<int>(text ? text : "");
}

// All character data below `node` (text and CDATA), in document order.
std::string textOf(const pugi::xml_node& node) {
    std::string out;
    for (auto child : node.children()) {
        if (child.type() == pugi::node_pcdata)
            out += child.value();
        else if (child.type() == pugi::node_element)
            out += textOf(child);
    }
    return out;
}

class AdBuilder : public pugi::xml_tree_walker {
public:
    explicit AdBuilder(AdUnit& ad) : ad_(ad) {}
    bool for_each(pugi::xml_node& node) override {
        if (node.type() == pugi::node_doctype) {
            refused = true;
            return false;
        }
        if (node.type() == pugi::node_cdata) {
            ad_.CDATABlock = node.value();
            return true;
        }
        if (node.type() != pugi::node_element)
            return true;
        std::string_view name = node.name();
        if (equalsIgnoringCase(name, kAdElement)) {
            // A repeated "Ad" element overwrites what it carries.
            if (auto a = node.attribute(kTypeAttribute))
                ad_.adType = AdUnit::getAdType(trimmed(a.value()));
            if (auto a = node.attribute(kActionTypeAttribute))
                ad_.adActionType = attributeInteger(a.value());
            if (auto a = node.attribute(kActionTypeLowerAttribute))
                ad_.adActionType = attributeInteger(a.value());
            ad_.width = attributeInteger(node.attribute(kWidthAttribute).value());
            ad_.height = attributeInteger(node.attribute(kHeightAttribute).value());
        } else if (equalsIgnoringCase(name, kAdURLElement)) {
            std::string url = trimmed(textOf(node));
            ad_.targetUrl = url;
            ad_.defaultServerUrl = url;
        } else if (equalsIgnoringCase(name, kTitleTextElement)) {
            ad_.titleText = trimmed(textOf(node));
        }
        return true;
    }
    bool refused = false;

private:
    AdUnit& ad_;
};

} // namespace

int AdUnit::getAdType(std::string_view type) {
    for (const auto& row : kAdTypes)
        if (equalsIgnoringCase(type, row.name))
            return row.type;
    return 0;
}

bool AdUnit::isValid() const {
    return adActionType != 0 && width != 0 && height != 0 && targetUrl.has_value();
}

std::optional<AdUnit> XMLParser::buildAdUnitFromResponseData(const platform::Data& data) {
    if (data.empty() || data.size() > kMaximumReplyBytes)
        return std::nullopt;
    pugi::xml_document document;
    // Entities: only the five predefined ones and character references are replaced; a
    // document type declaration is kept as a node so that the walker can refuse the reply.
    unsigned options = pugi::parse_default | pugi::parse_doctype | pugi::parse_cdata;
    auto result = document.load_buffer(data.data(), data.size(), options, pugi::encoding_utf8);
    AdUnit ad;
    AdBuilder builder(ad);
    // A parse error is not fatal: what was read up to it counts, as long as it makes an ad.
    (void)result;
    document.traverse(builder);
    if (builder.refused || !ad.isValid())
        return std::nullopt;
    return ad;
}

} // namespace orbis
