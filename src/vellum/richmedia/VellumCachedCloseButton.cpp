// Custom close buttons: record, table and bundle loader.
#include "vellum/richmedia/VellumCachedCloseButton.h"

#include <atomic>
#include <filesystem>

#include "platform/foundation/Numbers.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/PropertyList.h"
#include "platform/ui/Application.h"
#include "vellum/tracking/VellumAnalyticsManager.h"

namespace vellum {
namespace {

namespace fs = std::filesystem;


VellumAnalyticsManager& analytics() {
    return *VellumAnalyticsManager::sharedInstance();
}

std::shared_ptr<VellumCachedCloseButtonDatabase>& sharedSlot() {
    static std::shared_ptr<VellumCachedCloseButtonDatabase> db;
    return db;
}

constexpr const char* kCreateTable =
    "CREATE TABLE IF NOT EXISTS cachedCloseButtons (closebuttonName CHAR(50) NOT NULL PRIMARY KEY, "
    "horizonalImageName CHAR(50), horizonalHitImageName CHAR(50), horizonalCornerPlacement INT, "
    "horizonalWidth INT, horizonalHeight INT, horizonalCornerOffsetX INT, horizonalCornerOffsetY INT, "
    "horizonalHitX1 INT, horizonalHitY1 INT, horizonalHitX2 INT, horizonalHitY2 INT, verticalImageName CHAR(50), "
    "verticalHitImageName CHAR(50), verticalCornerPlacement INT, verticalWidth INT, verticalHeight INT, "
    "verticalCornerOffsetX INT, verticalCornerOffsetY INT, verticalHitX1 INT, verticalHitY1 INT, "
    "verticalHitX2 INT, verticalHitY2 INT)";

constexpr const char* kColumns =
    "closebuttonName,horizonalImageName,horizonalHitImageName,horizonalCornerPlacement,horizonalWidth,"
    "horizonalHeight,horizonalCornerOffsetX,horizonalCornerOffsetY,horizonalHitX1,horizonalHitY1,horizonalHitX2,"
    "horizonalHitY2,verticalImageName,verticalHitImageName,verticalCornerPlacement,verticalWidth,verticalHeight,"
    "verticalCornerOffsetX,verticalCornerOffsetY,verticalHitX1,verticalHitY1,verticalHitX2,verticalHitY2";

using Button = VellumCachedCloseButton;
using StringField = std::optional<std::string> Button::*;
using IntField = int Button::*;

// The record's columns in table order: a text field or an integer field each.
struct Column {
    StringField text;
    IntField number;
};
constexpr Column kColumnFields[] = {
    {&Button::closebuttonName, nullptr},         {&Button::horizonalImageName, nullptr},
    {&Button::horizonalHitImageName, nullptr},   {nullptr, &Button::horizonalCornerPlacement},
    {nullptr, &Button::horizonalWidth},          {nullptr, &Button::horizonalHeight},
    {nullptr, &Button::horizonalCornerOffsetX},  {nullptr, &Button::horizonalCornerOffsetY},
    {nullptr, &Button::horizonalHitX1},          {nullptr, &Button::horizonalHitY1},
    {nullptr, &Button::horizonalHitX2},          {nullptr, &Button::horizonalHitY2},
    {&Button::verticalImageName, nullptr},       {&Button::verticalHitImageName, nullptr},
    {nullptr, &Button::verticalCornerPlacement}, {nullptr, &Button::verticalWidth},
    {nullptr, &Button::verticalHeight},          {nullptr, &Button::verticalCornerOffsetX},
    {nullptr, &Button::verticalCornerOffsetY},   {nullptr, &Button::verticalHitX1},
    {nullptr, &Button::verticalHitY1},           {nullptr, &Button::verticalHitX2},
    {nullptr, &Button::verticalHitY2},
};

// Property-list keys exactly as bundles write them, with the field each fills.
struct PlistNumberKey {
    const char* key;
    IntField field;
};
constexpr PlistNumberKey kPlistNumbers[] = {
    {"horizonalWidth", &Button::horizonalWidth},
    {"horizonalHeight", &Button::horizonalHeight},
    {"horizonalCornerOffsetX", &Button::horizonalCornerOffsetX},
    {"horizonalCornerOffsetY", &Button::horizonalCornerOffsetY},
    {"horizonalHitX1", &Button::horizonalHitX1},
    {"horizonalHitY1", &Button::horizonalHitY1},
    {"horizonalHitX2", &Button::horizonalHitX2},
    {"horizonalHitY2", &Button::horizonalHitY2},
    {"verticalWidth", &Button::verticalWidth},
    {"verticalHeight", &Button::verticalHeight},
    {"verticalCornerOffsetX", &Button::verticalCornerOffsetX},
    {"verticalCornerOffsetY", &Button::verticalCornerOffsetY},
    {"verticallHitX1", &Button::verticalHitX1},
    {"verticallHitY1", &Button::verticalHitY1},
    {"verticallHitX2", &Button::verticalHitX2},
    {"verticallHitY2", &Button::verticalHitY2},
};
struct PlistStringKey {
    const char* key;
    StringField field;
};
constexpr PlistStringKey kPlistStrings[] = {
    {"horizonalAdAsset", &Button::horizonalImageName},
    {"horizonalHitAsset", &Button::horizonalHitImageName},
    {"verticalAdAsset ", &Button::verticalImageName},
    {"verticalHitAsset", &Button::verticalHitImageName},
};
constexpr const char* kPlacementKey = "horizonalcornerplacement";

struct PlacementRow {
    const char* name;
    int placement;
};
constexpr PlacementRow kPlacements[] = {
    {MRCloseButtonUpperRight, 0}, {MRCloseButtonLowerRight, 1}, {MRCloseButtonUpperLeft, 2}};
constexpr int kOtherPlacement = 3;

std::optional<std::string> textOrNil(const std::optional<std::string>& text) {
    if (!text || text->empty() || *text == "(null)" || *text == "null")
        return std::nullopt;
    return text;
}

// A file name inside a bundle folder: one safe path component.
fs::path temporaryBundlePath(const std::string& name) {
    static std::atomic<std::uint64_t> counter{0};
    return platform::DeviceHome::tmp() / ("MRCloseButton-" + std::to_string(++counter) + "-" + name + ".zip");
}

} // namespace

int VellumCachedCloseButton::closebuttonCornerPlacement(std::string_view name) {
    for (const auto& row : kPlacements)
        if (name == row.name)
            return row.placement;
    return kOtherPlacement;
}

VellumCachedCloseButton VellumCachedCloseButton::fromPropertyList(const std::string& name,
                                                                  const platform::Dictionary& plist) {
    VellumCachedCloseButton b;
    b.closebuttonName = name;
    for (const auto& row : kPlistNumbers)
        if (auto f = plist.find(row.key); f != plist.end())
            b.*row.field = platform::saturatingCast<int>(f->second.integer().value_or(
                std::strtoll(f->second.stringOr("0").c_str(), nullptr, 10)));
    for (const auto& row : kPlistStrings)
        if (auto f = plist.find(row.key); f != plist.end() && f->second.string())
            b.*row.field = *f->second.string();
    if (auto f = plist.find(kPlacementKey); f != plist.end()) {
        const int placement = closebuttonCornerPlacement(f->second.stringOr(""));
        b.horizonalCornerPlacement = placement;
        b.verticalCornerPlacement = placement;
    }
    return b;
}

// ---- Database ----
VellumCachedCloseButtonDatabase::VellumCachedCloseButtonDatabase() : MRSQLite3DB(kDatabaseName, kSubfolder) {}

std::shared_ptr<VellumCachedCloseButtonDatabase> VellumCachedCloseButtonDatabase::create() {
    auto& shared = sharedSlot();
    if (shared)
        return shared;
    std::shared_ptr<VellumCachedCloseButtonDatabase> db(new VellumCachedCloseButtonDatabase());
    if (!db->dbOK())
        return nullptr;
    db->createTables();
    shared = db;
    return shared;
}
std::shared_ptr<VellumCachedCloseButtonDatabase> VellumCachedCloseButtonDatabase::existing() {
    return sharedSlot();
}
void VellumCachedCloseButtonDatabase::resetForTesting() {
    sharedSlot().reset();
}

bool VellumCachedCloseButtonDatabase::createCloseButtonsTable() {
    if (execute(kCreateTable))
        return true;
    analytics().logInternal("Error creating ad db: failed to prepare statement with message '%s'.",
                            errorMessage().c_str());
    return false;
}

bool VellumCachedCloseButtonDatabase::insertCachedCloseButton(const VellumCachedCloseButton& button) {
    std::vector<SQLValue> values;
    std::string marks;
    for (const auto& column : kColumnFields) {
        if (column.text) {
            const auto& text = button.*column.text;
            values.emplace_back(text ? SQLValue(*text) : SQLValue(nullptr));
        } else {
            values.emplace_back(static_cast<std::int64_t>(button.*column.number));
        }
        marks += marks.empty() ? "?" : ", ?";
    }
    const std::string sql = std::string("INSERT INTO cachedCloseButtons (") + kColumns + ") VALUES (" + marks + ");";
    if (!execute(sql, values)) {
        analytics().logInternal("insert close button failed: '%s'", errorMessage().c_str());
        return false;
    }
    analytics().logDebug("inserted close button with id: %s", button.closebuttonName.value_or("(null)").c_str());
    return true;
}

namespace {
VellumCachedCloseButton fromRow(const MRSQLite3DB::Row& row) {
    VellumCachedCloseButton b;
    int index = 0;
    for (const auto& column : kColumnFields) {
        if (column.text)
            b.*column.text = textOrNil(row.text(index));
        else
            b.*column.number = platform::saturatingCast<int>(row.integer(index));
        ++index;
    }
    return b;
}
} // namespace

std::optional<std::string> closeButtonFolder(const std::string& name) {
    auto component = platform::FileManager::safePathComponent(name);
    if (!component)
        return std::nullopt;
    return (std::filesystem::path(VellumAdServer::cachedCloseButtonsFolderPath()) / *component).string();
}

std::shared_ptr<platform::Image> closeButtonImage(const std::string& folder, const std::optional<std::string>& name) {
    if (!name)
        return nullptr;
    auto inside = platform::FileManager::pathInside(folder, *name);
    return inside ? platform::Image::fromFile(*inside) : nullptr;
}

std::optional<VellumCachedCloseButton> VellumCachedCloseButtonDatabase::closebuttonWithName(const std::string& name) {
    std::optional<VellumCachedCloseButton> found;
    const std::string sql = std::string("SELECT ") + kColumns + " FROM cachedCloseButtons WHERE closebuttonName = ?;";
    if (!query(sql, {SQLValue(name)}, [&](const Row& row) { found = fromRow(row); })) {
        analytics().logInternal("Error checking db for ad existance: '%s'", errorMessage().c_str());
        return std::nullopt;
    }
    return found;
}

std::optional<std::vector<VellumCachedCloseButton>> VellumCachedCloseButtonDatabase::retrieveAllCloseButtons() {
    std::vector<VellumCachedCloseButton> all;
    const std::string sql = std::string("SELECT ") + kColumns + " FROM cachedCloseButtons;";
    if (!query(sql, {}, [&](const Row& row) { all.push_back(fromRow(row)); })) {
        analytics().logInternal("retrieve all close buttons failed: '%s'", errorMessage().c_str());
        return std::nullopt;
    }
    return all;
}

bool VellumCachedCloseButtonDatabase::hasCloseButtonNamed(std::string_view name) const {
    auto self = const_cast<VellumCachedCloseButtonDatabase*>(this);
    return self->closebuttonWithName(std::string(name)).has_value();
}

void VellumCachedCloseButtonDatabase::downloadCloseButton(const std::string& name, const platform::URL& url) {
    VellumCachedCloseButtonLoader::create()->downloadCloseButton(name, url);
}

// ---- Loader ----
std::shared_ptr<VellumCachedCloseButtonLoader> VellumCachedCloseButtonLoader::create() {
    std::shared_ptr<VellumCachedCloseButtonLoader> loader(new VellumCachedCloseButtonLoader());
    loader->terminateToken_ = platform::NotificationCenter::defaultCenter().observe<VellumCachedCloseButtonLoader>(
        loader, platform::kApplicationWillTerminateNotification,
        [](VellumCachedCloseButtonLoader& self, const platform::Notification&) { self.setStopped(true); });
    return loader;
}

VellumCachedCloseButtonLoader::~VellumCachedCloseButtonLoader() {
    if (terminateToken_)
        platform::NotificationCenter::defaultCenter().removeObserver(*terminateToken_);
}

void VellumCachedCloseButtonLoader::setStopped(bool stopped) {
    if (stopped && loading && !stopped_)
        analytics().trackEvent(kFetchFailEvent);
    stopped_ = stopped;
}

bool VellumCachedCloseButtonLoader::downloadCloseButton(const std::string& name, const platform::URL& url) {
    analytics().logInternal("downloading close button %s from closebutton server", name.c_str());
    closebuttonName = name;
    platform::URLRequest request(url);
    auto component = platform::FileManager::safePathComponent(name);
    if (!platform::URLConnection::canHandleRequest(request) || !component || *component != name ||
        VellumCachedCloseButtonDatabase::isStoreFileName(name)) {
        analytics().logInternal("can't create a connection for %s", url.absoluteString().c_str());
        analytics().logDebug("Ad Server connection could not be established");
        analytics().trackEvent(kFetchFailEvent);
        return true;
    }
    const auto path = temporaryBundlePath(*component);
    if (!file_.open(path)) {
        analytics().trackEvent(kFetchFailEvent);
        return true;
    }
    analytics().logDebug("Dumping file here %s", path.c_str());
    loading = true;
    connection_ = platform::URLConnection::create(request, shared_from_this(), false);
    connection_->setMaximumBodyLength(kMaxBundleBytes);
    connection_->start();
    return true;
}

void VellumCachedCloseButtonLoader::connectionDidReceiveResponse(platform::URLConnection& connection,
                                                                 const platform::URLResponse& response) {
    if (&connection == connection_.get())
        file_.restart(response.statusCode());
}

void VellumCachedCloseButtonLoader::connectionDidReceiveData(platform::URLConnection& connection,
                                                             const platform::Data& data) {
    if (&connection == connection_.get())
        file_.append(data);
}

void VellumCachedCloseButtonLoader::endLoad(bool ok) {
    file_.discard();
    loading = false;
    connection_.reset();
    if (!ok)
        analytics().trackEvent(kFetchFailEvent);
}

void VellumCachedCloseButtonLoader::connectionDidFinishLoading(platform::URLConnection& connection) {
    if (&connection != connection_.get() || stopped_)
        return;
    file_.close();
    // A failed HTTP status is not a bundle.
    const bool success = file_.succeeded();
    endLoad(success && processDownloadedCloseButtonBundle());
}

void VellumCachedCloseButtonLoader::connectionDidFailWithError(platform::URLConnection& connection,
                                                               const platform::Error& error) {
    if (&connection != connection_.get() || stopped_)
        return;
    analytics().logInternal("Ad Server connection failed: %s", error.localizedDescription.c_str());
    analytics().logDebug("could not fetch close button %s from server", closebuttonName.c_str());
    endLoad(false);
}

bool VellumCachedCloseButtonLoader::processDownloadedCloseButtonBundle() {
    const fs::path cache = VellumAdServer::cachedCloseButtonsFolderPath();
    // Only the folder named as the close button is taken from the bundle.
    const auto component = platform::FileManager::safePathComponent(closebuttonName);
    if (!file_.path() || !component || *component != closebuttonName ||
        VellumCachedCloseButtonDatabase::isStoreFileName(closebuttonName) ||
        !VellumAdServer::expandZipFileAtPath(*file_.path(), cache.string(), *component))
        return false;
    bool isDirectory = false;
    if (!platform::FileManager::fileExists(cache / closebuttonName, &isDirectory) || !isDirectory) {
        analytics().logDebugOrInternal("folder for downloaded close button not found after unzipping: %s",
                                       (cache / closebuttonName).c_str());
        return false;
    }
    return updateDatabaseWithCloseButtonsPlistFile();
}

bool VellumCachedCloseButtonLoader::updateDatabaseWithCloseButtonsPlistFile() {
    const fs::path plistPath =
        fs::path(VellumAdServer::cachedCloseButtonsFolderPath()) / closebuttonName / (closebuttonName + ".plist");
    auto value = platform::readPropertyListFile(plistPath);
    if (!value || !value->dictionary())
        return false;
    auto db = VellumCachedCloseButtonDatabase::create();
    return db && db->insertCachedCloseButton(VellumCachedCloseButton::fromPropertyList(closebuttonName, *value->dictionary()));
}

} // namespace vellum
