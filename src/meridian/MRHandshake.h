#pragma once
// MRHandshake: the Meridian client's process-wide configuration, fetched from the ad server's
// "appConfigServlet" before ads are fetched and again after the interval the server chooses.
// It carries the kill switch for all ad requests, the per-ad-type refresh period and video
// interval, and the time-out within which a cached video may be replayed. The reply and the
// video timestamps are kept in "mrsdk/mrhandshake.archive" under Library (an XML property
// list, written atomically), so the schedule survives a restart.
//
// Ownership: one shared instance (sharedHandshake()), created on first use on the main thread
// and kept for the process; resetForTesting() drops it (its connection and timer stop, and
// nothing of the old instance reaches the new one). Callbacks (connection, timers) arrive on
// the main run loop. A replaced or failed handshake connection is ignored.
//
// Retries: a failed handshake is asked again after kHandshakeRetryDelay, and the server's
// interval is never shorter than kMinimumHandshakeInterval, so an unreachable or careless
// server is not asked in a tight loop.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"
#include "platform/net/URLConnection.h"
#include "platform/runloop/RunLoop.h"

namespace meridian {

// The settings of one ad type; -1 in a field means the server gave none.
struct MRAdTypeConfiguration {
    float videoInterval = -1;
    int adType = 0;
    float refreshPeriod = -1;
};

class MRHandshake : public platform::URLConnectionDelegate, public std::enable_shared_from_this<MRHandshake> {
public:
    static constexpr float kDefaultDeferredViewTimeout = 3600;
    static constexpr float kDefaultHandshakeCallbackDuration = 86400;
    static constexpr double kHandshakeRetryDelay = 60;
    static constexpr double kMinimumHandshakeInterval = 60;
    static constexpr std::int64_t kMaximumReplyBytes = 256 * 1024;

    static std::filesystem::path statePath();
    static MRHandshake& sharedHandshake();
    // Tests: forgets the shared instance, stopping its connection and timer.
    static void resetForTesting();
    // The per-type settings name of an ad-type number (1 and unknown numbers: "MRBannerAdTop").
    static std::string adTypeName(int adType);

    ~MRHandshake() override;

    const std::string& apid() const { return apid_; }
    void setApid(std::string apid) { apid_ = std::move(apid); }
    float deferredviewtimeout() const { return deferredviewtimeout_; }
    bool isAdCallAllowed() const { return isAdCallAllowed_; }
    std::optional<platform::Date> lastVideoPlayedAt() const { return lastVideoPlayedAt_; }
    void setLastVideoPlayedAt(platform::Date date);
    std::optional<platform::Date> lastVideoRequestMadeAt() const { return lastVideoRequestMadeAt_; }
    void setLastVideoRequestMadeAt(platform::Date date);
    float handshakeCallbackDuration() const { return handshakeCallbackDuration_; }
    int adType() const { return adType_; }
    void setAdType(int adType) { adType_ = adType; }
    const platform::Value& handshakeResponse() const { return handshakeResponse_; }
    std::optional<platform::Date> nextHandshakeToOccurAt() const { return nextHandshakeToOccurAt_; }

    bool isVideoAdRequestAllowed() const;
    bool isDeferredTimeoutExpired() const;
    void requestConfiguration();
    MRAdTypeConfiguration adConfig() const;
    MRAdTypeConfiguration configurationForAdType(int adType) const;
    static MRAdTypeConfiguration configurationFromDictionary(const platform::Value* entry, int adType);
    // Takes a finished handshake reply's text (UTF-8 JSON): a reply with an "mrishake"
    // object and no errors replaces the stored one and is applied, scheduling the next
    // handshake and saving the state; an errored reply has its errors shown, and anything
    // else is reported; neither changes the reply in force, now or after a restart. The
    // connection's finish hands its reply here.
    void handshakeReplyReceived(std::string_view text);
    void parseResponseAndSetupNextHandshake(bool setup);
    void setupNextHandshake();
    void loadState();
    void saveState() const;
    static void logError(const std::string& message);
    static void showError(const std::string& message, const std::string& type);

    // URLConnectionDelegate.
    void connectionDidReceiveResponse(platform::URLConnection& c, const platform::URLResponse& r) override;
    void connectionDidReceiveData(platform::URLConnection& c, const platform::Data& data) override;
    void connectionDidFinishLoading(platform::URLConnection& c) override;
    void connectionDidFailWithError(platform::URLConnection& c, const platform::Error& error) override;

private:
    MRHandshake() = default;
    void start();
    void connect(const platform::URLRequest& request);
    void scheduleHandshake(double delay);
    void failed();
    double now() const;

    std::string apid_;
    float deferredviewtimeout_ = kDefaultDeferredViewTimeout;
    bool isAdCallAllowed_ = true;
    std::optional<platform::Date> lastVideoPlayedAt_;
    std::optional<platform::Date> lastVideoRequestMadeAt_;
    int adType_ = 0;
    float handshakeCallbackDuration_ = kDefaultHandshakeCallbackDuration;
    std::shared_ptr<platform::URLConnection> connection_;
    platform::Data connectionData_;
    int connectionStatus_ = 0;
    platform::Value handshakeResponse_;
    platform::Value adTypes_;
    std::optional<platform::Date> lastHandshakeMadeAt_;
    std::optional<platform::Date> nextHandshakeToOccurAt_;
    std::shared_ptr<platform::Timer> nextHandshakeTimer_;
};

} // namespace meridian
