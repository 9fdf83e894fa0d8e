#pragma once
// SwitchboardConfigStore: the process-wide cache and fetcher of mediation configurations,
// keyed by application key. It fetches at most one configuration at a time in the whole
// process: it waits until the configuration host is reachable (probing again every 10 s for
// as long as it takes), downloads the configuration with one GET of its configURL, has it
// parsed, and tells the configuration's delegates the outcome. Nothing is written to disk;
// the cache lives as long as the store.
//
// Every failure reaches the configuration's delegates as switchboardConfigDidFail with a
// SwitchboardError: 10 (no probe, probe not scheduled, no connection, download failed or
// reply over kMaximumConfigReplyBytes), 11 (HTTP status outside 200-299), or the parse's 20
// or 30. A failed configuration leaves the cache, so the next getConfig fetches again (also
// when the failure comes from a recheck of reachability that cannot be set up). An
// unreachable host is no failure: the delegates hear nothing while the store waits.
//
// Ownership: sharedStore() holds the one store; resetStore() replaces it by an empty one
// (the old one's probe, recheck and download stop with it, without callbacks). The store
// keeps the configurations strongly and their delegates are held weakly by each
// configuration. Main thread only: every callback (probe, recheck, download) arrives on the
// run loop of the thread that started the fetch.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "mediation/SBNetworkReachabilityWrapper.h"
#include "mediation/SwitchboardForward.h"
#include "platform/foundation/Value.h"
#include "platform/net/URLConnection.h"

namespace mediation {

class SwitchboardConfigStore : public SBNetworkReachabilityDelegate,
                               public platform::URLConnectionDelegate,
                               public std::enable_shared_from_this<SwitchboardConfigStore> {
  public:
    // Seconds between probes of an unreachable configuration host.
    static constexpr double kReachabilityRecheckDelay = 10.0;
    // A configuration reply longer than this fails like a broken download (code 10).
    static constexpr std::int64_t kMaximumConfigReplyBytes = 1024 * 1024;

    // The shared store, created on first use.
    static std::shared_ptr<SwitchboardConfigStore> sharedStore();
    // When a shared store exists, replaces it by a new, empty one.
    static void resetStore();

    SwitchboardConfigStore() = default;
    ~SwitchboardConfigStore() override;
    SwitchboardConfigStore(const SwitchboardConfigStore&) = delete;
    SwitchboardConfigStore& operator=(const SwitchboardConfigStore&) = delete;

    // The cached configuration of `appKey` when there is one: when it is complete, the
    // delegate's switchboardConfigDidReceiveConfig is queued on the main run loop; while it is
    // still being fetched, the delegate is added to its delegates. Without one: fetchConfig.
    std::shared_ptr<SwitchboardConfig> getConfig(const std::string& appKey,
                                                 const std::shared_ptr<SwitchboardConfigDelegate>& delegate);
    // Always starts a new fetch; answers the new configuration (which replaces a cached one
    // of the same key), or null when another fetch runs (warning "Another fetch is in
    // progress, wait until finished.", no callback) or the fetch could not start (the
    // delegates have then been told).
    std::shared_ptr<SwitchboardConfig>
    fetchConfig(const std::string& appKey, const std::shared_ptr<SwitchboardConfigDelegate>& delegate);

    // The steps of a fetch.
    bool checkReachability();
    void startFetchingAssumingReachable();
    void failedFetchingWithError(const platform::Error& error);
    void finishedFetching();

    // The probe of the configuration host during a fetch, and the download.
    const std::shared_ptr<SBNetworkReachabilityWrapper>& reachability() const { return reachability_; }
    void setReachability(std::shared_ptr<SBNetworkReachabilityWrapper> reachability) {
        reachability_ = std::move(reachability);
    }
    const std::shared_ptr<platform::URLConnection>& connection() const { return connection_; }
    void setConnection(std::shared_ptr<platform::URLConnection> connection) {
        connection_ = std::move(connection);
    }
    // The configuration being fetched, null when none.
    const std::shared_ptr<SwitchboardConfig>& fetchingConfig() const { return fetchingConfig_; }
    // Queues `work` on the main run loop once the running fetch has ended, however it ends
    // (at once when none runs): so a caller whose fetch was refused can ask again.
    void whenFetchEnds(std::function<void()> work);

    // SBNetworkReachabilityDelegate.
    void reachabilityBecameReachable(SBNetworkReachabilityWrapper& wrapper) override;
    void reachabilityNotReachable(SBNetworkReachabilityWrapper& wrapper) override;

    // URLConnectionDelegate.
    void connectionDidReceiveResponse(platform::URLConnection& connection,
                                      const platform::URLResponse& response) override;
    void connectionDidReceiveData(platform::URLConnection& connection, const platform::Data& data) override;
    void connectionDidFinishLoading(platform::URLConnection& connection) override;
    void connectionDidFailWithError(platform::URLConnection& connection,
                                    const platform::Error& error) override;

  private:
    // Ends the fetch after a failure to start it: tells the delegates, clears the fetch.
    void abandonFetch(const platform::Error& error);
    // Drops `config` from the cache when it is the one cached under its key.
    void uncache(const std::shared_ptr<SwitchboardConfig>& config);
    // Clears the running fetch and hands the waiting work to the run loop.
    void endFetch();

    std::map<std::string, std::shared_ptr<SwitchboardConfig>, std::less<>> configs_;
    std::shared_ptr<SwitchboardConfig> fetchingConfig_;
    std::shared_ptr<SBNetworkReachabilityWrapper> reachability_;
    std::shared_ptr<platform::URLConnection> connection_;
    platform::Data receivedData_;
    std::vector<std::function<void()>> fetchEndWaiters_;
};

} // namespace mediation
