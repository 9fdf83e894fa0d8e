#pragma once
// Utilities shared by the Cobalt ad view and the full-screen presentation: which addresses
// open another application instead of a landing page, numeric version comparison, the
// transform that turns content to a device orientation, and the delimited-text utilities
// the scripts reach through BridgeCocoa. Stateless; any thread.
#include <optional>
#include <string>
#include <string_view>

#include "platform/ui/Geometry.h"

namespace platform {
class URL;
} // namespace platform

namespace cobalt {

class CBUtil {
public:
    // The web hosts whose pages belong to other applications (the platform's two application
    // store hosts and its map service's host).
    static constexpr std::string_view kAppStoreHost = "apps.platform.test";
    static constexpr std::string_view kAppStoreAlternateHost = "store.platform.test";
    static constexpr std::string_view kMapsHost = "maps.platform.test";
    // From this system version on, "tel" addresses leave for the telephone application.
    static constexpr std::string_view kTelephoneSystemVersion = "4.2.1";

    // On the device's system version.
    static bool URLWillLoadExternalApp(const platform::URL& url);
    static bool URLWillLoadExternalApp(const platform::URL& url, std::string_view systemVersion);

    // -1, 0 or 1 as `a` orders before, with or after `b`; runs of digits compare as numbers.
    static int versionCompare(std::string_view a, std::string_view b);

    // Device orientations: 2 upside down (π), 3 landscape left (π/2), 4 landscape right (−π/2);
    // any other value the identity.
    static platform::AffineTransform transformForOrientation(int orientation);

    // The text between the first `left` and the first `right` found from `start`, when the
    // right one begins after the end of the left one; nullopt otherwise or without delimiters.
    static std::optional<std::string> delimitedStringFromString(std::string_view text,
                                                                std::optional<std::string_view> left,
                                                                std::optional<std::string_view> right,
                                                                std::size_t start = 0);
    // `text` with what stands between each left delimiter and the right one after it replaced
    // by `replacement`; unchanged without such a pair.
    static std::string replaceString(std::string_view replacement, std::string_view left, std::string_view right,
                                     std::string_view text);
};

} // namespace cobalt
