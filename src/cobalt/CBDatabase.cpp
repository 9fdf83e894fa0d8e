#include "cobalt/CBDatabase.h"

#include <sqlite3.h>

#include <chrono>
#include <filesystem>

#include "platform/runloop/RunLoop.h"

#include "cobalt/CBAsyncCommand.h"
#include "cobalt/CBCodecs.h"
#include "cobalt/CBPaths.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/Log.h"

namespace cobalt {
namespace {

namespace fs = std::filesystem;

constexpr const char* kStoreVersion = "3.1.2";
// What one value of a result row counts for besides its bytes.
constexpr std::size_t kValueOverheadBytes = 16;
// What a wipe removes from the store folder: the engine's own names only.
constexpr const char* kStoreFileSuffixes[] = {"", "-journal", "-wal", "-shm"};
constexpr const char* kStoreFolders[] = {"Config", "Content"};

// The functions a script's statement may call; any other is refused. Each one's work and
// memory are held by its inputs, which the statement's limits keep small (a value's length, a
// pattern's length), and an aggregate here keeps one value or a text held to the length limit.
// Left out on purpose, among others: the JSON functions (an aggregate's text grows past the
// length limit until its result is made), trim() and its kin (one call compares every pair of
// characters of its two arguments), date and time, random values, window functions and
// load_extension. The driver and display scripts call none of them: their statements create,
// fill, read and delete rows of plain columns.
constexpr const char* kScriptFunctions[] = {
    // aggregates
    "count", "min", "max", "sum", "total", "avg", "group_concat",
    // texts and blobs
    "length", "substr", "substring", "instr", "replace", "upper", "lower", "hex", "quote", "zeroblob",
    "like", "glob",
    // values and numbers
    "typeof", "coalesce", "ifnull", "nullif", "iif", "abs", "round",
    // what SQLite's own statements call for a script's ALTER TABLE; the sqlite_ ones cannot be
    // called from a statement's text
    "printf", "sqlite_rename_table", "sqlite_rename_column", "sqlite_rename_test", "sqlite_rename_quotefix",
    "sqlite_drop_column"};
// Pragmas a script may run: readings of the schema that change nothing. Every other pragma
// (page limits, cache and memory sizes, journal and locking modes, ...) is refused.
constexpr const char* kReadingPragmas[] = {"table_info", "table_xinfo", "index_list", "index_info",
                                           "index_xinfo", "foreign_key_list"};

bool inList(const char* name, const auto& list) {
    if (!name)
        return false;
    for (const char* entry : list)
        if (sqlite3_stricmp(name, entry) == 0)
            return true;
    return false;
}

// Refuses what a script's statement may not do to the engine's database: open or close other
// database files, load code, call a function outside the allow-list, or change the
// connection's settings and limits. Triggers and views are refused too: the engine's own
// statements (reading and deleting ads, writing settings) would run their bodies outside a
// script's time and memory bounds, on the main thread among others.
int scriptAuthorizer(void*, int action, const char* first, const char* second, const char*, const char*) {
    switch (action) {
    case SQLITE_ATTACH:
    case SQLITE_DETACH:
    case SQLITE_CREATE_TRIGGER:
    case SQLITE_CREATE_TEMP_TRIGGER:
    case SQLITE_CREATE_VIEW:
    case SQLITE_CREATE_TEMP_VIEW:
        return SQLITE_DENY;
    case SQLITE_FUNCTION:
        return inList(second, kScriptFunctions) ? SQLITE_OK : SQLITE_DENY;
    case SQLITE_PRAGMA:
        return inList(first, kReadingPragmas) ? SQLITE_OK : SQLITE_DENY;
    default:
        return SQLITE_OK;
    }
}

} // namespace

// The progress handler's view of one statement: a step budget (for scripts' statements)
// and a flag another thread sets to cut the statement short.
struct CBStatementProgress {
    long stepsLeft = -1; // progress checks left; -1 for no budget
    const std::atomic<bool>* cancelled = nullptr;
    // Real time, whatever clock the run loops keep: a statement holds a worker and the store.
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    bool cut = false;
};

namespace {

int progressHandler(void* context) {
    auto* progress = static_cast<CBStatementProgress*>(context);
    if ((progress->cancelled && progress->cancelled->load()) ||
        (progress->stepsLeft >= 0 && --progress->stepsLeft < 0) ||
        std::chrono::steady_clock::now() >= progress->deadline) {
        progress->cut = true;
        return 1; // makes the statement fail with SQLITE_INTERRUPT
    }
    return 0;
}

platform::Value columnValue(sqlite3_stmt* statement, int column) {
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER: return platform::Value(static_cast<long long>(sqlite3_column_int64(statement, column)));
    case SQLITE_FLOAT: return platform::Value(sqlite3_column_double(statement, column));
    case SQLITE_TEXT: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        return platform::Value(std::string(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(statement, column))));
    }
    case SQLITE_BLOB: {
        const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement, column));
        const auto n = static_cast<std::size_t>(sqlite3_column_bytes(statement, column));
        return platform::Value(platform::Data(bytes, bytes + n));
    }
    default: return platform::Value();
    }
}

