#pragma once
// SwitchboardAdapterTangent (network type 2): shows a Tangent ad widget in the mediation
// slot. getAd creates the widget, which starts its first request at once, and keeps it as
// the adapter's view; the widget never refreshes by itself (the slot does). The adapter
// answers the widget's questions from the slot's host (each optional item probed first, and
// left unanswered when the host lacks it), the network entry's credentials and the base
// helpers, and reports the widget's outcome: success when the widget asks shouldRenderAd,
// failure on a failed request or an ad that could not be shown. The widget's interaction
// becomes the slot's modal begin and end.
//
// Ownership: the adapter owns its widget (adNetworkView); the widget and its ad views hold
// the adapter weakly, and stopBeingDelegate detaches the widget. Main thread only.
#include <map>
#include <optional>
#include <string>

#include "mediation/SwitchboardAdNetworkAdapter.h"
#include "tangent/TGAdWidgetDelegate.h"

namespace tangent {

class SwitchboardAdapterTangent final : public mediation::SwitchboardAdNetworkAdapter, public TGAdWidgetDelegate {
public:
    using SwitchboardAdNetworkAdapter::SwitchboardAdNetworkAdapter;

    static int networkType() { return 2; }
    // The household-income band of "mt-hhi".
    static std::string incomeBand(std::uint64_t income);

    void getAd() override;
    void stopBeingDelegate() override;

    // TGAdWidgetDelegate.
    std::optional<std::string> publisherId(TGAdWidgetWorker&) override;
    std::optional<std::string> site(TGAdWidgetWorker&) override;
    std::optional<std::string> adSpot(TGAdWidgetWorker&) override;
    std::optional<std::string> query(TGAdWidgetWorker&) override;
    std::optional<int> adultContent(TGAdWidgetWorker&) override;
    std::optional<platform::Location> location(TGAdWidgetWorker&) override;
    std::optional<std::map<std::string, std::string>> extraParameters(TGAdWidgetWorker&) override;
    std::optional<platform::Color> adForegroundColor(TGAdWidgetWorker&) override;
    std::optional<platform::Color> adBackgroundColor(TGAdWidgetWorker&) override;
    std::optional<bool> shouldRenderAd(TGAdWidgetWorker& widget) override;
    void beginAdInteraction(TGAdWidgetWorker&) override;
    void endAdInteraction(TGAdWidgetWorker&) override;
    void adWidgetDidFailToRequestAd(TGAdWidgetWorker& widget, const std::optional<platform::Error>& error) override;
    void adWidgetDidFailToShowAd(TGAdWidgetWorker& widget, const std::optional<platform::Error>& error) override;

private:
    std::optional<std::string> credential(std::string_view key) const;
    bool isOwnWidget(const TGAdWidgetWorker& widget) const;
    void reportFailure(const std::optional<platform::Error>& error);
};

} // namespace tangent
