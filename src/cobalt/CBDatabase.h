#pragma once
// The Cobalt store: one SQLite database, Documents/CB/cobaltdb.sql, holding the engine's
// settings and the scripts' own tables (among them "ads").
//
// Opening checks the version row of the settings table; a store written by another engine
// version is wiped (the database with its journal files, the client scripts under Config and
// every stored ad under Content; anything else in Documents/CB is the person's and stays) and
// made again. When Documents/CB is not a folder (a person's own file of that name) the engine
// leaves it alone and runs without a store: every statement answers no rows. When the store
// goes away while the engine runs (the person deleted the folder or the file: a write answers
// SQLITE_READONLY_DBMOVED, or recoverIfGone() finds the file missing), it is wiped and made
// again, and the store-reset handler hears of it so the engine can carry on.
//
// Record writes and reads go to the DB thread as queries and answer on the main thread;
// sqlExecute runs a statement at once on the calling thread.
//
// Threads: the handle is shared by the main thread and the DB thread; every use of it (open,
// each statement from prepare to finalize, close, wipe) holds the store's lock, so two
// statements never overlap. A script's statement is bounded (see sqlExecuteFromScript), so the
// lock is never held for long, and sending a query never takes it. Values the engine puts
// into SQL are bound, never pasted; table names must be plain identifiers. Statements that
// scripts send run under an authorizer that refuses ATTACH, DETACH, triggers and views, every
// function outside a short allow-list (whose work and memory the statement's limits hold), and
// every pragma that is not a plain reading.
#include <atomic>
#include <cstdint>
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
    // A whole statement sent by a script: run as it is, under the authorizer. Answers nullopt
    // when the statement is refused, fails, or is cut short: past kScriptStatementSeconds of
    // real time or kScriptStatementSteps progress checks, or through `cancelled` (any thread
    // may set it; the statement stops at its next progress check). Each single step is kept
    // short by bounding its inputs: no text or blob over kMaxScriptValueBytes, no LIKE or GLOB
    // pattern over kMaxScriptLikePatternBytes, no result over kMaxScriptColumns columns.
    // Memory is bounded: each value's size is checked before it is copied, the rows together
    // hold at most kMaxScriptResultBytes, and the functions a statement may call keep what
    // they build within the value bound while it runs. Disk is bounded: a script's statement may grow the
    // store to kMaxScriptStoreBytes; the engine's own writes may use the room up to
    // kMaxStoreBytes.
    // The progress handler runs every kProgressInterval virtual-machine steps, often enough
    // that a cancel or the deadline is seen soon even when each step is costly;
    // kScriptStatementSteps handler calls make 20 million steps.
    static constexpr int kProgressInterval = 16;
    static constexpr long kScriptStatementSteps = 1'250'000;
    static constexpr double kScriptStatementSeconds = 1.0;
    static constexpr std::size_t kMaxScriptValueBytes = 64 * 1024;
    static constexpr int kMaxScriptLikePatternBytes = 256;
    static constexpr int kMaxScriptColumns = 100;
    static constexpr std::size_t kMaxScriptResultBytes = 4 * 1024 * 1024;
    static constexpr std::int64_t kMaxStoreBytes = 32ll * 1024 * 1024;
    static constexpr std::int64_t kMaxScriptStoreBytes = 24ll * 1024 * 1024;
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

    // Told (on the thread that found it, holding no lock) after the store was wiped and made
    // again because it had gone away.
    void setStoreResetHandler(std::function<void()> handler);
    // When the store's folder or file has gone (or the folder is back after a launch that
    // found a person's file named "CB"), wipes and makes the store again; answers whether it
    // did. Any thread; a cheap check when the store is whole.
    bool recoverIfGone();

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
    bool openLocked();
    void closeLocked();
    // The store folder is the engine's: a folder (made when missing), not a person's file.
    static bool storeFolderUsable();
    static bool storeFileExists();
    // A write found the file gone: wipe and make the store again, then tell the handler.
    void recoverFromMovedStore(std::unique_lock<std::mutex>& lock);
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
    bool moved_ = false;          // a write answered SQLITE_READONLY_DBMOVED; guarded by lock_
    std::int64_t pageSize_ = 4096; // guarded by lock_
    mutable std::mutex handlerLock_;
    std::function<void()> storeResetHandler_; // guarded by handlerLock_
    mutable std::mutex managerLock_;
    std::weak_ptr<CBAsyncCommandManager> queryManager_; // guarded by managerLock_
};

} // namespace cobalt
