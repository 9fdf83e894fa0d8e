#pragma once
// SwitchboardView: the ad slot of the mediation layer, a 320 by 53 view that the host (the
// banner host) creates through requestSwitchboardViewWithDelegate and places on screen.
//
// What it does: it obtains the mediation configuration of the host's application key from
// the shared configuration store (up to three attempts in a row), orders the configured
// networks by priority, draws the first network of each cycle at random by weight, creates
// that network's adapter through the adapter registry and waits for the adapter's callback.
// On success it shows the adapter's view (the slot's first ad at once, later ones through a
// 1.0 s transition of the configured type), sends an impression ping and tells the host; on
// failure it probes reachability and rolls over to the next network by priority. A
// repeating timer starts a new cycle every refresh interval, but only when that interval is
// above 4.7 s. A touch on a shown ad sends one click ping per shown adapter. Requests and
// refreshes are held back while an ad's modal screen is up, while the application is
// inactive, and on the host's demand (the two ignore switches).
//
// Errors reach the host through switchboardDidFailToReceiveAd(view, false) and lastError():
// 80 new requests ignored, 90 request in progress, 100 no configuration, 110 too soon, 120 no
// network left, 130 rollover probe failed or not reachable, 140 modal screen up, and the
// store's 10, 11, 20, 30 after three failed configuration fetches.
//
// Ownership: the host is held weakly; the slot owns its current and previous adapter, the
// adapters of unanswered requests, the rollover probe and its configuration (which holds the
// slot weakly as a delegate). The repeating refresh timer holds the slot strongly, as the
// platform's timers hold their targets: a slot with a timer lives until it is taken off its
// superview (which stops the timer for good). Callbacks from adapters that are no longer
// current, from old probes and from replaced configurations are ignored.
//
// Threads: main thread only. requestFreshAd and rollOver move themselves to the main thread
// when called elsewhere. Every callback (configuration, probe, adapters, timer, animation)
// arrives on the main run loop; the transition after an adapter's ad is always queued to a
// later turn, so the host hears switchboardDidReceiveAd before the new view is in place.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mediation/SBNetworkReachabilityWrapper.h"
#include "mediation/SwitchboardConfig.h"
#include "mediation/SwitchboardForward.h"
#include "mediation/SwitchboardViewInterface.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"
#include "platform/ui/View.h"

namespace platform {
class Timer;
}

