#pragma once
// The Lumen client's request figures: LMNStatisticsCore (counters and flags persisted in the
// user defaults under "lumen_stats_<identifier>"), LMNTiming (a named stopwatch on the
// monotonic clock with extra values), LMNTimingManager (timings persisted under
// "lumen_timing_<identifier>") and LMNStatistics, the process-wide keeper that reports what
// happened since the previous request and prepares every click URL. LMNClickTracker sends one
// click or tracking ping (following web redirects; a redirect to another scheme ends it as
// tracked). Main thread only; a tracker's callbacks arrive on the main run loop, none after
// reset() or destruction.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lumen/CachedFile.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Value.h"

namespace lumen {

class LMNStatisticsCore {
public:
    explicit LMNStatisticsCore(std::string identifier);
    ~LMNStatisticsCore();
    const std::string& identifier() const { return identifier_; }
    std::string userDefaultsKey() const { return "lumen_stats_" + identifier_; }
    void setString(const std::string& key, std::string value) { statistics_[key] = std::move(value); }
    void setNumber(const std::string& key, double value) { statistics_[key] = value; }
    void setInteger(const std::string& key, long long value) { statistics_[key] = value; }
    void setDate(const std::string& key, platform::Date value) { statistics_[key] = value; }
    void setArray(const std::string& key, platform::Array value) { statistics_[key] = std::move(value); }
    void setDictionary(const std::string& key, platform::Dictionary value) {
        statistics_[key] = std::move(value);
    }
    // The stored value when it is of the asked kind.
    std::optional<std::string> stringForKey(const std::string& key) const;
    std::optional<double> numberForKey(const std::string& key) const;
    std::optional<platform::Date> dateForKey(const std::string& key) const;
    std::optional<platform::Array> arrayForKey(const std::string& key) const;
    std::optional<platform::Dictionary> dictionaryForKey(const std::string& key) const;
    // The stored int plus `value`, stored back and returned.
    long long addValue(long long value, const std::string& key);
    void removeObjectForKey(const std::string& key) { statistics_.erase(key); }
    void removeAllObjects() { statistics_.clear(); }
    void synchronize() { savePersistentStatistics(); }
    void loadPersistentStatistics();
    void savePersistentStatistics();

private:
    std::string identifier_;
    platform::Dictionary statistics_;
};

class LMNTiming {
public:
    explicit LMNTiming(std::string category) : category_(std::move(category)) {}
    static std::optional<LMNTiming> fromDictionaryRepresentation(const platform::Value& value);
    platform::Dictionary dictionaryRepresentation() const;
    // Seconds of the monotonic clock.
    static double counter();
    void start();
    void end();
    void reset();
    bool isActive() const { return startSeconds_ != 0 && endSeconds_ == 0; }
    const std::string& category() const { return category_; }
    double startSeconds() const { return startSeconds_; }
    double endSeconds() const { return endSeconds_; }
    std::uint32_t elapsedMilliseconds() const;
    std::string elapsedMillisecondsString() const { return std::to_string(elapsedMilliseconds()); }
    void setValue(const std::string& key, std::optional<platform::Value> value);
    std::optional<platform::Value> valueForKey(const std::string& key) const;
    void removeValueForKey(const std::string& key) { userData_.erase(key); }
    platform::Dictionary keysAndValues() const { return userData_; }

private:
    std::string category_;
    double startSeconds_ = 0;
    double endSeconds_ = 0;
    platform::Dictionary userData_;
};

class LMNTimingManager {
public:
    explicit LMNTimingManager(std::string identifier);
    ~LMNTimingManager();
    const std::string& identifier() const { return identifier_; }
    std::string userDefaultsKey() const { return "lumen_timing_" + identifier_; }
    void addTiming(LMNTiming timing);
    LMNTiming& addTimingWithCategory(const std::string& category);
    LMNTiming* timingForCategory(const std::string& category);
    // Removes the timing of the given one's category.
    void removeTiming(const LMNTiming& timing) { timings_.erase(timing.category()); }
    void removeTimingForCategory(const std::string& category) { timings_.erase(category); }
    void removeTimingsForCategories(const std::vector<std::string>& categories);
    void removeAllTimings() { timings_.clear(); }
    std::vector<std::string> categories() const;
    // Every timing, in the order of their categories.
    std::vector<LMNTiming> timings() const;
    void synchronize() { savePersistentTimings(); }
    void loadPersistentTimings();
    void savePersistentTimings();

private:
    std::string identifier_;
    std::map<std::string, LMNTiming> timings_;
    platform::NotificationCenter::ObserverToken terminateToken_;
};

class LMNStatistics {
public:
    static LMNStatistics& sharedStatistics();
    static void releaseSharedStatistics();
    static const std::vector<std::string>& allTimingNames();