bool bind(sqlite3_stmt* statement, int index, const platform::Value& value) {
    using Type = platform::Value::Type;
    switch (value.type()) {
    case Type::Null: return sqlite3_bind_null(statement, index) == SQLITE_OK;
    case Type::Bool:
    case Type::Integer: return sqlite3_bind_int64(statement, index, value.intOr(0)) == SQLITE_OK;
    case Type::Real: return sqlite3_bind_double(statement, index, value.doubleOr(0)) == SQLITE_OK;
    case Type::String:
        return sqlite3_bind_text(statement, index, value.string()->data(), static_cast<int>(value.string()->size()),
                                 SQLITE_TRANSIENT) == SQLITE_OK;
    case Type::Data:
        return sqlite3_bind_blob(statement, index, value.data()->data(), static_cast<int>(value.data()->size()),
                                 SQLITE_TRANSIENT) == SQLITE_OK;
    default: return false;
    }
}

} // namespace

std::shared_ptr<CBDatabase> CBDatabase::create() { return std::shared_ptr<CBDatabase>(new CBDatabase()); }

CBDatabase::~CBDatabase() {
    std::lock_guard lock(lock_);
    closeLocked();
}

void CBDatabase::closeLocked() {
    if (!database_)
        return;
    if (sqlite3_close(database_) != SQLITE_OK)
        platform::logLine(std::string("ERROR: failed to close database with message '") + sqlite3_errmsg(database_) +
                          "'.");
    database_ = nullptr;
    open_ = false;
}

bool CBDatabase::initialized() const {
    return initialized_;
}

bool CBDatabase::isOpen() const {
    return open_;
}

void CBDatabase::setQueryManager(std::weak_ptr<CBAsyncCommandManager> manager) {
    std::lock_guard lock(managerLock_);
    queryManager_ = std::move(manager);
}

void CBDatabase::init() {
    std::lock_guard lock(lock_);
    if (initialized_)
        return;
    if (!loadFromFileLocked())
        flushLocked();
    initialized_ = true;
}

bool CBDatabase::storeFileExists() {
    std::error_code ec;
    return fs::symlink_status(CBPaths::cbBaseDir() / kDatabaseFileName, ec).type() == fs::file_type::regular;
}

bool CBDatabase::storeFolderUsable() {
    const fs::path folder = CBPaths::cbBaseDir();
    if (platform::DeviceHome::makeOwnFolder(folder))
        return true;
    platform::logLine("CBDatabase: " + folder.string() + " is not a folder of the engine's; running without a store");
    return false;
}

