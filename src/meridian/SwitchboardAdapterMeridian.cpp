#include "meridian/SwitchboardAdapterMeridian.h"

#include "mediation/SwitchboardAdNetworkConfig.h"
#include "mediation/SwitchboardDelegate.h"
#include "mediation/SwitchboardLog.h"
#include "mediation/SwitchboardViewInterface.h"
#include "meridian/MRAdView.h"
#include "platform/foundation/Strings.h"
#include "platform/ui/Device.h"

#include <utility>

namespace meridian {

namespace {

const mediation::SwitchboardAdapterRegistrar<SwitchboardAdapterMeridian> kRegistrar;

constexpr std::string_view kVendorKey = "vendor";
constexpr std::string_view kVendor = "switchboard";
constexpr int kDefaultAdType = 1;
constexpr platform::Rect kPhoneFrame{0, 0, 320, 53};
constexpr platform::Rect kTabletFrame{0, 0, 728, 90};

// Host gender answers and the "sex" values they become; anything else is "".
struct SexRow {
    std::string_view gender;
    std::string_view sex;
};
constexpr std::array<SexRow, 2> kSexes = {{{"m", "M"}, {"f", "F"}}};

} // namespace

bool SwitchboardAdapterMeridian::responds(std::string_view getter) const {
    auto host = switchboardDelegate();
    if (!host)
        return false;
    if (getter == "latitude" || getter == "longitude")
        return host->responds("locationInfo");
    if (getter == "age")
        return (host->responds("meridianAge") || host->responds("dateOfBirth")) && age() >= 0;
    if (getter == "zipCode")
        return host->responds("postalCode");
    if (getter == "sex")
        return host->responds("gender");
    return false;
}

std::string SwitchboardAdapterMeridian::sex() const {
    auto host = switchboardDelegate();
    auto gender = host && host->responds("gender") ? host->gender() : std::nullopt;
    for (const auto& row : kSexes)
        if (gender == row.gender)
            return std::string(row.sex);
    return {};
}

std::optional<std::string> SwitchboardAdapterMeridian::zipCode() const {
    auto host = switchboardDelegate();
    return host && host->responds("postalCode") ? host->postalCode() : std::nullopt;
}

int SwitchboardAdapterMeridian::age() const {
    auto host = switchboardDelegate();
    if (host && host->responds("meridianAge"))
        if (auto answer = host->meridianAge())
            return static_cast<int>(*answer);
    if (host && host->responds("dateOfBirth"))
        return helperCalculateAge();
    return -1;
}

double SwitchboardAdapterMeridian::latitude() const {
    auto host = switchboardDelegate();
    auto location = host && host->responds("locationInfo") ? host->locationInfo() : std::nullopt;
    return location ? location->coordinate().latitude : 0;
}

double SwitchboardAdapterMeridian::longitude() const {
    auto host = switchboardDelegate();
    auto location = host && host->responds("locationInfo") ? host->locationInfo() : std::nullopt;
    return location ? location->coordinate().longitude : 0;
}

void SwitchboardAdapterMeridian::getAd() {
    auto host = switchboardDelegate();
    std::optional<std::string> apid;
    if (host && host->responds("meridianApIDString"))
        apid = host->meridianApIDString();
    else if (networkConfig())
        apid = networkConfig()->pubId();

    requestData_.clear();
    requestData_[std::string(kVendorKey)] = std::string(kVendor);
    if (responds("zipCode"))
        if (auto zip = zipCode())
            requestData_["zip"] = *zip;
    if (responds("age"))
        requestData_["age"] = platform::formatString("%d", age());
    if (responds("sex"))
        requestData_["sex"] = sex();
    if (responds("latitude"))
        requestData_["lat"] = platform::formatString("%lf", latitude());
    if (responds("longitude"))
        requestData_["long"] = platform::formatString("%lf", longitude());

    int type = kDefaultAdType;
    if (host && host->responds("meridianAdType"))
        if (auto answer = host->meridianAdType())
            type = static_cast<int>(*answer);
    bool tablet = platform::Device::current().userInterfaceIdiom() != platform::UserInterfaceIdiom::Phone;
    std::shared_ptr<MRAdDelegate> self(shared_from_this(), static_cast<MRAdDelegate*>(this));
    // The banner may reach an outcome while it is being created (a cached video plays at
    // once, a damaged marker fails at once): it is held until the banner is the adapter's
    // view, then reported.
    creating_ = true;
    std::shared_ptr<MRAdView> banner;
    try {
        banner = MRAdView::adWithFrame(tablet ? kTabletFrame : kPhoneFrame, type, apid, self, true, false);
    } catch (...) {
        creating_ = false;
        throw;
    }
    creating_ = false;
    setAdNetworkView(banner);
    auto outcome = std::exchange(outcomeDuringCreation_, Outcome::None);
    if (outcome == Outcome::Received)
        adRequestSucceeded(*banner);
    else if (outcome == Outcome::Failed)
        adRequestFailed(*banner);
}

void SwitchboardAdapterMeridian::stopBeingDelegate() {
    if (auto* banner = dynamic_cast<MRAdView*>(adNetworkView().get())) {
        // An open landing page closes while the adapter still hears it, ending the slot's mark.
        if (auto* generic = dynamic_cast<MRGenericAdView*>(banner))
            generic->closeOverlay();
        banner->disableAdRefresh();
        banner->setDelegate({});
    }
}

std::optional<platform::Dictionary> SwitchboardAdapterMeridian::requestData() {
    mediation::SBLogDebug("Sending requestData to MR: %@", platform::Value(requestData_));
    return requestData_;
}

bool SwitchboardAdapterMeridian::takeOutcome() {
    if (outcomeReported_)
        return false;
    outcomeReported_ = true;
    return true;
}

void SwitchboardAdapterMeridian::adRequestSucceeded(MRAdView& view) {
    if (creating_) {
        if (outcomeDuringCreation_ == Outcome::None)
            outcomeDuringCreation_ = Outcome::Received;
        return;
    }
    if (&view != adNetworkView().get() || !takeOutcome())
        return;
    if (auto slot = switchboardView())
        slot->adapterDidReceiveAdView(*this, adNetworkView());
}

void SwitchboardAdapterMeridian::adRequestFailed(MRAdView& view) {
    if (creating_) {
        if (outcomeDuringCreation_ == Outcome::None)
            outcomeDuringCreation_ = Outcome::Failed;
        return;
    }
    if (&view != adNetworkView().get() || !takeOutcome())
        return;
    if (auto slot = switchboardView())
        slot->adapterDidFailAd(*this, std::nullopt);
}

} // namespace meridian
