#include "vellum/tracking/MRSQLite3DB.h"

#include <memory>
#include <system_error>

#include <sqlite3.h>

#include "platform/foundation/FileManager.h"
#include "vellum/tracking/AnalyticsSeam.h"

namespace vellum {

namespace {

constexpr const char* kFileExtension = ".sql";
constexpr const char* kNotOpenMessage = "database is not open";
constexpr const char* kInvalidDefinitionMessage = "invalid column definition";
constexpr const char* kParameterCountMessage =
    "the number of values does not match the statement's parameters";
constexpr const char* kSeveralStatementsMessage = "only one statement can run at a time";
constexpr const char* kSavepoint = "mrsqlite3db_transaction";

// A name that is one plain file-name component.
bool isPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

// A relative folder path (it may hold "/") that cannot climb out of its root.
bool isContainedSubfolder(std::string_view subfolder) {
    if (subfolder.empty() || subfolder.front() == '/' || subfolder.find('\0') != std::string_view::npos)
        return false;
    std::size_t start = 0;
    while (start <= subfolder.size()) {
        const std::size_t end = std::min(subfolder.find('/', start), subfolder.size());
        if (subfolder.substr(start, end - start) == "..")
            return false;
        start = end + 1;
    }
    return true;
}

bool isIdentifierStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool isIdentifierChar(char c) {
    return isIdentifierStart(c) || (c >= '0' && c <= '9');
}

// "name TYPE(ARGS)": a column name, then only type words. Nothing that could end the
// statement, open a string or a comment, or add another clause.
bool isColumnDefinition(std::string_view definition) {
    if (definition.empty() || !isIdentifierStart(definition.front()))
        return false;
    for (char c : definition)
        if (!isIdentifierChar(c) && c != ' ' && c != '(' && c != ')' && c != ',')
            return false;
    return true;
}

std::string quoteIdentifier(std::string_view name) {
    std::string quoted = "\"";
    for (char c : name) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

// Library/<subfolder>, built as "%@/%@".
std::filesystem::path folderPath(std::string_view subfolder) {
    return std::filesystem::path(analyticsLibraryDirectory().string() + "/" + std::string(subfolder));
}

// <folder>/<name>.sql, built as "%@/%@.sql".
std::filesystem::path filePath(const std::filesystem::path& folder, std::string_view name) {
    return std::filesystem::path(folder.string() + "/" + std::string(name) + kFileExtension);
}

struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using StatementPtr = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

bool bindValue(sqlite3_stmt* statement, int index, const SQLValue& value) {
    struct Binder {
        sqlite3_stmt* s;
        int i;
        int operator()(std::nullptr_t) const { return sqlite3_bind_null(s, i); }
        int operator()(std::int64_t v) const { return sqlite3_bind_int64(s, i, v); }
        int operator()(double v) const { return sqlite3_bind_double(s, i, v); }
        int operator()(const std::string& v) const {
            return sqlite3_bind_text64(s, i, v.data(), v.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        }
        int operator()(const std::vector<std::uint8_t>& v) const {
            return sqlite3_bind_blob64(s, i, v.data(), v.size(), SQLITE_TRANSIENT);
        }
    };
    return std::visit(Binder{statement, index}, value) == SQLITE_OK;
}

bool onlyWhitespace(const char* text) {
    for (; text && *text; ++text)
        if (*text != ' ' && *text != '\n' && *text != '\t' && *text != '\r' && *text != ';')
            return false;
    return true;
}

} // namespace

// ---- Row ----

int MRSQLite3DB::Row::columnCount() const {
    return sqlite3_column_count(statement_);
}

bool MRSQLite3DB::Row::isNull(int column) const {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

std::int64_t MRSQLite3DB::Row::integer(int column) const {
    return sqlite3_column_int64(statement_, column);
}

double MRSQLite3DB::Row::real(int column) const {
    return sqlite3_column_double(statement_, column);
}

std::optional<std::string> MRSQLite3DB::Row::text(int column) const {
    const auto* bytes = sqlite3_column_text(statement_, column);
    if (!bytes)
        return std::nullopt;
    return std::string(reinterpret_cast<const char*>(bytes),
                       static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)));
}

std::vector<std::uint8_t> MRSQLite3DB::Row::blob(int column) const {
    const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement_, column));
    const int size = sqlite3_column_bytes(statement_, column);
    if (!bytes || size <= 0)
        return {};
    return std::vector<std::uint8_t>(bytes, bytes + size);
}

// ---- Opening and closing ----

MRSQLite3DB::MRSQLite3DB(std::string_view name, std::string_view subfolder) {
    if (!subfolder.empty())
        openDBNamed(name, subfolder);
}

MRSQLite3DB::~MRSQLite3DB() {
    close();
}

bool MRSQLite3DB::openDBNamed(std::string_view name, std::string_view subfolder) {
    close();
    if (!isPlainName(name) || !isContainedSubfolder(subfolder)) {
        analyticsLog("refusing database '" + std::string(name) + "' in '" + std::string(subfolder) +
                     "': the file must stay inside the Library folder.");
        return false;
    }
    const auto folder = folderPath(subfolder);
    if (!checkDBPath(folder))
        return false;
    const auto file = filePath(folder, name);
    sqlite3* handle = nullptr;
    if (sqlite3_open(file.c_str(), &handle) != SQLITE_OK) {
        const char* message = handle ? sqlite3_errmsg(handle) : "out of memory";
        lastError_ = message;
        analyticsLogInternal("failed to open database '" + file.string() + "' with message '" + message +
                             "'.");
        sqlite3_close(handle);
        return false;
    }
    database_ = handle;
    return true;
}