bool CBDatabase::openLocked() {
    const fs::path file = CBPaths::cbBaseDir() / kDatabaseFileName;
    // The store file is the engine's own: a link at its name is never followed.
    if (sqlite3_open_v2(file.c_str(), &database_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW,
                        nullptr) != SQLITE_OK) {
        closeLocked();
        return false;
    }
    open_ = true;
    moved_ = false;
    sqlite3_db_config(database_, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
    // The size bound lives with the connection, not the file: set after every open.
    const auto pageSize = executeLocked("PRAGMA page_size", {}, false);
    if (pageSize && !pageSize->empty() && pageSize->front().at(0))
        pageSize_ = std::max<std::int64_t>(512, pageSize->front().at(0)->intOr(4096));
    executeLocked("PRAGMA max_page_count=" + std::to_string(kMaxStoreBytes / pageSize_), {}, false);
    return true;
}

bool CBDatabase::loadFromFileLocked() {
    if (!storeFolderUsable() || !openLocked())
        return false;
    const auto rows =
        executeLocked("SELECT data FROM settings WHERE id='version'", {}, false).value_or(platform::Array{});
    if (rows.empty())
        return false;
    const auto* first = rows.front().at(0);
    return first && first->string() && *first->string() == kStoreVersion;
}

void CBDatabase::flushLocked() {
    closeLocked();
    // A person's file named "CB" is left alone: the engine runs without a store.
    if (!storeFolderUsable())
        return;
    std::error_code ec;
    fs::remove(platform::DeviceHome::library() / "Cookies" / "Cookies.plist", ec);
    // Only the engine's own names go: the person may keep files of their own in the folder.
    // The journal files go with the database, or a stale journal would be rolled into it.
    const fs::path base = CBPaths::cbBaseDir();
    for (const char* suffix : kStoreFileSuffixes)
        fs::remove(base / (std::string(kDatabaseFileName) + suffix), ec);
    for (const char* folder : kStoreFolders)
        if (platform::DeviceHome::isOwnFolder(base / folder)) // a link at the name is not the engine's
            fs::remove_all(base / folder, ec);
    initializeLocked();
}

bool CBDatabase::initializeLocked() {
    if (!openLocked()) {
        platform::logLine("CBDatabase: cannot open " + (CBPaths::cbBaseDir() / kDatabaseFileName).string());
        return false;
    }
    executeLocked("CREATE TABLE settings ('id' TEXT PRIMARY KEY, 'data' BLOB)", {}, false);
    executeLocked("INSERT OR REPLACE INTO settings(id, data) VALUES('version', ?)", {platform::Value(kStoreVersion)},
                  false);
    return true;
}

void CBDatabase::setStoreResetHandler(std::function<void()> handler) {
    std::lock_guard lock(handlerLock_);
    storeResetHandler_ = std::move(handler);
}

bool CBDatabase::recoverIfGone() {
    if (!initialized_)
        return false;
    std::error_code ec;
    if (open_ && storeFileExists())
        return false;
    std::unique_lock lock(lock_);
    if (database_ && storeFileExists())
        return false;
    // Without a handle, only a store folder that has become usable again is worth a wipe.
    if (!database_ && fs::symlink_status(CBPaths::cbBaseDir(), ec).type() != fs::file_type::not_found &&
        !fs::is_directory(fs::symlink_status(CBPaths::cbBaseDir(), ec)))
        return false;
    moved_ = true;
    recoverFromMovedStore(lock);
    return true;
}

void CBDatabase::recoverFromMovedStore(std::unique_lock<std::mutex>& lock) {
    if (!moved_)
        return;
    platform::logLine("CBDatabase: the store has gone; making it again");
    flushLocked();
    moved_ = false;
    lock.unlock();
    std::function<void()> handler;
    {
        std::lock_guard handlerLock(handlerLock_);
        handler = storeResetHandler_;
    }
    if (handler)
        handler();
}

std::optional<platform::Array> CBDatabase::executeLocked(std::string_view text,
                                                         const std::vector<platform::Value>& parameters,
                                                         bool fromScript, CBStatementProgress* progress) {
    platform::Array rows;
    if (!database_)
        return std::nullopt;
    // A script's statement may grow the store only to its own share; pages beyond it stay for
    // the engine's writes. (A share below the file's size leaves the size where it is.)
    if (fromScript)
        sqlite3_exec(database_, ("PRAGMA max_page_count=" + std::to_string(kMaxScriptStoreBytes / pageSize_)).c_str(),
                     nullptr, nullptr, nullptr);
    sqlite3_set_authorizer(database_, fromScript ? scriptAuthorizer : nullptr, nullptr);
    if (progress)
        sqlite3_progress_handler(database_, kProgressInterval, progressHandler, progress);
    // A script's statement works on small inputs only, so no single step (one instr(),
    // replace() or LIKE) can run for long: zeroblob(1e9) or a long pattern fails at once.
    struct Limit {
        int id, value, previous = -1;
    };
    Limit limits[] = {{SQLITE_LIMIT_LENGTH, static_cast<int>(kMaxScriptValueBytes)},
                      {SQLITE_LIMIT_LIKE_PATTERN_LENGTH, kMaxScriptLikePatternBytes},
                      {SQLITE_LIMIT_COLUMN, kMaxScriptColumns}};
    if (fromScript)
        for (auto& limit : limits)
            limit.previous = sqlite3_limit(database_, limit.id, limit.value);
    const auto restore = [&] {
        sqlite3_set_authorizer(database_, nullptr, nullptr);
        if (progress)
            sqlite3_progress_handler(database_, 0, nullptr, nullptr);
        for (const auto& limit : limits)
            if (limit.previous >= 0)
                sqlite3_limit(database_, limit.id, limit.previous);
        if (fromScript)
            sqlite3_exec(database_, ("PRAGMA max_page_count=" + std::to_string(kMaxStoreBytes / pageSize_)).c_str(),
                         nullptr, nullptr, nullptr);
    };
    std::size_t resultBytes = 0;
    bool tooLarge = false;
    sqlite3_stmt* statement = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(database_, text.data(), static_cast<int>(text.size()), &statement, &tail) != SQLITE_OK ||
        !statement) {
        if (fromScript)
            platform::logLine(std::string("CBDatabase: statement refused: ") + sqlite3_errmsg(database_));
        sqlite3_finalize(statement);
        restore();
        return std::nullopt;
    }
    bool ok = true;
    for (std::size_t i = 0; i < parameters.size() && ok; ++i)
        ok = bind(statement, static_cast<int>(i + 1), parameters[i]);
    if (ok) {
        int step = SQLITE_ROW;
        while (!tooLarge && (step = sqlite3_step(statement)) == SQLITE_ROW) {
            platform::Array row;
            const int count = sqlite3_data_count(statement);
            row.reserve(static_cast<std::size_t>(count));
            for (int c = 0; c < count; ++c) {
                // A value's size is known before it is copied (or a zero-filled blob made whole).
                const int type = sqlite3_column_type(statement, c);
                const auto bytes = type == SQLITE_TEXT || type == SQLITE_BLOB
                                       ? static_cast<std::size_t>(sqlite3_column_bytes(statement, c))
                                       : 0;
                resultBytes += kValueOverheadBytes + bytes;
                if (fromScript && resultBytes > kMaxScriptResultBytes) {
                    tooLarge = true;
                    break;
                }
                row.push_back(columnValue(statement, c));
            }
            if (!tooLarge)
                rows.emplace_back(std::move(row));
        }
        ok = step == SQLITE_DONE && !tooLarge;
        // A write that fails because the store file has gone (the person deleted it or its
        // folder) makes the store again.
        if (!ok && !tooLarge && !(progress && progress->cut) &&
            (sqlite3_extended_errcode(database_) == SQLITE_READONLY_DBMOVED || !storeFileExists()))
            moved_ = true;
        if (!ok && fromScript)
            platform::logLine(tooLarge ? std::string("CBDatabase: statement result too large")
                              : progress && progress->cut ? std::string("CBDatabase: statement cut short")
                                                          : std::string("CBDatabase: statement failed: ") +
                                                                sqlite3_errmsg(database_));
    }
    sqlite3_finalize(statement);
    restore();
    if (!ok)
        return std::nullopt;
    return rows;
}

