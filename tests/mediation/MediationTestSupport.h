#pragma once
// Stand-ins for the mediation tests: adapter classes of any network type, a slot and a host
// that record what they are told, a registry holding the adapter classes of the program's
// network types, and a scope that sets the mediation log level.
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "mediation/SwitchboardAdNetworkAdapter.h"
#include "mediation/SwitchboardAdNetworkRegistry.h"
#include "mediation/SwitchboardDelegate.h"
#include "mediation/SwitchboardLog.h"
#include "mediation/SwitchboardViewInterface.h"

namespace mediationtest {

// Shared record of calls, in order, across the slot, the host and the adapters.
using Events = std::shared_ptr<std::vector<std::string>>;
inline Events makeEvents() {
    return std::make_shared<std::vector<std::string>>();
}

// An adapter of network type N that records its calls into `events` (when set).
template <int N> class TestAdapter : public mediation::SwitchboardAdNetworkAdapter {
public:
    using SwitchboardAdNetworkAdapter::SwitchboardAdNetworkAdapter;
    static int networkType() { return N; }
    void getAd() override { record("getAd"); }
    void stopBeingDelegate() override {
        ++stopCount;
        record("stopBeingDelegate");
    }
    void record(std::string what) {
        if (events)
            events->push_back("adapter" + std::to_string(N) + ":" + std::move(what));
    }
    Events events;
    int stopCount = 0;
};

// A slot that records the adapter calls and the modal flag.
class RecordingSlot : public mediation::SwitchboardViewInterface {
public:
    explicit RecordingSlot(Events events) : events_(std::move(events)) {}
    void adapterDidReceiveAdView(mediation::SwitchboardAdNetworkAdapter&,
                                 std::shared_ptr<platform::View>) override {
        events_->push_back("slot:didReceiveAdView");
    }
    void adapterDidFinishAdRequest(mediation::SwitchboardAdNetworkAdapter&) override {
        events_->push_back("slot:didFinishAdRequest");
    }
    void adapterDidFailAd(mediation::SwitchboardAdNetworkAdapter&,
                          const std::optional<platform::Error>&) override {
        events_->push_back("slot:didFailAd");
    }
    bool showingModalView() const override { return modal_; }
    void setShowingModalView(bool showing) override {
        modal_ = showing;
        events_->push_back(showing ? "slot:modal=YES" : "slot:modal=NO");
    }

private:
    Events events_;
    bool modal_ = false;
};

// A host that implements exactly the two required items.
class MinimalHost : public mediation::SwitchboardDelegate {
public:
    std::string switchboardApplicationKey() override { return "minimal-key"; }
    std::shared_ptr<platform::ViewController> viewControllerForPresentingModalView() override {
        return nullptr;
    }
};

// A host whose colours, birth date and modal callbacks are set by the test; it answers
// responds() for the selectors listed in `implemented`.
class ConfigurableHost : public MinimalHost {
public:
    explicit ConfigurableHost(Events events = makeEvents()) : events_(std::move(events)) {}
    bool responds(std::string_view selector) const override {
        return implemented.count(std::string(selector)) > 0 || SwitchboardDelegate::responds(selector);
    }
    std::optional<platform::Color> switchboardTextColor() override { return textOverride; }
    std::optional<platform::Color> textColor() override { return text; }
    std::optional<platform::Color> switchboardAdBackgroundColor() override { return backgroundOverride; }
    std::optional<platform::Color> backgroundColor() override { return background; }
    std::optional<platform::Color> switchboardSecondaryTextColor() override { return secondaryText; }
    std::optional<platform::Date> dateOfBirth() override { return birth; }
    void switchboardWillPresentFullScreenModal() override {
        events_->push_back("host:willPresentFullScreenModal");
    }
    void switchboardDidDismissFullScreenModal() override {
        events_->push_back("host:didDismissFullScreenModal");
    }

    std::set<std::string> implemented;
    std::optional<platform::Color> textOverride, text, backgroundOverride, background, secondaryText;
    std::optional<platform::Date> birth;

private:
    Events events_;
};

template <int N> void registerTestAdapter(mediation::SwitchboardAdNetworkRegistry& registry) {
    registry.registerClass(mediation::switchboardAdapterClass<TestAdapter<N>>());
}

// The adapter classes of the network types that have an adapter in the program.
inline void registerProgramTypes(mediation::SwitchboardAdNetworkRegistry& registry) {
    registerTestAdapter<1>(registry);
    registerTestAdapter<2>(registry);
    registerTestAdapter<6>(registry);
    registerTestAdapter<7>(registry);
    registerTestAdapter<9>(registry);
    registerTestAdapter<12>(registry);
    registerTestAdapter<16>(registry);
    registerTestAdapter<17>(registry);
    registerTestAdapter<18>(registry);
    registerTestAdapter<19>(registry);
}

// Sets the mediation log level for the length of a test.
class LogLevelScope {
public:
    explicit LogLevelScope(unsigned level) : previous_(mediation::g_SBLogLevel) {
        mediation::g_SBLogLevel = level;
    }
    ~LogLevelScope() { mediation::g_SBLogLevel = previous_; }
    LogLevelScope(const LogLevelScope&) = delete;
    LogLevelScope& operator=(const LogLevelScope&) = delete;

private:
    unsigned previous_;
};

} // namespace mediationtest
