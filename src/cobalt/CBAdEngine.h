#pragma once
// The host-facing surface of the Cobalt ad engine: the slot description CBAdSlotDescription,
// the size codes CBAdSize, the delegate protocol CobaltDelegate, the per-slot state CBAdSlot
// and CBAdEngine, the static interface a host application or the mediation adapter calls.
// CBAdEngine only checks and forwards; every piece of engine state lives in the one
// CBController. Misuse raises platform::NamedException with the platform's exception names.
// Main thread only.
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cobalt {

inline constexpr const char* kCBSDKVersion = "3.1.2";
inline constexpr double kCBMinimumRefreshInterval = 5.0;
inline constexpr const char* kSettingDisabled = "disabled";
inline constexpr const char* kSettingsTableName = "settings";

inline constexpr const char* kNSInvalidArgumentException = "NSInvalidArgumentException";
inline constexpr const char* kNSInternalInconsistencyException = "NSInternalInconsistencyException";

// Size codes of a slot: 1 320x48, 2 the full screen (phones only), 3 300x250, 4 728x90,
// 5 160x600.
using CBAdSize = int;
inline constexpr CBAdSize kCBAdSizeBanner = 1;
inline constexpr CBAdSize kCBAdSizeFullScreen = 2;

// An immutable slot description: a size code and an alphanumeric name.
class CBAdSlotDescription {
public:
    // Throws NSInvalidArgumentException for a name with a character that is not a letter or
    // digit, and for the full-screen size on a tablet.
    static std::shared_ptr<CBAdSlotDescription> descriptionWithSize(CBAdSize size, std::string name);
    CBAdSlotDescription(CBAdSize size, std::string name);

    CBAdSize size() const { return size_; }
    const std::string& name() const { return name_; }
    friend bool operator==(const CBAdSlotDescription& a, const CBAdSlotDescription& b) {
        return a.size_ == b.size_ && a.name_ == b.name_;
    }
    // (name's hash + 527) * 31 + size, in unsigned 32-bit arithmetic.
    std::uint32_t hash() const;

private:
    CBAdSize size_;
    std::string name_;
};

// The state of one slot: its ad shown now and its downloaded, not yet shown next ad, each
// named by its download time (0 for none).
class CBAdSlot {
public:
    static std::shared_ptr<CBAdSlot> slotWithDescription(std::shared_ptr<const CBAdSlotDescription> description);
    explicit CBAdSlot(std::shared_ptr<const CBAdSlotDescription> description)
        : slotDescription_(std::move(description)) {}

    const std::shared_ptr<const CBAdSlotDescription>& slotDescription() const { return slotDescription_; }
    bool isDisplayed() const { return isDisplayed_; }
    void setIsDisplayed(bool displayed) { isDisplayed_ = displayed; }
    std::int64_t dlTime() const { return dlTime_.load(); }
    void setDlTime(std::int64_t time) { dlTime_.store(time); }
    std::int64_t nextAdDlTime() const { return nextAdDlTime_.load(); }
    void setNextAdDlTime(std::int64_t time) { nextAdDlTime_.store(time); }
    bool isFetched() const { return nextAdDlTime() != 0; }
    bool hasNextAdDownloaded() const { return isFetched(); }

private:
    std::shared_ptr<const CBAdSlotDescription> slotDescription_;
    bool isDisplayed_ = false;
    std::atomic<std::int64_t> dlTime_{0};
    std::atomic<std::int64_t> nextAdDlTime_{0};
};

// What the engine tells its host; every method optional.
class CobaltDelegate {
public:
    virtual ~CobaltDelegate() = default;
    virtual void cobaltAdReadyForSlotNamed(const std::string&) {}
    virtual void cobaltFullScreenDisplayWillOpen() {}
    virtual void cobaltFullScreenDisplayWillClose() {}
    virtual void cobaltDidReceiveMemoryWarning() {}
};

class CBAdEngine {
public:
    static void startupWithAppID(const std::optional<std::string>& appID,
                                 const std::vector<std::shared_ptr<CBAdSlotDescription>>& slots);
    static void startupWithAppID(const std::optional<std::string>& appID, const std::optional<std::string>& serverURL,
                                 const std::vector<std::shared_ptr<CBAdSlotDescription>>& slots);
    static bool isNextAdDownloadedForSlotNamed(const std::string& name);
    static bool isAdReadyForSlotNamed(const std::string& name);
    static void setFullScreenDelegate(std::weak_ptr<CobaltDelegate> delegate, const std::string& name);
    static bool displayFullScreenAdForSlotNamed(const std::string& name);
    static void setDownloadDelayInterval(double seconds);
    static void executeCommand(const std::string& command);
    static std::string version();
    static void enableLogging() {}
};

} // namespace cobalt
