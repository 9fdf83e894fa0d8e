#include "vellum/tracking/VellumEvent.h"

#include <cstdio>
#include <limits>

#include "platform/runloop/Clock.h"
#include "vellum/tracking/AnalyticsSeam.h"
#include "vellum/tracking/VellumEventKeys.h"

namespace vellum {

namespace {

// Seconds from 1970-01-01 to the reference date 2001-01-01 (UTC).
constexpr double kReferenceDateSince1970 = 978307200.0;
constexpr const char* kNil = "(null)";

std::string adIDText(const platform::Dictionary& strings) {
    auto it = strings.find(MRAdIDKey);
    if (it == strings.end() || !it->second.string())
        return kNil;
    return *it->second.string();
}

} // namespace

void VellumEvent::setString(std::string_view value, std::string_view key) {
    strings_.insert_or_assign(std::string(key), platform::Value(value));
}

bool VellumEvent::setNumber(const platform::Value& number, std::string_view key) {
    if (number.type() != platform::Value::Type::Integer && number.type() != platform::Value::Type::Real &&
        number.type() != platform::Value::Type::Bool)
        return false;
    numbers_.insert_or_assign(std::string(key), number);
    return true;
}

void VellumEvent::setDuration(double seconds, std::string_view key) {
    durations_.insert_or_assign(std::string(key), platform::Value(seconds));
}

void VellumEvent::incrementNumberForKey(std::string_view key) {
    std::int64_t value = 0;
    if (auto it = numbers_.find(key); it != numbers_.end())
        value = it->second.integer().value_or(0);
    if (value < std::numeric_limits<std::int64_t>::max())
        ++value;
    numbers_.insert_or_assign(std::string(key), platform::Value(static_cast<long long>(value)));
}

void VellumEvent::startTimerForKey(std::string_view key) {
    const auto& clock = platform::Clock::current();
    timers_.insert_or_assign(std::string(key), platform::Value(clock.date()));
    timerStarts_.insert_or_assign(std::string(key), clock.monotonic());
}

void VellumEvent::endTimerForKey(std::string_view key) {
    auto it = timerStarts_.find(key);
    if (it == timerStarts_.end())
        return;
    setDuration(platform::Clock::current().monotonic() - it->second, key);
}

void VellumEvent::trackURLEvent(std::string_view url) {
    if (url.empty())
        return;
    analyticsLogInternal("adding breadcrumb: " + std::string(url));
    platform::Dictionary crumb;
    crumb.emplace(kBreadcrumbURLKey, platform::Value(url));
    crumb.emplace(kBreadcrumbTimestampKey,
                  platform::Value(platform::Clock::current().now() - kReferenceDateSince1970));
    breadcrumbs_.emplace_back(std::move(crumb));
}

void VellumEvent::startRecordingViewDuration() {
    if (adViewStartTime_)
        return;
    const auto& clock = platform::Clock::current();
    adViewStartTime_ = clock.date();
    viewStart_ = clock.monotonic();
    analyticsLogInternal("started/resumed tracking ad view duration for " + adIDText(strings_));
}

void VellumEvent::stopRecordingViewDuration() {
    if (!adViewStartTime_)
        return;
    const double added = platform::Clock::current().monotonic() - viewStart_;
    double total = added;
    if (auto it = durations_.find(MRAdViewDurationKey); it != durations_.end())
        total += it->second.doubleOr(0);
    setDuration(total, MRAdViewDurationKey);
    adViewStartTime_.reset();
    char seconds[64];
    std::snprintf(seconds, sizeof seconds, "%.1f", added);
    analyticsLogInternal("paused tracking ad view duration for " + adIDText(strings_) + " (+" + seconds +
                         " seconds)");
}

} // namespace vellum