platform::Array CBDatabase::sqlExecute(std::string_view statement, const std::vector<platform::Value>& parameters) {
    std::unique_lock lock(lock_);
    auto rows = executeLocked(statement, parameters, false);
    recoverFromMovedStore(lock);
    return rows.value_or(platform::Array{});
}

std::optional<platform::Array> CBDatabase::sqlExecuteFromScript(std::string_view statement,
                                                                const std::atomic<bool>* cancelled) {
    CBStatementProgress progress;
    progress.stepsLeft = kScriptStatementSteps;
    progress.cancelled = cancelled;
    std::unique_lock lock(lock_);
    // The time budget starts once the store is this statement's.
    progress.deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(kScriptStatementSeconds));
    auto rows = executeLocked(statement, {}, true, &progress);
    recoverFromMovedStore(lock);
    return rows;
}

bool CBDatabase::isPlainIdentifier(std::string_view name) {
    if (name.empty() || (name[0] >= '0' && name[0] <= '9'))
        return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    return true;
}

void CBDatabase::sendQuery(std::string statement, std::vector<platform::Value> parameters,
                           std::shared_ptr<CBCallbackContext> context, bool fromScript) {
    auto query =
        CBDBQuery::queryWithQuery(shared_from_this(), std::move(statement), std::move(context), std::move(parameters),
                                  fromScript);
    std::shared_ptr<CBAsyncCommandManager> manager;
    {
        std::lock_guard lock(managerLock_);
        manager = queryManager_.lock();
    }
    if (manager)
        manager->sendAsyncCommand(std::move(query));
    else
        query->execute();
}

