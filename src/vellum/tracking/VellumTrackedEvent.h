#pragma once
// One recorded event as it is queued and uploaded: its type and time, the run it belongs to,
// the network status and location when it was recorded, the first-and-count statistics, the
// ad fields of an ad impression and the value dictionaries copied from the VellumEvent it
// came from. It gives its wire form (an Event or an "AdEvent" struct), the legacy dictionary
// form of the V1 upload, and log texts.
//
// Made by the tracking session (and by the store when it reads a row back); shared between
// the session's pending list, the store and the broadcaster through std::shared_ptr. A plain
// data object without callbacks; main thread only.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/location/LocationManager.h"
#include "vellum/tracking/Event.h"
#include "vellum/tracking/VellumAdEvent.h"

namespace vellum {

// The marker breadcrumb written when the in-ad browser closes.
inline constexpr const char* kMREmbeddedBrowserClosed = "MREmbeddedBrowserClosed";
// The stored ad identifier of events without an ad.
inline constexpr const char* kNullText = "(null)";

// The wire values of the network status texts.
enum MRConnStatusWire : std::int32_t {
    kConnNotConnected = 0,
    kConnUnknown = 1,
    kConnCarrierData = 2,
    kConnWiFi = 3,
};

class VellumTrackedEvent {
public:
    // A new event: a new event ID, the current run count as run number, counts 1 and the
    // application, system and hardware versions of now.
    VellumTrackedEvent();
    // A bare event for rows read back from the store: every field at its zero value, no ID
    // taken.
    struct FromStore {};
    explicit VellumTrackedEvent(FromStore);

    // Seconds since 2001-01-01, strictly increasing within the process.
    static std::uint32_t nextEventID();
    static void resetEventIDsForTesting();

    bool isAdEvent() const;
    bool isRunEvent() const;
    std::int32_t connStatusEnum() const;

    // The wire struct: an "AdEvent" for an ad event, else an Event.
    struct ThriftRepresentation {
        std::optional<VellumAdEvent> adEvent;
        std::optional<Event> event;
    };
    ThriftRepresentation thriftRepresentation() const;
    // The legacy dictionary of the V1 upload (key names per the "MRBroadcastType" setting).
    platform::Dictionary dictionaryRepresentation() const;

    // Visited links (each once, with its visit count) and the views, latest first.
    static void getVisitCountsAndBreadcrumbs(std::vector<MRAdEventURL>* visitCounts,
                                             std::vector<MRAdEventBreadcrumb>* breadcrumbs,
                                             const std::optional<platform::Array>& array);
    static List<MRStringData>
    thriftStringsArrayFromDictionary(const std::optional<platform::Dictionary>& dict);
    static List<MRNumberData>
    thriftNumbersArrayFromDictionary(const std::optional<platform::Dictionary>& dict);

    std::string loggingDescription() const;
    std::string description() const;

    int dbID = -1;
    std::uint32_t eventID = 0;
    std::uint32_t runID = 0;
    std::uint32_t runDuration = 0;
    int runNumber = 0;
    int adExit = 0;
    std::optional<platform::Date> timestamp;
    std::optional<std::string> eventType;
    std::optional<std::string> connStatus;
    std::optional<platform::Location> location;
    std::optional<std::string> adID;
    std::optional<std::string> adVersion;
    int userCount = 0;
    std::uint32_t userDuration = 0;
    std::optional<platform::Dictionary> userDict;
    std::optional<platform::Dictionary> stringValues;
    std::optional<platform::Dictionary> numericValues;
    std::optional<platform::Dictionary> durationValues;
    std::optional<platform::Array> breadcrumbs;
    bool isFirstEver = false;
    bool isFirstForHour = false;
    bool isFirstForDay = false;
    bool isFirstForMonth = false;
    int countForHour = 1;
    int countForDay = 1;
    int countForMonth = 1;
    std::optional<std::string> appVersion;
    std::optional<std::string> systemVersion;
    std::optional<std::string> hardwareVersion;
    std::optional<std::string> adChildAdID;
    std::optional<std::string> adParentAdID;
    bool adIsAClone = false;
};

} // namespace vellum
