#include "vellum/tracking/VellumTrackedEventDatabase.h"

#include <sqlite3.h>

#include <array>
#include <charconv>
#include <cmath>
#include <ctime>
#include <limits>

#include "platform/foundation/DateFormatter.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Numbers.h"
#include "platform/foundation/Strings.h"
#include "vellum/tracking/OldStylePropertyList.h"
#include "vellum/tracking/VellumAnalyticsManager.h"
#include "vellum/tracking/VellumTrackedEvent.h"
#include "vellum/tracking/VellumTrackingState.h"

namespace vellum {

namespace {

constexpr const char* kV1UpgradeKey = "MRV1Upgrade";
constexpr const char* kEmptyDescription = "{}";
constexpr double kNoLocationAccuracyValue = -1.0;
// Bound parameters per statement stay far below SQLite's limit.
constexpr std::size_t kMaxIDsPerStatement = 500;

constexpr const char* kCreateEventsTable =
    "CREATE TABLE IF NOT EXISTS v2TrackedEvents (dbID INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT, "
    "wasBroadcast INTEGER NOT NULL, timestamp REAL NOT NULL, eventType CHAR(50) NOT NULL, adID CHAR(50), "
    "connStatus CHAR(20) NOT NULL, latitude REAL NOT NULL, longitude REAL NOT NULL, altitude REAL NOT NULL, "
    "horizontalAccuracy REAL NOT NULL, verticalAccuracy REAL NOT NULL, isFirstEver INT NOT NULL, "
    "isFirstForMonth INT NOT NULL, isFirstForDay INT NOT NULL, isFirstForHour INT NOT NULL, "
    "countForMonth INT NOT NULL, countForDay INT NOT NULL, countForHour INT NOT NULL, runID INT NOT NULL, "
    "runNumber INT NOT NULL, runDuration INT NOT NULL, adExit INT NOT NULL, userCount INT, userDuration INT, "
    "userDict TEXT, stringValues TEXT, numericValues TEXT, durationValues TEXT, breadcrumbs TEXT, "
    "appVersion CHAR(20), systemVersion CHAR(20), hardwareVersion CHAR(20), eventID INTEGER, "
    "adChildAdID CHAR(50), adParentAdID CHAR(50), adIsAClone INT);"
    "CREATE INDEX IF NOT EXISTS dbIDIndx ON v2TrackedEvents (dbID);"
    "CREATE INDEX IF NOT EXISTS timestampIndx ON v2TrackedEvents (timestamp);";
constexpr const char* kCreateStatsTable =
    "CREATE TABLE IF NOT EXISTS eventMaxTimestamps (eventType CHAR(50) NOT NULL, maxTimestamp REAL NOT NULL, "
    "countForMonth INT NOT NULL, countForDay INT NOT NULL, countForHour INT NOT NULL);";
constexpr const char* kCreateForecastTable = "CREATE TABLE IF NOT EXISTS runForecasting (adSlot CHAR(50) NOT "
                                             "NULL PRIMARY KEY, impressions INT NOT NULL);";

struct TableStatement {
    const char* sql;
    const char* failure;
};
constexpr std::array<TableStatement, 3> kTables{{
    {kCreateEventsTable, "Error upgrading tracking db: create v2TrackedEvents table failed: '%s'"},
    {kCreateStatsTable, "Error upgrading tracking db: create eventMaxTimestamps table failed: '%s'"},
    {kCreateForecastTable, "Error upgrading tracking db: create runForecasting table failed: '%s'"},
}};

// Column upgrades, in order: the column tested, the definitions added when it is missing.
struct ColumnUpgrade {
    const char* table;
    const char* column;
    std::array<const char*, 3> definitions;
};
constexpr std::array<ColumnUpgrade, 11> kColumnUpgrades{{
    {"v2TrackedEvents", "appVersion", {"appVersion CHAR(20)"}},
    {"v2TrackedEvents", "systemVersion", {"systemVersion CHAR(20)"}},
    {"v2TrackedEvents", "eventID", {"eventID INTEGER"}},
    {"v2TrackedEvents", "stringValues", {"stringValues TEXT", "numericValues TEXT", "durationValues TEXT"}},
    {"v2TrackedEvents", "hardwareVersion", {"hardwareVersion CHAR(20)"}},
    {"v2TrackedEvents", "breadcrumbs", {"breadcrumbs TEXT"}},
    {"v2TrackedEvents", "adChildAdID", {"adChildAdID CHAR(50)"}},
    {"v2TrackedEvents", "adParentAdID", {"adParentAdID CHAR(50)"}},
    {"v2TrackedEvents", "adIsAClone", {"adIsAClone INTEGER"}},
    {"runForecasting", "adSlot", {"adSlot CHAR(50)"}},
    {"runForecasting", "impressions", {"impressions INTEGER"}},
}};

// The 35 columns of the queued-events select; the insert takes the 34 after dbID.
constexpr const char* kEventColumns =
    "dbID, timestamp, eventType, adID, connStatus, latitude, longitude, altitude, horizontalAccuracy, "
    "verticalAccuracy, isFirstEver, isFirstForMonth, isFirstForDay, isFirstForHour, countForMonth, "
    "countForDay, "
    "countForHour, runID, runNumber, runDuration, adExit, userCount, userDuration, userDict, stringValues, "
    "numericValues, durationValues, breadcrumbs, appVersion, systemVersion, hardwareVersion, eventID, "
    "adChildAdID, "
    "adParentAdID, adIsAClone";
constexpr const char* kInsertEvent =
    "INSERT INTO v2TrackedEvents (wasBroadcast, timestamp, eventType, adID, connStatus, latitude, longitude, "
    "altitude, horizontalAccuracy, verticalAccuracy, isFirstEver, isFirstForMonth, isFirstForDay, "
    "isFirstForHour, "
    "countForMonth, countForDay, countForHour, runID, runNumber, runDuration, adExit, userCount, "
    "userDuration, "
    "userDict, stringValues, numericValues, durationValues, breadcrumbs, appVersion, systemVersion, "
    "hardwareVersion, eventID, adChildAdID, adParentAdID, adIsAClone) VALUES (0, ?1, ?2, ?3, ?4, ?5, ?6, ?7, "
    "?8, "
    "?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21, ?22, ?23, ?24, ?25, ?26, ?27, ?28, ?29, "
    "?30, "
    "?31, ?32, ?33, ?34);";
constexpr const char* kInsertStats =
    "INSERT INTO eventMaxTimestamps (eventType, maxTimestamp, countForMonth, "
    "countForDay, countForHour) VALUES (?1, ?2, ?3, ?4, ?5);";
// Every value is bound and none is null, so the statement cannot fail part way through; OR FAIL
// spares it the statement journal (a copy of the table's page) that an abort would need.
constexpr const char* kUpdateStats = "UPDATE OR FAIL eventMaxTimestamps set maxTimestamp = ?2, countForMonth = ?3, "
                                     "countForDay = ?4, countForHour = ?5 where eventType = ?1;";
constexpr const char* kSavepoint = "SAVEPOINT trackedEventInsert;";
constexpr const char* kRelease = "RELEASE trackedEventInsert;";
constexpr const char* kRollbackTo = "ROLLBACK TO trackedEventInsert;";
constexpr const char* kDeleteRow = "DELETE FROM v2TrackedEvents WHERE rowid = ?1;";
constexpr const char* kSelectStats =
    "SELECT eventType, maxTimestamp, countForMonth, countForDay, countForHour FROM eventMaxTimestamps;";
constexpr const char* kDeleteBroadcast = "DELETE FROM v2TrackedEvents where wasBroadcast != 0";
constexpr const char* kCountLegacyTable =
    "select count(*) from sqlite_master where type = 'table' and name = 'trackedEvents'";
constexpr const char* kMigrateLegacy =
    "INSERT INTO v2TrackedEvents (dbID, wasBroadcast, timestamp, eventType, connStatus, latitude, longitude, "
    "altitude, horizontalAccuracy, verticalAccuracy, isFirstEver, isFirstForMonth, isFirstForDay, "
    "isFirstForHour, "
    "countForMonth, countForDay, countForHour, runID, runNumber, runDuration, adExit, userCount, "
    "userDuration, "
    "userDict, stringValues, numericValues, durationValues, appVersion, systemVersion) SELECT dbID, "
    "wasBroadcast, "
    "timestamp, eventType, connStatus, latitude, longitude, altitude, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "
    "0, 0, "
    "userDict, '{}', '{}', '{}', '', '' FROM trackedEvents;";
constexpr const char* kMigrateLegacyStats =
    "INSERT INTO eventMaxTimestamps (eventType, maxTimestamp, countForMonth, countForDay, countForHour) "
    "SELECT "
    "eventType, max(timestamp), 0, 0, 0 FROM trackedEvents group by eventType;";
constexpr const char* kUpdateStatsFromEvents = "update eventMaxTimestamps set countForMonth = (select "
                                               "count(*) from v2TrackedEvents where eventType = ?1 and "
                                               "timestamp > ?2), countForDay = (select count(*) from "
                                               "v2TrackedEvents where eventType = ?1 and timestamp > ?3), "
                                               "countForHour = (select count(*) from v2TrackedEvents where "
                                               "eventType = ?1 and timestamp > ?4) where eventType "
                                               "= ?1;";
constexpr const char* kFixEventIDs =
    "UPDATE v2TrackedEvents SET eventID = dbID WHERE wasBroadcast = 0 AND (eventID IS NULL OR eventID = 0);";

using StatsTable = std::map<std::string, VellumTrackedEventDatabase::EventStats, std::less<>>;

struct ClassState {
    bool setUp = false;
    bool migrationNeeded = false;
    StatsTable statistics;
};

ClassState& classState() {
    static ClassState state;
    return state;
}

VellumAnalyticsManager& manager() {
    return *VellumAnalyticsManager::sharedInstance();
}

// Calendar fields of a time (seconds since 1970) in `zone`.
std::tm calendarFields(double secondsSince1970, const platform::TimeZone& zone) {
    const platform::Date date{secondsSince1970};
    const double local = secondsSince1970 + zone.secondsFromGMT(date);
    const std::time_t t = platform::saturatingCast<std::time_t>(std::floor(local));
    std::tm fields{};
    gmtime_r(&t, &fields);
    return fields;
}

// Calendar fields of a time (seconds since 1970) in the device's time zone.
std::tm calendarFields(double secondsSince1970) {
    return calendarFields(secondsSince1970, platform::TimeZone::current());
}

// The start (seconds since 1970) of the month, day or hour that holds `secondsSince1970`.
double startOf(double secondsSince1970, bool month, bool day) {
    std::tm f = calendarFields(secondsSince1970);
    f.tm_min = 0;
    f.tm_sec = 0;
    if (day || month)
        f.tm_hour = 0;
    if (month)
        f.tm_mday = 1;
    const double localStart = static_cast<double>(timegm(&f));
    return platform::TimeZone::current().instantFromLocal(localStart);
}

std::string descriptionOr(const std::optional<platform::Dictionary>& d) {
    return d && !d->empty() ? oldStylePropertyListText(platform::Value(*d)) : kEmptyDescription;
}
std::string descriptionOr(const std::optional<platform::Array>& a) {
    return a && !a->empty() ? oldStylePropertyListText(platform::Value(*a)) : kEmptyDescription;
}

bool storedTextPresent(const std::optional<std::string>& text) {
    return text && !text->empty() && *text != kEmptyDescription;
}

std::optional<platform::Dictionary> parseStoredDictionary(const std::optional<std::string>& text) {
    if (!storedTextPresent(text))
        return std::nullopt;
    if (auto d = parseStringsFileText(*text))
        return d;
    return parseStringsFileText(fixPropertyListFromStringsString(*text));
}

std::optional<platform::Array> parseStoredArray(const std::optional<std::string>& text) {
    if (!storedTextPresent(text))
        return std::nullopt;
    auto v = parseOldStylePropertyList(*text);
    if (!v || !v->isArray())
        v = parseOldStylePropertyList(fixPropertyListFromStringsString(*text));
    if (v && v->isArray())
        return *v->array();
    return std::nullopt;
}

// An event ID echoed by the server: only a plain decimal number is taken.
std::optional<std::int64_t> decimalID(std::string_view id) {
    if (id.empty())
        return std::nullopt;
    for (char c : id)
        if (c < '0' || c > '9')
            return std::nullopt;
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(id.data(), id.data() + id.size(), value);
    if (ec != std::errc() || end != id.data() + id.size())
        return std::nullopt;
    return value;
}

// A prepared statement kept for the life of the store.
class CachedStatement {
public:
    CachedStatement() = default;
    CachedStatement(const CachedStatement&) = delete;
    CachedStatement& operator=(const CachedStatement&) = delete;
    ~CachedStatement() { sqlite3_finalize(statement_); }