namespace mediation {

class SwitchboardConfigStore;

class SwitchboardView : public platform::View,
                        public SwitchboardViewInterface,
                        public SwitchboardConfigDelegate,
                        public SBNetworkReachabilityDelegate {
  protected:
    // Only the factories make slots (the setup after construction needs a shared pointer).
    struct ConstructionKey {
        explicit ConstructionKey() = default;
    };

  public:
    // The tag of the shown ad view; the slot has at most one subview with it.
    static constexpr int kAdViewTag = 1000;
    // Requests closer together than this (a single-precision constant, compared in double
    // precision, equality included) are refused, and a refresh timer needs a longer interval.
    static constexpr float kMinimumRequestGap = 4.7f;
    // Every animated transition lasts this long.
    static constexpr double kTransitionDuration = 1.0;
    // Name of the transition's animation block.
    static constexpr const char* kTransitionAnimationID = "SwitchboardAdTransition";
    // A configuration is fetched at most this many times in a row before the host is told.
    static constexpr unsigned kMaximumConfigFetchAttempts = 3;
    // The slot's frame at creation, and the sizes answered without an ad view.
    static constexpr double kSlotWidth = 320, kSlotHeight = 53;
    static constexpr double kTabletAdWidth = 728, kTabletAdHeight = 90;
    // The configuration's transition types (table in the .cpp): 0 none ... 7 fade, 8 random.
    static constexpr int kTransitionNone = 0;
    static constexpr int kTransitionRandom = 8;
    static constexpr int kAnimatedTransitionCount = 7; // types 1 to 7
    // Largest value of the random source (the platform's random(): 0 to 2^31 - 1).
    static constexpr std::uint32_t kRandomMax = 0x7fffffff;

    // Answers a value from 0 to kRandomMax; used for the weighted draw and random transitions.
    using RandomSource = std::function<std::uint32_t()>;

    // --- Class operations ---

    // The slot for `delegate`, with its configuration fetch started; the first request
    // follows by itself when the configuration arrives. Throws a platform::NamedException
    // "SwitchboardIncompleteDelegateException" ("SwitchboardDelegate must implement
    // viewControllerForPresentingModalView") when the delegate does not implement that item.
    static std::shared_ptr<SwitchboardView>
    requestSwitchboardViewWithDelegate(const std::shared_ptr<SwitchboardDelegate>& delegate);
    // Class-level fetches without a slot, so that a later slot finds the configuration in the
    // store: the pre-fetch reuses a stored configuration, the update always fetches anew. Only
    // one class-level fetch runs at a time (a second only logs a warning); one that the store
    // refuses ends at once.
    static void
    startPreFetchingConfigurationDataWithDelegate(const std::shared_ptr<SwitchboardDelegate>& delegate);
    static void updateSwitchboardConfigWithDelegate(const std::shared_ptr<SwitchboardDelegate>& delegate);
    // The class acting as configuration delegate (switchboardConfigURL,
    // switchboardConfigDidReceiveConfig, switchboardConfigDidFail of the class).
    static std::optional<std::string> classSwitchboardConfigURL();
    static void classSwitchboardConfigDidReceiveConfig(SwitchboardConfig& config);
    static void classSwitchboardConfigDidFail(SwitchboardConfig& config, const platform::Error& error);
    // The delegate of the running class-level fetch; null when none runs.
    static std::shared_ptr<SwitchboardDelegate> classSwitchboardDelegateForConfig();
    // Tests: forgets a running class-level fetch.
    static void resetClassStateForTesting();

    // initWithDelegate: a slot that has not started fetching (the factories do that).
    static std::shared_ptr<SwitchboardView> create(std::weak_ptr<SwitchboardDelegate> delegate);
    SwitchboardView(ConstructionKey, std::weak_ptr<SwitchboardDelegate> delegate);
    ~SwitchboardView() override;

    // --- For the host ---

    std::shared_ptr<SwitchboardDelegate> delegate() const { return delegate_.lock(); }
    // Sets the host, and hands it to the current and the previous adapter.
    void setDelegate(std::weak_ptr<SwitchboardDelegate> delegate);

    // Asks for a new cycle now (errors 80, 90, 140, 100, 110 in that order of checks).
    void requestFreshAd();
    // Asks for the next network of the current cycle now; nothing while new requests are ignored.
    void rollOver();
    // Stops the refresh timer and fetches a new configuration (three attempts).
    void updateSwitchboardConfig();

    void ignoreAutoRefreshTimer() { ignoreAutoRefreshTimer_ = true; }
    void doNotIgnoreAutoRefreshTimer() { ignoreAutoRefreshTimer_ = false; }
    bool isIgnoringAutoRefreshTimer() const { return ignoreAutoRefreshTimer_; }
    void ignoreNewAdRequests() { ignoreNewAdRequests_ = true; }
    void doNotIgnoreNewAdRequests() { ignoreNewAdRequests_ = false; }
    bool isIgnoringNewAdRequests() const { return ignoreNewAdRequests_; }

    // Shows `view` in the slot through the same transition as a network ad.
    void replaceBannerViewWith(const std::shared_ptr<platform::View>& view);
    // Whether an ad view (tag kAdViewTag) is in the slot.
    bool adExists() const;
    // The host's adRefreshDuration when it answers one, else the configuration's interval.
    float adRefreshTime() const;
    // The size of the ad shown: a view the host put in has its own size; otherwise the
    // current adapter's view size, and without one the console line "adapter nil" and 728 by
    // 90 on a tablet, 320 by 53 on a phone.
    platform::Size actualAdSize() const;
    // Forwarded to the current adapter.
    void rotateToOrientation(int orientation);
    // The current adapter's network name; none without an adapter.
    std::optional<std::string> mostRecentNetworkName() const;

    const std::optional<platform::Error>& lastError() const { return lastError_; }
    const std::shared_ptr<SwitchboardConfig>& config() const { return config_; }
    void setConfig(std::shared_ptr<SwitchboardConfig> config) { config_ = std::move(config); }
    // The networks still to try in this cycle, in ascending priority.
    const std::vector<std::shared_ptr<SwitchboardAdNetworkConfig>>& prioritizedAdNetCfgs() const {
        return prioritizedAdNetCfgs_;
    }
    // Sets the cycle's list; totalPercent() becomes the sum of its weights.
    void setPrioritizedAdNetCfgs(std::vector<std::shared_ptr<SwitchboardAdNetworkConfig>> configs);
    double totalPercent() const { return totalPercent_; }
    const std::shared_ptr<SwitchboardAdNetworkAdapter>& currAdapter() const { return currAdapter_; }
    void setCurrAdapter(std::shared_ptr<SwitchboardAdNetworkAdapter> adapter) {
        currAdapter_ = std::move(adapter);
    }
    const std::shared_ptr<SwitchboardAdNetworkAdapter>& lastAdapter() const { return lastAdapter_; }
    void setLastAdapter(std::shared_ptr<SwitchboardAdNetworkAdapter> adapter) {
        lastAdapter_ = std::move(adapter);
    }
    // When the last adapter was created (wall clock); none before the first request.
    const std::optional<platform::Date>& lastRequestTime() const { return lastRequestTime_; }
    const std::shared_ptr<platform::Timer>& refreshTimer() const { return refreshTimer_; }
    // The store in use: the one taken at creation while it lives, else the shared store.
    std::shared_ptr<SwitchboardConfigStore> configStore() const;
    void setConfigStore(std::weak_ptr<SwitchboardConfigStore> store) { configStore_ = std::move(store); }
    const std::shared_ptr<SBNetworkReachabilityWrapper>& rollOverReachability() const {
        return rollOverReachability_;
    }
    void setRollOverReachability(std::shared_ptr<SBNetworkReachabilityWrapper> probe) {
        rollOverReachability_ = std::move(probe);
    }
    // When set, replaces the random draw: darts are taken in turn, from the first again after
    // the last; a dart at or above the total weight becomes the total less 0.001.
    const std::optional<std::vector<double>>& testDarts() const { return testDarts_; }
    void setTestDarts(std::optional<std::vector<double>> darts);
    // The source of the weighted draw and of random transitions; empty restores the
    // process's generator, seeded from the clock on first use.
    void setRandomSource(RandomSource source) { randomSource_ = std::move(source); }

    bool isRequesting() const { return requesting_; }
    bool isAppInactive() const { return appInactive_; }
    unsigned configFetchAttempts() const { return configFetchAttempts_; }
    // Network types whose adapters have not answered yet.
    std::vector<int> pendingAdapterTypes() const;

    // --- Steps of a cycle (also used by tests and the benchmark) ---

    // The first entry of the cycle's list; null when it is empty.
    std::shared_ptr<SwitchboardAdNetworkConfig> nextNetworkCfgByPriority();
    // Walks the list in priority order adding up weights and answers the first entry whose
    // running sum exceeds the dart, else the last entry; null when the list is empty.
    std::shared_ptr<SwitchboardAdNetworkConfig> nextNetworkCfgByPercent();
    // A dart in [0, totalPercent()).
    double nextDart();

    // --- SwitchboardViewInterface: for the adapters ---
    void adapterDidReceiveAdView(SwitchboardAdNetworkAdapter& adapter,
                                 std::shared_ptr<platform::View> view) override;
    void adapterDidFinishAdRequest(SwitchboardAdNetworkAdapter& adapter) override;
    void adapterDidFailAd(SwitchboardAdNetworkAdapter& adapter,
                          const std::optional<platform::Error>& error) override;
    bool showingModalView() const override { return showingModalView_; }
    void setShowingModalView(bool showing) override { showingModalView_ = showing; }

    // --- SwitchboardConfigDelegate ---
    std::optional<std::string> switchboardConfigURL() override;
    void switchboardConfigDidReceiveConfig(SwitchboardConfig& config) override;
    void switchboardConfigDidFail(SwitchboardConfig& config, const platform::Error& error) override;

    // --- SBNetworkReachabilityDelegate: the rollover probe ---
    void reachabilityBecameReachable(SBNetworkReachabilityWrapper& wrapper) override;
    void reachabilityNotReachable(SBNetworkReachabilityWrapper& wrapper) override;

    // --- View ---
    // As the inherited test; in addition, a touch inside on a shown adapter's ad that has not
    // been clicked yet sends that adapter's click ping (never for a view the host put in).
    bool pointInside(platform::Point point, const platform::Event* event) override;
    // Leaving the superview stops the refresh timer for good.
    void willMoveToSuperview(platform::View* newSuperview) override;

  protected:
    // The setup that follows construction: observes the application's activity.
    void initWithDelegate();
    // Makes a slot of class T (this class or a subclass) and sets it up.
    template <typename T> static std::shared_ptr<T> makeSlot(std::weak_ptr<SwitchboardDelegate> delegate) {
        auto slot = std::make_shared<T>(ConstructionKey{}, std::move(delegate));
        slot->initWithDelegate();
        return slot;
    }

    void startGetConfig();
    void attemptFetchConfig();
    void buildPrioritizedAdNetCfgsAndMakeRequest();
    void makeAdRequest(bool isFirst);
    void adRequestReturnsForAdapter(SwitchboardAdNetworkAdapter& adapter);
    void transitionToView(const std::shared_ptr<platform::View>& view);
    void newAdAnimationDidStop(const std::string& animationID, bool finished,
                               const std::shared_ptr<platform::View>& oldView);
    void timerRequestFreshAd();
    bool canRefresh() const;
    void notifyDelegateOfError(const platform::Error& error);
    void notifyDelegateOfErrorWithCode(int code, const std::string& description);
    void reportExImpression(const std::string& nid, int netType);
    void reportExClick(const std::string& nid, int netType);
    void metricPing(const std::string& base, const std::string& nid, int netType);
    void becomeActive();
    void resignActive();

  private:
    std::shared_ptr<SwitchboardView> sharedSelf();
    std::shared_ptr<platform::View> adView() const;
    // Whether the shown ad is a view of the host's (replaceBannerViewWith) rather than the
    // current adapter's: such an ad sends no network ping and has its own size.
    bool showingHostView() const;
    // Asks the store again through `step` once its running fetch has ended, when the store
    // is busy with another one.
    void retryWhenStoreIsFree(SwitchboardConfigStore& store, void (SwitchboardView::*step)());
    std::uint32_t randomValue();
    int randomTransitionType();
    void queueDidAnimateToNewAdIn();
    void stopRefreshTimer();
    bool delegateResponds(std::string_view selector) const;
    // Elapsed seconds since the last adapter was created (monotonic), none before the first.
    std::optional<double> secondsSinceLastRequest() const;

    std::weak_ptr<SwitchboardDelegate> delegate_;
    std::shared_ptr<SwitchboardConfig> config_;
    std::vector<std::shared_ptr<SwitchboardAdNetworkConfig>> prioritizedAdNetCfgs_;
    double totalPercent_ = 0;
    bool ignoreAutoRefreshTimer_ = false;
    bool ignoreNewAdRequests_ = false;
    bool appInactive_ = false;
    bool showingModalView_ = false;
    bool requesting_ = false;
    std::shared_ptr<SwitchboardAdNetworkAdapter> currAdapter_;
    std::shared_ptr<SwitchboardAdNetworkAdapter> lastAdapter_;
    std::optional<platform::Date> lastRequestTime_;
    std::optional<double> lastRequestMonotonic_;
    std::map<int, std::shared_ptr<SwitchboardAdNetworkAdapter>> pendingAdapters_;
    std::shared_ptr<platform::Timer> refreshTimer_;
    std::weak_ptr<SwitchboardAdNetworkAdapter> lastNotifyAdapter_;
    std::optional<platform::Error> lastError_;
    std::weak_ptr<SwitchboardConfigStore> configStore_;
    std::shared_ptr<SBNetworkReachabilityWrapper> rollOverReachability_;
    unsigned configFetchAttempts_ = 0;
    std::optional<std::vector<double>> testDarts_;
    std::size_t testDartIndex_ = 0;
    RandomSource randomSource_;
    // Set while the store is asked for a configuration: a failure told synchronously from
    // inside that call belongs to this slot's fetch, though `config_` is not updated yet.
    bool awaitingStoreAnswer_ = false;
    std::vector<std::uint64_t> applicationObservers_;
    // The last view the host put into the slot.
    std::weak_ptr<platform::View> hostView_;
};

} // namespace mediation
