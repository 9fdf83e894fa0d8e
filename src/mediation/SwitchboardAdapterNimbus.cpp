#include "mediation/SwitchboardAdapterNimbus.h"

#include <array>

#include "mediation/SwitchboardAdNetworkConfig.h"
#include "mediation/SwitchboardDelegate.h"
#include "mediation/SwitchboardEndpoints.h"
#include "mediation/SwitchboardLog.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Locale.h"
#include "platform/foundation/Services.h"
#include "platform/ui/Device.h"

namespace mediation {

namespace {

const SwitchboardAdapterRegistrar<SwitchboardAdapterNimbus> kRegistrar;

const detail::CustomAdTexts kNimbusTexts{
    "Error connecting to Nimbus ad server",        "Error connecting to Nimbus to fetch image",
    "Cannot initialize Nimbus ad image from data", "Nimbus ad data has no '%@' field",
    "Nimbus ad data: Invalid value for %@ - %d",   "Nimbus ad redirect URL is nil",
    "Nimbus ad: Unsupported launch type %d",
};

constexpr const char* kAdTextKey = "ad_text";
constexpr const char* kLandingURLKey = "landing_url";
constexpr const char* kImageURLKey = "img_url";
using detail::EnumField;
using detail::kAdTypeField;
using detail::kLaunchTypeField;

// The fixed size the feed is asked for, and its reply format.
constexpr const char* kAdWidth = "320";
constexpr const char* kAdHeight = "50";
constexpr const char* kReplyFormat = "json";

std::string infoString(std::string_view key) {
    auto value = platform::Bundle::main().objectForInfoDictionaryKey(key);
    return value ? value->stringOr("") : std::string();
}

} // namespace

const detail::CustomAdTexts& SwitchboardAdapterNimbus::texts() const {
    return kNimbusTexts;
}

bool SwitchboardAdapterNimbus::useTestAd() const {
    auto d = switchboardDelegate();
    return d && d->responds("switchboardTestMode") && d->switchboardTestMode().value_or(false);
}

std::string SwitchboardAdapterNimbus::userAgent() {
    const auto& device = platform::Device::current();
    return sbFormat("%@ %@ (%@; %@ %@; %@)", infoString("CFBundleDisplayName"), infoString("CFBundleVersion"),
                    device.model(), device.systemName(), device.systemVersion(),
                    platform::Locale::current().identifier());
}

std::optional<platform::URL> SwitchboardAdapterNimbus::nimbusURL() const {
    std::string appKey;
    auto d = switchboardDelegate();
    if (d && d->responds("NimbusApplicationKey"))
        appKey = d->NimbusApplicationKey().value_or("");
    else if (networkConfig())
        appKey = networkConfig()->pubId().value_or("");

    const auto& device = platform::Device::current();
    const std::array<std::pair<const char*, std::string>, 10> items = {{
        {"appver", std::to_string(kSwitchboardLibraryVersion)},
        {"v", device.systemVersion()},
        {"apikey", kNimbusApiKey},
        {"appkey", appKey},
        {"deviceid", device.uniqueIdentifier()},
        {"width", kAdWidth},
        {"height", kAdHeight},
        {"fmt", kReplyFormat},
        {"ua", userAgent()},
        {"test", useTestAd() ? "1" : "0"},
    }};
    std::string url = platform::servicesBaseURL() + kNimbusFeedPrefix + kNimbusFeedPath + "?";
    bool first = true;
    for (const auto& [name, value] : items) {
        if (!first)
            url += '&';
        first = false;
        url += name;
        url += '=';
        url += switchboardEscapeQueryValue(value);
    }
    return platform::URL::parse(url);
}

std::optional<platform::URL> SwitchboardAdapterNimbus::adRequestURL() {
    auto url = nimbusURL();
    if (!url || !url->isAbsolute())
        return std::nullopt;
    SBLogDebug("Requesting Nimbus ad (%@) %@", url->absoluteString(), url->absoluteString());
    return url;
}

bool SwitchboardAdapterNimbus::parseAdData(const platform::Data& data,
                                           std::optional<platform::Error>* error) {
    std::string reason;
    auto reply = platform::Value::fromJSON(
        std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), &reason);
    if (!reply) {
        if (error)
            *error = SwitchboardError(kSBErrorCustomAdData, "Error parsing Nimbus ad JSON from server",
                                      platform::Error{"JSONReaderErrorDomain", 0, reason, {}});
        return false;
    }
    if (!reply->isArray()) {
        setInvalid(error, "Expected top-level array in Nimbus ad data");
        return false;
    }
    const platform::Value* info = reply->at(0);
    if (!info || !info->isDictionary())
        return false; // no ad in the feed: nothing to report but the failure itself

    const platform::Value* textValue = info->find(kAdTextKey);
    std::string text = textValue ? textValue->stringOr("") : std::string();
    int adType = 0, launchType = 0;
    for (auto [out, field] : {std::pair{&adType, kAdTypeField}, std::pair{&launchType, kLaunchTypeField}})
        if (!parseEnums(out, *info, field.minVal, field.maxVal, field.name, error))
            return false;
    auto redirectURL = detail::readReplyURL(*info, kLandingURLKey, "No redirect URL for Nimbus ad",
                                            "Nimbus ad: Malformed redirect URL string %@");
    SBLogDebug("Got Nimbus ad %@ %@ %d %d %d", text,
               redirectURL ? redirectURL->absoluteString() : std::string("(null)"), adType, launchType,
               kBrowserTransition);

    auto view = SwitchboardCustomAdView::create(viewDelegate(), text, redirectURL, std::nullopt, adType,
                                                launchType, kBrowserTransition, helperBackgroundColorToUse(),
                                                helperTextColorToUse());
    if (!view) {
        setInvalid(error, "Error initializing Nimbus ad view");
        return false;
    }
    setAdView(view);

    const platform::Value* imageValue = info->find(kImageURLKey);
    const std::string* imageText = imageValue ? imageValue->string() : nullptr;
    auto imageURL = imageText ? platform::URL::parse(*imageText) : std::nullopt;
    if (!imageURL || !imageURL->isAbsolute())
        return false;
    SBLogDebug("Request Nimbus ad image at %@", imageURL->absoluteString());
    startImageRequest(*imageURL);
    return true;
}

} // namespace mediation
