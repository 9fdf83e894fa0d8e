#include "cobalt/CBAdManager.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "cobalt/CBAsyncCommand.h"
#include "cobalt/CBClientManager.h"
#include "cobalt/CBController.h"
#include "cobalt/CBDatabase.h"
#include "cobalt/CBPaths.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"

namespace cobalt {
namespace {

namespace fs = std::filesystem;

std::shared_ptr<CBDatabase> database() {
    auto controller = CBController::existing();
    return controller ? controller->database() : nullptr;
}

} // namespace

std::shared_ptr<CBAdManager> CBAdManager::create(const std::vector<std::shared_ptr<CBAdSlotDescription>>& slots) {
    std::shared_ptr<CBAdManager> manager(new CBAdManager());
    for (const auto& description : slots) {
        if (!description)
            continue;
        if (manager->slotDict_.count(description->name()))
            throw platform::NamedException(kDuplicateSlotException, "All given slot names must be unique.");
        auto slot = CBAdSlot::slotWithDescription(description);
        manager->slotDict_[description->name()] = slot;
        manager->slotOrder_.push_back(slot);
    }
    if (auto controller = CBController::existing()) {
        for (const auto& slot : manager->slotOrder_)
            if (slot->slotDescription()->size() == kCBAdSizeFullScreen) {
                controller->initializeFullScreenAdSupport();
                if (controller->fullScreenSupport())
                    manager->registerListener(controller->fullScreenSupport(), slot->slotDescription()->name());
            }
    }
    manager->restoreStoredAds();
    for (const auto& slot : manager->slotOrder_)
        if (!slot->isFetched())
            manager->fetchQueue_.push_back(slot->slotDescription()->name());
    return manager;
}

void CBAdManager::restoreStoredAds() {
    auto db = database();
    if (!db)
        return;
    const auto rows = db->sqlExecute("SELECT slotName, dlTime, expiration FROM ads ORDER BY dlTime");
    for (const auto& row : rows) {
        const auto* name = row.at(0);
        const auto* time = row.at(1);
        const auto* expiry = row.at(2);
        if (!name || !time || !expiry)
            continue;
        const std::string slotName = name->stringOr("");
        const std::int64_t dlTime = time->intOr(0);
        auto slot = slotForName(slotName);
        if (!slot) {
            nukeSlotNamed(slotName);
            continue;
        }
        if (slot->nextAdDlTime() != 0)
            deleteAd(slot->nextAdDlTime(), slotName, false, false);
        slot->setNextAdDlTime(dlTime);
        if (expirationTimeHasPassed(expiry->intOr(0)))
            deleteAd(dlTime, slotName, false, false);
        else
            scheduleExpirationForSlotNamed(slotName, dlTime, expiry->intOr(0));
    }
}

bool CBAdManager::forgetAdsWithoutFiles() {
    bool forgot = false;
    for (const auto& slot : slotOrder_) {
        const std::int64_t next = slot->nextAdDlTime();
        if (next == 0)
            continue;
        std::error_code ec;
        auto folder = adFolder(slot->slotDescription()->name(), next);
        if (folder && fs::is_directory(*folder, ec))
            continue;
        slot->setNextAdDlTime(0);
        forgot = true;
    }
    return forgot;
}

void CBAdManager::storeWasReset() {
    forgetAdsWithoutFiles();
    for (const auto& slot : slotOrder_) {
        const std::string& name = slot->slotDescription()->name();
        if (!slot->isFetched() && std::find(fetchQueue_.begin(), fetchQueue_.end(), name) == fetchQueue_.end())
            fetchQueue_.push_back(name);
    }
    fetchNextAd();
}

std::string CBAdManager::adRootDir() { return CBPaths::cbContentDir().string(); }

std::string CBAdManager::adBaseURL() {
    std::string root = adRootDir();
    std::string path;
    for (char c : root) {
        if (c == '/')
            path += "//";
        else if (c == ' ')
            path += "%20";
        else
            path += c;
    }
    return "file:/" + path + "//";
}

std::shared_ptr<CBAdSlot> CBAdManager::slotForName(const std::string& name) const {
    auto it = slotDict_.find(name);
    return it == slotDict_.end() ? nullptr : it->second;
}

bool CBAdManager::isAdFetchedForSlotNamed(const std::string& name) const {
    auto slot = slotForName(name);
    return slot && slot->isFetched();
}

bool CBAdManager::registerListener(std::shared_ptr<CBAdSlotListener> listener, const std::string& slotName) {
    auto slot = slotForName(slotName);
    if (!slot || !listener)
        return false;
    auto& listeners = listenerDict_[slotName];
    if (std::find(listeners.begin(), listeners.end(), listener) == listeners.end())
        listeners.push_back(std::move(listener));
    if (slot->isFetched())
        notifyListenersAdDownloadedForSlotNamed(slotName);
    return true;
}

void CBAdManager::queueFetchForSlotNamed(const std::string& name) {
    fetchQueue_.push_back(name);
    fetchNextAd();
}

void CBAdManager::fetchNextAd() {
    if (fetchQueue_.empty())
        return;
    auto controller = CBController::existing();
    auto driver = controller && controller->clientManager() ? controller->clientManager()->clientDriver() : nullptr;
    if (driver && driver->fetchAdForSlotNamed(fetchQueue_.front()))
        fetchQueue_.erase(fetchQueue_.begin());
}

void CBAdManager::adDownloadedForSlotNamed(const std::string& name, std::int64_t dlTime, std::int64_t expiration) {
    auto slot = slotForName(name);
    if (!slot)
        return;
    slot->setNextAdDlTime(dlTime);
    scheduleExpirationForSlotNamed(name, dlTime, expiration);
    notifyListenersAdDownloadedForSlotNamed(name);
    fetchNextAd();
}

void CBAdManager::adDownloadFailedForSlotNamed(const std::string& name) {
    fetchNextAd();
    if (fetchReenqueueDelay_ > 0 && slotForName(name)) {
        std::weak_ptr<CBAdManager> weak = weak_from_this();
        platform::RunLoop::main().performAfter(fetchReenqueueDelay_, [weak, name] {
            if (auto self = weak.lock())
                self->queueFetchForSlotNamed(name);
        });
    }
}

bool CBAdManager::expirationTimeHasPassed(std::int64_t expirationMilliseconds) {
    return static_cast<double>(expirationMilliseconds) < platform::Clock::current().now() * 1000.0;
}

void CBAdManager::scheduleExpirationForSlotNamed(const std::string& name, std::int64_t dlTime,
                                                 std::int64_t expiration) {
    double delay = static_cast<double>(expiration) / 1000.0 - platform::Clock::current().now();
    if (!std::isfinite(delay) || delay < 0)
        delay = 0;
    std::weak_ptr<CBAdManager> weak = weak_from_this();
    platform::RunLoop::main().performAfter(delay, [weak, name, dlTime] {
        if (auto self = weak.lock())
            self->expireAdForSlotNamed(name, dlTime);
    });
}

void CBAdManager::expireAdForSlotNamed(const std::string& name, std::int64_t dlTime) {
    auto slot = slotForName(name);
    if (slot && slot->nextAdDlTime() == dlTime)
        deleteAd(dlTime, name, true, true);
}

std::optional<std::string> CBAdManager::adFolder(const std::string& slotName, std::optional<std::int64_t> dlTime) {
    auto component = platform::FileManager::safePathComponent(slotName);
    if (!component)
        return std::nullopt;
    std::string relative = *component;
    if (dlTime)
        relative += "/" + std::to_string(*dlTime);
    auto path = platform::FileManager::pathInside(adRootDir(), relative);
    // Ad files live only in real folders of the engine's: through a link at the content
    // folder's name (or a parent's) there are no ad files to find or to delete.
    if (!path || !platform::DeviceHome::isOwnFolder(path->parent_path()))
        return std::nullopt;
    return path->string();
}

bool CBAdManager::deleteAd(std::int64_t dlTime, const std::string& slotName, bool fetchReplacement, bool async) {
    auto slot = slotForName(slotName);
    if (!slot)
        return false;
    if (slot->dlTime() == dlTime)
        slot->setDlTime(0);
    else if (slot->nextAdDlTime() == dlTime)
        slot->setNextAdDlTime(0);
    const std::string statement = "DELETE FROM ads WHERE slotName=? AND dlTime=?";
    std::vector<platform::Value> parameters{slotName, platform::Value(static_cast<long long>(dlTime))};
    if (auto db = database()) {
        if (async) {
            std::shared_ptr<CBCallbackContext> context;
            if (fetchReplacement) {
                std::weak_ptr<CBAdManager> weak = weak_from_this();
                context = CBCallbackContext::contextWithCallbackInvocation(
                    [weak, slotName](const platform::Value&) {
                        if (auto self = weak.lock())
                            self->deleteAdCallback(slotName);
                    },
                    false);
            }
            db->sendQuery(statement, std::move(parameters), std::move(context));
        } else {
            db->sqlExecute(statement, parameters);
            if (fetchReplacement)
                deleteAdCallback(slotName);
        }
    } else if (fetchReplacement) {
        deleteAdCallback(slotName);
    }
    if (auto folder = adFolder(slotName, dlTime)) {
        std::error_code ec;
        fs::remove_all(*folder, ec);
    }
    return true;
}

void CBAdManager::deleteAdCallback(const std::string& slotName) { queueFetchForSlotNamed(slotName); }

void CBAdManager::nukeSlotNamed(const std::string& slotName) {
    if (auto db = database())
        db->sqlExecute("DELETE FROM ads WHERE slotName=?", {slotName});
    if (auto folder = adFolder(slotName, std::nullopt)) {
        std::error_code ec;
        fs::remove_all(*folder, ec);
    }
}

void CBAdManager::notifyListenersAdDownloadedForSlotNamed(const std::string& name) {
    auto it = listenerDict_.find(name);
    if (it == listenerDict_.end())
        return;
    const auto listeners = it->second; // a listener may register others meanwhile
    for (const auto& listener : listeners)
        listener->adDownloadedForSlotNamed(name);
}

platform::Value CBAdManager::slotDict() const {
    platform::Dictionary slots;
    for (const auto& [name, slot] : slotDict_) {
        platform::Dictionary entry;
        entry["size"] = platform::Value(slot->slotDescription()->size());
        entry["dlTime"] = platform::Value(static_cast<long long>(slot->dlTime()));
        entry["nextAdDlTime"] = platform::Value(static_cast<long long>(slot->nextAdDlTime()));
        slots[name] = platform::Value(std::move(entry));
    }
    return platform::Value(std::move(slots));
}

} // namespace cobalt
