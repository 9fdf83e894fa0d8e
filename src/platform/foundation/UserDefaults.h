#pragma once
// The application's persistent settings: a dictionary of property-list values by key, kept in
// an XML property list under the device home's Library/Preferences, named after the main
// bundle's identifier ("<identifier>.plist", "ferrowick.plist" when the bundle has none).
//
// Changes are written at the end of the run-loop turn that made them: the main run loop's next
// turn writes every change made since the last write in one atomic write (temporary file,
// then rename), so a burst of changes (and of synchronize() calls) costs one write instead of
// one each. What is still unwritten when the process exits is written then, so nothing set is
// lost when the process ends without a synchronize(). A write that failed is logged and tried
// again by the next turn that changes something, or at once by synchronize(), which then
// reports whether it worked. A process cut short (killed, crashed) loses at most the changes
// of the turn it was in, and leaves the old file or the new one, never part of one. In a
// program without a run loop every change is written at once.
//
// A file that cannot be read as a property list is not overwritten: it is moved aside to
// "<name>.unreadable" and logged, and the defaults start empty.
//
// Registered defaults (registerDefaults) answer for keys that were never set; they are not
// stored. Typed readers follow the platform: boolForKey, integerForKey and doubleForKey read
// numbers and, leniently, text ("YES", "12"); stringForKey answers text, and numbers as text.
//
// `standard()` is the process-wide instance, made on first use from the current device home;
// resetForTesting() forgets it so the next use reloads from the home of the running test.
// Thread-safe.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"

namespace platform {

class UserDefaults {
  public:
    static UserDefaults& standard();
    static void resetForTesting();

    // Defaults stored in `file` (loaded now when it exists).
    explicit UserDefaults(std::filesystem::path file);
    // Writes what is still unwritten (the standard instance is destroyed at the process's exit).
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    std::optional<Value> objectForKey(std::string_view key) const;
    std::optional<std::string> stringForKey(std::string_view key) const;
    // Only arrays whose elements are all strings.
    std::optional<std::vector<std::string>> stringArrayForKey(std::string_view key) const;
    std::optional<Array> arrayForKey(std::string_view key) const;
    std::optional<Dictionary> dictionaryForKey(std::string_view key) const;
    std::optional<Data> dataForKey(std::string_view key) const;
    // false, 0 and 0.0 when absent or of another kind.
    bool boolForKey(std::string_view key) const;
    std::int64_t integerForKey(std::string_view key) const;
    double doubleForKey(std::string_view key) const;
    float floatForKey(std::string_view key) const { return static_cast<float>(doubleForKey(key)); }

    // Stores a property-list value; a null value removes the key. A value that holds a null
    // inside is refused (answers false, logged) and nothing changes. In a program without a
    // run loop, false also when the value could not be written.
    bool setObject(std::string_view key, Value value);
    void setBool(std::string_view key, bool value) { setObject(key, Value(value)); }
    void setInteger(std::string_view key, std::int64_t value) {
        setObject(key, Value(static_cast<long long>(value)));
    }
    void setDouble(std::string_view key, double value) { setObject(key, Value(value)); }
    void setFloat(std::string_view key, float value) { setObject(key, Value(static_cast<double>(value))); }
    void setString(std::string_view key, std::string_view value) { setObject(key, Value(value)); }
    void removeObjectForKey(std::string_view key);

    void registerDefaults(const Dictionary& defaults);
    // The stored values over the registered ones.
    Dictionary dictionaryRepresentation() const;

    // The changes so far go with this turn's write; after a failed write, writes at once.
    // False when the file does not hold what memory holds and cannot be written now.
    bool synchronize();

    const std::filesystem::path& filePath() const { return file_; }

  private:
    struct WriteLink;
    struct ScheduledWrite;

    std::optional<Value> lookupLocked(std::string_view key) const;
    // After a change: schedules the write for a later turn, or writes at once without a run loop.
    bool changedLocked();
    void writeScheduledChanges();
    // Writes the changes not yet written, now.
    bool writeUnwritten();
    bool persistLocked();
    void load();

    std::filesystem::path file_;
    mutable std::mutex mutex_;
    Dictionary values_;
    Dictionary registered_;
    bool dirty_ = false;
    bool lastWriteFailed_ = false;
    // How a scheduled write finds this instance, as long as it lives.
    std::shared_ptr<WriteLink> link_;
    // The write scheduled for a later turn; expired when it has run or was dropped unrun.
    std::weak_ptr<ScheduledWrite> scheduled_;
};

} // namespace platform