    sqlite3_stmt* get(sqlite3* db, const char* sql) {
        if (!statement_ && db)
            sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr);
        // Every caller binds each parameter before it runs the statement.
        if (statement_)
            sqlite3_reset(statement_);
        return statement_;
    }

private:
    sqlite3_stmt* statement_ = nullptr;
};

// Texts are bound without a copy: every caller keeps them alive until the statement has run.
void bindText(sqlite3_stmt* s, int index, const std::string& text) {
    sqlite3_bind_text(s, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}
void bindText(sqlite3_stmt* s, int index, const std::optional<std::string>& text) {
    if (text)
        bindText(s, index, *text);
    else
        sqlite3_bind_null(s, index);
}

// Steps a bound statement to its end.
bool runToEnd(sqlite3_stmt* s) {
    if (!s)
        return false;
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    }
    const bool ok = rc == SQLITE_DONE;
    sqlite3_reset(s);
    return ok;
}

} // namespace

// The local calendar fields of the latest few times worked out. The latest event of a type is
// compared with the next event of that type, so its fields, worked out when it was inserted,
// are asked for again; a time-zone conversion costs more than the rest of the comparison.
class CalendarFieldsMemo {
public:
    std::tm fields(double secondsSince1970, const platform::TimeZone& zone) {
        for (const auto& e : entries_)
            if (e.secondsSince1970 == secondsSince1970 && e.zone == zone)
                return e.fields;
        Entry& e = entries_[next_];
        next_ = (next_ + 1) % entries_.size();
        e = Entry{secondsSince1970, zone, calendarFields(secondsSince1970, zone)};
        return e.fields;
    }

private:
    struct Entry {
        double secondsSince1970 = std::numeric_limits<double>::quiet_NaN(); // NaN: empty
        platform::TimeZone zone = platform::TimeZone::utc();
        std::tm fields{};
    };
    std::array<Entry, 8> entries_;
    std::size_t next_ = 0;
};

