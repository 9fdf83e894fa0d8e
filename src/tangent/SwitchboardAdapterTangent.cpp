#include "tangent/SwitchboardAdapterTangent.h"

#include <array>

#include "mediation/SwitchboardAdNetworkConfig.h"
#include "mediation/SwitchboardDelegate.h"
#include "mediation/SwitchboardViewInterface.h"
#include "tangent/TGAdWidget.h"

namespace tangent {

namespace {

const mediation::SwitchboardAdapterRegistrar<SwitchboardAdapterTangent> kRegistrar;

constexpr double kWidgetWidth = 320;
constexpr double kWidgetHeight = 53;
constexpr std::size_t kExtraParameterCapacity = 10;

struct IncomeBand {
    std::uint64_t atMost;
    std::string_view band;
};
// The first row whose bound the income does not exceed gives the band.
constexpr std::array<IncomeBand, 9> kIncomeBands = {{
    {14999, "000_015"},
    {19999, "015_020"},
    {29999, "020_030"},
    {39999, "030_040"},
    {49999, "040_050"},
    {74999, "050_075"},
    {99999, "075_100"},
    {124999, "100_125"},
    {149999, "125_150"},
}};
constexpr std::string_view kTopIncomeBand = "150_OVER";

} // namespace

std::string SwitchboardAdapterTangent::incomeBand(std::uint64_t income) {
    for (const auto& row : kIncomeBands)
        if (income <= row.atMost)
            return std::string(row.band);
    return std::string(kTopIncomeBand);
}

void SwitchboardAdapterTangent::getAd() {
    std::shared_ptr<TGAdWidgetDelegate> self(shared_from_this(), static_cast<TGAdWidgetDelegate*>(this));
    auto widget = TGAdWidget::create(self, true);
    widget->setFrame(platform::Rect{0, 0, kWidgetWidth, kWidgetHeight});
    widget->setRefreshInterval(0);
    setAdNetworkView(widget);
    auto host = switchboardDelegate();
    if (host && host->responds("tangentTransitionType"))
        if (auto transition = host->tangentTransitionType())
            widget->setTransition(static_cast<int>(*transition));
}

void SwitchboardAdapterTangent::stopBeingDelegate() {
    if (auto* widget = dynamic_cast<TGAdWidgetWorker*>(adNetworkView().get()))
        widget->setDelegate(nullptr);
}

bool SwitchboardAdapterTangent::isOwnWidget(const TGAdWidgetWorker& widget) const {
    // A widget that fails while getAd is still making it is this adapter's too.
    return !adNetworkView() || adNetworkView().get() == &widget;
}

std::optional<std::string> SwitchboardAdapterTangent::credential(std::string_view key) const {
    if (!networkConfig() || !networkConfig()->credentials())
        return std::nullopt;
    const auto& credentials = *networkConfig()->credentials();
    auto found = credentials.find(key);
    if (found == credentials.end() || !found->second.string())
        return std::nullopt;
    return *found->second.string();
}

std::optional<std::string> SwitchboardAdapterTangent::publisherId(TGAdWidgetWorker&) {
    if (auto pubId = networkConfig() ? networkConfig()->pubId() : std::nullopt)
        return pubId;
    return credential("publisherID");
}

std::optional<std::string> SwitchboardAdapterTangent::site(TGAdWidgetWorker&) {
    auto host = switchboardDelegate();
    if (host && host->responds("tangentSiteId"))
        if (auto answer = host->tangentSiteId())
            return answer;
    return credential("siteID");
}

std::optional<std::string> SwitchboardAdapterTangent::adSpot(TGAdWidgetWorker&) {
    auto host = switchboardDelegate();
    if (host && host->responds("tangentSpotId"))
        if (auto answer = host->tangentSpotId())
            return answer;
    return credential("spotID");
}

std::optional<std::string> SwitchboardAdapterTangent::query(TGAdWidgetWorker&) {
    auto host = switchboardDelegate();
    if (!host || !host->responds("keywords"))
        return std::nullopt;
    auto keywords = host->keywords();
    if (keywords && keywords->string())
        return *keywords->string();
    return std::nullopt;
}

std::optional<int> SwitchboardAdapterTangent::adultContent(TGAdWidgetWorker&) {
    auto host = switchboardDelegate();
    if (!host || !host->responds("tangentAdultContent"))
        return std::nullopt;
    auto value = host->tangentAdultContent();
    if (!value)
        return std::nullopt;
    return static_cast<int>(*value);
}

std::optional<platform::Location> SwitchboardAdapterTangent::location(TGAdWidgetWorker&) {
    auto host = switchboardDelegate();
    if (!host || !host->responds("locationInfo"))
        return std::nullopt;
    return host->locationInfo();
}

std::optional<std::map<std::string, std::string>> SwitchboardAdapterTangent::extraParameters(TGAdWidgetWorker&) {
    std::map<std::string, std::string> parameters;
    (void)kExtraParameterCapacity;
    auto host = switchboardDelegate();
    if (host && host->responds("dateOfBirth")) {
        const int age = helperCalculateAge();
        if (age >= 0)
            parameters["mt-age"] = std::to_string(age);
    }
    if (host && host->responds("gender"))
        if (auto gender = host->gender())
            parameters["mt-gender"] = *gender;
    if (host && host->responds("incomeLevel"))
        parameters["mt-hhi"] = incomeBand(host->incomeLevel().value_or(0));
    return parameters;
}

std::optional<platform::Color> SwitchboardAdapterTangent::adForegroundColor(TGAdWidgetWorker&) {
    return helperTextColorToUse();
}

std::optional<platform::Color> SwitchboardAdapterTangent::adBackgroundColor(TGAdWidgetWorker&) {
    return helperBackgroundColorToUse();
}

std::optional<bool> SwitchboardAdapterTangent::shouldRenderAd(TGAdWidgetWorker& widget) {
    if (auto slot = switchboardView(); slot && isOwnWidget(widget))
        slot->adapterDidReceiveAdView(*this, adNetworkView());
    return true;
}

void SwitchboardAdapterTangent::beginAdInteraction(TGAdWidgetWorker&) {
    if (switchboardView())
        helperNotifyDelegateOfFullScreenModal();
}

void SwitchboardAdapterTangent::endAdInteraction(TGAdWidgetWorker&) {
    if (switchboardView())
        helperNotifyDelegateOfFullScreenModalDismissal();
}

void SwitchboardAdapterTangent::reportFailure(const std::optional<platform::Error>& error) {
    if (auto slot = switchboardView())
        slot->adapterDidFailAd(*this, error);
}

void SwitchboardAdapterTangent::adWidgetDidFailToRequestAd(TGAdWidgetWorker& widget,
                                                           const std::optional<platform::Error>& error) {
    if (isOwnWidget(widget))
        reportFailure(error);
}

void SwitchboardAdapterTangent::adWidgetDidFailToShowAd(TGAdWidgetWorker& widget,
                                                        const std::optional<platform::Error>& error) {
    if (isOwnWidget(widget))
        reportFailure(error);
}

} // namespace tangent
