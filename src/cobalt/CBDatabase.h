#pragma once
// The Cobalt store: one SQLite database, Documents/CB/cobaltdb.sql, holding the engine's
// settings and the scripts' own tables (among them "ads").
//
// Opening checks the version row of the settings table; a store written by another engine
// version is wiped whole (the database, the client scripts and every stored ad under
// Documents/CB) and made again. Record writes and reads go to the DB thread as queries and
// answer on the main thread; sqlExecute runs a statement at once on the calling thread.
//
// Threads: the handle is shared by the main thread and the DB thread; every use of it (open,
// each statement from prepare to finalize, close, wipe) holds the store's lock, so two
// statements never overlap. A script's statement runs under a step budget, so the lock is
// never held for long, and sending a query never takes it. Values the engine puts into SQL
// are bound, never pasted; table names must be plain identifiers. Statements that scripts
// send run under an authorizer that refuses ATTACH, DETACH and loading extensions.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"

struct sqlite3;

namespace cobalt {

class CBAsyncCommandManager;
class CBCallbackContext;
struct CBStatementProgress;

class CBDatabase : public std::enable_shared_from_this<CBDatabase> {
public:
    static constexpr const char* kDatabaseFileName = "cobaltdb.sql";

    // A closed store; init() opens it.
    static std::shared_ptr<CBDatabase> create();
    ~CBDatabase();
    CBDatabase(const CBDatabase&) = delete;
    CBDatabase& operator=(const CBDatabase&) = delete;

    // Opens the store, wiping it when its version differs; a second call does nothing.
    void init();
    bool initialized() const;
    bool isOpen() const;

    // The queries of the record interface go to this manager's thread; without one they run
    // at once and still answer on the main run loop.
    void setQueryManager(std::weak_ptr<CBAsyncCommandManager> manager);

    // Runs one statement with `parameters` bound in order; answers the rows (each an array of
    // column values: integers, reals, texts, data or null), empty when there are none or the
    // statement fails.
    platform::Array sqlExecute(std::string_view statement, const std::vector<platform::Value>& parameters = {});
    // A whole statement sent by a script: run as it is, under the authorizer and a budget of
    // kScriptStatementSteps virtual-machine steps. Answers nullopt when the statement is
    // refused, fails, runs past its budget or is cut short through `cancelled` (any thread may
    // set it; the statement stops at its next progress check).
    // Memory is bounded too: no value a script's statement makes is larger than
    // kMaxScriptValueBytes, and its rows together hold at most kMaxScriptResultBytes.
    static constexpr int kProgressInterval = 1000;
    static constexpr long kScriptStatementSteps = 20'000;
    static constexpr std::size_t kMaxScriptValueBytes = 4 * 1024 * 1024;
    static constexpr std::size_t kMaxScriptResultBytes = 8 * 1024 * 1024;
    std::optional<platform::Array> sqlExecuteFromScript(std::string_view statement,
                                                        const std::atomic<bool>* cancelled = nullptr);

    // ---- Record interface (tables of two columns, 'id' and 'data') ----
    void setRecordString(const std::string& id, const std::string& table, const std::string& value,
                         std::shared_ptr<CBCallbackContext> context = nullptr);
    void setRecordNumber(const std::string& id, const std::string& table, std::int64_t value,
                         std::shared_ptr<CBCallbackContext> context = nullptr);
    // Stored as its Base64 text.
    void setRecordData(const std::string& id, const std::string& table, const platform::Data& value,
                       std::shared_ptr<CBCallbackContext> context = nullptr);
    void removeRecordID(const std::string& id, const std::string& table,
                        std::shared_ptr<CBCallbackContext> context = nullptr);
    void createTable(const std::string& table, std::shared_ptr<CBCallbackContext> context = nullptr);
    void dropTable(const std::string& table, std::shared_ptr<CBCallbackContext> context = nullptr);

    // Reads answer on the main thread with the record's first value (for data: decoded from
    // Base64), or nullopt when there is no such record; a null callback only runs the query.
    using FetchCallback = std::function<void(std::optional<platform::Value>)>;
    void fetchStringForRecordID(const std::string& id, const std::string& table, FetchCallback callback);
    void fetchNumberForRecordID(const std::string& id, const std::string& table, FetchCallback callback);
    void fetchDataForRecordID(const std::string& id, const std::string& table, FetchCallback callback);

    // Sends a query to the DB thread (or runs it at once without a manager).
    void sendQuery(std::string statement, std::vector<platform::Value> parameters,
                   std::shared_ptr<CBCallbackContext> context, bool fromScript = false);

    // Runs `f` holding the store's lock, as a statement in progress does.
    void withStoreLockForTesting(const std::function<void()>& f) {
        std::lock_guard lock(lock_);
        f();
    }

    // A table name the store accepts: letters, digits and "_", not starting with a digit.
    static bool isPlainIdentifier(std::string_view name);

private:
    CBDatabase() = default;
    bool loadFromFileLocked();
    void flushLocked();
    bool initializeLocked();
    void closeLocked();
    std::optional<platform::Array> executeLocked(std::string_view statement,
                                                 const std::vector<platform::Value>& parameters,
                                                 bool fromScript, CBStatementProgress* progress = nullptr);
    void fetch(const std::string& id, const std::string& table, bool decodeData, FetchCallback callback);

    // lock_ serialises the handle and may be held for a whole statement on the DB thread;
    // the main thread's calls that only send work (sendQuery) never take it.
    mutable std::mutex lock_;
    sqlite3* database_ = nullptr;
    std::atomic<bool> initialized_{false};
    std::atomic<bool> open_{false};
    mutable std::mutex managerLock_;
    std::weak_ptr<CBAsyncCommandManager> queryManager_; // guarded by managerLock_
};

} // namespace cobalt
