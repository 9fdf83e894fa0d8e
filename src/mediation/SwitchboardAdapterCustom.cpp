#include "mediation/SwitchboardAdapterCustom.h"

#include <cstdio>

#include "mediation/SwitchboardAdNetworkConfig.h"
#include "mediation/SwitchboardConfig.h"
#include "mediation/SwitchboardDelegate.h"
#include "mediation/SwitchboardEndpoints.h"
#include "mediation/SwitchboardLog.h"
#include "platform/foundation/Locale.h"
#include "platform/runloop/Clock.h"
#include "platform/ui/Screen.h"

namespace mediation {

namespace {

const SwitchboardAdapterRegistrar<SwitchboardAdapterCustom> kRegistrar;

const detail::CustomAdTexts kCustomTexts{
    "Error connecting to custom ad server",        "Error connecting to custom ad server to fetch image",
    "Cannot initialize custom ad image from data", "Custom ad data has no '%@' field",
    "Custom ad: Invalid value for %@ - %d",        "Custom ad redirect URL is nil",
    "Custom ad: Unsupported launch type %d",
};

// The reply's members and the ranges of its numbers (both bounds excluded).
constexpr const char* kAdTextKey = "ad_text";
constexpr const char* kRedirectURLKey = "redirect_url";
constexpr const char* kMetricsURLKey = "metrics_url";
constexpr const char* kImageURLKey = "img_url";
constexpr const char* kDoubleImageURLKey = "img_url_640x100";
using detail::EnumField;
using detail::kAdTypeField;
using detail::kLaunchTypeField;
constexpr EnumField kAnimationTypeField{"webview_animation_type", -1, 10};

constexpr double kDoubleResolution = 2.0;

std::string formatDouble(double v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%lf", v);
    return buffer;
}

void appendItem(std::string& query, std::string_view name, std::string_view value) {
    if (!query.empty())
        query += '&';
    query += name;
    query += '=';
    query += switchboardEscapeQueryValue(value);
}

} // namespace

const detail::CustomAdTexts& SwitchboardAdapterCustom::texts() const {
    return kCustomTexts;
}

const std::shared_ptr<platform::LocationManager>& SwitchboardAdapterCustom::locationManager() {
    if (!locationManager_)
        locationManager_ = platform::LocationManager::create();
    return locationManager_;
}

std::optional<platform::URL> SwitchboardAdapterCustom::customAdURL() {
    auto delegate = switchboardDelegate();
    std::string base;
    if (delegate && delegate->responds("switchboardCustomAdURL"))
        base = delegate->switchboardCustomAdURL().value_or("");
    if (base.empty())
        base = switchboardDefaultEndpoint(kCustomAdPath);

    const auto& config = switchboardConfig();
    bool locationOn = config && config->locationOn();
    std::string query;
    appendItem(query, "appver", std::to_string(kSwitchboardLibraryVersion));
    appendItem(query, "country_code", platform::Locale::current().identifier());
    appendItem(query, "appid", config ? config->appKey() : std::string());
    appendItem(query, "nid", networkConfig() ? networkConfig()->nid() : std::string());
    if (locationOn) {
        SBLogDebug("Allow location access in custom ad");
        platform::LocationCoordinate2D coordinate;
        std::optional<platform::Location> fix;
        if (delegate && delegate->responds("locationInfo"))
            fix = delegate->locationInfo();
        else
            fix = locationManager()->location();
        if (fix)
            coordinate = fix->coordinate();
        appendItem(query, "location",
                   formatDouble(coordinate.latitude) + "," + formatDouble(coordinate.longitude));
        appendItem(query, "location_timestamp", formatDouble(platform::Clock::current().now()));
    } else {
        SBLogDebug("Do not allow location access in custom ad");
    }
    appendItem(query, "client", std::to_string(kClient));
    return platform::URL::parse(switchboardURLWithQuery(base, query));
}

std::optional<platform::URL> SwitchboardAdapterCustom::adRequestURL() {
    auto url = customAdURL();
    if (url)
        SBLogDebug("Requesting custom ad at %@", url->absoluteString());
    return url;
}

bool SwitchboardAdapterCustom::parseAdData(const platform::Data& data,
                                           std::optional<platform::Error>* error) {
    std::string reason;
    auto info = platform::Value::fromJSON(
        std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), &reason);
    if (!info) {
        if (error)
            *error = SwitchboardError(kSBErrorCustomAdData, "Error parsing custom ad JSON from server",
                                      platform::Error{"JSONReaderErrorDomain", 0, reason, {}});
        return false;
    }
    if (!info->isDictionary()) {
        setInvalid(error, "Expected top-level dictionary in custom ad data");
        return false;
    }
    int adType = 0, launchType = 0, animType = 0;
    for (auto [out, field] : {std::pair{&adType, kAdTypeField}, std::pair{&launchType, kLaunchTypeField},
                              std::pair{&animType, kAnimationTypeField}})
        if (!parseEnums(out, *info, field.minVal, field.maxVal, field.name, error))
            return false;