// What one store keeps between inserts: its prepared statements and the calendar memo.
struct VellumTrackedEventDatabase::Statements {
    CachedStatement insert, insertStats, updateStats, savepoint, release, rollbackTo, deleteRow;
    CalendarFieldsMemo calendar;
};

// ---- Class set-up ----

const std::map<std::string, VellumTrackedEventDatabase::EventStats, std::less<>>&
VellumTrackedEventDatabase::statistics() {
    return classState().statistics;
}

void VellumTrackedEventDatabase::resetForTesting() {
    classState() = ClassState{};
}

namespace {
// The files SQLite keeps beside a database while it is in use.
constexpr const char* kSQLiteCompanionSuffixes[] = {"-journal", "-wal", "-shm"};
} // namespace

void VellumTrackedEventDatabase::classSetUp() {
    auto& state = classState();
    if (state.setUp)
        return;
    state.setUp = true;
    const std::filesystem::path documents = VellumAnalyticsManager::documentsDirectory();
    const std::filesystem::path legacyFile =
        documents / kLegacyTrackingSubfolder / (std::string(kTrackingDatabaseName) + ".sql");
    // Only the old library's own store is moved: a real file in real folders. A link at the
    // folders' names or at the file's leads to something of the person's, which stays.
    const auto legacy = platform::FileManager::attributesOfItem(legacyFile);
    if (!legacy || legacy->type != platform::FileType::Regular ||
        !platform::DeviceHome::isOwnFolder(legacyFile.parent_path()))
        return;
    auto& m = manager();
    m.logDebugOrInternal("Need to perform tracking database upgrade");
    VellumAnalyticsManager::setBool(true, kV1UpgradeKey);
    const std::filesystem::path folder =
        std::filesystem::path(VellumAnalyticsManager::libraryDirectory()) / kTrackingDatabaseSubfolder;
    if (platform::FileManager::fileExists(folder))
        return; // the new store already exists: nothing is moved
    if (!platform::DeviceHome::makeOwnFolder(folder)) {
        m.logDebugOrInternal("Error upgrading tracking db: error while creating path '%s': not a folder of the app's own",
                             folder.c_str());
        return;
    }
    platform::Error error;
    const std::filesystem::path target = folder / (std::string(kTrackingDatabaseName) + ".sql");
    if (!platform::FileManager::moveItem(legacyFile, target, &error)) {
        m.logDebugOrInternal("Error upgrading tracking db: error while moving from '%s' to '%s': '%s'",
                             legacyFile.c_str(), target.c_str(), error.localizedDescription.c_str());
        return;
    }
    state.migrationNeeded = true; // the moved file is migrated even when the old folder stays
    // Documents is the person's drive: what the old library left of its store goes (SQLite's
    // companion files of the moved database), then its folder "MRTracking" and the library's
    // folder "Tolvane" above it, each only when nothing else is left in it.
    const std::filesystem::path legacyFolder = documents / kLegacyTrackingSubfolder;
    for (const char* companion : kSQLiteCompanionSuffixes) {
        const std::filesystem::path leftover = legacyFile.string() + companion;
        std::error_code ec;
        if (std::filesystem::remove(leftover, ec); ec) {
            m.logDebugOrInternal("Error upgrading tracking db: error while removing: '%s'", leftover.c_str());
            return;
        }
    }
    for (const auto& folder : {legacyFolder, documents / kLegacyTrackingFolder}) {
        std::error_code notEmpty;
        if (!std::filesystem::remove(folder, notEmpty))
            return; // something else is left in it (or it is gone): it stays
    }
}

