#include "lumen/Statistics.h"

#include <cmath>
#include <limits>

#include "lumen/NetworkUtilities.h"
#include "lumen/Request.h"
#include "lumen/SignalHooks.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Application.h"

namespace lumen {

namespace {

constexpr const char* kTimingCategory = "category";
constexpr const char* kTimingStart = "start";
constexpr const char* kTimingEnd = "end";
constexpr const char* kTimingUserData = "userData";
constexpr const char* kClickDate = "date";
constexpr const char* kClickString = "pai";
constexpr const char* kImpressionTicket = "pit";
constexpr const char* kClickAI = "ai";
constexpr std::size_t kTicketPathStart = 4; // the path from its fifth character on
// Counters and flags reported when not 0, in this order.
constexpr const char* kReportedCounts[] = {"preqs", "pcbo",  "aoi_timedout", "aoi_nofill",
                                           "pclb",  "plpnc", "plpsnc",       "pcc"};
constexpr const char* kResetFlags[] = {"pcbo", "aoi_timedout", "aoi_nofill", "pclb"};
constexpr const char* kResetCounters[] = {"plpnc", "plpsnc", "pcc"};

// Left alive at exit on purpose: its stores are written at the application's will-terminate
// notification, while every service they need still exists.
LMNStatistics*& sharedSlot() {
    static LMNStatistics* shared = nullptr;
    return shared;
}

bool isMessageURL(const platform::URL& url) {
    auto scheme = url.scheme();
    return scheme == "lmsg" || scheme == "lumen";
}

} // namespace

// ---- LMNStatisticsCore ----

LMNStatisticsCore::LMNStatisticsCore(std::string identifier) : identifier_(std::move(identifier)) {
    loadPersistentStatistics();
}

LMNStatisticsCore::~LMNStatisticsCore() {
    savePersistentStatistics();
}

std::optional<std::string> LMNStatisticsCore::stringForKey(const std::string& key) const {
    auto it = statistics_.find(key);
    if (it == statistics_.end() || !it->second.string())
        return std::nullopt;
    return *it->second.string();
}

std::optional<double> LMNStatisticsCore::numberForKey(const std::string& key) const {
    auto it = statistics_.find(key);
    return it == statistics_.end() ? std::nullopt : it->second.number();
}

std::optional<platform::Date> LMNStatisticsCore::dateForKey(const std::string& key) const {
    auto it = statistics_.find(key);
    return it == statistics_.end() ? std::nullopt : it->second.date();
}

std::optional<platform::Array> LMNStatisticsCore::arrayForKey(const std::string& key) const {
    auto it = statistics_.find(key);
    if (it == statistics_.end() || !it->second.array())
        return std::nullopt;
    return *it->second.array();
}

std::optional<platform::Dictionary> LMNStatisticsCore::dictionaryForKey(const std::string& key) const {
    auto it = statistics_.find(key);
    if (it == statistics_.end() || !it->second.dictionary())
        return std::nullopt;
    return *it->second.dictionary();
}

long long LMNStatisticsCore::addValue(long long value, const std::string& key) {
    long long now = static_cast<long long>(numberForKey(key).value_or(0)) + value;
    statistics_[key] = now;
    return now;
}

void LMNStatisticsCore::loadPersistentStatistics() {
    statistics_.clear();
    if (auto stored = platform::UserDefaults::standard().dictionaryForKey(userDefaultsKey()))
        for (auto& [k, v] : *stored)
            statistics_[k] = v;
}

void LMNStatisticsCore::savePersistentStatistics() {
    auto& defaults = platform::UserDefaults::standard();
    defaults.setObject(userDefaultsKey(), platform::Value(statistics_));
    defaults.synchronize();
}

// ---- LMNTiming ----

double LMNTiming::counter() {
    return platform::Clock::current().monotonic();
}

std::optional<LMNTiming> LMNTiming::fromDictionaryRepresentation(const platform::Value& value) {
    auto* category = value.find(kTimingCategory);
    if (!category || !category->string() || category->string()->empty())
        return std::nullopt;
    LMNTiming timing(*category->string());
    if (auto* start = value.find(kTimingStart))
        timing.startSeconds_ = start->doubleOr(0);
    if (auto* end = value.find(kTimingEnd))
        timing.endSeconds_ = end->doubleOr(0);
    if (auto* data = value.find(kTimingUserData); data && data->dictionary())
        timing.userData_ = *data->dictionary();
    return timing;
}

platform::Dictionary LMNTiming::dictionaryRepresentation() const {
    platform::Dictionary out{
        {kTimingCategory, category_}, {kTimingStart, startSeconds_}, {kTimingEnd, endSeconds_}};
    if (!userData_.empty())
        out[kTimingUserData] = userData_;
    return out;
}

void LMNTiming::start() {
    startSeconds_ = counter();
    endSeconds_ = 0;
}

void LMNTiming::end() {
    if (startSeconds_ != 0)
        endSeconds_ = counter();
}

void LMNTiming::reset() {
    startSeconds_ = 0;
    endSeconds_ = 0;
}

std::uint32_t LMNTiming::elapsedMilliseconds() const {
    double end = endSeconds_ < startSeconds_ ? counter() : endSeconds_;
    double ms = (end - startSeconds_) * 1000.0;
    if (!(ms > 0))
        return 0;
    if (ms >= static_cast<double>(std::numeric_limits<std::uint32_t>::max()))
        return std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(ms);
}

void LMNTiming::setValue(const std::string& key, std::optional<platform::Value> value) {
    if (value)
        userData_[key] = std::move(*value);
}

std::optional<platform::Value> LMNTiming::valueForKey(const std::string& key) const {
    auto it = userData_.find(key);
    if (it == userData_.end())
        return std::nullopt;
    return it->second;
}

// ---- LMNTimingManager ----

LMNTimingManager::LMNTimingManager(std::string identifier) : identifier_(std::move(identifier)) {
    loadPersistentTimings();
    terminateToken_ = platform::NotificationCenter::defaultCenter().addObserver(
        platform::kApplicationWillTerminateNotification,
        [this](const platform::Notification&) { savePersistentTimings(); });
}

LMNTimingManager::~LMNTimingManager() {
    platform::NotificationCenter::defaultCenter().removeObserver(terminateToken_);
    savePersistentTimings();
}

void LMNTimingManager::addTiming(LMNTiming timing) {
    auto name = timing.category();
    timings_.insert_or_assign(name, std::move(timing));
}

LMNTiming& LMNTimingManager::addTimingWithCategory(const std::string& category) {
    addTiming(LMNTiming(category));
    return timings_.at(category);
}

LMNTiming* LMNTimingManager::timingForCategory(const std::string& category) {
    auto it = timings_.find(category);
    return it == timings_.end() ? nullptr : &it->second;
}

void LMNTimingManager::removeTimingsForCategories(const std::vector<std::string>& categories) {
    for (const auto& category : categories)
        timings_.erase(category);
}

std::vector<LMNTiming> LMNTimingManager::timings() const {
    std::vector<LMNTiming> out;
    for (const auto& [name, timing] : timings_)
        out.push_back(timing);
    return out;
}

std::vector<std::string> LMNTimingManager::categories() const {
    std::vector<std::string> out;
    for (auto& [name, timing] : timings_)
        out.push_back(name);
    return out;
}

void LMNTimingManager::loadPersistentTimings() {
    timings_.clear();
    if (auto stored = platform::UserDefaults::standard().dictionaryForKey(userDefaultsKey()))
        for (auto& [name, value] : *stored)
            if (auto timing = LMNTiming::fromDictionaryRepresentation(value))
                timings_.insert_or_assign(name, *timing);
}

void LMNTimingManager::savePersistentTimings() {
    platform::Dictionary out;
    for (auto& [name, timing] : timings_)
        out[name] = timing.dictionaryRepresentation();
    auto& defaults = platform::UserDefaults::standard();
    defaults.setObject(userDefaultsKey(), platform::Value(std::move(out)));
    defaults.synchronize();
}

// ---- LMNStatistics ----

LMNStatistics& LMNStatistics::sharedStatistics() {
    auto& slot = sharedSlot();
    if (!slot)
        slot = new LMNStatistics();
    return *slot;
}

void LMNStatistics::releaseSharedStatistics() {
    delete sharedSlot();
    sharedSlot() = nullptr;
}

LMNStatistics::LMNStatistics() : statistics_("shared"), timingMgr_("shared") {
    terminateToken_ = platform::NotificationCenter::defaultCenter().addObserver(
        platform::kApplicationWillTerminateNotification,
        [this](const platform::Notification&) { statistics_.synchronize(); });
}

LMNStatistics::~LMNStatistics() {
    platform::NotificationCenter::defaultCenter().removeObserver(terminateToken_);
}

const std::vector<std::string>& LMNStatistics::allTimingNames() {
    static const std::vector<std::string> names = {"prl",  "pcl",  "pai",  "ppcl",
                                                   "pcrl", "plpl", "plpd", "ptime"};
    return names;
}

platform::Dictionary LMNStatistics::parameters() {
    return collectParameters(true);
}

platform::Dictionary LMNStatistics::currentParameters() {
    return collectParameters(false);
}

platform::Dictionary LMNStatistics::collectParameters(bool report) {
    platform::Dictionary out;
    const bool clicked = timingNamed("pcl") != nullptr;
    if (!clicked && report)
        removeTimingNamed("ppcl");
    std::uint32_t clickToNow = 0;
    if (auto* click = timingNamed("pcl")) {
        if (statistics_.numberForKey("pclb").value_or(0) != 0)
            if (auto date = click->valueForKey(kClickDate); date && date->date()) {
                double ms =
                    std::fabs(platform::Clock::current().now() - date->date()->secondsSince1970) * 1000.0;
                clickToNow = static_cast<std::uint32_t>(ms);
            }
        if (report)
            click->removeValueForKey(kClickDate);
    }
    for (const auto& name : allTimingNames()) {
        auto* timing = timingNamed(name);
        if (!timing || (name == "ppcl" && !clicked))
            continue;
        out[name] = timing->elapsedMillisecondsString();
        for (auto& [key, value] : timing->keysAndValues())
            if (key != kClickDate)
                out[key] = value;
        if (report && name != "ptime")
            removeTimingNamed(name);
    }
    if (clickToNow != 0)
        out["pcl"] = static_cast<long long>(clickToNow);
    for (const char* key : kReportedCounts) {
        auto n = static_cast<long long>(statistics_.numberForKey(key).value_or(0));
        if (n != 0)
            out[key] = n;
    }
    if (report) {
        for (const char* key : kResetFlags)
            resetFlagWithParameterName(key);
        for (const char* key : kResetCounters)
            statistics_.setInteger(key, 0);
    }
    return out;
}

platform::URL LMNStatistics::urlForClick(const platform::URL& url) {
    if (isMessageURL(url) || url.absoluteString() == "about:blank")
        return url;
    incrementClickCount();
    auto& click = startTimingNamed("pcl");
    startTimingNamed("pcrl");
    endTimingNamed("ppcl");
    click.setValue(kClickDate, platform::Value(platform::Clock::current().date()));
    platform::URL result = url;
    auto ai = LMNNetworkUtilities::parameterValueForKey(kClickAI, url);
    if (ai && !ai->empty()) {
        if (auto* pcl = timingNamed("pcl"))
            pcl->setValue(kClickString, platform::Value(*ai));
        std::string signal;
        if (lmn_gmcs(*ai, signal))
            result = LMNNetworkUtilities::appendQueryKey(signal, std::nullopt, result);
    }
    endTimingNamed("pcrl");
    return result;
}

void LMNStatistics::addClickTrackingURL(const platform::URL& url) {
    auto host = url.host();
    auto domain = lumenServiceHostName();
    if (!host || domain.empty() || !host->ends_with(domain))
        return;
    auto path = url.path();
    if (path.size() < kTicketPathStart + 1)
        return;
    if (auto* click = timingNamed("pcl"))
        click->setValue(kImpressionTicket, platform::Value(path.substr(kTicketPathStart)));
}

LMNTiming& LMNStatistics::startTimingNamed(const std::string& name) {
    auto& timing = timingMgr_.addTimingWithCategory(name);
    timing.start();
    return timing;
}

void LMNStatistics::endTimingNamed(const std::string& name) {
    if (auto* timing = timingNamed(name))
        timing->end();
}

int LMNStatistics::incrementAdRequestCount() {
    return static_cast<int>(statistics_.addValue(1, kRequests));
}

int LMNStatistics::adRequestCount() const {
    return static_cast<int>(statistics_.numberForKey(kRequests).value_or(0));
}

void LMNStatistics::setFlagWithParameterName(const std::string& name) {
    if (!platform::RunLoop::isMainThread()) {
        platform::performOnMain([this, name] { setFlagWithParameterName(name); }, true);
        return;
    }
    statistics_.setInteger(name, 1);
}

void LMNStatistics::resetFlagWithParameterName(const std::string& name) {
    if (!platform::RunLoop::isMainThread()) {
        platform::performOnMain([this, name] { resetFlagWithParameterName(name); }, true);
        return;
    }
    statistics_.removeObjectForKey(name);
}

bool LMNStatistics::isTimingClick() {
    auto* click = timingNamed("pcl");
    return click && click->isActive();
}

void LMNStatistics::synchronize() {
    statistics_.synchronize();
    timingMgr_.synchronize();
}

// ---- LMNClickTracker ----

unsigned& LMNClickTracker::trackingCount() {
    static unsigned count = 0;
    return count;
}

LMNClickTracker::~LMNClickTracker() {
    if (tracker_) {
        tracker_->setDelegate({});
        tracker_->invalidate();
    }
    endBackgroundTask();
}

void LMNClickTracker::trackURL(const std::optional<platform::URL>& url) {
    if (!url)
        return;
    reset();
    // The platform offers no background tasks here: count the running ping instead.
    ++trackingCount();
    taskRunning_ = true;
    tracker_ = LMNCachedFile::create(weak_from_this(), *url);
    tracker_->validate();
}

void LMNClickTracker::reset() {
    hasTracked_ = false;
    if (tracker_) {
        tracker_->setDelegate({});
        tracker_->invalidate();
        tracker_.reset();
    }
    endBackgroundTask();
}

std::optional<platform::URL> LMNClickTracker::trackingURL() const {
    if (!tracker_)
        return std::nullopt;
    return tracker_->httpDestinationURL();
}

void LMNClickTracker::endBackgroundTask() {
    if (!taskRunning_)
        return;
    taskRunning_ = false;
    if (trackingCount() > 0)
        --trackingCount();
}

std::optional<platform::Error> LMNClickTracker::cachedFileShouldRedirectToURL(LMNCachedFile& file,
                                                                              const platform::URL& url) {
    if (!isCurrent(file) || url.scheme().starts_with("http"))
        return std::nullopt;
    // A store or telephone link: the ping has done its work.
    cachedFileDownloadDidEnd(file);
    return platform::Error{kLMNErrorDomain, 0, "Redirect to a non-web scheme", {}};
}

void LMNClickTracker::cachedFileDownloadDidEnd(LMNCachedFile& file) {
    if (!isCurrent(file) || hasTracked_)
        return;
    auto self = shared_from_this();
    hasTracked_ = true;
    LMNStatistics::sharedStatistics().addClickTrackingURL(file.sourceURL());
    auto destination = file.httpDestinationURL();
    endBackgroundTask();
    if (auto delegate = delegate_.lock())
        delegate->trackerDidRedirect(*this, destination);
}

void LMNClickTracker::cachedFileDownloadDidFail(LMNCachedFile& file,
                                                const std::optional<platform::Error>& error) {
    if (!isCurrent(file) || hasTracked_)
        return;
    auto self = shared_from_this();
    hasTracked_ = true;
    endBackgroundTask();
    if (auto delegate = delegate_.lock())
        delegate->trackerDidFailWithError(*this, error);
}

} // namespace lumen
