#include "cobalt/CBDatabase.h"

#include <sqlite3.h>

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

// Refuses what a script's statement may not do to the engine's database: open or close other
// database files, or load code.
int scriptAuthorizer(void*, int action, const char*, const char* detail, const char*, const char*) {
    switch (action) {
    case SQLITE_ATTACH:
    case SQLITE_DETACH:
        return SQLITE_DENY;
    case SQLITE_FUNCTION:
        if (detail && sqlite3_stricmp(detail, "load_extension") == 0)
            return SQLITE_DENY;
        return SQLITE_OK;
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
    bool cut = false;
};

namespace {

int progressHandler(void* context) {
    auto* progress = static_cast<CBStatementProgress*>(context);
    if ((progress->cancelled && progress->cancelled->load()) ||
        (progress->stepsLeft >= 0 && --progress->stepsLeft < 0)) {
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

bool CBDatabase::loadFromFileLocked() {
    const fs::path file = CBPaths::cbBaseDir() / kDatabaseFileName;
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    if (sqlite3_open(file.c_str(), &database_) != SQLITE_OK) {
        closeLocked();
        return false;
    }
    open_ = true;
    sqlite3_db_config(database_, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
    const auto rows =
        executeLocked("SELECT data FROM settings WHERE id='version'", {}, false).value_or(platform::Array{});
    if (rows.empty())
        return false;
    const auto* first = rows.front().at(0);
    return first && first->string() && *first->string() == kStoreVersion;
}

void CBDatabase::flushLocked() {
    closeLocked();
    std::error_code ec;
    fs::remove(platform::DeviceHome::library() / "Cookies" / "Cookies.plist", ec);
    // Only the store folder goes: the Documents folder around it holds the user's files.
    fs::remove_all(CBPaths::cbBaseDir(), ec);
    fs::create_directories(CBPaths::cbBaseDir(), ec);
    initializeLocked();
}

bool CBDatabase::initializeLocked() {
    const fs::path file = CBPaths::cbBaseDir() / kDatabaseFileName;
    if (sqlite3_open(file.c_str(), &database_) != SQLITE_OK) {
        platform::logLine("CBDatabase: cannot open " + file.string());
        closeLocked();
        return false;
    }
    open_ = true;
    sqlite3_db_config(database_, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
    executeLocked("CREATE TABLE settings ('id' TEXT PRIMARY KEY, 'data' BLOB)", {}, false);
    executeLocked("INSERT OR REPLACE INTO settings(id, data) VALUES('version', ?)", {platform::Value(kStoreVersion)},
                  false);
    return true;
}

std::optional<platform::Array> CBDatabase::executeLocked(std::string_view text,
                                                         const std::vector<platform::Value>& parameters,
                                                         bool fromScript, CBStatementProgress* progress) {
    platform::Array rows;
    if (!database_)
        return std::nullopt;
    sqlite3_set_authorizer(database_, fromScript ? scriptAuthorizer : nullptr, nullptr);
    if (progress)
        sqlite3_progress_handler(database_, kProgressInterval, progressHandler, progress);
    // A script's statement makes no value larger than the bound (zeroblob(1e9) fails at once).
    const int lengthLimit =
        fromScript ? sqlite3_limit(database_, SQLITE_LIMIT_LENGTH, static_cast<int>(kMaxScriptValueBytes))
                   : -1;
    const auto restore = [this, progress, lengthLimit] {
        sqlite3_set_authorizer(database_, nullptr, nullptr);
        if (progress)
            sqlite3_progress_handler(database_, 0, nullptr, nullptr);
        if (lengthLimit >= 0)
            sqlite3_limit(database_, SQLITE_LIMIT_LENGTH, lengthLimit);
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
        while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
            platform::Array row;
            const int count = sqlite3_data_count(statement);
            row.reserve(static_cast<std::size_t>(count));
            for (int c = 0; c < count; ++c) {
                resultBytes +=
                    kValueOverheadBytes + static_cast<std::size_t>(sqlite3_column_bytes(statement, c));
                row.push_back(columnValue(statement, c));
            }
            rows.emplace_back(std::move(row));
            if (fromScript && resultBytes > kMaxScriptResultBytes) {
                tooLarge = true;
                break;
            }
        }
        ok = step == SQLITE_DONE && !tooLarge;
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
    std::lock_guard lock(lock_);
    return executeLocked(statement, parameters, false).value_or(platform::Array{});
}

std::optional<platform::Array> CBDatabase::sqlExecuteFromScript(std::string_view statement,
                                                                const std::atomic<bool>* cancelled) {
    CBStatementProgress progress{kScriptStatementSteps, cancelled, false};
    std::lock_guard lock(lock_);
    return executeLocked(statement, {}, true, &progress);
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