bool VellumTrackedEventDatabase::databaseExists() {
    return MRSQLite3DB::databaseExistsInDocumentsSubdir(kTrackingDatabaseName, kTrackingDatabaseSubfolder);
}

// ---- Opening ----

VellumTrackedEventDatabase::VellumTrackedEventDatabase()
    : MRSQLite3DB("", ""), statements_(std::make_unique<Statements>()) {
    classSetUp();
    if (!openDBNamed(kTrackingDatabaseName, kTrackingDatabaseSubfolder))
        return;
    if (!createTables())
        return;
    upgradeColumns();
    auto& state = classState();
    if (state.migrationNeeded) {
        state.migrationNeeded = false;
        if (migrateDataIfNecessary())
            fixEventIDs(); // migrated rows carry no event ID yet
    }
    getMostRecentEvents();
    if (!deleteBroadcastEvents())
        manager().logInternal("Error: failed to delete broadcast events: '%s'.", errorMessage().c_str());
}

VellumTrackedEventDatabase::~VellumTrackedEventDatabase() {
    statements_.reset(); // finalized before the base class closes the connection
}

bool VellumTrackedEventDatabase::createTables() {
    for (const auto& table : kTables) {
        if (!executeScript(table.sql)) {
            manager().logInternal(table.failure, errorMessage().c_str());
            return false;
        }
    }
    return true;
}

