#include "platform/foundation/UserDefaults.h"

#include <cerrno>
#include <cstdio>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/LaterTurn.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Strings.h"

namespace platform {
namespace {

constexpr const char* kFallbackDefaultsName = "ferrowick";
constexpr const char* kBundleIdentifierKey = "CFBundleIdentifier";
constexpr const char* kUnreadableSuffix = ".unreadable";

std::mutex& standardMutex() {
    static std::mutex m;
    return m;
}

// Destroyed at the process's exit, which writes what it holds unwritten.
std::unique_ptr<UserDefaults>& standardInstance() {
    static std::unique_ptr<UserDefaults> instance;
    return instance;
}

// The retired standard instances: references handed out earlier must stay valid, so a reset
// keeps the old object alive instead of destroying it under a caller (until the exit).
std::vector<std::unique_ptr<UserDefaults>>& retiredInstances() {
    static std::vector<std::unique_ptr<UserDefaults>> retired;
    return retired;
}

std::filesystem::path standardFile() {
    std::string name = kFallbackDefaultsName;
    if (auto id = Bundle::main().objectForInfoDictionaryKey(kBundleIdentifierKey); id && id->string())
        if (auto safe = FileManager::safePathComponent(*id->string()))
            name = *safe;
    return DeviceHome::preferences() / (name + ".plist");
}

} // namespace

UserDefaults& UserDefaults::standard() {
    // The standard instance writes what is unwritten when it is destroyed at exit. The
    // process-wide objects that write uses (the date formatter of the property-list writer, the
    // temporary names' generator) are made here first, before the instance's own holder, so
    // that they are destroyed after it.
    static const bool writerReady = [] {
        Value sample(Dictionary{{"date", Value(Date{})}, {"real", Value(0.5)}, {"data", Value(Data{0})}});
        (void)sample.toPropertyList();
        (void)ProcessInfo::globallyUniqueString();
        return true;
    }();
    (void)writerReady;
    std::lock_guard lock(standardMutex());
    auto& instance = standardInstance();
    if (!instance)
        instance = std::make_unique<UserDefaults>(standardFile());
    return *instance;
}

void UserDefaults::resetForTesting() {
    std::lock_guard lock(standardMutex());
    if (standardInstance()) {
        // What the next instance reads back from the file is everything set so far.
        standardInstance()->writeUnwritten();
        retiredInstances().push_back(std::move(standardInstance()));
    }
}

// The instance a scheduled write reaches, null once it is destroyed.
struct UserDefaults::WriteLink {
    explicit WriteLink(UserDefaults* o) : owner(o) {}
    std::mutex mutex;
    UserDefaults* owner;
};

// One write scheduled for a later turn. The run loop holds it until the turn runs it (or the
// loop drops it unrun); the instance only watches it.
struct UserDefaults::ScheduledWrite {
    std::shared_ptr<WriteLink> link;

    void operator()() const {
        std::lock_guard lock(link->mutex);
        if (link->owner)
            link->owner->writeScheduledChanges();
    }
};

UserDefaults::UserDefaults(std::filesystem::path file)
    : file_(std::move(file)), link_(std::make_shared<WriteLink>(this)) {
    load();
}

UserDefaults::~UserDefaults() {
    {
        std::lock_guard lock(link_->mutex);
        link_->owner = nullptr;
    }
    writeUnwritten();
}

void UserDefaults::load() {
    // Writes cut short by a crash leave their temporaries beside the file: they go now.
    FileManager::removeStaleTemporaries(file_);
    if (!FileManager::fileExists(file_))
        return;
    Error error;
    auto value = readPropertyListFile(file_, &error);
    if (value && value->dictionary()) {
        values_ = std::move(*value->dictionary());
        return;
    }
    if (!value && error.domain == kPOSIXErrorDomain && error.code != EFBIG) {
        // The file could not be opened or read at all: leave it where it is.
        logLine("UserDefaults: " + error.localizedDescription);
        return;
    }
    // Keep what cannot be read for whoever wants to recover it, rather than overwrite it with
    // the next change.
    std::filesystem::path aside = file_;
    aside += kUnreadableSuffix;
    std::error_code ec;
    std::filesystem::rename(file_, aside, ec);
    logLine("UserDefaults: " +
            (value ? "\"" + file_.string() + "\" holds no dictionary" : error.localizedDescription) +
            (ec ? "; it could not be moved aside" : "; moved aside to \"" + aside.string() + "\""));
}

std::optional<Value> UserDefaults::lookupLocked(std::string_view key) const {
    if (auto it = values_.find(key); it != values_.end())
        return it->second;
    if (auto it = registered_.find(key); it != registered_.end())
        return it->second;
    return std::nullopt;
}

std::optional<Value> UserDefaults::objectForKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    return lookupLocked(key);
}

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) const {
    auto v = objectForKey(key);
    if (!v)
        return std::nullopt;
    if (auto s = v->string())
        return *s;
    switch (v->type()) {
    case Value::Type::Bool:
        return std::string(v->boolOr(false) ? "1" : "0");
    case Value::Type::Integer:
        return std::to_string(*v->integer());
    case Value::Type::Real:
        return formatDouble(*v->number());
    default:
        return std::nullopt;
    }
}