    auto redirectURL = detail::readReplyURL(*info, kRedirectURLKey, "No redirect URL for custom ad",
                                            "Custom ad: Malformed redirect URL string %@");
    auto metricsURL = detail::readReplyURL(*info, kMetricsURLKey, "No click metric URL for custom ad",
                                           "Malformed click metrics URL string %@");
    const platform::Value* textValue = info->find(kAdTextKey);
    std::string text = textValue ? textValue->stringOr("") : std::string();
    SBLogDebug("Got custom ad '%@' %@ %@ %d %d %d", text,
               redirectURL ? redirectURL->absoluteString() : std::string("(null)"),
               metricsURL ? metricsURL->absoluteString() : std::string("(null)"), adType, launchType,
               animType);

    auto view =
        SwitchboardCustomAdView::create(viewDelegate(), text, redirectURL, metricsURL, adType, launchType,
                                        animType, helperBackgroundColorToUse(), helperTextColorToUse());
    if (!view) {
        setInvalid(error, "Error initializing Switchboard custom ad view");
        return false;
    }
    setAdView(view);

    scale_ = platform::Screen::main().scale();
    const char* imageKey = kImageURLKey;
    if (scale_ == kDoubleResolution && adType == SwitchboardCustomAdView::kAdTypeBanner) {
        const platform::Value* doubleURL = info->find(kDoubleImageURLKey);
        if (doubleURL && doubleURL->string() && !doubleURL->string()->empty())
            imageKey = kDoubleImageURLKey;
        else
            scale_ = 1.0;
    }
    const platform::Value* imageValue = info->find(imageKey);
    const std::string* imageText = imageValue ? imageValue->string() : nullptr;
    if (!imageText || imageText->empty()) {
        setInvalid(error, sbFormat(kCustomTexts.missingField, imageKey));
        return false;
    }
    auto imageURL = platform::URL::parse(*imageText);
    if (!imageURL || !imageURL->isAbsolute()) {
        setInvalid(error, sbFormat("Custom ad: Malformed image URL string %@", *imageText));
        return false;
    }
    SBLogDebug("Request custom ad image at %@", imageURL->absoluteString());
    startImageRequest(*imageURL);
    return true;
}

void SwitchboardAdapterCustom::sendClickPing(const SwitchboardCustomAdView& view) {
    const auto& url = view.clickMetricsURL();
    if (!url)
        return;
    // Fire and forget: nobody reads the reply, and it is bounded like every other.
    auto ping = platform::URLConnection::create(platform::URLRequest(*url), nullptr, false);
    ping->setMaximumBodyLength(kMaximumAdDataBytes);
    ping->start();
    SBLogDebug("Sent custom ad click ping to %@", url->absoluteString());
}

void SwitchboardAdapterCustom::willOpenOutside(const platform::URL& url) {
    SBLogDebug("Opening URL '%@' for custom ad", url.absoluteString());
}

void SwitchboardAdapterCustom::couldNotOpenOutside(const platform::URL& url) {
    SBLogError("Cannot open URL '%@' for custom ad", url.absoluteString());
}

} // namespace mediation