bool VellumTrackedEventDatabase::upgradeColumns() {
    bool ok = true;
    for (const auto& upgrade : kColumnUpgrades) {
        if (columnNamed(upgrade.column, upgrade.table))
            continue;
        for (const char* definition : upgrade.definitions)
            if (definition)
                ok = addColumn(definition, upgrade.table) && ok;
        if (std::string_view(upgrade.column) == "eventID")
            fixEventIDs();
    }
    return ok;
}

bool VellumTrackedEventDatabase::fixEventIDs() {
    return execute(kFixEventIDs);
}

void VellumTrackedEventDatabase::getMostRecentEvents() {
    StatsTable loaded;
    const bool ok = query(kSelectStats, {}, [&](const Row& row) {
        auto type = row.text(0);
        if (!type)
            return;
        loaded[*type] = EventStats{row.real(1), static_cast<int>(row.integer(2)),
                                   static_cast<int>(row.integer(3)), static_cast<int>(row.integer(4))};
    });
    if (!ok) {
        manager().logInternal("getMostRecentEvents select failed: '%s'", errorMessage().c_str());
        return;
    }
    classState().statistics = std::move(loaded);
}

bool VellumTrackedEventDatabase::migrateDataIfNecessary() {
    std::int64_t tables = 0;
    if (!query(kCountLegacyTable, {}, [&](const Row& row) { tables = row.integer(0); })) {
        manager().logInternal("Error upgrading tracking db: checkTable select failed: '%s'",
                              errorMessage().c_str());
        return false;
    }
    if (tables == 0)
        return true;
    const bool copied =
        runInTransaction([&] { return execute(kMigrateLegacy) && execute(kMigrateLegacyStats); });
    if (!copied) {
        manager().logInternal("%s", errorMessage().c_str());
        return false;
    }
    getMostRecentEvents();
    const StatsTable stats = classState().statistics;
    for (const auto& [type, entry] : stats)
        updateStatsForEventType(type, entry.maxTimestamp);
    return true;
}

bool VellumTrackedEventDatabase::updateStatsForEventType(std::string_view eventType, double maxTimestamp) {
    const double month = startOf(maxTimestamp, true, true);
    const double day = startOf(maxTimestamp, false, true);
    const double hour = startOf(maxTimestamp, false, false);
    if (!execute(kUpdateStatsFromEvents, {std::string(eventType), month, day, hour})) {
        manager().logInternal("Error upgrading tracking db: update eventMaxTimestamps table failed: '%s'",
                              errorMessage().c_str());
        return false;
    }
    return true;
}