std::optional<std::vector<std::string>> UserDefaults::stringArrayForKey(std::string_view key) const {
    auto v = objectForKey(key);
    if (!v || !v->array())
        return std::nullopt;
    std::vector<std::string> out;
    for (const auto& e : *v->array()) {
        if (!e.string())
            return std::nullopt;
        out.push_back(*e.string());
    }
    return out;
}

std::optional<Array> UserDefaults::arrayForKey(std::string_view key) const {
    auto v = objectForKey(key);
    if (!v || !v->array())
        return std::nullopt;
    return *v->array();
}

std::optional<Dictionary> UserDefaults::dictionaryForKey(std::string_view key) const {
    auto v = objectForKey(key);
    if (!v || !v->dictionary())
        return std::nullopt;
    return *v->dictionary();
}

std::optional<Data> UserDefaults::dataForKey(std::string_view key) const {
    auto v = objectForKey(key);
    if (!v || !v->data())
        return std::nullopt;
    return *v->data();
}

bool UserDefaults::boolForKey(std::string_view key) const {
    auto v = objectForKey(key);
    if (!v)
        return false;
    if (auto s = v->string())
        return boolValue(*s);
    return v->boolOr(false);
}

std::int64_t UserDefaults::integerForKey(std::string_view key) const {
    auto v = objectForKey(key);
    if (!v)
        return 0;
    if (auto s = v->string())
        return integerValue(*s);
    return v->intOr(0);
}

double UserDefaults::doubleForKey(std::string_view key) const {
    auto v = objectForKey(key);
    if (!v)
        return 0;
    if (auto s = v->string())
        return doubleValue(*s);
    return v->doubleOr(0);
}

bool UserDefaults::setObject(std::string_view key, Value value) {
    if (value.isNull()) {
        removeObjectForKey(key);
        return true;
    }
    if (!isPropertyListValue(value)) {
        logLine("UserDefaults: refused the value for \"" + std::string(key) + "\": it holds a null");
        return false;
    }
    std::lock_guard lock(mutex_);
    values_.insert_or_assign(std::string(key), std::move(value));
    dirty_ = true;
    return changedLocked();
}

void UserDefaults::removeObjectForKey(std::string_view key) {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end())
        return;
    values_.erase(it);
    dirty_ = true;
    changedLocked();
}

void UserDefaults::registerDefaults(const Dictionary& defaults) {
    std::lock_guard lock(mutex_);
    for (const auto& [k, v] : defaults)
        if (!v.isNull())
            registered_.insert_or_assign(k, v);
}

Dictionary UserDefaults::dictionaryRepresentation() const {
    std::lock_guard lock(mutex_);
    Dictionary out = registered_;
    for (const auto& [k, v] : values_)
        out.insert_or_assign(k, v);
    return out;
}

bool UserDefaults::synchronize() {
    std::lock_guard lock(mutex_);
    if (!dirty_)
        return true;
    // After a failed write, try again now and tell whether it worked; otherwise the changes
    // go with this turn's write.
    if (lastWriteFailed_)
        return persistLocked();
    return changedLocked();
}

bool UserDefaults::writeUnwritten() {
    std::lock_guard lock(mutex_);
    return !dirty_ || persistLocked();
}

bool UserDefaults::changedLocked() {
    if (!scheduled_.expired())
        return true; // the write already scheduled takes this change too
    auto write = std::make_shared<ScheduledWrite>(ScheduledWrite{link_});
    if (!performOnLaterMainTurn([write] { (*write)(); }))
        return persistLocked();
    scheduled_ = write;
    return true;
}

void UserDefaults::writeScheduledChanges() {
    std::lock_guard lock(mutex_);
    // Changes from here on schedule a write of their own.
    scheduled_.reset();
    if (dirty_)
        persistLocked();
}

bool UserDefaults::persistLocked() {
    Error error;
    if (!FileManager::createDirectory(file_.parent_path(), true, &error) ||
        !writePropertyListFile(file_, Value(values_), &error)) {
        logLine("UserDefaults: cannot save: " + error.localizedDescription);
        lastWriteFailed_ = true;
        return false;
    }
    dirty_ = false;
    lastWriteFailed_ = false;
    return true;
}

} // namespace platform
