#include "cobalt/CBAdEngine.h"

#include "cobalt/CBClientManager.h"
#include "cobalt/CBController.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Log.h"
#include "platform/net/URLConnection.h"
#include "platform/ui/Device.h"

namespace cobalt {
namespace {

// Where an appID is tried: a request to this address with the appID as its query must be one
// the URL loading can handle.
constexpr const char* kAppIDCheckAddress = "http://www.cobalt.invalid/test.htm?";

std::shared_ptr<CBController> startedController() {
    auto controller = CBController::existing();
    if (!controller || !controller->hasStartedUp())
        throw platform::NamedException(kNSInternalInconsistencyException,
                                       "CBAdEngine must be started up before invoking any nontrivial methods.");
    return controller;
}

bool isAlphanumeric(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

} // namespace

std::shared_ptr<CBAdSlotDescription> CBAdSlotDescription::descriptionWithSize(CBAdSize size, std::string name) {
    return std::make_shared<CBAdSlotDescription>(size, std::move(name));
}

CBAdSlotDescription::CBAdSlotDescription(CBAdSize size, std::string name) : size_(size), name_(std::move(name)) {
    for (char c : name_)
        if (!isAlphanumeric(c))
            throw platform::NamedException(
                kNSInvalidArgumentException,
                "Unable to create CBAdSlotDescription because name contains at least one non-alphanumeric character");
    if (size_ == kCBAdSizeFullScreen &&
        platform::Device::current().userInterfaceIdiom() == platform::UserInterfaceIdiom::Tablet)
        throw platform::NamedException(kNSInvalidArgumentException,
                                       "Unable to create iPhone Full Screen CBAdSlotDescription on an iPad");
}

std::uint32_t CBAdSlotDescription::hash() const {
    // The name's hash as the platform's strings give it for short texts: a multiplicative
    // hash over the bytes.
    std::uint32_t nameHash = 0;
    for (unsigned char c : name_)
        nameHash = nameHash * 257u + c;
    return (nameHash + 527u) * 31u + static_cast<std::uint32_t>(size_);
}

std::shared_ptr<CBAdSlot> CBAdSlot::slotWithDescription(std::shared_ptr<const CBAdSlotDescription> description) {
    return std::make_shared<CBAdSlot>(std::move(description));
}

void CBAdEngine::startupWithAppID(const std::optional<std::string>& appID,
                                  const std::vector<std::shared_ptr<CBAdSlotDescription>>& slots) {
    if (slots.empty())
        throw platform::NamedException(kNSInvalidArgumentException,
                                       "CBAdEngine must be started with a positive number of slots.");
    startupWithAppID(appID, std::nullopt, slots);
}

void CBAdEngine::startupWithAppID(const std::optional<std::string>& appID, const std::optional<std::string>& serverURL,
                                  const std::vector<std::shared_ptr<CBAdSlotDescription>>& slots) {
    auto controller = CBController::sharedController();
    if (controller->hasStartedUp())
        throw platform::NamedException(kNSInternalInconsistencyException,
                                       "Attempt to start up CBAdEngine after it has already been started.");
    bool valid = false;
    if (appID) {
        const auto request = platform::URLRequest::withURLString(kAppIDCheckAddress + *appID);
        valid = request && platform::URLConnection::canHandleRequest(*request);
    }
    if (!valid)
        throw platform::NamedException(kNSInvalidArgumentException,
                                       "Invalid appID provided to [CBAdEngine startupWithAppID:]");
    controller->startupWithAppID(*appID, serverURL, slots);
}

bool CBAdEngine::isNextAdDownloadedForSlotNamed(const std::string& name) {
    return startedController()->isNextAdDownloadedForSlotNamed(name);
}

bool CBAdEngine::isAdReadyForSlotNamed(const std::string& name) { return startedController()->isAdReadyForSlotNamed(name); }

void CBAdEngine::setFullScreenDelegate(std::weak_ptr<CobaltDelegate> delegate, const std::string& name) {
    startedController()->setFullScreenDelegate(std::move(delegate), name);
}

bool CBAdEngine::displayFullScreenAdForSlotNamed(const std::string& name) {
    return startedController()->displayFullScreenAdForSlotNamed(name);
}

void CBAdEngine::setDownloadDelayInterval(double seconds) {
    startedController()->setDriverPollingIntervalOverride(seconds);
}

void CBAdEngine::executeCommand(const std::string& command) {
    auto controller = startedController();
    if (controller->disabled())
        return;
    try {
        if (controller->clientManager() && controller->clientManager()->clientDriver())
            controller->clientManager()->clientDriver()->executeCommand(command);
    } catch (const platform::NamedException& e) {
        platform::logLine("CBAdEngine: CBExecute failed with exception " + e.name() + " - " + e.reason());
    } catch (const std::exception& e) {
        platform::logLine(std::string("CBAdEngine: CBExecute failed with exception std::exception - ") + e.what());
    }
}

std::string CBAdEngine::version() { return std::string("CBSDK ") + kCBSDKVersion + " universal build"; }

} // namespace cobalt
