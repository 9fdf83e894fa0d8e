#pragma once
// AdUnit: one Orbis ad as the ad service's XML reply describes it (size, action type, click
// URL, title, HTML markup). XMLParser turns a reply into an AdUnit. A plain value owned by the
// banner manager (its current ad); not thread-bound.
//
// Action types: 2 and 3 open the in-application landing page after a click, any other value
// opens the click's target outside the application; 3 also means the banner puts no touch
// cover over the markup, so the markup's own links become clicks.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace orbis {

struct AdUnit {
    int adActionType = 0;
    int adType = 0;
    std::optional<std::string> targetUrl;
    std::optional<std::string> titleText;
    std::optional<std::string> CDATABlock;
    int width = 0;
    int height = 0;
    // The "AdURL" of the reply, kept when a tapped link rewrites targetUrl.
    std::optional<std::string> defaultServerUrl;

    // "text" 1, "banner" 2, "search" 3, anything else 0; letter case is ignored.
    static int getAdType(std::string_view type);
    // A non-zero action type, a non-zero size and a click URL.
    bool isValid() const;
};

// Reads an ad service reply. Replies are untrusted: the size is capped, a document type
// declaration (and with it any entity definition) refuses the whole reply, and nothing
// outside the reply is ever fetched.
class XMLParser {
public:
    static constexpr std::size_t kMaximumReplyBytes = 256 * 1024;

    // The reply's ad when it is valid; std::nullopt for anything else (not XML, too large,
    // a DTD, no "Ad" element, zero size, action type 0, no "AdURL").
    static std::optional<AdUnit> buildAdUnitFromResponseData(const platform::Data& data);
};

} // namespace orbis