bool MRSQLite3DB::checkDBPath(const std::filesystem::path& folder) const {
    // The store's folder is used only as a real folder of the app's: a link or a file at its
    // name (or at a parent's below the Library folder) is left alone and the store stays closed.
    if (platform::FileManager::createRealFolder(folder, analyticsLibraryDirectory()))
        return true;
    analyticsLog("Failed to create DB path.");
    return false;
}

void MRSQLite3DB::close() {
    if (!database_)
        return;
    if (sqlite3_close(database_) != SQLITE_OK) {
        analyticsLogInternal(std::string("error: failed to close database with message '") +
                             sqlite3_errmsg(database_) + "'.");
        // Release the connection as soon as its last statement is finalized.
        sqlite3_close_v2(database_);
    }
    database_ = nullptr;
}

bool MRSQLite3DB::databaseExistsInDocumentsSubdir(std::string_view name, std::string_view subfolder) {
    if (!isPlainName(name) || !isContainedSubfolder(subfolder))
        return false;
    std::error_code ec;
    return std::filesystem::exists(filePath(folderPath(subfolder), name), ec);
}

std::optional<std::string> MRSQLite3DB::stringWithUTF8String(const char* text) {
    if (!text)
        return std::nullopt;
    return std::string(text);
}

// ---- Columns ----

std::optional<std::vector<std::string>> MRSQLite3DB::columnsFromTable(std::string_view table) {
    StatementPtr statement(prepare("SELECT * FROM " + quoteIdentifier(table) + ";", {}));
    if (!statement) {
        analyticsLogInternal("columnsFromTable select failed: '" + lastError_ + "'");
        return std::nullopt;
    }
    std::vector<std::string> columns;
    const int count = sqlite3_column_count(statement.get());
    for (int i = 0; i < count; ++i) {
        const char* name = sqlite3_column_name(statement.get(), i);
        columns.emplace_back(name ? name : "");
    }
    return columns;
}

bool MRSQLite3DB::columnNamed(std::string_view column, std::string_view table) {
    const auto columns = columnsFromTable(table);
    if (!columns)
        return false;
    for (const auto& name : *columns)
        if (name == column)
            return true;
    return false;
}

bool MRSQLite3DB::addColumn(std::string_view definition, std::string_view table) {
    const std::string text(definition);
    bool added = false;
    if (!isColumnDefinition(definition))
        lastError_ = kInvalidDefinitionMessage;
    else
        added = execute("ALTER TABLE " + quoteIdentifier(table) + " ADD COLUMN " + text + ";");
    if (added)
        analyticsLogInternal("added a column (" + text + ") to the " + std::string(table) + " table.");
    else
        analyticsLogInternal("error adding column (" + text + "): '" + lastError_ + "'");
    return added;
}

// ---- Statements ----

sqlite3_stmt* MRSQLite3DB::prepare(std::string_view sql, const std::vector<SQLValue>& values) {
    if (!database_) {
        lastError_ = kNotOpenMessage;
        return nullptr;
    }
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(database_, sql.data(), static_cast<int>(sql.size()), &raw, &tail) != SQLITE_OK ||
        !raw) {
        lastError_ =
            raw ? sqlite3_errmsg(database_)
                : (sqlite3_errcode(database_) == SQLITE_OK ? "empty statement" : sqlite3_errmsg(database_));
        sqlite3_finalize(raw);
        return nullptr;
    }
    StatementPtr statement(raw);
    const std::string rest(tail ? tail : "",
                           tail ? static_cast<std::size_t>(sql.data() + sql.size() - tail) : 0);
    if (!onlyWhitespace(rest.c_str())) {
        lastError_ = kSeveralStatementsMessage;
        return nullptr;
    }
    if (sqlite3_bind_parameter_count(raw) != static_cast<int>(values.size())) {
        lastError_ = kParameterCountMessage;
        return nullptr;
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!bindValue(raw, static_cast<int>(i + 1), values[i])) {
            lastError_ = sqlite3_errmsg(database_);
            return nullptr;
        }
    }
    return statement.release();
}

bool MRSQLite3DB::query(std::string_view sql, const std::vector<SQLValue>& values,
                        const std::function<void(const Row&)>& onRow) {
    StatementPtr statement(prepare(sql, values));
    if (!statement)
        return false;
    for (;;) {
        const int rc = sqlite3_step(statement.get());
        if (rc == SQLITE_DONE)
            return true;
        if (rc != SQLITE_ROW) {
            lastError_ = sqlite3_errmsg(database_);
            return false;
        }
        if (onRow)
            onRow(Row(statement.get()));
    }
}

bool MRSQLite3DB::execute(std::string_view sql, const std::vector<SQLValue>& values) {
    return query(sql, values, nullptr);
}

bool MRSQLite3DB::executeScript(std::string_view sql) {
    if (!database_) {
        lastError_ = kNotOpenMessage;
        return false;
    }
    char* message = nullptr;
    const std::string text(sql);
    if (sqlite3_exec(database_, text.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        lastError_ = message ? message : sqlite3_errmsg(database_);
        sqlite3_free(message);
        return false;
    }
    return true;
}

bool MRSQLite3DB::runInTransaction(const std::function<bool()>& body) {
    const std::string name = kSavepoint;
    if (!execute("SAVEPOINT " + name + ";"))
        return false;
    auto rollBack = [&] {
        const std::string failure = lastError_;
        execute("ROLLBACK TO " + name + ";");
        execute("RELEASE " + name + ";");
        lastError_ = failure;
    };
    bool ok = false;
    try {
        ok = body();
    } catch (...) {
        rollBack();
        throw;
    }
    if (ok && execute("RELEASE " + name + ";"))
        return true;
    rollBack();
    return false;
}

std::string MRSQLite3DB::errorMessage() const {
    return lastError_;
}

} // namespace vellum