    // The figures since the previous request; counters and flags are reset by the call.
    platform::Dictionary parameters();
    // The same figures, leaving every counter, flag and timing as it is.
    platform::Dictionary currentParameters();
    // Counts a click and starts its timings; message URLs and "about:blank" pass unchanged.
    platform::URL urlForClick(const platform::URL& url);
    void addClickTrackingURL(const platform::URL& url);

    LMNTiming* timingNamed(const std::string& name) { return timingMgr_.timingForCategory(name); }
    LMNTiming& startTimingNamed(const std::string& name);
    void endTimingNamed(const std::string& name);
    void removeTimingNamed(const std::string& name) { timingMgr_.removeTimingForCategory(name); }

    int incrementAdRequestCount();
    int adRequestCount() const;
    void setAdRequestCount(int count) { statistics_.setInteger(kRequests, count); }
    void incrementClickCount() { statistics_.addValue(1, "pcc"); }
    void resetClickCount() { statistics_.setInteger("pcc", 0); }
    void incrementPageNavigationCount() { statistics_.addValue(1, "plpnc"); }
    void resetPageNavigationCount() { statistics_.setInteger("plpnc", 0); }
    void incrementSSLPageNavigationCount() { statistics_.addValue(1, "plpsnc"); }
    void resetSSLPageNavigationCount() { statistics_.setInteger("plpsnc", 0); }
    void setBreakOutToSafari() { setFlagWithParameterName("pcbo"); }
    void resetBreakOutToSafari() { resetFlagWithParameterName("pcbo"); }
    void setClickBackgroundedApp() { setFlagWithParameterName("pclb"); }
    void resetClickBackgroundedApp() { resetFlagWithParameterName("pclb"); }
    void setAppOpenInterstitialTimeOut() { setFlagWithParameterName("aoi_timedout"); }
    void resetAppOpenInterstitialTimeOut() { resetFlagWithParameterName("aoi_timedout"); }
    void setAppOpenInterstitialNoFill() { setFlagWithParameterName("aoi_nofill"); }
    void resetAppOpenInterstitialNoFill() { resetFlagWithParameterName("aoi_nofill"); }
    bool isTimingClick();
    void synchronize();

private:
    static constexpr const char* kRequests = "preqs";
    LMNStatistics();
    platform::Dictionary collectParameters(bool report);
    // Flags are main-thread state, read and reset there with every request: a change asked
    // for on another thread is made on the main thread, after what is already queued there.
    void setFlagWithParameterName(const std::string& name);
    void resetFlagWithParameterName(const std::string& name);

    LMNStatisticsCore statistics_;
    LMNTimingManager timingMgr_;
    platform::NotificationCenter::ObserverToken terminateToken_;

public:
    ~LMNStatistics();
};

class LMNClickTracker;

class LMNClickTrackerDelegate {
public:
    virtual ~LMNClickTrackerDelegate() = default;
    virtual void trackerDidRedirect(LMNClickTracker&, const platform::URL&) {}
    virtual void trackerDidFailWithError(LMNClickTracker&, const std::optional<platform::Error>&) {}
};

class LMNClickTracker : public LMNCachedFileDelegate, public std::enable_shared_from_this<LMNClickTracker> {
public:
    static std::shared_ptr<LMNClickTracker> create() {
        return std::shared_ptr<LMNClickTracker>(new LMNClickTracker());
    }
    ~LMNClickTracker() override;
    void trackURL(const std::optional<platform::URL>& url);
    void reset();
    bool hasTracked() const { return hasTracked_; }
    std::optional<platform::URL> trackingURL() const;
    void setDelegate(std::weak_ptr<LMNClickTrackerDelegate> delegate) { delegate_ = std::move(delegate); }
    // True while a ping runs without a background task.
    static bool activeTrackings() { return trackingCount() != 0; }
    static unsigned& trackingCount();

    std::optional<platform::Error> cachedFileShouldRedirectToURL(LMNCachedFile&,
                                                                 const platform::URL&) override;
    void cachedFileDownloadDidEnd(LMNCachedFile&) override;
    void cachedFileDownloadDidFail(LMNCachedFile&, const std::optional<platform::Error>&) override;

private:
    LMNClickTracker() = default;
    void endBackgroundTask();
    bool isCurrent(const LMNCachedFile& file) const { return tracker_.get() == &file; }

    std::weak_ptr<LMNClickTrackerDelegate> delegate_;
    std::shared_ptr<LMNCachedFile> tracker_;
    bool hasTracked_ = false;
    bool taskRunning_ = false;
};

} // namespace lumen
