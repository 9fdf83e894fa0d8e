#include "vellum/tracking/MRBroadcaster.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>

#include "platform/foundation/Base64.h"
#include "platform/foundation/DateFormatter.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/Services.h"
#include "platform/foundation/Strings.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/runloop/Clock.h"
#include "platform/ui/Application.h"
#include "vellum/tracking/ECActionResponse.h"
#include "vellum/tracking/MRAdCacheDatabaseSeam.h"
#include "vellum/tracking/OldStylePropertyList.h"
#include "vellum/tracking/TBinaryProtocol.h"
#include "vellum/tracking/VellumAnalyticsManager.h"
#include "vellum/tracking/VellumTrackedEvent.h"

namespace vellum {

namespace {

constexpr const char* kTypeV2M = "v2m";
constexpr const char* kTypeV2Z = "v2z";
constexpr const char* kISOPattern = "yyyy-MM-dd'T'HH:mm:ssZ";
constexpr const char* kClientTokenKey = "MRBroadcastClientToken";
constexpr const char* kLastRunLastEventTimeKey = "MRLastRunLastEventTime";
constexpr const char* kPartialToken = "pae=true";
constexpr const char* kV1Version = "1.0";
constexpr const char* kSuffixDebug = "D";
constexpr const char* kSuffixMIME64 = "M";
constexpr const char* kSuffixRaw = "Z";
constexpr const char* kContentTypeFormat = "multipart/form-data; boundary=%s";
constexpr float kBackgroundSessionsSystemVersion = 4.0f;

std::string& currentClientToken() {
    static std::string token = kMRDefaultClientToken;
    return token;
}

std::shared_ptr<MRBroadcaster>& sharedSlot() {
    static std::shared_ptr<MRBroadcaster> instance;
    return instance;
}

VellumAnalyticsManager& manager() {
    return *VellumAnalyticsManager::sharedInstance();
}

void append(platform::Data& body, std::string_view text) {
    body.insert(body.end(), text.begin(), text.end());
}

std::string endpoint(bool test, const char* path) {
    std::string base = platform::servicesBaseURL();
    if (test)
        base += kMRTestServicesRoot;
    return base + path;
}

bool hasType(const VellumTrackedEvent& e, const char* type) {
    return e.eventType && *e.eventType == type;
}

} // namespace

std::shared_ptr<MRBroadcaster> MRBroadcaster::sharedInstance() {
    auto& slot = sharedSlot();
    if (!slot)
        slot.reset(new MRBroadcaster());
    return slot;
}

void MRBroadcaster::resetForTesting() {
    auto& slot = sharedSlot();
    if (slot && slot->connection_)
        slot->connection_->cancel();
    slot.reset();
    currentClientToken() = kMRDefaultClientToken;
}

// ---- Class operations ----

std::string MRBroadcaster::iso8601stringFromDate(platform::Date date) {
    // The formatter is remade when the device's time zone changes.
    static std::mutex mutex;
    static std::optional<platform::DateFormatter> formatter;
    std::lock_guard lock(mutex);
    const auto zone = platform::TimeZone::current();
    if (!formatter || !(formatter->timeZone() == zone))
        formatter.emplace(kISOPattern, zone);
    return formatter->string(date);
}

std::string MRBroadcaster::broadcastURL() {
    using M = VellumAnalyticsManager;
    if (auto url = M::stringForKey(VellumTrackingServerURLKey))
        return *url;
    if (M::keyExists(VellumUseStagingServersKey) && M::boolForKey(VellumUseStagingServersKey))
        return endpoint(true, kMRStagingTrackingPath);
    if (M::keyExists(VellumUseTestServersKey))
        return endpoint(M::boolForKey(VellumUseTestServersKey), kMRTrackingPath);
    if (auto url = M::stringForKey(MRTrackingServerURLKey))
        return *url;
    if (M::keyExists(MRUseTestServersKey))
        return endpoint(M::boolForKey(MRUseTestServersKey), kMRTrackingPath);
    return endpoint(false, kMRTrackingPath);
}

std::string MRBroadcaster::broadcastClientToken() {
    if (auto env = platform::ProcessInfo::environmentValue(kClientTokenKey))
        return *env;
    if (auto stored = platform::UserDefaults::standard().objectForKey(kClientTokenKey))
        if (auto text = stored->string())
            return *text;
    return currentClientToken();
}

void MRBroadcaster::setBroadcastClientToken(std::string_view token) {
    currentClientToken() = std::string(token);
    auto& defaults = platform::UserDefaults::standard();
    defaults.setString(kClientTokenKey, token);
    defaults.synchronize();
}

std::string MRBroadcaster::base64Encoding2(const platform::Data& data) {
    return platform::base64Encode(data);
}

// ---- Entry points ----

void MRBroadcaster::sendEvents(const TrackedEvents& events) {
    if (!available_)
        return;
    available_ = false;
    startAsynchronous(URLRequestForEvents(events));
}

void MRBroadcaster::sendPartialAdEvents(const TrackedEvents& adEvents, const TrackedEvents& regularEvents) {
    if (!available_)
        return;
    available_ = false;
    startAsynchronous(URLRequestForPartialAdEvents(adEvents, regularEvents));
}

void MRBroadcaster::startAsynchronous(std::optional<platform::URLRequest> request) {
    if (!request) {
        available_ = true; // the attempt ended before it began
        return;
    }
    if (!platform::URLConnection::canHandleRequest(*request)) {
        manager().logInternal("can't create a connection for %s.", request->url().absoluteString().c_str());
        manager().logDebug("server connection could not be established.");
        available_ = true;
        return;
    }
    if (connection_)
        connection_->cancel();
    connection_ = platform::URLConnection::create(*request, shared_from_this(), false);
    connection_->setMaximumBodyLength(kMaxReplyBytes);
    receivedData_ = platform::Data{};
    connection_->start();
}

bool MRBroadcaster::sendEventsSynchronously(const TrackedEvents& events) {
    if (!available_)
        return false;
    available_ = false;
    auto request = URLRequestForEvents(events);
    if (!request) {
        available_ = true;
        return false;
    }
    auto result = platform::URLConnection::sendSynchronousRequest(*request, kMaxReplyBytes);
    if (!result.error) {
        processReceivedData(result.data);
        return true;
    }
    manager().logInternal("-sendEventsSynchronously: failed with error: '%s'",
                          result.error->description().c_str());
    manager().logDebug("Could not send events to server.");
    available_ = true;
    return false;
}

// ---- Choosing the form ----

std::optional<platform::URLRequest> MRBroadcaster::URLRequestForEvents(const TrackedEvents& events) {
    const std::string type = VellumAnalyticsManager::stringForKey(MRBroadcastTypeKey).value_or(kTypeV2M);
    std::optional<platform::URLRequest> request;
    if (type == kTypeV2Z)
        request = V2Z_URLRequestForEvents(events);
    else if (type == kTypeV2M)
        request = V2M_URLRequestForEvents(events);
    else
        request = V1_URLRequestForEvents(events);
    if (request)
        manager().logInternal("contacting tracking server at: %s", request->url().absoluteString().c_str());
    return request;
}

std::optional<platform::URLRequest>
MRBroadcaster::URLRequestForPartialAdEvents(const TrackedEvents& adEvents,
                                            const TrackedEvents& regularEvents) {
    const std::string type = VellumAnalyticsManager::stringForKey(MRBroadcastTypeKey).value_or(kTypeV2M);
    std::optional<platform::URLRequest> request;
    if (type == kTypeV2Z)
        request = V2Z_URLRequestForPartialAdEvents(adEvents, regularEvents);
    else if (type == kTypeV2M)
        request = V2M_URLRequestForPartialAdEvents(adEvents, regularEvents);
    if (request)
        manager().logInternal("contacting tracking server at: %s", request->url().absoluteString().c_str());
    return request;
}

std::optional<platform::URLRequest> MRBroadcaster::V2M_URLRequestForEvents(const TrackedEvents& events) {
    return compressedURLRequestForEvents(events, true);
}
std::optional<platform::URLRequest> MRBroadcaster::V2Z_URLRequestForEvents(const TrackedEvents& events) {
    return compressedURLRequestForEvents(events, false);
}
std::optional<platform::URLRequest>
MRBroadcaster::V2M_URLRequestForPartialAdEvents(const TrackedEvents& adEvents,
                                                const TrackedEvents& regularEvents) {
    return compressedURLRequestForPartialAdEvents(adEvents, regularEvents, true);
}
std::optional<platform::URLRequest>
MRBroadcaster::V2Z_URLRequestForPartialAdEvents(const TrackedEvents& adEvents,
                                                const TrackedEvents& regularEvents) {
    return compressedURLRequestForPartialAdEvents(adEvents, regularEvents, false);
}

// ---- The multipart body ----

void MRBroadcaster::addString(std::string_view value, std::string_view name, platform::Data& body,
                              std::string_view boundary) {
    append(body, "--");
    append(body, boundary);
    append(body, "\r\n");
    append(body, "Content-Disposition: form-data; name=\"");
    append(body, name);
    append(body, "\"\r\n\r\n");
    append(body, value);
    append(body, "\r\n");
}

void MRBroadcaster::addData(const platform::Data& data, std::string_view name, platform::Data& body,
                            std::string_view boundary) {
    append(body, "--");
    append(body, boundary);
    append(body, "\r\n");
    append(body, "Content-Disposition: form-data; name=\"");
    append(body, name);
    append(body, "\"\r\n");
    append(body, "Content-Type: application/octet-stream\r\n\r\n");
    body.insert(body.end(), data.begin(), data.end());
    append(body, "\r\n");
}

std::optional<platform::URLRequest> MRBroadcaster::multipartRequest() const {
    const std::string url = broadcastURL();
    auto request = platform::URLRequest::withURLString(url);
    if (!request) {
        manager().logInternal("can't create a connection for %s.", url.c_str());
        manager().logDebug("server connection could not be established.");
        return std::nullopt;
    }
    request->setHTTPMethod("POST");
    request->setValue(platform::formatString(kContentTypeFormat, kMRBroadcastBoundary), "Content-Type");
    return request;
}

void MRBroadcaster::appendFormParts(platform::Data& body, bool dataIsMIME64, bool partial) {
    auto& m = manager();
    const char* suffix =
        m.broadcastDebugEnabled() ? kSuffixDebug : (dataIsMIME64 ? kSuffixMIME64 : kSuffixRaw);
    struct Part {
        const char* name;
        std::optional<std::string> value;
    };
    const std::array<Part, 12> parts{{
        {"v", VellumAnalyticsManager::versionString() + suffix},
        {"b", platform::formatString("%d", VellumAnalyticsManager::buildNumber())},
        {"tok", broadcastClientToken()},
        {"pae", partial ? std::optional<std::string>("true") : std::nullopt},
        {"sys", VellumAnalyticsManager::deviceSystemName()},
        {"sysv", m.systemVersion()},
        {"dev", m.md5DeviceID()},
        {"model", VellumAnalyticsManager::deviceModel()},
        {"app", m.appID()},
        {"appv", m.appVersion()},
        {"appTok", m.appToken()},
        {"devTok", m.deviceToken()},
    }};
    for (const auto& part : parts)
        if (part.value && !part.value->empty())
            addString(*part.value, part.name, body, kMRBroadcastBoundary);
}

std::optional<platform::Data> MRBroadcaster::compressPayload(const std::vector<std::uint8_t>& serialized) {
    uLongf compressedLength = compressBound(static_cast<uLong>(serialized.size()));
    platform::Data compressed(compressedLength);
    const int status = compress(compressed.data(), &compressedLength, serialized.data(),
                                static_cast<uLong>(serialized.size()));
    if (status != Z_OK) {
        const char* reason = status == Z_MEM_ERROR   ? "NOT ENOUGH MEMORY."
                             : status == Z_BUF_ERROR ? "NOT ENOUGH ROOM IN OUTPUT BUFFER."
                                                     : "Unknown error.";
        manager().logInternal("Can't serialize event data. Error is %s", reason);
        return std::nullopt;
    }
    compressed.resize(compressedLength);
    return compressed;
}

void MRBroadcaster::appendDataPart(platform::Data& body, std::size_t serializedLength,
                                   const platform::Data& compressed, bool dataIsMIME64) {
    if (dataIsMIME64) {
        const std::string text = base64Encoding2(compressed);
        manager().logInternal(
            "run data - serializedLength = %zu, compressedLength = %zu, mime64CompressedData = %zu",
            serializedLength, compressed.size(), text.size());
        addString(text, "data", body, kMRBroadcastBoundary);
    } else {
        manager().logInternal("run data - serializedLength = %zu, compressedLength = %zu", serializedLength,
                              compressed.size());
        addData(compressed, "data", body, kMRBroadcastBoundary);
    }
    append(body, platform::formatString("--%s--\r\n", kMRBroadcastBoundary));
}

std::optional<platform::URLRequest> MRBroadcaster::compressedURLRequestForEvents(const TrackedEvents& events,
                                                                                 bool dataIsMIME64) {
    auto request = multipartRequest();
    if (!request)
        return std::nullopt;
    platform::Data body;
    appendFormParts(body, dataIsMIME64, false);
    const auto serialized = encodeWireStruct(broadcastDataForEvents(events));
    auto compressed = compressPayload(serialized);
    if (!compressed)
        return std::nullopt;
    appendDataPart(body, serialized.size(), *compressed, dataIsMIME64);
    request->setHTTPBody(std::move(body));
    return request;
}

std::optional<platform::URLRequest>
MRBroadcaster::compressedURLRequestForPartialAdEvents(const TrackedEvents& adEvents,
                                                      const TrackedEvents& regularEvents, bool dataIsMIME64) {
    auto request = multipartRequest();
    if (!request)
        return std::nullopt;
    platform::Data body;
    appendFormParts(body, dataIsMIME64, true);
    const auto serialized =
        encodeWireStruct(partialBroadcastDataForEvents(adEvents, regularEvents, dataIsMIME64));
    auto compressed = compressPayload(serialized);
    if (!compressed)
        return std::nullopt;
    appendDataPart(body, serialized.size(), *compressed, dataIsMIME64);
    request->setHTTPBody(std::move(body));
    return request;
}

std::optional<platform::URLRequest> MRBroadcaster::V1_URLRequestForEvents(const TrackedEvents& events) {
    auto request = multipartRequest();
    if (!request)
        return std::nullopt;
    auto& m = manager();
    platform::Array dictionaries;
    for (const auto& e : events)
        dictionaries.emplace_back(e->dictionaryRepresentation());
    struct Part {
        const char* name;
        std::optional<std::string> value;
    };
    const std::array<Part, 10> parts{{
        {"vers", kV1Version},
        {"clientToken", broadcastClientToken()},
        {"appID", m.appID()},
        {"appVersion", m.appVersion()},
        {"deviceID", m.md5DeviceID()},
        {"deviceModel", VellumAnalyticsManager::deviceModel()},
        {"deviceSystemName", VellumAnalyticsManager::deviceSystemName()},
        {"deviceSystemVersion", m.systemVersion()},
        {"runCount", platform::formatString("%d", m.runCount())},
        {"eventsData", oldStylePropertyListText(platform::Value(std::move(dictionaries)))},
    }};
    platform::Data body;
    for (const auto& part : parts)
        addString(part.value.value_or(""), part.name, body, kMRBroadcastBoundary);
    append(body, platform::formatString("--%s--\r\n", kMRBroadcastBoundary));
    m.logInternal("contacting tracking server at: %s", request->url().absoluteString().c_str());
    m.logInternal("tracking server post: %s", std::string(body.begin(), body.end()).c_str());
    m.logDebug("uploading events:");
    for (const auto& e : events)
        m.logDebug("%s", e->loggingDescription().c_str());
    request->setHTTPBody(std::move(body));
    return request;
}

// ---- Payloads ----

BroadcastData MRBroadcaster::broadcastDataForEvents(const TrackedEvents& events) {
    auto& m = manager();
    BroadcastData data;
    data.setTime(iso8601stringFromDate(platform::Clock::current().date()));
    data.setLocTrOn(m.locationTrackingEnabled());
    data.setLocSrvOn(m.locationServicesEnabled());
    if (const auto& location = m.currentLocation()) {
        data.setLat(location->coordinate().latitude);
        data.setLon(location->coordinate().longitude);
        data.setAlt(location->altitude());
        data.setHorizontalAccuracy(location->horizontalAccuracy());
        data.setVerticalAccuracy(location->verticalAccuracy());
    }
    data.setRev(VellumAnalyticsManager::deviceHardware());
    data.setRuns(runDataForEvents(events));
    return data;
}

MRClientRequest MRBroadcaster::partialBroadcastDataForEvents(const TrackedEvents& adEvents,
                                                             const TrackedEvents& regularEvents,
                                                             bool dataIsMIME64) {
    auto& m = manager();
    const char* suffix =
        m.broadcastDebugEnabled() ? kSuffixDebug : (dataIsMIME64 ? kSuffixMIME64 : kSuffixRaw);
    auto present = [](std::optional<std::string> v) -> String { return v && !v->empty() ? v : std::nullopt; };
    MRClientRequest r;
    r.setTok(std::string(kPartialToken));
    r.setDeviceID(std::nullopt);
    r.setBroadcastData(std::nullopt);
    r.setIpAddress(std::nullopt);
    r.setB(platform::formatString("%d", VellumAnalyticsManager::buildNumber()));
    r.setV(VellumAnalyticsManager::versionString() + suffix);
    r.setDev(present(m.md5DeviceID()));
    r.setSysv(present(m.systemVersion()));
    r.setModel(present(VellumAnalyticsManager::deviceModel()));
    r.setAppv(present(m.appVersion()));
    r.setApp(present(m.appID()));
    r.setSys(present(VellumAnalyticsManager::deviceSystemName()));
    r.setRequestTime(iso8601stringFromDate(platform::Clock::current().date()));
    r.setVellumAdEvents(adEventsForAdEvents(adEvents));
    r.setEvents(eventsForEvents(regularEvents));
    return r;
}

std::vector<Event> MRBroadcaster::eventsForEvents(const TrackedEvents& events) {
    std::vector<Event> out;
    for (const auto& e : events)
        if (!e->isAdEvent() && !e->isRunEvent())
            if (auto rep = e->thriftRepresentation(); rep.event)
                out.push_back(std::move(*rep.event));
    return out;
}

std::vector<VellumAdEvent> MRBroadcaster::adEventsForAdEvents(const TrackedEvents& events) {
    std::vector<VellumAdEvent> out;
    for (const auto& e : events)
        if (e->isAdEvent() && !e->isRunEvent())
            if (auto rep = e->thriftRepresentation(); rep.adEvent)
                out.push_back(std::move(*rep.adEvent));
    return out;
}

// ---- Runs ----

std::vector<Run> MRBroadcaster::runDataForEvents(const TrackedEvents& events) {
    std::vector<Run> runs;
    auto flush = [&](TrackedEvents& group) {
        if (group.empty())
            return;
        if (group.front()->runID == 0) {
            auto legacy = runDataForLegacyEvents(group);
            runs.insert(runs.end(), std::make_move_iterator(legacy.begin()),
                        std::make_move_iterator(legacy.end()));
        } else {
            runs.push_back(runObjectForEvents(group));
        }
        group.clear();
    };
    TrackedEvents group;
    for (const auto& e : events) {
        if (!group.empty() && group.front()->runID != e->runID)
            flush(group);
        group.push_back(e);
    }
    flush(group);
    return runs;
}

std::vector<Run> MRBroadcaster::runDataForLegacyEvents(const TrackedEvents& events) {
    // Below system 4.0 a launch starts a new run; from 4.0 on, a return to the foreground too.
    const bool backgroundSessions = manager().systemVersionFloat() >= kBackgroundSessionsSystemVersion;
    std::vector<Run> runs;
    TrackedEvents group;
    auto close = [&] {
        if (!group.empty())
            runs.push_back(runObjectForEvents(group));
        group.clear();
    };
    for (const auto& e : events) {
        const bool startsRun =
            hasType(*e, platform::kApplicationDidFinishLaunchingNotification) ||
            (backgroundSessions && hasType(*e, platform::kApplicationWillEnterForegroundNotification));
        if (startsRun && !group.empty()) {
            close();
            continue;
        }
        group.push_back(e);
        if (hasType(*e, platform::kApplicationWillTerminateNotification))
            close();
    }
    close();
    return runs;
}

Run MRBroadcaster::defaultRunObjectFromFirstEvent(const VellumTrackedEvent& first) {
    auto clampCount = [](int v) { return static_cast<std::int16_t>(std::clamp(v, 0, 32767)); };
    Run run;
    run.setId(platform::formatString("%u", first.runID));
    if (first.appVersion)
        run.setAppVersion(*first.appVersion);
    if (first.systemVersion)
        run.setSystemVersion(*first.systemVersion);
    run.setRev(VellumAnalyticsManager::deviceHardware());
    if (auto last = lastRunLastEventTime(); last && first.timestamp)
        run.setInterval(static_cast<std::int64_t>(
            std::trunc(first.timestamp->secondsSince1970 - last->secondsSince1970)));
    if (first.timestamp)
        run.setStart(iso8601stringFromDate(*first.timestamp));
    run.setFirst(first.isFirstEver);
    run.setFirstHr(first.isFirstForHour);
    run.setFirstDay(first.isFirstForDay);
    run.setFirstMon(first.isFirstForMonth);
    run.setCountHr(clampCount(first.countForHour));
    run.setCountDay(clampCount(first.countForDay));
    run.setCountMon(clampCount(first.countForMonth));
    return run;
}

Run MRBroadcaster::runObjectForEvents(const TrackedEvents& group) {
    const auto& first = *group.front();
    const auto& last = *group.back();
    Run run = defaultRunObjectFromFirstEvent(first);
    std::int64_t duration = last.runDuration;
    if (duration == 0 && group.size() >= 2 && first.timestamp && last.timestamp)
        duration = static_cast<std::int64_t>(
            std::trunc(last.timestamp->secondsSince1970 - first.timestamp->secondsSince1970));
    if (duration > 0)
        run.setDur(durationToI16(duration));
    std::vector<VellumAdEvent> adEvents;
    std::vector<Event> events;
    bool endedNormally = false;
    for (const auto& e : group) {
        if (e->isRunEvent())
            continue;
        auto rep = e->thriftRepresentation();
        if (rep.adEvent) {
            adEvents.push_back(std::move(*rep.adEvent));
        } else if (rep.event) {
            events.push_back(std::move(*rep.event));
            if (hasType(*e, platform::kApplicationWillTerminateNotification))
                endedNormally = true;
        }
    }
    if (!endedNormally)
        run.setAbEnd(true);
    if (!adEvents.empty())
        run.setVellumAdEvents(std::move(adEvents));
    if (!events.empty())
        run.setEvents(std::move(events));
    return run;
}

std::optional<platform::Date> MRBroadcaster::lastRunLastEventTime() const {
    auto v = platform::UserDefaults::standard().objectForKey(kLastRunLastEventTimeKey);
    return v ? v->date() : std::nullopt;
}

// ---- The reply ----

void MRBroadcaster::connectionDidReceiveResponse(platform::URLConnection& connection,
                                                 const platform::URLResponse&) {
    if (&connection != connection_.get())
        return;
    receivedData_ = platform::Data{};
}

void MRBroadcaster::connectionDidReceiveData(platform::URLConnection& connection,
                                             const platform::Data& data) {
    if (&connection != connection_.get())
        return;
    if (!receivedData_)
        receivedData_ = platform::Data{};
    receivedData_->insert(receivedData_->end(), data.begin(), data.end());
}

void MRBroadcaster::connectionDidFinishLoading(platform::URLConnection& connection) {
    if (&connection != connection_.get())
        return;
    auto self = shared_from_this();
    platform::Data data = receivedData_.value_or(platform::Data{});
    receivedData_.reset();
    connection_.reset();
    processReceivedData(data);
}

void MRBroadcaster::connectionDidFailWithError(platform::URLConnection& connection,
                                               const platform::Error& error) {
    if (&connection != connection_.get())
        return;
    receivedData_.reset();
    connection_.reset();
    std::string failingURL;
    if (auto it = error.userInfo.find(platform::kURLErrorFailingURLStringKey); it != error.userInfo.end())
        failingURL = it->second.stringOr("");
    manager().logInternal("server connection failed! Error - %s %s", error.localizedDescription.c_str(),
                          failingURL.c_str());
    manager().logDebug("could not send events to server");
    available_ = true;
}

void MRBroadcaster::processReceivedData(const platform::Data& data) {
    auto& m = manager();
    // The reply read as ISO Latin-1: every byte is one character.
    std::string text;
    text.reserve(data.size());
    for (std::uint8_t byte : data) {
        if (byte < 0x80) {
            text += static_cast<char>(byte);
        } else {
            text += static_cast<char>(0xC0 | (byte >> 6));
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    available_ = true; // the attempt has ended, whatever the reply says
    if (text == kMRBroadcastAcknowledgement)
        return;
    if (!text.empty() && text.front() == '<') {
        m.logDebugOrInternal("received an unexpected HTML response from the tracking server: %s",
                             text.c_str());
        return;
    }
    const auto reply = decodeWireStruct<ECActionResponse>(data);
    const auto nonEmpty = [](bool isSet, const String& s) { return isSet && s && !s->empty(); };
    if (!nonEmpty(reply.broadcastURLIsSet(), reply.broadcastURL())) {
        m.logDebugOrInternal("did not receive an ECActionResponse object from the server");
        return;
    }
    if (reply.shutdownIsSet()) {
        m.setShutdown(reply.shutdown());
        if (reply.shutdown())
            return;
    }
    if (reply.receivedEventsIsSet() && reply.receivedEvents() && !reply.receivedEvents()->empty())
        m.markEventsAsBroadcast(*reply.receivedEvents());
    if (reply.receivedAdEventsIsSet() && reply.receivedAdEvents() && !reply.receivedAdEvents()->empty())
        m.markEventsAsBroadcast(*reply.receivedAdEvents());
    VellumAnalyticsManager::setString(*reply.broadcastURL(), MRTrackingServerURLKey);
    if (nonEmpty(reply.clientTokenIsSet(), reply.clientToken()))
        setBroadcastClientToken(*reply.clientToken());
    if (nonEmpty(reply.appTokIsSet(), reply.appTok()))
        m.setAppToken(reply.appTok());
    if (nonEmpty(reply.devTokIsSet(), reply.devTok()))
        m.setDeviceToken(reply.devTok());
    if (nonEmpty(reply.debugMessageIsSet(), reply.debugMessage()))
        m.logDebugOrInternal("tracking server response: %s", reply.debugMessage()->c_str());
    if (reply.userMessageIsSet()) {
        if (reply.userMessage() && !reply.userMessage()->empty())
            m.logDebugOrInternal("latest version available: %s", reply.userMessage()->c_str());
        m.recordVersionMessage(reply.userMessage(),
                               reply.userMessageURLIsSet() ? reply.userMessageURL() : std::nullopt);
    }
    if (reply.adInstructionsIsSet() && reply.adInstructions())
        if (auto database = makeMRCachedAdDatabase())
            database->updateAdInfo(*reply.adInstructions());
    m.recordBroadcastSuccess();
    m.logDebugOrInternal("successfully sent events to server");
}

} // namespace vellum