// ---- Statistics ----

void VellumTrackedEventDatabase::checkFirstsInEvent(VellumTrackedEvent& event) const {
    const auto& stats = classState().statistics;
    const bool firstRun = trackingState().firstRun;
    event.isFirstEver = firstRun && stats.empty();
    event.isFirstForHour = event.isFirstForDay = event.isFirstForMonth = true;
    event.countForHour = event.countForDay = event.countForMonth = 1;
    if (firstRun)
        return;
    event.isFirstEver = false;
    if (!event.eventType || !event.timestamp)
        return;
    auto it = stats.find(*event.eventType);
    if (it == stats.end())
        return;
    const platform::TimeZone zone = platform::TimeZone::current();
    const std::tm last = statements_->calendar.fields(it->second.maxTimestamp, zone);
    const std::tm now = statements_->calendar.fields(event.timestamp->secondsSince1970, zone);
    if (last.tm_year != now.tm_year || last.tm_mon != now.tm_mon)
        return;
    event.isFirstForMonth = false;
    event.countForMonth = it->second.countForMonth + 1;
    if (last.tm_mday != now.tm_mday)
        return;
    event.isFirstForDay = false;
    event.countForDay = it->second.countForDay + 1;
    if (last.tm_hour != now.tm_hour)
        return;
    event.isFirstForHour = false;
    event.countForHour = it->second.countForHour + 1;
}

// ---- Insert ----

bool VellumTrackedEventDatabase::insertTrackedEventToQueue(VellumTrackedEvent& event) {
    checkFirstsInEvent(event);
    sqlite3* db = database();
    // The row and its statistics are one write. Outside a transaction a savepoint makes them
    // one. Inside a caller's transaction, that transaction already commits them together, and
    // a savepoint there would copy every page the two statements touch into its journal: a
    // failed statistics write takes the new row back out by its rowid instead.
    const bool ownTransaction = db && sqlite3_get_autocommit(db) != 0;
    sqlite3_int64 insertedRow = 0;
    auto fail = [&](bool undo) {
        const std::string message = db ? sqlite3_errmsg(db) : "no database";
        if (undo && ownTransaction) {
            runToEnd(statements_->rollbackTo.get(db, kRollbackTo));
            runToEnd(statements_->release.get(db, kRelease));
        } else if (undo && insertedRow != 0) {
            sqlite3_stmt* d = statements_->deleteRow.get(db, kDeleteRow);
            sqlite3_bind_int64(d, 1, insertedRow);
            if (!runToEnd(d))
                manager().logInternal("insertTrackedEventToQueue could not take back row %lld: '%s'",
                                      static_cast<long long>(insertedRow), sqlite3_errmsg(db));
        }
        manager().logInternal("insertTrackedEventToQueue insert failed: '%s'", message.c_str());
        return false;
    };
    if (!db)
        return fail(false);

    const double timestamp = event.timestamp ? event.timestamp->secondsSince1970 : 0.0;
    const std::string type = event.eventType.value_or(kNullText);
    if (ownTransaction && !runToEnd(statements_->savepoint.get(db, kSavepoint)))
        return fail(false);

    sqlite3_stmt* s = statements_->insert.get(db, kInsertEvent);
    if (!s)
        return fail(true);
    const auto& loc = event.location;
    const std::string adID = event.adID.value_or(kNullText);
    const std::string connStatus = event.connStatus.value_or(kNullText);
    const std::string descriptions[] = {
        descriptionOr(event.userDict), descriptionOr(event.stringValues), descriptionOr(event.numericValues),
        descriptionOr(event.durationValues), descriptionOr(event.breadcrumbs)};
    int i = 1;
    sqlite3_bind_double(s, i++, timestamp);
    bindText(s, i++, type);
    bindText(s, i++, adID);
    bindText(s, i++, connStatus);
    sqlite3_bind_double(s, i++, loc ? loc->coordinate().latitude : 0.0);
    sqlite3_bind_double(s, i++, loc ? loc->coordinate().longitude : 0.0);
    sqlite3_bind_double(s, i++, loc ? loc->altitude() : 0.0);
    sqlite3_bind_double(s, i++, loc ? loc->horizontalAccuracy() : kNoLocationAccuracyValue);
    sqlite3_bind_double(s, i++, loc ? loc->verticalAccuracy() : kNoLocationAccuracyValue);
    sqlite3_bind_int(s, i++, event.isFirstEver);
    sqlite3_bind_int(s, i++, event.isFirstForMonth);
    sqlite3_bind_int(s, i++, event.isFirstForDay);
    sqlite3_bind_int(s, i++, event.isFirstForHour);
    sqlite3_bind_int(s, i++, event.countForMonth);
    sqlite3_bind_int(s, i++, event.countForDay);
    sqlite3_bind_int(s, i++, event.countForHour);
    sqlite3_bind_int64(s, i++, event.runID);
    sqlite3_bind_int(s, i++, event.runNumber);
    sqlite3_bind_int64(s, i++, event.runDuration);
    sqlite3_bind_int(s, i++, event.adExit);
    sqlite3_bind_int(s, i++, event.userCount);
    sqlite3_bind_int64(s, i++, event.userDuration);
    for (const auto& description : descriptions)
        bindText(s, i++, description);
    bindText(s, i++, event.appVersion);
    bindText(s, i++, event.systemVersion);
    bindText(s, i++, event.hardwareVersion);
    sqlite3_bind_int64(s, i++, event.eventID);
    bindText(s, i++, event.adChildAdID);
    bindText(s, i++, event.adParentAdID);
    sqlite3_bind_int(s, i++, event.adIsAClone);
    if (!runToEnd(s))
        return fail(true);
    insertedRow = sqlite3_last_insert_rowid(db);

    auto& stats = classState().statistics;
    const bool known = stats.find(type) != stats.end();
    sqlite3_stmt* st = known ? statements_->updateStats.get(db, kUpdateStats)
                             : statements_->insertStats.get(db, kInsertStats);
    if (!st)
        return fail(true);
    bindText(st, 1, type);
    sqlite3_bind_double(st, 2, timestamp);
    sqlite3_bind_int(st, 3, event.countForMonth);
    sqlite3_bind_int(st, 4, event.countForDay);
    sqlite3_bind_int(st, 5, event.countForHour);
    if (!runToEnd(st))
        return fail(true);
    if (ownTransaction && !runToEnd(statements_->release.get(db, kRelease)))
        return fail(true);
    // The statistics change only with the committed row, so memory and file agree.
    stats[type] = EventStats{timestamp, event.countForMonth, event.countForDay, event.countForHour};
    return true;
}

