#include "vellum/tracking/VellumTrackedEvent.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>

#include "platform/foundation/DateFormatter.h"
#include "platform/foundation/Strings.h"
#include "platform/runloop/Clock.h"
#include "vellum/tracking/MRBroadcaster.h"
#include "vellum/tracking/OldStylePropertyList.h"
#include "vellum/tracking/VellumAnalyticsManager.h"
#include "vellum/tracking/VellumTrackingState.h"

namespace vellum {

namespace {

constexpr const char* kRunStartEventType = kMRRunStartEvent;
constexpr const char* kAdSlotKey = "MRAdSlot";
constexpr const char* kAdVersionKey = "MRAdVersion";
constexpr const char* kBreadcrumbURL = "URL";
constexpr const char* kBreadcrumbTimestamp = "Timestamp";
constexpr const char* kBroadcastTypeV1 = "v1";
constexpr double kLegacyLocationMinLatitude = 0.001;
constexpr const char* kDateDescriptionPattern = "yyyy-MM-dd HH:mm:ss Z";
constexpr std::int16_t kMaxI16 = 32767;

struct ConnWire {
    const char* text;
    std::int32_t wire;
};
constexpr std::array<ConnWire, 3> kConnWire{{
    {"NotConnected", kConnNotConnected},
    {"CDNConnected", kConnCarrierData},
    {"WiFiConnected", kConnWiFi},
}};

// Legacy dictionary keys: the "v1" name and the later name of each entry.
struct LegacyKey {
    const char* v1;
    const char* later;
};
constexpr LegacyKey kKeyType{"eventKey", "key"};
constexpr LegacyKey kKeyTime{"eventTime", "time"};
constexpr LegacyKey kKeyConn{"connectionStatus", "conn"};
constexpr LegacyKey kKeyAd{"adID", "ad"};
constexpr LegacyKey kKeyLatitude{"latitude", "lat"};
constexpr LegacyKey kKeyLongitude{"longitude", "lon"};
constexpr LegacyKey kKeyAltitude{"alt", "altitude"};
constexpr LegacyKey kKeyUserDict{"description", "uDict"};

std::uint32_t& lastEventID() {
    static std::uint32_t last = 0;
    return last;
}

std::int16_t clampI16(std::int64_t v) {
    if (v > kMaxI16)
        return kMaxI16;
    if (v < -kMaxI16 - 1)
        return static_cast<std::int16_t>(-kMaxI16 - 1);
    return static_cast<std::int16_t>(v);
}

std::string dateDescription(platform::Date date) {
    return platform::DateFormatter(kDateDescriptionPattern, platform::TimeZone::utc()).string(date);
}

// A scalar of a value dictionary as text: strings as they are, numbers in their shortest form.
std::optional<std::string> scalarText(const platform::Value& v) {
    if (auto s = v.string())
        return *s;
    if (v.type() == platform::Value::Type::Integer || v.type() == platform::Value::Type::Bool)
        return std::to_string(v.intOr(0));
    if (auto n = v.number())
        return platform::formatDouble(*n);
    return std::nullopt;
}

// A number of a value dictionary (read-back values are texts).
double scalarNumber(const platform::Value& v) {
    if (auto s = v.string())
        return platform::doubleValue(*s);
    return v.doubleOr(0);
}

std::optional<std::string> stringValue(const std::optional<platform::Dictionary>& dict, const char* key) {
    if (!dict)
        return std::nullopt;
    auto it = dict->find(key);
    if (it == dict->end())
        return std::nullopt;
    return scalarText(it->second);
}

const char* keyFor(const LegacyKey& key, bool v1) {
    return v1 ? key.v1 : key.later;
}

template <typename Struct> void fillCommon(Struct& s, const VellumTrackedEvent& e) {
    s.setEventID(platform::formatString("%u", e.eventID));
    if (e.eventType)
        s.setKey(*e.eventType);
    if (e.timestamp)
        s.setTime(MRBroadcaster::iso8601stringFromDate(*e.timestamp));
    s.setConn(e.connStatusEnum());
    if (e.location && e.location->horizontalAccuracy() >= 0) {
        s.setLat(e.location->coordinate().latitude);
        s.setLon(e.location->coordinate().longitude);
        s.setAlt(e.location->altitude());
        s.setHorizontalAccuracy(e.location->horizontalAccuracy());
        s.setVerticalAccuracy(e.location->verticalAccuracy());
    }
    if (e.userCount > 0)
        s.setUCount(clampI16(e.userCount));
    if (e.userDuration != 0)
        s.setUDur(durationToI16(e.userDuration));
    if (e.userDict && !e.userDict->empty()) {
        std::map<std::string, std::string> dict;
        for (const auto& [key, value] : *e.userDict)
            if (auto text = scalarText(value))
                dict[key] = *text;
        s.setUDict(std::move(dict));
    }
    if (auto strings = VellumTrackedEvent::thriftStringsArrayFromDictionary(e.stringValues))
        s.setStringValues(std::move(strings));
    if (auto numbers = VellumTrackedEvent::thriftNumbersArrayFromDictionary(e.numericValues))
        s.setNumericValues(std::move(numbers));
    if (auto durations = VellumTrackedEvent::thriftNumbersArrayFromDictionary(e.durationValues))
        s.setDurationValues(std::move(durations));
}

} // namespace

VellumTrackedEvent::VellumTrackedEvent() : eventID(nextEventID()), runNumber(trackingState().runCount) {
    auto manager = VellumAnalyticsManager::sharedInstance();
    appVersion = manager->appVersion();
    systemVersion = manager->systemVersion();
    hardwareVersion = VellumAnalyticsManager::deviceHardware();
}

VellumTrackedEvent::VellumTrackedEvent(FromStore) : countForHour(0), countForDay(0), countForMonth(0) {}

std::uint32_t VellumTrackedEvent::nextEventID() {
    const double sinceReference = platform::Clock::current().now() - platform::kTimeIntervalSince1970To2001;
    auto id = static_cast<std::uint32_t>(std::max(0.0, std::floor(sinceReference)));
    auto& last = lastEventID();
    if (id <= last)
        id = last + 1;
    last = id;
    return id;
}

void VellumTrackedEvent::resetEventIDsForTesting() {
    lastEventID() = 0;
}

bool VellumTrackedEvent::isAdEvent() const {
    return adID && !adID->empty() && *adID != kNullText;
}

bool VellumTrackedEvent::isRunEvent() const {
    return eventType && *eventType == kRunStartEventType;
}

std::int32_t VellumTrackedEvent::connStatusEnum() const {
    if (connStatus)
        for (const auto& row : kConnWire)
            if (*connStatus == row.text)
                return row.wire;
    return kConnUnknown;
}

List<MRStringData>
VellumTrackedEvent::thriftStringsArrayFromDictionary(const std::optional<platform::Dictionary>& dict) {
    if (!dict || dict->empty())
        return std::nullopt;
    std::vector<MRStringData> out;
    for (const auto& [key, value] : *dict) {
        MRStringData d;
        d.setKey(key);
        d.setValue(scalarText(value).value_or(oldStylePropertyListText(value)));
        out.push_back(std::move(d));
    }
    return out;
}

List<MRNumberData>
VellumTrackedEvent::thriftNumbersArrayFromDictionary(const std::optional<platform::Dictionary>& dict) {
    if (!dict || dict->empty())
        return std::nullopt;
    std::vector<MRNumberData> out;
    for (const auto& [key, value] : *dict) {
        MRNumberData d;
        d.setKey(key);
        d.setValue(scalarNumber(value));
        out.push_back(std::move(d));
    }
    return out;
}

void VellumTrackedEvent::getVisitCountsAndBreadcrumbs(std::vector<MRAdEventURL>* visitCounts,
                                                      std::vector<MRAdEventBreadcrumb>* breadcrumbs,
                                                      const std::optional<platform::Array>& array) {
    if (visitCounts)
        visitCounts->clear();
    if (breadcrumbs)
        breadcrumbs->clear();
    if (!array || array->empty())
        return;

    struct Visit {
        std::string url;
        double timestamp;
    };
    std::vector<Visit> visits;
    for (const auto& entry : *array) {
        const platform::Value* url = entry.find(kBreadcrumbURL);
        const platform::Value* ts = entry.find(kBreadcrumbTimestamp);
        if (!url || !url->string())
            continue;
        visits.push_back({*url->string(), ts ? scalarNumber(*ts) : 0.0});
    }

    // Identifiers in order of first visit; the closing marker gets none.
    std::vector<std::string> urls;
    for (const auto& v : visits)
        if (v.url != kMREmbeddedBrowserClosed && std::find(urls.begin(), urls.end(), v.url) == urls.end())
            urls.push_back(v.url);
    auto idOf = [&](const std::string& url) -> std::int16_t {
        auto it = std::find(urls.begin(), urls.end(), url);
        return it == urls.end() ? 0 : clampI16(it - urls.begin() + 1);
    };

    std::map<std::string, int> counts;
    std::optional<double> later;
    for (auto it = visits.rbegin(); it != visits.rend(); ++it) {
        ++counts[it->url];
        const double duration = later ? *later - it->timestamp : 0.0;
        later = it->timestamp;
        if (const std::int16_t id = idOf(it->url); id > 0 && breadcrumbs) {
            const platform::Date viewStart{it->timestamp + platform::kTimeIntervalSince1970To2001};
            breadcrumbs->push_back(MRAdEventBreadcrumb::initWithUrlID(
                id, duration, MRBroadcaster::iso8601stringFromDate(viewStart)));
        }
    }
    if (visitCounts)
        for (const auto& url : urls)
            visitCounts->push_back(MRAdEventURL::initWithId(idOf(url), url, clampI16(counts[url])));
}

VellumTrackedEvent::ThriftRepresentation VellumTrackedEvent::thriftRepresentation() const {
    ThriftRepresentation out;
    if (!isAdEvent()) {
        Event e;
        fillCommon(e, *this);
        out.event = std::move(e);
        return out;
    }
    VellumAdEvent a;
    fillCommon(a, *this);
    a.setAdID(adID);
    a.setAdExit(adExit);
    if (auto slot = stringValue(stringValues, kAdSlotKey))
        a.setAdSlotName(*slot);
    if (auto version = stringValue(stringValues, kAdVersionKey))
        a.setAdVersion(*version);
    std::vector<MRAdEventURL> links;
    std::vector<MRAdEventBreadcrumb> views;
    getVisitCountsAndBreadcrumbs(&links, &views, breadcrumbs);
    if (breadcrumbs && !breadcrumbs->empty()) {
        a.setVisitedAdEventLinks(std::move(links));
        a.setBreadcrumbs(std::move(views));
    }
    if (adChildAdID)
        a.setAdChildAdID(*adChildAdID);
    if (adParentAdID)
        a.setAdParentAdID(*adParentAdID);
    a.setAdIsAClone(adIsAClone ? 1 : 0);
    out.adEvent = std::move(a);
    return out;
}

platform::Dictionary VellumTrackedEvent::dictionaryRepresentation() const {
    const auto type = VellumAnalyticsManager::stringForKey(MRBroadcastTypeKey);
    const bool v1 = type && *type == kBroadcastTypeV1;
    platform::Dictionary d;
    d["eventID"] = dbID;
    if (eventType)
        d[keyFor(kKeyType, v1)] = *eventType;
    if (timestamp) {
        if (v1)
            d[keyFor(kKeyTime, v1)] = dateDescription(*timestamp);
        else
            d[keyFor(kKeyTime, v1)] = static_cast<long long>(std::floor(timestamp->secondsSince1970));
    }
    d[keyFor(kKeyConn, v1)] =
        connStatus && *connStatus != kNullText ? *connStatus : std::string("NotConnected");
    if (isAdEvent())
        d[keyFor(kKeyAd, v1)] = *adID;
    if (!v1) {
        d["runID"] = static_cast<long long>(runID);
        if (runDuration != 0)
            d["dur"] = static_cast<long long>(runDuration);
        d["runNum"] = runNumber;
    }
    if (location && std::fabs(location->coordinate().latitude) > kLegacyLocationMinLatitude) {
        d[keyFor(kKeyLatitude, v1)] =
            static_cast<double>(static_cast<float>(location->coordinate().latitude));
        d[keyFor(kKeyLongitude, v1)] =
            static_cast<double>(static_cast<float>(location->coordinate().longitude));
        d[keyFor(kKeyAltitude, v1)] = static_cast<double>(static_cast<float>(location->altitude()));
    }
    if (!v1) {
        if (userCount > 0)
            d["uCount"] = userCount;
        if (userDuration != 0)
            d["uDur"] = static_cast<long long>(userDuration);
    }
    if (userDict && !userDict->empty())
        d[keyFor(kKeyUserDict, v1)] = oldStylePropertyListText(platform::Value(*userDict));
    d["appVersion"] = appVersion.value_or("");
    d["systemVersion"] = systemVersion.value_or("");
    return d;
}

std::string VellumTrackedEvent::loggingDescription() const {
    std::string s =
        platform::formatString("=> [%d:%u:%u] %s: %u \"%s\" (%s)", runNumber, runID, runDuration,
                               timestamp ? dateDescription(*timestamp).c_str() : kNullText, eventID,
                               eventType.value_or(kNullText).c_str(), connStatus.value_or(kNullText).c_str());
    if (location)
        s += platform::formatString("\nLocation: %.2f lat, %.2f lon, %.2f alt",
                                    location->coordinate().latitude, location->coordinate().longitude,
                                    location->altitude());
    if (isAdEvent())
        s += "\nadId: " + *adID;
    if (userCount != 0)
        s += platform::formatString("\nuserCount: %d", userCount);
    if (userDuration != 0)
        s += platform::formatString("\nuserDur: %u", userDuration);
    if (userDict)
        s += "\nuserDict: " + oldStylePropertyListText(platform::Value(*userDict));
    if (stringValues)
        s += "\nstringValues: " + oldStylePropertyListText(platform::Value(*stringValues));
    if (numericValues)
        s += "\nnumericValues: " + oldStylePropertyListText(platform::Value(*numericValues));
    if (durationValues)
        s += "\ndurationValues: " + oldStylePropertyListText(platform::Value(*durationValues));
    return s;
}

std::string VellumTrackedEvent::description() const {
    const double lat = location ? location->coordinate().latitude : 0;
    const double lon = location ? location->coordinate().longitude : 0;
    const double alt = location ? location->altitude() : 0;
    return platform::formatString(
        "%d %u %u %u %d %s %s %s %d %d %d %d %.2f/%.2f/%.2f %s %s %s", dbID, eventID, runID, runDuration,
        runNumber, timestamp ? dateDescription(*timestamp).c_str() : kNullText,
        eventType.value_or(kNullText).c_str(), connStatus.value_or(kNullText).c_str(), isFirstEver,
        isFirstForHour, isFirstForDay, isFirstForMonth, lat, lon, alt,
        userDict ? oldStylePropertyListText(platform::Value(*userDict)).c_str() : kNullText,
        appVersion.value_or(kNullText).c_str(), systemVersion.value_or(kNullText).c_str());
}

} // namespace vellum
