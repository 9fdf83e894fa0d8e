#include "mediation/SwitchboardConfigStore.h"

#include <string_view>

#include "mediation/SwitchboardConfig.h"
#include "mediation/SwitchboardError.h"
#include "mediation/SwitchboardLog.h"
#include "platform/foundation/URL.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"
#include "platform/runloop/RunLoop.h"

namespace mediation {

namespace {

constexpr int kFirstSuccessStatus = 200;
constexpr int kLastSuccessStatus = 299;
// Name of the delayed recheck on the run loop, for cancelling it.
constexpr std::string_view kRecheckPerformName = "checkReachability";

constexpr const char* kErrorSettingUpReachability = "Error setting up reachability check to config server";
constexpr const char* kErrorSchedulingReachability = "Error scheduling reachability check to config server";
constexpr const char* kErrorCreatingConnection = "Error creating connection to config server";
constexpr const char* kErrorConnecting = "Error connecting to config server";
constexpr const char* kErrorStatus = "Config server did not return status 200";

std::shared_ptr<SwitchboardConfigStore>& gStore() {
    static std::shared_ptr<SwitchboardConfigStore> store;
    return store;
}

} // namespace

std::shared_ptr<SwitchboardConfigStore> SwitchboardConfigStore::sharedStore() {
    auto& store = gStore();
    if (!store)
        store = std::make_shared<SwitchboardConfigStore>();
    return store;
}

void SwitchboardConfigStore::resetStore() {
    auto& store = gStore();
    if (store)
        store = std::make_shared<SwitchboardConfigStore>();
}

SwitchboardConfigStore::~SwitchboardConfigStore() {
    platform::RunLoop::current().cancelPerforms(this);
    if (reachability_) {
        reachability_->setDelegate({});
        reachability_->unscheduleFromCurrentRunLoop();
    }
    if (connection_)
        connection_->cancel();
}

std::shared_ptr<SwitchboardConfig>
SwitchboardConfigStore::getConfig(const std::string& appKey,
                                  const std::shared_ptr<SwitchboardConfigDelegate>& delegate) {
    auto it = configs_.find(appKey);
    if (it == configs_.end())
        return fetchConfig(appKey, delegate);
    auto config = it->second;
    if (config->hasConfig()) {
        if (delegate) {
            std::weak_ptr<SwitchboardConfigDelegate> weakDelegate = delegate;
            platform::RunLoop::main().perform([weakDelegate, config] {
                if (auto d = weakDelegate.lock())
                    d->switchboardConfigDidReceiveConfig(*config);
            });
        }
    } else if (delegate) {
        config->addDelegate(delegate);
    }
    return config;
}

std::shared_ptr<SwitchboardConfig>
SwitchboardConfigStore::fetchConfig(const std::string& appKey,
                                    const std::shared_ptr<SwitchboardConfigDelegate>& delegate) {
    auto config = SwitchboardConfig::create(appKey, delegate);
    if (fetchingConfig_) {
        SBLogWarn("Another fetch is in progress, wait until finished.");
        return nullptr;
    }
    fetchingConfig_ = config;
    if (!checkReachability())
        return nullptr;
    configs_.insert_or_assign(appKey, config);
    return config;
}

bool SwitchboardConfigStore::checkReachability() {
    if (!fetchingConfig_)
        return false;
    SBLogDebug("Checking if config is reachable at %@", fetchingConfig_->configURL());
    if (!reachability_) {
        std::string host;
        if (auto url = platform::URL::parse(fetchingConfig_->configURL()))
            host = url->host().value_or("");
        reachability_ = SBNetworkReachabilityWrapper::reachabilityWithHostname(host, weak_from_this());
        if (!reachability_) {
            abandonFetch(SwitchboardError(kSBErrorConfigConnection, kErrorSettingUpReachability));
            return false;
        }
    }
    if (!reachability_->scheduleInCurrentRunLoop()) {
        reachability_.reset();
        abandonFetch(SwitchboardError(kSBErrorConfigConnection, kErrorSchedulingReachability));
        return false;
    }
    return true;
}

void SwitchboardConfigStore::abandonFetch(const platform::Error& error) {
    auto keepAlive = shared_from_this();
    auto config = fetchingConfig_;
    endFetch();
    if (!config)
        return;
    // A recheck that fails leaves a configuration that no fetch will ever complete: without
    // this, later getConfig calls for its key would wait on it for good.
    uncache(config);
    config->notifyDelegatesOfFailure(error);
}

void SwitchboardConfigStore::uncache(const std::shared_ptr<SwitchboardConfig>& config) {
    auto it = configs_.find(config->appKey());
    if (it != configs_.end() && it->second == config)
        configs_.erase(it);
}

void SwitchboardConfigStore::whenFetchEnds(std::function<void()> work) {
    if (!work)
        return;
    if (!fetchingConfig_) {
        platform::RunLoop::main().perform(std::move(work));
        return;
    }
    fetchEndWaiters_.push_back(std::move(work));
}

void SwitchboardConfigStore::endFetch() {
    fetchingConfig_.reset();
    auto waiters = std::move(fetchEndWaiters_);
    fetchEndWaiters_.clear();
    for (auto& work : waiters)
        platform::RunLoop::main().perform(std::move(work));
}

void SwitchboardConfigStore::reachabilityNotReachable(SBNetworkReachabilityWrapper& wrapper) {
    if (&wrapper != reachability_.get()) {
        SBLogWarn("Unrecognized reachability object called not reachable %s:%d", __FILE__, __LINE__);
        return;
    }
    SBLogDebug("Config host %@ not (yet) reachable, check back later", wrapper.hostname());
    reachability_.reset();
    std::weak_ptr<SwitchboardConfigStore> weakSelf = weak_from_this();
    platform::RunLoop::current().performAfter(
        kReachabilityRecheckDelay,
        [weakSelf] {
            if (auto self = weakSelf.lock())
                self->checkReachability();
        },
        this, std::string(kRecheckPerformName));
}

void SwitchboardConfigStore::reachabilityBecameReachable(SBNetworkReachabilityWrapper& wrapper) {
    if (&wrapper != reachability_.get()) {
        SBLogWarn("Unrecognized reachability object called reachable %s:%d", __FILE__, __LINE__);
        return;
    }
    reachability_.reset();
    startFetchingAssumingReachable();
}

void SwitchboardConfigStore::startFetchingAssumingReachable() {
    if (!fetchingConfig_)
        return;
    auto request = platform::URLRequest::withURLString(fetchingConfig_->configURL());
    if (!request || !platform::URLConnection::canHandleRequest(*request)) {
        failedFetchingWithError(SwitchboardError(kSBErrorConfigConnection, kErrorCreatingConnection));
        return;
    }
    receivedData_.clear();
    // Held weakly: a store that is reset mid-download stops hearing from its connection.
    connection_ = platform::URLConnection::create(*request, shared_from_this(), false,
                                                  platform::URLConnection::DelegateHold::Weak);
    connection_->setMaximumBodyLength(kMaximumConfigReplyBytes);
    connection_->start();
}

void SwitchboardConfigStore::connectionDidReceiveResponse(platform::URLConnection& connection,
                                                          const platform::URLResponse& response) {
    if (&connection != connection_.get()) {
        SBLogError("Unrecognized connection object %s:%d", __FILE__, __LINE__);
        return;
    }
    int status = response.statusCode();
    if (status < kFirstSuccessStatus || status > kLastSuccessStatus) {
        SBLogWarn("SwitchboardConfig: HTTP %d, cancelling %@", status, response.url().absoluteString());
        connection.cancel();
        failedFetchingWithError(SwitchboardError(kSBErrorConfigStatus, kErrorStatus));
        return;
    }
    receivedData_.clear(); // a redirect's body is not the configuration
}

void SwitchboardConfigStore::connectionDidReceiveData(platform::URLConnection& connection,
                                                      const platform::Data& data) {
    if (&connection != connection_.get()) {
        SBLogError("Unrecognized connection object %s:%d", __FILE__, __LINE__);
        return;
    }
    receivedData_.insert(receivedData_.end(), data.begin(), data.end());
}

void SwitchboardConfigStore::connectionDidFailWithError(platform::URLConnection& connection,
                                                        const platform::Error& error) {
    if (&connection != connection_.get()) {
        SBLogError("Unrecognized connection object %s:%d", __FILE__, __LINE__);
        return;
    }
    failedFetchingWithError(SwitchboardError(kSBErrorConfigConnection, std::string(kErrorConnecting), error));
}

void SwitchboardConfigStore::connectionDidFinishLoading(platform::URLConnection& connection) {
    if (&connection != connection_.get()) {
        SBLogError("Unrecognized connection object %s:%d", __FILE__, __LINE__);
        return;
    }
    auto keepAlive = shared_from_this();
    auto config = fetchingConfig_;
    if (!config) {
        finishedFetching();
        return;
    }
    std::string_view reply(reinterpret_cast<const char*>(receivedData_.data()), receivedData_.size());
    SwitchboardError parseError(kSBErrorConfigInvalid, std::string());
    if (!config->parseConfig(reply, &parseError)) {
        failedFetchingWithError(parseError);
        return;
    }
    finishedFetching();
}

void SwitchboardConfigStore::failedFetchingWithError(const platform::Error& error) {
    auto keepAlive = shared_from_this();
    auto config = fetchingConfig_;
    if (config) {
        config->notifyDelegatesOfFailure(error);
        uncache(config);
    }
    finishedFetching();
}

void SwitchboardConfigStore::finishedFetching() {
    connection_.reset();
    receivedData_.clear();
    endFetch();
}

} // namespace mediation
