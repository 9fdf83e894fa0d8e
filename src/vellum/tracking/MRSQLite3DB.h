#pragma once
// The base of the engine's SQLite databases (the tracked-event store, the ad cache and the
// close-button cache). It places each database file under the Library folder as
// Library/<subfolder>/<name>.sql, creates the folder, opens the connection, answers whether a
// table has a column and adds missing columns. Subclasses run their own statements on the
// inherited connection (`database()`), preferably through the statement helpers below,
// which bind every value as a parameter and group changes that belong together into one
// transaction.
//
// Owned by its subclass object, which owns one connection; main thread only. It has no
// callbacks. A database that could not be opened leaves `database()` null and `dbOK()`
// false; every statement then fails (and answers false or nullopt).
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace vellum {

// A value bound to a statement parameter: NULL, integer, real, text or blob.
using SQLValue = std::variant<std::nullptr_t, std::int64_t, double, std::string, std::vector<std::uint8_t>>;

class MRSQLite3DB {
  public:
    // One result row; valid only inside the row callback of query().
    class Row {
      public:
        int columnCount() const;
        bool isNull(int column) const;
        std::int64_t integer(int column) const;
        double real(int column) const;
        std::optional<std::string> text(int column) const; // nullopt for NULL
        std::vector<std::uint8_t> blob(int column) const;

      private:
        friend class MRSQLite3DB;
        explicit Row(sqlite3_stmt* statement) : statement_(statement) {}
        sqlite3_stmt* statement_;
    };

    // initDBNamed:inDocumentsSubdir: opens the database when the subfolder is not empty;
    // with an empty subfolder the object has no database and touches no file.
    MRSQLite3DB(std::string_view name, std::string_view subfolder);
    // Closes the database; a failure to close is logged.
    virtual ~MRSQLite3DB();
    MRSQLite3DB(const MRSQLite3DB&) = delete;
    MRSQLite3DB& operator=(const MRSQLite3DB&) = delete;

    // Opens (creating when missing) Library/<subfolder>/<name>.sql, closing any database
    // already open. The name must be one plain file-name component and the subfolder a
    // relative path without "..", so the file stays inside the Library folder. Answers dbOK().
    bool openDBNamed(std::string_view name, std::string_view subfolder);
    // True when the folder exists or could be created with its intermediate folders; else
    // logs (always) "Failed to create DB path.".
    bool checkDBPath(const std::filesystem::path& folder) const;
    bool dbOK() const { return database_ != nullptr; }

    // The column names of a table, in order; nullopt (logged) when the table cannot be read.
    std::optional<std::vector<std::string>> columnsFromTable(std::string_view table);
    // columnNamed:existsInTable: — names compare exactly, letter case included.
    bool columnNamed(std::string_view column, std::string_view table);
    // addColumn:toTable: with a definition such as "eventID INTEGER" (a column name, then
    // type words: letters, digits, "_", spaces, parentheses and commas). Logs the outcome.
    bool addColumn(std::string_view definition, std::string_view table);

    // database:existsInDocumentsSubdir: — true when the file of the path rule exists.
    static bool databaseExistsInDocumentsSubdir(std::string_view name, std::string_view subfolder);
    // nullopt for NULL, else the text; for every text column the subclasses read.
    static std::optional<std::string> stringWithUTF8String(const char* text);

    // The connection; null while no database is open.
    sqlite3* database() const { return database_; }

    // ---- Statement helpers ----
    // Runs one statement with `values` bound to its parameters (?1, ?2, ...) in order, stepping
    // it to the end; rows it yields are ignored. False on failure (see errorMessage()).
    bool execute(std::string_view sql, const std::vector<SQLValue>& values = {});
    // Runs one statement with bound values and calls `onRow` for each result row.
    bool query(std::string_view sql, const std::vector<SQLValue>& values,
               const std::function<void(const Row&)>& onRow);
    // Runs `body` in one transaction: committed when it answers true, rolled back when it
    // answers false or throws (the exception then goes on). Nests (as a savepoint) inside
    // an open transaction. Answers whether the changes were committed.
    bool runInTransaction(const std::function<bool()>& body);
    // Runs statements without values (creating tables and indexes), as one script.
    bool executeScript(std::string_view sql);
    // SQLite's message of the latest failure on this connection.
    std::string errorMessage() const;

  private:
    void close();
    sqlite3_stmt* prepare(std::string_view sql, const std::vector<SQLValue>& values);

    sqlite3* database_ = nullptr;
    std::string lastError_;
};

} // namespace vellum