namespace {

// A write to a table whose name is not a plain identifier is refused; the callback still
// hears of it, as for a statement that fails.
bool refuseTable(const std::string& table, const std::shared_ptr<CBCallbackContext>& context) {
    if (CBDatabase::isPlainIdentifier(table))
        return false;
    platform::logLine("CBDatabase: refused table name " + table);
    if (context)
        context->deliver(platform::Value(platform::Array{}));
    return true;
}

} // namespace

void CBDatabase::setRecordString(const std::string& id, const std::string& table, const std::string& value,
                                 std::shared_ptr<CBCallbackContext> context) {
    if (refuseTable(table, context))
        return;
    sendQuery("INSERT OR REPLACE INTO " + table + " (data, id) VALUES(?, ?)", {value, id}, std::move(context));
}

void CBDatabase::setRecordNumber(const std::string& id, const std::string& table, std::int64_t value,
                                 std::shared_ptr<CBCallbackContext> context) {
    if (refuseTable(table, context))
        return;
    sendQuery("INSERT OR REPLACE INTO " + table + " (data, id) VALUES(?, ?)",
              {platform::Value(static_cast<long long>(value)), id}, std::move(context));
}

void CBDatabase::setRecordData(const std::string& id, const std::string& table, const platform::Data& value,
                               std::shared_ptr<CBCallbackContext> context) {
    setRecordString(id, table, CBBase64::base64StringWithData(value), std::move(context));
}

void CBDatabase::removeRecordID(const std::string& id, const std::string& table,
                                std::shared_ptr<CBCallbackContext> context) {
    if (refuseTable(table, context))
        return;
    sendQuery("DELETE FROM " + table + " WHERE id=?", {id}, std::move(context));
}

void CBDatabase::createTable(const std::string& table, std::shared_ptr<CBCallbackContext> context) {
    if (refuseTable(table, context))
        return;
    sendQuery("CREATE TABLE " + table + " ('id' TEXT PRIMARY KEY, 'data' BLOB)", {}, std::move(context));
}

void CBDatabase::dropTable(const std::string& table, std::shared_ptr<CBCallbackContext> context) {
    if (refuseTable(table, context))
        return;
    sendQuery("DROP TABLE " + table, {}, std::move(context));
}

void CBDatabase::fetch(const std::string& id, const std::string& table, bool decodeData, FetchCallback callback) {
    if (!isPlainIdentifier(table)) {
        if (callback)
            platform::performOnMain([callback] { callback(std::nullopt); });
        return;
    }
    std::shared_ptr<CBCallbackContext> context;
    if (callback)
        context = CBCallbackContext::contextWithCallbackInvocation(
            [callback = std::move(callback), decodeData](const platform::Value& rows) {
                const platform::Value* first = rows.at(0) ? rows.at(0)->at(0) : nullptr;
                if (!first) {
                    callback(std::nullopt);
                    return;
                }
                if (decodeData && first->string())
                    callback(platform::Value(CBBase64::dataWithBase64String(*first->string())));
                else
                    callback(*first);
            },
            true);
    sendQuery("SELECT data FROM " + table + " WHERE id=?", {id}, std::move(context));
}

void CBDatabase::fetchStringForRecordID(const std::string& id, const std::string& table, FetchCallback callback) {
    fetch(id, table, false, std::move(callback));
}

void CBDatabase::fetchNumberForRecordID(const std::string& id, const std::string& table, FetchCallback callback) {
    fetch(id, table, false, std::move(callback));
}

void CBDatabase::fetchDataForRecordID(const std::string& id, const std::string& table, FetchCallback callback) {
    fetch(id, table, true, std::move(callback));
}

} // namespace cobalt
