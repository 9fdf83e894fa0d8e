#include "mediation/SwitchboardView.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <exception>
#include <random>

#include "mediation/SwitchboardAdNetworkAdapter.h"
#include "mediation/SwitchboardAdNetworkConfig.h"
#include "mediation/SwitchboardAdNetworkRegistry.h"
#include "mediation/SwitchboardConfigStore.h"
#include "mediation/SwitchboardDelegate.h"
#include "mediation/SwitchboardEndpoints.h"
#include "mediation/SwitchboardError.h"
#include "mediation/SwitchboardLog.h"
#include "platform/foundation/Locale.h"
#include "platform/foundation/Services.h"
#include "platform/foundation/URL.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLRequest.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/Event.h"

namespace mediation {

namespace {

// How each configured transition type is shown.
enum class TransitionStyle { None, ViewTransition, SlideFromLeft, SlideFromRight, Fade };

struct TransitionRow {
    int type;
    TransitionStyle style;
    platform::ViewAnimationTransition viewTransition;
};

constexpr std::array<TransitionRow, 8> kTransitions = {{
    {0, TransitionStyle::None, platform::ViewAnimationTransition::None},
    {1, TransitionStyle::ViewTransition, platform::ViewAnimationTransition::FlipFromLeft},
    {2, TransitionStyle::ViewTransition, platform::ViewAnimationTransition::FlipFromRight},
    {3, TransitionStyle::ViewTransition, platform::ViewAnimationTransition::CurlUp},
    {4, TransitionStyle::ViewTransition, platform::ViewAnimationTransition::CurlDown},
    {5, TransitionStyle::SlideFromLeft, platform::ViewAnimationTransition::None},
    {6, TransitionStyle::SlideFromRight, platform::ViewAnimationTransition::None},
    {7, TransitionStyle::Fade, platform::ViewAnimationTransition::None},
}};

const TransitionRow& transitionRow(int type) {
    for (const auto& row : kTransitions)
        if (row.type == type)
            return row;
    return kTransitions[0];
}

constexpr const char* kIncompleteDelegateException = "SwitchboardIncompleteDelegateException";
constexpr const char* kIncompleteDelegateReason =
    "SwitchboardDelegate must implement viewControllerForPresentingModalView";

constexpr const char* kImpressionMetricPath = "exmet.php";
constexpr const char* kClickMetricPath = "exclick.php";
// Ping replies are ignored; the cap only bounds what a misbehaving server can send.
constexpr std::int64_t kMaximumPingReplyBytes = 64 * 1024;
// Probed before a rollover when no services host is configured.
constexpr const char* kRollOverFallbackHost = "example.com";
// Divisor that maps the random source (0 to 2^31 - 1) into [0, 1).
constexpr double kRandomRange = 2147483648.0;
// How far below the total weight an oversized test dart is put.
constexpr double kTestDartMargin = 0.001;

// The process's generator for the draws, seeded from the clock on first use.
struct ProcessRandom {
    bool randSeeded = false;
    std::mt19937 generator;
};

ProcessRandom& processRandom() {
    static ProcessRandom r;
    return r;
}

// The running class-level fetch.
struct ClassFetch {
    bool active = false;
    std::weak_ptr<SwitchboardDelegate> delegate;
};

ClassFetch& classFetch() {
    static ClassFetch f;
    return f;
}

// The class as the configuration's delegate.
class ClassConfigDelegate final : public SwitchboardConfigDelegate {
  public:
    std::optional<std::string> switchboardConfigURL() override {
        return SwitchboardView::classSwitchboardConfigURL();
    }
    void switchboardConfigDidReceiveConfig(SwitchboardConfig& config) override {
        SwitchboardView::classSwitchboardConfigDidReceiveConfig(config);
    }
    void switchboardConfigDidFail(SwitchboardConfig& config, const platform::Error& error) override {
        SwitchboardView::classSwitchboardConfigDidFail(config, error);
    }
};

const std::shared_ptr<ClassConfigDelegate>& classConfigDelegate() {
    static const auto d = std::make_shared<ClassConfigDelegate>();
    return d;
}

bool isTabletDevice() {
    return platform::Device::current().userInterfaceIdiom() != platform::UserInterfaceIdiom::Phone;
}

std::string rollOverProbeHost() {
    if (auto url = platform::URL::parse(platform::servicesBaseURL()))
        if (auto host = url->host(); host && !host->empty())
            return *host;
    return kRollOverFallbackHost;
}

// Starts a class-level fetch through `ask` unless one runs.
template <typename Ask>
void startClassFetch(const std::shared_ptr<SwitchboardDelegate>& delegate, const char* busyWarning, Ask ask) {
    if (!delegate)
        return;
    auto& fetch = classFetch();
    if (fetch.active) {
        SBLogWarn(busyWarning);
        return;
    }
    fetch.active = true;
    fetch.delegate = delegate;
    auto config = ask(*SwitchboardConfigStore::sharedStore(), delegate->switchboardApplicationKey());
    // A fetch that the store refused will never call back: it must not hold the class busy.
    if (!config) {
        fetch.active = false;
        fetch.delegate.reset();
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Class operations

std::shared_ptr<SwitchboardView>
SwitchboardView::requestSwitchboardViewWithDelegate(const std::shared_ptr<SwitchboardDelegate>& delegate) {
    if (!delegate || !delegate->responds("viewControllerForPresentingModalView"))
        throw platform::NamedException(kIncompleteDelegateException, kIncompleteDelegateReason);
    auto view = create(delegate);
    view->startGetConfig();
    return view;
}

void SwitchboardView::startPreFetchingConfigurationDataWithDelegate(
    const std::shared_ptr<SwitchboardDelegate>& delegate) {
    startClassFetch(delegate, "Called startPreFetchingConfig when another fetch is in progress",
                    [](SwitchboardConfigStore& store, const std::string& key) {
                        return store.getConfig(key, classConfigDelegate());
                    });
}

void SwitchboardView::updateSwitchboardConfigWithDelegate(
    const std::shared_ptr<SwitchboardDelegate>& delegate) {
    startClassFetch(delegate, "Called updateConfig when another fetch is in progress",
                    [](SwitchboardConfigStore& store, const std::string& key) {
                        return store.fetchConfig(key, classConfigDelegate());
                    });
}

std::optional<std::string> SwitchboardView::classSwitchboardConfigURL() {
    auto delegate = classSwitchboardDelegateForConfig();
    if (delegate && delegate->responds("switchboardConfigURL"))
        return delegate->switchboardConfigURL();
    return std::nullopt;
}

void SwitchboardView::classSwitchboardConfigDidReceiveConfig(SwitchboardConfig& config) {
    SBLogDebug("Fetched Ad network config: %@", config.description());
    auto delegate = classSwitchboardDelegateForConfig();
    if (delegate && delegate->responds("switchboardDidReceiveConfig:"))
        delegate->switchboardDidReceiveConfig(nullptr);
    resetClassStateForTesting();
}

void SwitchboardView::classSwitchboardConfigDidFail(SwitchboardConfig& /*config*/,
                                                    const platform::Error& error) {
    SBLogError("Failed pre-fetching Switchboard config: %@", error);
    resetClassStateForTesting();
}

std::shared_ptr<SwitchboardDelegate> SwitchboardView::classSwitchboardDelegateForConfig() {
    auto& fetch = classFetch();
    return fetch.active ? fetch.delegate.lock() : nullptr;
}

void SwitchboardView::resetClassStateForTesting() {
    auto& fetch = classFetch();
    fetch.active = false;
    fetch.delegate.reset();
}

// ---------------------------------------------------------------------------------------------
// Life cycle

std::shared_ptr<SwitchboardView> SwitchboardView::create(std::weak_ptr<SwitchboardDelegate> delegate) {
    return makeSlot<SwitchboardView>(std::move(delegate));
}

SwitchboardView::SwitchboardView(ConstructionKey, std::weak_ptr<SwitchboardDelegate> delegate)
    : platform::View(platform::Rect(0, 0, kSlotWidth, kSlotHeight)), delegate_(std::move(delegate)) {
    setBackgroundColor(platform::Color::clearColor());
    setClipsToBounds(true);
    configStore_ = SwitchboardConfigStore::sharedStore();
}

void SwitchboardView::initWithDelegate() {
    std::weak_ptr<SwitchboardView> weakSelf = sharedSelf();
    auto& app = platform::Application::shared();
    applicationObservers_.push_back(
        app.addObserver(platform::kApplicationWillResignActiveNotification, [weakSelf](const std::string&) {
            if (auto self = weakSelf.lock())
                self->resignActive();
        }));
    applicationObservers_.push_back(
        app.addObserver(platform::kApplicationDidBecomeActiveNotification, [weakSelf](const std::string&) {
            if (auto self = weakSelf.lock())
                self->becomeActive();
        }));
}

SwitchboardView::~SwitchboardView() {
    auto& app = platform::Application::shared();
    for (auto token : applicationObservers_)
        app.removeObserver(token);
    delegate_.reset();
    if (config_)
        config_->removeDelegate(this);
    prioritizedAdNetCfgs_.clear();
    totalPercent_ = 0;
    requesting_ = false;
    for (auto* adapter : {&currAdapter_, &lastAdapter_}) {
        if (*adapter) {
            (*adapter)->setSwitchboardDelegate({});
            (*adapter)->setSwitchboardView({});
        }
        adapter->reset();
    }
    pendingAdapters_.clear();
    if (refreshTimer_)
        refreshTimer_->invalidate();
    rollOverReachability_.reset();
}

std::shared_ptr<SwitchboardView> SwitchboardView::sharedSelf() {
    return std::static_pointer_cast<SwitchboardView>(sharedView());
}

void SwitchboardView::setDelegate(std::weak_ptr<SwitchboardDelegate> delegate) {
    delegate_ = std::move(delegate);
    if (currAdapter_)
        currAdapter_->setSwitchboardDelegate(delegate_);
    if (lastAdapter_)
        lastAdapter_->setSwitchboardDelegate(delegate_);
}

std::shared_ptr<SwitchboardConfigStore> SwitchboardView::configStore() const {
    if (auto store = configStore_.lock())
        return store;
    return SwitchboardConfigStore::sharedStore();
}

bool SwitchboardView::delegateResponds(std::string_view selector) const {
    auto d = delegate();
    return d && d->responds(selector);
}

void SwitchboardView::becomeActive() {
    SBLogDebug("App become active, SwitchboardView will resume requesting ads");
    appInactive_ = false;
}

void SwitchboardView::resignActive() {
    SBLogDebug("App become inactive, SwitchboardView will stop requesting ads");
    appInactive_ = true;
}

void SwitchboardView::willMoveToSuperview(platform::View* newSuperview) {
    if (!newSuperview)
        stopRefreshTimer();
    platform::View::willMoveToSuperview(newSuperview);
}

void SwitchboardView::stopRefreshTimer() {
    if (refreshTimer_)
        refreshTimer_->invalidate();
    refreshTimer_.reset();
}

// ---------------------------------------------------------------------------------------------
// Configuration

void SwitchboardView::startGetConfig() {
    stopRefreshTimer();
    configFetchAttempts_ = 0;
    auto d = delegate();
    if (!d)
        return;
    auto self = sharedSelf();
    std::string key = d->switchboardApplicationKey();
    auto store = configStore();
    awaitingStoreAnswer_ = true;
    config_ = store->getConfig(key, self);
    awaitingStoreAnswer_ = false;
    if (!config_)
        retryWhenStoreIsFree(*store, &SwitchboardView::startGetConfig);
}

void SwitchboardView::retryWhenStoreIsFree(SwitchboardConfigStore& store, void (SwitchboardView::*step)()) {
    // The store refuses a fetch while another one runs, and that refusal is never called
    // back: the slot would stay without a configuration for good. It asks again once the
    // running fetch has ended.
    if (!store.fetchingConfig())
        return;
    std::weak_ptr<SwitchboardView> weakSelf = sharedSelf();
    store.whenFetchEnds([weakSelf, step] {
        if (auto s = weakSelf.lock())
            ((*s).*step)();
    });
}

void SwitchboardView::attemptFetchConfig() {
    auto d = delegate();
    if (!d)
        return;
    auto self = sharedSelf();
    std::string key = d->switchboardApplicationKey();
    auto store = configStore();
    awaitingStoreAnswer_ = true;
    auto fetched = store->fetchConfig(key, self);
    awaitingStoreAnswer_ = false;
    if (fetched)
        config_ = std::move(fetched);
    else
        retryWhenStoreIsFree(*store, &SwitchboardView::attemptFetchConfig);
}

void SwitchboardView::updateSwitchboardConfig() {
    stopRefreshTimer();
    SBLogDebug("======== Updating config ========");
    configFetchAttempts_ = 0;
    attemptFetchConfig();
}

std::optional<std::string> SwitchboardView::switchboardConfigURL() {
    auto d = delegate();
    if (d && d->responds("switchboardConfigURL"))
        return d->switchboardConfigURL();
    return std::nullopt;
}

void SwitchboardView::switchboardConfigDidReceiveConfig(SwitchboardConfig& cfg) {
    if (&cfg != config_.get()) {
        SBLogWarn("SwitchboardView: getting switchboardConfigDidReceiveConfig callback from unknown "
                  "SwitchboardConfig "
                  "object");
        return;
    }
    auto self = sharedSelf();
    SBLogDebug("Fetched Ad network config: %@", cfg.description());
    if (auto d = delegate(); d && d->responds("switchboardDidReceiveConfig:"))
        d->switchboardDidReceiveConfig(this);
    if (cfg.adsAreOff()) {
        if (auto d = delegate(); d && d->responds("switchboardReceivedNotificationAdsAreOff:"))
            d->switchboardReceivedNotificationAdsAreOff(this);
        return;
    }
    std::weak_ptr<SwitchboardView> weakSelf = self;
    platform::RunLoop::main().perform([weakSelf] {
        if (auto s = weakSelf.lock())
            s->buildPrioritizedAdNetCfgsAndMakeRequest();
    });

    float refresh = static_cast<float>(cfg.refreshInterval());
    if (auto d = delegate(); d && d->responds("adRefreshDuration"))
        if (auto duration = d->adRefreshDuration())
            refresh = static_cast<float>(*duration);
    platform::logLine(
        sbFormat("refresh Time: %f From Web refresh Time: %f ", refresh, cfg.refreshInterval()));
    if (static_cast<double>(refresh) > static_cast<double>(kMinimumRequestGap)) {
        stopRefreshTimer(); // a configuration that arrives again never leaves a second timer
        // The timer holds the slot, as the platform's timers hold their targets.
        refreshTimer_ = platform::Timer::scheduled(refresh, true,
                                                   [self](platform::Timer&) { self->timerRequestFreshAd(); });
    }
}

void SwitchboardView::switchboardConfigDidFail(SwitchboardConfig& cfg, const platform::Error& error) {
    if (config_ && &cfg != config_.get() && !awaitingStoreAnswer_) {
        SBLogWarn("SwitchboardView: getting switchboardConfigDidFail callback from unknown SwitchboardConfig "
                  "object");
        return;
    }
    auto self = sharedSelf();
    ++configFetchAttempts_;
    if (configFetchAttempts_ >= kMaximumConfigFetchAttempts) {
        SBLogError("Failed fetching Switchboard config: %@", error);
        notifyDelegateOfError(error);
        return;
    }
    std::weak_ptr<SwitchboardView> weakSelf = self;
    platform::RunLoop::main().perform([weakSelf] {
        if (auto s = weakSelf.lock())
            s->attemptFetchConfig();
    });
}

// ---------------------------------------------------------------------------------------------
// Requests

std::optional<double> SwitchboardView::secondsSinceLastRequest() const {
    if (!lastRequestMonotonic_)
        return std::nullopt;
    return platform::Clock::current().monotonic() - *lastRequestMonotonic_;
}

void SwitchboardView::requestFreshAd() {
    if (!platform::RunLoop::isMainThread()) {
        std::weak_ptr<SwitchboardView> weakSelf = sharedSelf();
        platform::performOnMain([weakSelf] {
            if (auto s = weakSelf.lock())
                s->requestFreshAd();
        });
        return;
    }
    if (ignoreNewAdRequests_) {
        notifyDelegateOfErrorWithCode(kSBErrorIgnoreNewRequests, "ignoreNewAdRequests flag set");
        return;
    }
    if (requesting_) {
        notifyDelegateOfErrorWithCode(kSBErrorRequestInProgress, "Ad request already in progress");
        return;
    }
    if (showingModalView_) {
        notifyDelegateOfErrorWithCode(kSBErrorModalViewActive, "Modal view active");
        return;
    }
    if (!config_) {
        notifyDelegateOfErrorWithCode(kSBErrorNoConfig, "No ad configuration");
        return;
    }
    if (auto elapsed = secondsSinceLastRequest();
        elapsed && *elapsed <= static_cast<double>(kMinimumRequestGap)) {
        notifyDelegateOfErrorWithCode(
            kSBErrorRequestTooSoon,
            sbFormat("Requesting fresh ad too soon! It has been only %lfs. Minimum %lfs", *elapsed,
                     static_cast<double>(kMinimumRequestGap)));
        return;
    }
    buildPrioritizedAdNetCfgsAndMakeRequest();
}

bool SwitchboardView::canRefresh() const {
    return !ignoreNewAdRequests_ && !ignoreAutoRefreshTimer_ && !appInactive_ && !showingModalView_;
}

void SwitchboardView::timerRequestFreshAd() {
    if (!canRefresh()) {
        platform::logLine("Not going to refresh due to flags, app not active or modal");
        return;
    }
    if (auto elapsed = secondsSinceLastRequest();
        elapsed && *elapsed <= static_cast<double>(kMinimumRequestGap)) {
        platform::logLine("Ad refresh timer fired too soon after last ad request, ignoring");
        return;
    }
    platform::logLine("======== Refreshing ad due to timer ========");
    buildPrioritizedAdNetCfgsAndMakeRequest();
}

void SwitchboardView::setPrioritizedAdNetCfgs(
    std::vector<std::shared_ptr<SwitchboardAdNetworkConfig>> configs) {
    prioritizedAdNetCfgs_ = std::move(configs);
    totalPercent_ = 0;
    for (const auto& c : prioritizedAdNetCfgs_)
        totalPercent_ += c->trafficPercentage();
}

void SwitchboardView::buildPrioritizedAdNetCfgsAndMakeRequest() {
    if (!config_)
        return;
    std::vector<std::shared_ptr<SwitchboardAdNetworkConfig>> list;
    for (const auto& entry : config_->adNetworkConfigs()) {
        if (pendingAdapters_.count(entry->networkType())) {
            SBLogDebug("Already has pending ad request for network type %d, not adding ad network config %@",
                       entry->networkType(), entry->description());
            continue;
        }
        list.push_back(entry);
    }
    // Stable: entries of equal priority keep the configuration's order.
    std::stable_sort(list.begin(), list.end(),
                     [](const auto& a, const auto& b) { return a->priority() < b->priority(); });
    setPrioritizedAdNetCfgs(std::move(list));
    makeAdRequest(true);
}

void SwitchboardView::makeAdRequest(bool isFirst) {
    if (prioritizedAdNetCfgs_.empty()) {
        notifyDelegateOfErrorWithCode(kSBErrorNoMoreNetworks, "No more ad networks to roll over");
        return;
    }
    if (showingModalView_) {
        SBLogDebug("Modal view is active, not going to request another ad");
        return;
    }
    rollOverReachability_.reset();
    if (requesting_)
        SBLogDebug("Already requesting ad, will request a new one.");
    requesting_ = true;

    auto entry = (isFirst && totalPercent_ > 0) ? nextNetworkCfgByPercent() : nextNetworkCfgByPriority();
    if (!entry) {
        requesting_ = false;
        notifyDelegateOfErrorWithCode(kSBErrorNoMoreNetworks, "No more ad networks to request");
        return;
    }
    auto self = sharedSelf();
    std::shared_ptr<SwitchboardAdNetworkAdapter> adapter;
    if (const auto& adapterClass = entry->adapterClass(); adapterClass && adapterClass->create) {
        try {
            adapter = adapterClass->create(delegate_, std::weak_ptr<SwitchboardViewInterface>(self), config_,
                                           entry);
        } catch (const std::exception& e) {
            SBLogError("Creating adapter %@ failed: %@", adapterClass->name, e.what());
        }
    }
    prioritizedAdNetCfgs_.erase(std::find(prioritizedAdNetCfgs_.begin(), prioritizedAdNetCfgs_.end(), entry));
    if (!adapter) {
        // An entry whose adapter cannot be made counts as a failed network: try the next one.
        SBLogError("No adapter for network type %d, skipping %@", entry->networkType(), entry->description());
        requesting_ = false;
        makeAdRequest(false);
        return;
    }
    lastAdapter_ = currAdapter_;
    currAdapter_ = adapter;
    lastRequestTime_ = platform::Clock::current().date();
    lastRequestMonotonic_ = platform::Clock::current().monotonic();
    pendingAdapters_[entry->networkType()] = adapter;
    if (lastAdapter_ && lastAdapter_->networkConfig() &&
        lastAdapter_->networkConfig()->networkType() == entry->networkType())
        lastAdapter_->stopBeingDelegate();
    try {
        adapter->getAd();
    } catch (const std::exception& e) {
        SBLogError("Adapter %@ failed in getAd: %@", adapter->className(), e.what());
        adapterDidFailAd(*adapter, std::nullopt);
    }
}

std::shared_ptr<SwitchboardAdNetworkConfig> SwitchboardView::nextNetworkCfgByPriority() {
    if (prioritizedAdNetCfgs_.empty())
        return nullptr;
    auto entry = prioritizedAdNetCfgs_.front();
    SBLogDebug(">>>> By Priority chosen %@ (%@)", entry->nid(), entry->networkName());
    return entry;
}

std::shared_ptr<SwitchboardAdNetworkConfig> SwitchboardView::nextNetworkCfgByPercent() {
    if (prioritizedAdNetCfgs_.empty())
        return nullptr;
    double dart = nextDart();
    double sum = 0;
    const std::shared_ptr<SwitchboardAdNetworkConfig>* chosen = &prioritizedAdNetCfgs_.back();
    for (const auto& entry : prioritizedAdNetCfgs_) {
        sum += entry->trafficPercentage();
        if (dart < sum) {
            chosen = &entry;
            break;
        }
    }
    SBLogDebug(">>>> By Percent chosen %@ (%@), dart %lf in %lf", (*chosen)->nid(), (*chosen)->networkName(),
               dart, totalPercent_);
    return *chosen;
}

void SwitchboardView::setTestDarts(std::optional<std::vector<double>> darts) {
    testDarts_ = std::move(darts);
    testDartIndex_ = 0;
}

std::uint32_t SwitchboardView::randomValue() {
    if (randomSource_)
        return randomSource_() & kRandomMax;
    auto& r = processRandom();
    if (!r.randSeeded) {
        r.generator.seed(static_cast<std::uint32_t>(platform::Clock::current().now()));
        r.randSeeded = true;
    }
    return static_cast<std::uint32_t>(r.generator()) & kRandomMax;
}

double SwitchboardView::nextDart() {
    if (testDarts_ && !testDarts_->empty()) {
        if (testDartIndex_ >= testDarts_->size())
            testDartIndex_ = 0;
        double dart = (*testDarts_)[testDartIndex_++];
        if (dart >= totalPercent_)
            dart = totalPercent_ - kTestDartMargin;
        return std::max(dart, 0.0);
    }
    // random() / 2^31 lies in [0, 1), so the dart lies in [0, totalPercent).
    return static_cast<double>(randomValue()) / kRandomRange * totalPercent_;
}

std::vector<int> SwitchboardView::pendingAdapterTypes() const {
    std::vector<int> types;
    for (const auto& [type, adapter] : pendingAdapters_)
        types.push_back(type);
    return types;
}

// ---------------------------------------------------------------------------------------------
// Adapter callbacks

void SwitchboardView::adRequestReturnsForAdapter(SwitchboardAdNetworkAdapter& adapter) {
    if (!adapter.networkConfig())
        return;
    int type = adapter.networkConfig()->networkType();
    auto it = pendingAdapters_.find(type);
    if (it == pendingAdapters_.end())
        return;
    if (it->second.get() != &adapter) {
        // Another adapter of this type is awaited: a late answer does not cancel its wait.
        SBLogError(
            "Stored pending adapter %@ for network type %@ is different from the one sending the adapter "
            "callback %@",
            it->second->className(), type, adapter.className());
        return;
    }
    // The callers hold the adapter until their callback ends.
    pendingAdapters_.erase(it);
}

void SwitchboardView::adapterDidReceiveAdView(SwitchboardAdNetworkAdapter& adapter,
                                              std::shared_ptr<platform::View> view) {
    auto self = sharedSelf();
    auto keepAdapter = adapter.weak_from_this().lock();
    adRequestReturnsForAdapter(adapter);
    if (&adapter != currAdapter_.get()) {
        platform::logLine(sbFormat("Received didReceiveAdView from a stale adapter %@", adapter.className()));
        return;
    }
    if (!view) {
        // Nothing to show: handled as the network's failure, so the cycle rolls over.
        adapterDidFailAd(adapter, std::nullopt);
        return;
    }
    const auto& entry = adapter.networkConfig();
    platform::logLine(sbFormat("Received ad from Network: %@", entry ? entry->networkName() : std::string()));
    std::weak_ptr<SwitchboardView> weakSelf = self;
    platform::RunLoop::main().perform([weakSelf, view] {
        if (auto s = weakSelf.lock())
            s->transitionToView(view);
    });
    requesting_ = false;
    if (entry && adapter.shouldSendExMetric())
        reportExImpression(entry->nid(), entry->networkType());
    if (delegateResponds("switchboardDidReceiveAd:"))
        delegate()->switchboardDidReceiveAd(this);
}

void SwitchboardView::adapterDidFinishAdRequest(SwitchboardAdNetworkAdapter& adapter) {
    auto self = sharedSelf();
    auto keepAdapter = adapter.weak_from_this().lock();
    adRequestReturnsForAdapter(adapter);
    if (&adapter != currAdapter_.get()) {
        platform::logLine("Received adapterDidFinishAdRequest from a stale adapter");
        return;
    }
    requesting_ = false;
    const auto& entry = adapter.networkConfig();
    if (entry && adapter.shouldSendExMetric())
        reportExImpression(entry->nid(), entry->networkType());
}

void SwitchboardView::adapterDidFailAd(SwitchboardAdNetworkAdapter& adapter,
                                       const std::optional<platform::Error>& error) {
    auto self = sharedSelf();
    auto keepAdapter = adapter.weak_from_this().lock();
    adRequestReturnsForAdapter(adapter);
    if (&adapter != currAdapter_.get()) {
        platform::logLine(sbFormat("Received didFailAd from Network: %@: %@", adapter.className(), error));
        return;
    }
    const auto& entry = adapter.networkConfig();
    platform::logLine(sbFormat("Failed to receive ad from Network: %@ : %@",
                               entry ? entry->networkName() : std::string(), error));
    requesting_ = false;
    if (prioritizedAdNetCfgs_.empty()) {
        notifyDelegateOfErrorWithCode(kSBErrorNoMoreNetworks, "No more ad networks to roll over");
        return;
    }
    rollOverReachability_ = SBNetworkReachabilityWrapper::reachabilityWithHostname(
        rollOverProbeHost(), std::weak_ptr<SBNetworkReachabilityDelegate>(self));
    if (!rollOverReachability_ || !rollOverReachability_->scheduleInCurrentRunLoop()) {
        rollOverReachability_.reset();
        notifyDelegateOfErrorWithCode(kSBErrorRollOverReachability, "Failed network reachability test");
    }
}

void SwitchboardView::reachabilityBecameReachable(SBNetworkReachabilityWrapper& wrapper) {
    if (&wrapper != rollOverReachability_.get()) {
        SBLogWarn("Unrecognized reachability called reachable %s:%d", __FILE__, __LINE__);
        return;
    }
    auto self = sharedSelf();
    lastError_.reset();
    if (delegateResponds("switchboardDidFailToReceiveAd:usingBackup:"))
        delegate()->switchboardDidFailToReceiveAd(this, true);
    rollOverReachability_.reset();
    rollOver();
}

void SwitchboardView::reachabilityNotReachable(SBNetworkReachabilityWrapper& wrapper) {
    if (&wrapper != rollOverReachability_.get()) {
        SBLogWarn("Unrecognized reachability called not reachable %s:%d", __FILE__, __LINE__);
        return;
    }
    auto self = sharedSelf();
    rollOverReachability_.reset();
    notifyDelegateOfErrorWithCode(kSBErrorRollOverReachability, "No network connection for rollover");
}

void SwitchboardView::rollOver() {
    if (ignoreNewAdRequests_)
        return;
    if (!platform::RunLoop::isMainThread()) {
        std::weak_ptr<SwitchboardView> weakSelf = sharedSelf();
        platform::performOnMain([weakSelf] {
            if (auto s = weakSelf.lock())
                s->rollOver();
        });
        return;
    }
    makeAdRequest(false);
}

void SwitchboardView::notifyDelegateOfErrorWithCode(int code, const std::string& description) {
    notifyDelegateOfError(SwitchboardError(code, description));
}

void SwitchboardView::notifyDelegateOfError(const platform::Error& error) {
    lastError_ = error;
    auto self = sharedSelf(); // the host may let the slot go while it is told
    if (delegateResponds("switchboardDidFailToReceiveAd:usingBackup:"))
        delegate()->switchboardDidFailToReceiveAd(this, false);
}

// ---------------------------------------------------------------------------------------------
// Showing ads

std::shared_ptr<platform::View> SwitchboardView::adView() const {
    for (const auto& v : subviews())
        if (v->tag() == kAdViewTag)
            return v;
    return nullptr;
}

bool SwitchboardView::adExists() const {
    return adView() != nullptr;
}

void SwitchboardView::replaceBannerViewWith(const std::shared_ptr<platform::View>& view) {
    hostView_ = view;
    transitionToView(view);
}

bool SwitchboardView::showingHostView() const {
    auto shown = adView();
    return shown && shown == hostView_.lock();
}

int SwitchboardView::randomTransitionType() {
    return static_cast<int>(randomValue() % kAnimatedTransitionCount) + 1;
}

void SwitchboardView::queueDidAnimateToNewAdIn() {
    if (!delegateResponds("switchboardDidAnimateToNewAdIn:"))
        return;
    std::weak_ptr<SwitchboardView> weakSelf = sharedSelf();
    platform::RunLoop::main().perform([weakSelf] {
        auto s = weakSelf.lock();
        if (!s)
            return;
        if (auto d = s->delegate())
            d->switchboardDidAnimateToNewAdIn(s.get());
    });
}

void SwitchboardView::transitionToView(const std::shared_ptr<platform::View>& incoming) {
    if (!incoming)
        return;
    auto current = adView();
    if (current == incoming) {
        SBLogDebug("ignoring ad transition to itself");
        return;
    }
    incoming->setTag(kAdViewTag);
    if (!current) {
        addSubview(incoming);
        queueDidAnimateToNewAdIn();
        return;
    }
    current->setTag(0);

    int type = config_ ? config_->bannerAnimationType() : kTransitionNone;
    if (type == kTransitionRandom) {
        type = randomTransitionType();
        SBLogDebug("Animation type chosen by random is %d", type);
    }
    if (!currAdapter_ || !currAdapter_->isBannerAnimationOK(type))
        type = randomTransitionType();
    const TransitionRow& row = transitionRow(type);

    if (row.style == TransitionStyle::None) {
        current->removeFromSuperview();
        addSubview(incoming);
        queueDidAnimateToNewAdIn();
        return;
    }

    platform::Rect frame = incoming->frame();
    switch (row.style) {
    case TransitionStyle::SlideFromLeft:
        frame.origin.x = -frame.width();
        incoming->setFrame(frame);
        addSubview(incoming);
        break;
    case TransitionStyle::SlideFromRight:
        frame.origin.x = bounds().width();
        incoming->setFrame(frame);
        addSubview(incoming);
        break;
    case TransitionStyle::Fade:
        incoming->setAlpha(0);
        addSubview(incoming);
        break;
    default:
        break;
    }

    SBLogDebug("Beginning SwitchboardAdTransition animation currAdView %p incoming %p", current.get(),
               incoming.get());
    std::weak_ptr<SwitchboardView> weakSelf = sharedSelf();
    platform::View::beginAnimations(kTransitionAnimationID);
    // The old view is kept until the animation has ended.
    platform::View::setAnimationDidStop([weakSelf, current](const std::string& animationID, bool finished) {
        if (auto s = weakSelf.lock())
            s->newAdAnimationDidStop(animationID, finished, current);
    });
    platform::View::setAnimationBeginsFromCurrentState(true);
    platform::View::setAnimationDuration(kTransitionDuration);
    switch (row.style) {
    case TransitionStyle::ViewTransition:
        addSubview(incoming);
        current->removeFromSuperview();
        platform::View::setAnimationTransition(row.viewTransition, *this, false);
        break;
    case TransitionStyle::SlideFromLeft:
    case TransitionStyle::SlideFromRight:
        frame.origin.x = 0;
        incoming->setFrame(frame);
        break;
    case TransitionStyle::Fade:
        incoming->setAlpha(1);
        break;
    default:
        break;
    }
    platform::View::commitAnimations();
}

void SwitchboardView::newAdAnimationDidStop(const std::string& animationID, bool finished,
                                            const std::shared_ptr<platform::View>& oldView) {
    SBLogDebug("animation %@ finished %@ context %p", animationID, finished ? "YES" : "NO", oldView.get());
    // The old view leaves the slot, unless it has been shown again meanwhile.
    if (oldView && oldView->superview().get() == this && oldView->tag() != kAdViewTag)
        oldView->removeFromSuperview();
    if (lastAdapter_) {
        lastAdapter_->setSwitchboardDelegate({});
        lastAdapter_->setSwitchboardView({});
        lastAdapter_.reset();
    }
    if (auto d = delegate(); d && d->responds("switchboardDidAnimateToNewAdIn:"))
        d->switchboardDidAnimateToNewAdIn(this);
}

// ---------------------------------------------------------------------------------------------
// Host queries

float SwitchboardView::adRefreshTime() const {
    if (auto d = delegate(); d && d->responds("adRefreshDuration"))
        if (auto duration = d->adRefreshDuration())
            return static_cast<float>(*duration);
    return config_ ? static_cast<float>(config_->refreshInterval()) : 0.0f;
}

platform::Size SwitchboardView::actualAdSize() const {
    // A house ad put in after a network failed is sized by itself, not by that network's view.
    if (showingHostView())
        return adView()->frame().size;
    if (currAdapter_ && currAdapter_->adNetworkView())
        return currAdapter_->adNetworkView()->frame().size;
    platform::logLine("adapter nil");
    if (isTabletDevice())
        return {kTabletAdWidth, kTabletAdHeight};
    return {kSlotWidth, kSlotHeight};
}

void SwitchboardView::rotateToOrientation(int orientation) {
    if (currAdapter_)
        currAdapter_->rotateToOrientation(orientation);
}

std::optional<std::string> SwitchboardView::mostRecentNetworkName() const {
    if (currAdapter_ && currAdapter_->networkConfig())
        return currAdapter_->networkConfig()->networkName();
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// Metrics

bool SwitchboardView::pointInside(platform::Point point, const platform::Event* event) {
    bool inside = platform::View::pointInside(point, event);
    // A touch on the host's own view (a house ad) is no click on the network's ad.
    if (inside && currAdapter_ && currAdapter_ != lastNotifyAdapter_.lock() && event && !showingHostView() &&
        event->type() == platform::Event::Type::Touches && currAdapter_->shouldSendExMetric()) {
        lastNotifyAdapter_ = currAdapter_;
        if (const auto& entry = currAdapter_->networkConfig())
            reportExClick(entry->nid(), entry->networkType());
    }
    return inside;
}

void SwitchboardView::reportExImpression(const std::string& nid, int netType) {
    std::optional<std::string> base;
    if (auto d = delegate(); d && d->responds("switchboardImpMetricURL"))
        base = d->switchboardImpMetricURL();
    metricPing(base.value_or(switchboardDefaultEndpoint(kImpressionMetricPath)), nid, netType);
}

void SwitchboardView::reportExClick(const std::string& nid, int netType) {
    std::optional<std::string> base;
    if (auto d = delegate(); d && d->responds("switchboardClickMetricURL"))
        base = d->switchboardClickMetricURL();
    metricPing(base.value_or(switchboardDefaultEndpoint(kClickMetricPath)), nid, netType);
}

void SwitchboardView::metricPing(const std::string& base, const std::string& nid, int netType) {
    // Each value is escaped on its own: keys and ids come from the remote configuration.
    std::string query =
        "appid=" + switchboardEscapeQueryValue(config_ ? config_->appKey() : std::string()) +
        "&nid=" + switchboardEscapeQueryValue(nid) + "&type=" + std::to_string(netType) +
        "&country_code=" + switchboardEscapeQueryValue(platform::Locale::current().identifier()) +
        "&appver=" + std::to_string(kSwitchboardLibraryVersion) + "&client=1";
    std::string url = switchboardURLWithQuery(base, query);
    SBLogDebug("Sending metric ping to %@", url);
    auto request = platform::URLRequest::withURLString(url);
    if (!request) {
        SBLogError("Cannot send metric ping to malformed URL %@", url);
        return;
    }
    // Fire and forget: the connection keeps itself alive until it ends; its reply is ignored.
    auto connection = platform::URLConnection::create(*request, nullptr, false);
    connection->setMaximumBodyLength(kMaximumPingReplyBytes);
    connection->start();
}

} // namespace mediation