// ---- Reading ----

std::optional<TrackedEvents> VellumTrackedEventDatabase::retrieve(std::string_view whereClause,
                                                                  const std::vector<SQLValue>& values) {
    TrackedEvents events;
    const std::string sql = std::string("SELECT ") + kEventColumns +
                            " FROM v2TrackedEvents WHERE wasBroadcast = 0" + std::string(whereClause) +
                            " ORDER BY dbID;";
    const bool ok = query(sql, values, [&](const Row& row) {
        auto e = std::make_shared<VellumTrackedEvent>(VellumTrackedEvent::FromStore{});
        int c = 0;
        e->dbID = static_cast<int>(row.integer(c++));
        const double timestamp = row.real(c++);
        e->timestamp = platform::Date{timestamp};
        e->eventType = row.text(c++);
        e->adID = row.text(c++);
        e->connStatus = row.text(c++);
        const double lat = row.real(c++), lon = row.real(c++), alt = row.real(c++);
        const double hAcc = row.real(c++), vAcc = row.real(c++);
        const bool allZero = lat == 0 && lon == 0 && alt == 0 && hAcc == 0 && vAcc == 0;
        if (hAcc >= 0 && !allZero)
            e->location = platform::Location({lat, lon}, alt, hAcc, vAcc, platform::Date{timestamp});
        e->isFirstEver = row.integer(c++) != 0;
        e->isFirstForMonth = row.integer(c++) != 0;
        e->isFirstForDay = row.integer(c++) != 0;
        e->isFirstForHour = row.integer(c++) != 0;
        e->countForMonth = static_cast<int>(row.integer(c++));
        e->countForDay = static_cast<int>(row.integer(c++));
        e->countForHour = static_cast<int>(row.integer(c++));
        e->runID = static_cast<std::uint32_t>(row.integer(c++));
        e->runNumber = static_cast<int>(row.integer(c++));
        e->runDuration = static_cast<std::uint32_t>(row.integer(c++));
        e->adExit = static_cast<int>(row.integer(c++));
        e->userCount = static_cast<int>(row.integer(c++));
        e->userDuration = static_cast<std::uint32_t>(row.integer(c++));
        e->userDict = parseStoredDictionary(row.text(c++));
        e->stringValues = parseStoredDictionary(row.text(c++));
        e->numericValues = parseStoredDictionary(row.text(c++));
        e->durationValues = parseStoredDictionary(row.text(c++));
        e->breadcrumbs = parseStoredArray(row.text(c++));
        e->appVersion = row.text(c++);
        e->systemVersion = row.text(c++);
        e->hardwareVersion = row.text(c++);
        e->eventID = static_cast<std::uint32_t>(row.integer(c++));
        e->adChildAdID = row.text(c++);
        e->adParentAdID = row.text(c++);
        e->adIsAClone = row.integer(c++) != 0;
        events.push_back(std::move(e));
    });
    if (!ok) {
        manager().logInternal("queuedEvents select failed: '%s'", errorMessage().c_str());
        return std::nullopt;
    }
    return events;
}

