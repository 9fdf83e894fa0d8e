#include "orbis/SwitchboardAdapterOrbis.h"

#include "platform/foundation/Numbers.h"

#include <array>

#include "mediation/SwitchboardAdNetworkConfig.h"
#include "mediation/SwitchboardConfig.h"
#include "mediation/SwitchboardDelegate.h"
#include "mediation/SwitchboardViewInterface.h"
#include "orbis/OrbisAdView.h"

namespace orbis {

namespace {

const mediation::SwitchboardAdapterRegistrar<SwitchboardAdapterOrbis> kRegistrar;

constexpr int kMale = 1;
constexpr int kFemale = 2;
constexpr int kNoGender = 0;

// Banner questions that the adapter hides when the slot's host lacks the named item.
struct HiddenQuestion {
    std::string_view bannerQuestion;
    std::string_view hostItem;
};
constexpr std::array<HiddenQuestion, 11> kHiddenQuestions = {{
    {"currentLocation", "locationInfo"},
    {"postalCode", "postalCode"},
    {"areaCode", "areaCode"},
    {"dateOfBirth", "dateOfBirth"},
    {"gender", "gender"},
    {"keywords", "keywords"},
    {"income", "incomeLevel"},
    {"education", "orbisEducation"},
    {"ethnicity", "orbisEthnicity"},
    {"age", "dateOfBirth"},
    {"interests", "orbisInterests"},
}};

// What the adapter implements of the banner's protocol; the rest answers false.
constexpr std::array<std::string_view, 19> kImplemented = {
    "siteId",
    "rootViewControllerForAd",
    "testMode",
    "isLocationInquiryAllowed",
    "currentLocation",
    "postalCode",
    "areaCode",
    "dateOfBirth",
    "gender",
    "keywords",
    "income",
    "education",
    "ethnicity",
    "age",
    "interests",
    "adReceivedNotification:",
    "adFailedNotification:",
    "adModalScreenDisplayNotification:",
    "adModalScreenDismissNotification:",
};

template <typename T, typename Q>
std::optional<T> askHost(const std::shared_ptr<mediation::SwitchboardDelegate>& host, std::string_view item,
                         Q question) {
    if (!host || !host->responds(item))
        return std::nullopt;
    return ((*host).*question)();
}

} // namespace

int SwitchboardAdapterOrbis::genderNumber(const std::optional<std::string>& gender) {
    if (gender == "f")
        return kFemale;
    if (gender == "m")
        return kMale;
    return kNoGender;
}

OrbisAdManager* SwitchboardAdapterOrbis::banner() const {
    return dynamic_cast<OrbisAdManager*>(adNetworkView().get());
}

void SwitchboardAdapterOrbis::getAd() {
    std::shared_ptr<OrbisAdDelegate> self(shared_from_this(), static_cast<OrbisAdDelegate*>(this));
    auto made = OrbisAdView::startOrbisAdEngineAttachedDelegate(self);
    setAdNetworkView(made);
    if (!made && takeOutcome())
        if (auto slot = switchboardView())
            slot->adapterDidFailAd(*this, std::nullopt);
}

void SwitchboardAdapterOrbis::stopBeingDelegate() {
    if (auto* b = banner())
        b->setDelegate(nullptr);
}

bool SwitchboardAdapterOrbis::takeOutcome() {
    if (outcomeReported_)
        return false;
    outcomeReported_ = true;
    return true;
}

bool SwitchboardAdapterOrbis::responds(std::string_view selector) const {
    bool implemented = false;
    for (auto name : kImplemented)
        implemented = implemented || name == selector;
    if (!implemented)
        return false;
    for (const auto& row : kHiddenQuestions)
        if (row.bannerQuestion == selector) {
            auto host = switchboardDelegate();
            return host && host->responds(row.hostItem);
        }
    return true;
}

std::optional<std::string> SwitchboardAdapterOrbis::siteId() {
    auto host = switchboardDelegate();
    if (host && host->responds("orbisAppID"))
        return host->orbisAppID();
    return networkConfig() ? networkConfig()->pubId() : std::nullopt;
}

std::shared_ptr<platform::ViewController> SwitchboardAdapterOrbis::rootViewControllerForAd() {
    auto host = switchboardDelegate();
    return host ? host->viewControllerForPresentingModalView() : nullptr;
}

std::optional<bool> SwitchboardAdapterOrbis::testMode() {
    return askHost<bool>(switchboardDelegate(), "switchboardTestMode",
                         &mediation::SwitchboardDelegate::switchboardTestMode)
        .value_or(false);
}

std::optional<bool> SwitchboardAdapterOrbis::isLocationInquiryAllowed() {
    return switchboardConfig() && switchboardConfig()->locationOn();
}

std::optional<platform::Location> SwitchboardAdapterOrbis::currentLocation() {
    return askHost<platform::Location>(switchboardDelegate(), "locationInfo",
                                       &mediation::SwitchboardDelegate::locationInfo);
}

std::optional<std::string> SwitchboardAdapterOrbis::postalCode() {
    return askHost<std::string>(switchboardDelegate(), "postalCode",
                                &mediation::SwitchboardDelegate::postalCode);
}

std::optional<std::string> SwitchboardAdapterOrbis::areaCode() {
    return askHost<std::string>(switchboardDelegate(), "areaCode", &mediation::SwitchboardDelegate::areaCode);
}

std::optional<platform::Date> SwitchboardAdapterOrbis::dateOfBirth() {
    return askHost<platform::Date>(switchboardDelegate(), "dateOfBirth",
                                   &mediation::SwitchboardDelegate::dateOfBirth);
}

std::optional<int> SwitchboardAdapterOrbis::gender() {
    return genderNumber(
        askHost<std::string>(switchboardDelegate(), "gender", &mediation::SwitchboardDelegate::gender));
}

std::optional<std::string> SwitchboardAdapterOrbis::keywords() {
    auto value = askHost<platform::Value>(switchboardDelegate(), "keywords",
                                          &mediation::SwitchboardDelegate::keywords);
    if (value && value->string())
        return *value->string();
    return std::nullopt;
}

std::optional<unsigned> SwitchboardAdapterOrbis::income() {
    auto value = askHost<std::uint64_t>(switchboardDelegate(), "incomeLevel",
                                        &mediation::SwitchboardDelegate::incomeLevel);
    if (!value)
        return std::nullopt;
    return platform::saturatingCast<unsigned>(*value);
}

std::optional<int> SwitchboardAdapterOrbis::education() {
    auto value = askHost<std::uint64_t>(switchboardDelegate(), "orbisEducation",
                                        &mediation::SwitchboardDelegate::orbisEducation);
    if (!value)
        return std::nullopt;
    return platform::saturatingCast<int>(*value);
}

std::optional<int> SwitchboardAdapterOrbis::ethnicity() {
    auto value = askHost<std::uint64_t>(switchboardDelegate(), "orbisEthnicity",
                                        &mediation::SwitchboardDelegate::orbisEthnicity);
    if (!value)
        return std::nullopt;
    return platform::saturatingCast<int>(*value);
}

std::optional<int> SwitchboardAdapterOrbis::age() {
    auto host = switchboardDelegate();
    if (!host || !host->responds("dateOfBirth"))
        return std::nullopt;
    return helperCalculateAge();
}

std::optional<std::string> SwitchboardAdapterOrbis::interests() {
    return askHost<std::string>(switchboardDelegate(), "orbisInterests",
                                &mediation::SwitchboardDelegate::orbisInterests);
}

void SwitchboardAdapterOrbis::adReceivedNotification(OrbisAdManager& banner) {
    if (!isOwnBanner(banner) || !takeOutcome())
        return;
    if (auto slot = switchboardView())
        slot->adapterDidReceiveAdView(*this, adNetworkView());
}

void SwitchboardAdapterOrbis::adFailedNotification(OrbisAdManager& banner) {
    if (!isOwnBanner(banner) || !takeOutcome())
        return;
    if (auto slot = switchboardView())
        slot->adapterDidFailAd(*this, std::nullopt);
}

void SwitchboardAdapterOrbis::adModalScreenDisplayNotification(OrbisAdManager& banner) {
    if (isOwnBanner(banner))
        helperNotifyDelegateOfFullScreenModal();
}

void SwitchboardAdapterOrbis::adModalScreenDismissNotification(OrbisAdManager& banner) {
    if (isOwnBanner(banner))
        helperNotifyDelegateOfFullScreenModalDismissal();
}

} // namespace orbis
