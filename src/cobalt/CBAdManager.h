#pragma once
// Keeps the engine's slots and their downloaded ads: restores the ads stored by earlier
// launches (each slot keeps its newest unexpired one), queues a fetch for every slot without
// an ad, hands the queue to the driver page one slot at a time, records each downloaded ad as
// the slot's next ad, expires unshown ads at their expiry, deletes ads (their row in the
// table "ads" and their folder Documents/CB/Content/<slot>/<download time>) and tells the
// slot's listeners that an ad is ready.
//
// Ownership: the controller owns the manager; listeners are held strongly by their slot's
// set, expiry and re-enqueue timers hold the manager weakly. Main thread only.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cobalt/CBAdEngine.h"
#include "platform/foundation/Value.h"

namespace cobalt {

class CBAdSlotListener;

class CBAdManager : public std::enable_shared_from_this<CBAdManager> {
public:
    static constexpr double kDefaultFetchReenqueueDelay = 60.0;
    static constexpr const char* kDuplicateSlotException = "Cobalt Initialization Failure";

    // Throws platform::NamedException for duplicate slot names, before any stored ad is
    // touched.
    static std::shared_ptr<CBAdManager> create(const std::vector<std::shared_ptr<CBAdSlotDescription>>& slots);

    static std::string adRootDir();
    static std::string adBaseURL();

    std::shared_ptr<CBAdSlot> slotForName(const std::string& name) const;
    // In the order the slots were described.
    const std::vector<std::shared_ptr<CBAdSlot>>& slots() const { return slotOrder_; }
    bool isAdFetchedForSlotNamed(const std::string& name) const;
    bool registerListener(std::shared_ptr<CBAdSlotListener> listener, const std::string& slotName);

    void queueFetchForSlotNamed(const std::string& name);
    void fetchNextAd();
    void clientDriverDidInitialize() { fetchNextAd(); }
    const std::vector<std::string>& fetchQueue() const { return fetchQueue_; }

    void adDownloadedForSlotNamed(const std::string& name, std::int64_t dlTime, std::int64_t expiration);
    void adDownloadFailedForSlotNamed(const std::string& name);

    bool deleteAd(std::int64_t dlTime, const std::string& slotName, bool fetchReplacement = true, bool async = true);
    void deleteAdCallback(const std::string& slotName);
    void nukeSlotNamed(const std::string& slotName);

    void scheduleExpirationForSlotNamed(const std::string& name, std::int64_t dlTime, std::int64_t expiration);
    void expireAdForSlotNamed(const std::string& name, std::int64_t dlTime);
    static bool expirationTimeHasPassed(std::int64_t expirationMilliseconds);

    void notifyListenersAdDownloadedForSlotNamed(const std::string& name);

    double fetchReenqueueDelay() const { return fetchReenqueueDelay_; }
    void setFetchReenqueueDelay(double seconds) { fetchReenqueueDelay_ = seconds; }
    // The slots as the scripts see them: name -> {size, dlTime, nextAdDlTime}.
    platform::Value slotDict() const;

    void shutdown() {}

    // The store was made again after it had gone, and the ad files with it: a next ad whose
    // folder is gone can no longer be shown and is forgotten; every slot left without a next
    // ad is queued for a fetch (a fetch the driver had under way is lost with its page), which
    // starts once the driver is ready. Answers whether a next ad was forgotten.
    bool forgetAdsWithoutFiles();
    void storeWasReset();

private:
    CBAdManager() = default;
    void restoreStoredAds();
    // The ad's folder when the name and time make one folder inside the content root.
    static std::optional<std::string> adFolder(const std::string& slotName, std::optional<std::int64_t> dlTime);

    std::map<std::string, std::shared_ptr<CBAdSlot>> slotDict_;
    std::vector<std::shared_ptr<CBAdSlot>> slotOrder_;
    std::map<std::string, std::vector<std::shared_ptr<CBAdSlotListener>>> listenerDict_;
    std::vector<std::string> fetchQueue_;
    double fetchReenqueueDelay_ = kDefaultFetchReenqueueDelay;
};

} // namespace cobalt