std::optional<TrackedEvents>
VellumTrackedEventDatabase::retrieveQueuedEventsExcludeCurrentRun(bool excludeCurrentRun) {
    if (excludeCurrentRun)
        return retrieve(" AND runID != ?1", {static_cast<std::int64_t>(trackingState().runID)});
    return retrieve("", {});
}

std::optional<TrackedEvents> VellumTrackedEventDatabase::retrieveQueuedPartialAdEvents(bool adEvents) {
    if (adEvents)
        return retrieve(" AND adID IS NOT NULL AND adID != ?1", {std::string(kNullText)});
    return retrieve(" AND (adID IS NULL OR adID = ?1)", {std::string(kNullText)});
}

// ---- Marking and deleting ----

bool VellumTrackedEventDatabase::updateEventsAsBroadcast(const std::vector<std::string>& eventIDs) {
    std::vector<SQLValue> ids;
    for (const auto& id : eventIDs)
        if (auto value = decimalID(id))
            ids.emplace_back(*value);
    if (ids.empty())
        return true;
    const bool ok = runInTransaction([&] {
        for (std::size_t start = 0; start < ids.size(); start += kMaxIDsPerStatement) {
            const std::size_t n = std::min(kMaxIDsPerStatement, ids.size() - start);
            std::string sql = "UPDATE v2TrackedEvents set wasBroadcast = 1 WHERE eventID in (";
            for (std::size_t k = 0; k < n; ++k)
                sql += k ? ",?" : "?";
            sql += ");";
            std::vector<SQLValue> chunk(ids.begin() + static_cast<std::ptrdiff_t>(start),
                                        ids.begin() + static_cast<std::ptrdiff_t>(start + n));
            if (!execute(sql, chunk))
                return false;
        }
        return true;
    });
    if (!ok)
        manager().logInternal("updateEventsAsBroadcast failed: '%s'.", errorMessage().c_str());
    return ok;
}

bool VellumTrackedEventDatabase::deleteBroadcastEvents() {
    return execute(kDeleteBroadcast);
}

// ---- Ad requests per slot ----

void VellumTrackedEventDatabase::incrementRunForecastingForAdSlot(std::string_view slot) {
    std::int64_t rows = 0;
    if (!query("select count(*) from runForecasting where adSlot = ?1", {std::string(slot)},
               [&](const Row& row) { rows = row.integer(0); })) {
        manager().logInternal("Error checking run impressions for ad existance: '%s'",
                              errorMessage().c_str());
        return;
    }
    if (rows == 0) {
        if (!execute("insert into runForecasting (adSlot, impressions) values (?1, 1);", {std::string(slot)}))
            manager().logInternal("Error creating impression record for ad: '%s'.", errorMessage().c_str());
    } else if (!execute("update runForecasting set impressions = impressions+1 where adSlot = ?1;",
                        {std::string(slot)})) {
        manager().logInternal("Error updating impression record for ad: '%s'.", errorMessage().c_str());
    }
}

std::optional<platform::Dictionary> VellumTrackedEventDatabase::runForecastingData() {
    platform::Dictionary counts;
    if (!query("select adSlot, impressions from runForecasting where impressions > 0", {},
               [&](const Row& row) {
                   if (auto slot = row.text(0))
                       counts[*slot] = platform::Value(static_cast<long long>(row.integer(1)));
               })) {
        manager().logInternal("run impressions select failed: '%s'", errorMessage().c_str());
        return std::nullopt;
    }
    return counts;
}

bool VellumTrackedEventDatabase::clearRunForecasting() {
    if (!execute("update runForecasting set impressions = 0")) {
        manager().logInternal("Error clearing run impressions: '%s'.", errorMessage().c_str());
        return false;
    }
    return true;
}

} // namespace vellum
