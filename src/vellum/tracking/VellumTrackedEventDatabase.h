#pragma once
// VellumTrackedEventDatabase: the SQLite queue of tracked events, in
// Library/Vellum/MRTracking/MRTracking.sql. It stores each event together with its event
// type's hour, day and month statistics in one transaction (rolled back as a whole when
// either statement fails), hands out the events not yet uploaded, marks the ones the server
// acknowledged and deletes them, counts ad requests per slot for the inventory event,
// upgrades older files column by column and, once per process, moves the database of an
// older library version out of Documents/Tolvane and migrates its legacy table.
//
// Every value reaches SQLite as a bound parameter; event IDs echoed by the server are taken
// only when they are decimal numbers. An event recorded without a location is stored with a
// negative horizontal accuracy and comes back without a location (rows of older versions
// with all-zero location columns likewise).
//
// Owned by the analytics manager, which opens a new one at each tracking start; the per-type
// statistics are process-wide (shared by every store object) and reloaded at each opening.
// Main thread only; no callbacks.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"
#include "vellum/tracking/MRSQLite3DB.h"

namespace vellum {

class VellumTrackedEvent;
using TrackedEvents = std::vector<std::shared_ptr<VellumTrackedEvent>>;

inline constexpr const char* kTrackingDatabaseName = "MRTracking";
inline constexpr const char* kTrackingDatabaseSubfolder = "Vellum/MRTracking";
// Where an older library version kept the store, under Documents.
inline constexpr const char* kLegacyTrackingFolder = "Tolvane";
inline constexpr const char* kLegacyTrackingSubfolder = "Tolvane/MRTracking";

class VellumTrackedEventDatabase : public MRSQLite3DB {
public:
    // The statistics of one event type: the time of its latest event (seconds since 1970) and
    // that event's counts.
    struct EventStats {
        double maxTimestamp = 0;
        int countForMonth = 0;
        int countForDay = 0;
        int countForHour = 0;
    };

    static bool databaseExists();

    // Opens the store (after the once-per-process legacy move), creates and upgrades its
    // tables, migrates a moved legacy file, loads the statistics and deletes acknowledged
    // events.
    VellumTrackedEventDatabase();
    ~VellumTrackedEventDatabase() override;

    bool insertTrackedEventToQueue(VellumTrackedEvent& event);
    // nullopt when the select fails.
    std::optional<TrackedEvents> retrieveQueuedEventsExcludeCurrentRun(bool excludeCurrentRun);
    std::optional<TrackedEvents> retrieveQueuedPartialAdEvents(bool adEvents);
    bool updateEventsAsBroadcast(const std::vector<std::string>& eventIDs);
    bool deleteBroadcastEvents();
    void incrementRunForecastingForAdSlot(std::string_view slot);
    std::optional<platform::Dictionary> runForecastingData();
    bool clearRunForecasting();

    // Internal steps, public for tests.
    void checkFirstsInEvent(VellumTrackedEvent& event) const;
    void getMostRecentEvents();
    bool createTables();
    bool migrateDataIfNecessary();
    bool updateStatsForEventType(std::string_view eventType, double maxTimestamp);
    bool fixEventIDs();

    // The process-wide statistics table.
    static const std::map<std::string, EventStats, std::less<>>& statistics();
    // The once-per-process legacy move, run before the first store is opened.
    static void classSetUp();
    // Forgets the class set-up and the statistics, so the next store starts as in a new process.
    static void resetForTesting();

private:
    struct Statements;
    bool upgradeColumns();
    std::optional<TrackedEvents> retrieve(std::string_view whereClause, const std::vector<SQLValue>& values);
    std::unique_ptr<Statements> statements_;
};

} // namespace vellum
