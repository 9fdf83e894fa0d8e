// The helpers of the adapter base: age, colours and the full-screen modal notifications.
#include <ctime>
#include <tuple>

#include "mediation/SwitchboardAdNetworkAdapter.h"
#include "mediation/SwitchboardConfig.h"
#include "mediation/SwitchboardDelegate.h"
#include "mediation/SwitchboardViewInterface.h"
#include "platform/foundation/Numbers.h"
#include "platform/runloop/Clock.h"

namespace mediation {
namespace {

constexpr int kNoAge = -1;
constexpr int kTmYearBase = 1900;

// Calendar fields of a date in the device's time zone.
std::tm localFields(double secondsSince1970) {
    std::time_t t = platform::saturatingCast<std::time_t>(secondsSince1970);
    std::tm fields{};
    localtime_r(&t, &fields);
    return fields;
}

// Whole years from `from` to `to` (from <= to): the years component of the calendar
// difference, one less when the later year has not yet reached the earlier date's
// month, day and time of day.
int wholeYears(double from, double to) {
    std::tm a = localFields(from), b = localFields(to);
    int years = b.tm_year - a.tm_year;
    auto key = [](const std::tm& t) {
        return std::make_tuple(t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    };
    if (key(b) < key(a))
        --years;
    return years;
}

using ColorQuery = std::optional<platform::Color> (SwitchboardDelegate::*)();

// The delegate's answer to `query` when it responds to `selector` and answers a colour.
std::optional<platform::Color> askColor(SwitchboardDelegate* delegate, std::string_view selector,
                                        ColorQuery query) {
    if (!delegate || !delegate->responds(selector))
        return std::nullopt;
    return (delegate->*query)();
}

} // namespace

int SwitchboardAdNetworkAdapter::helperCalculateAge() const {
    auto delegate = switchboardDelegate();
    std::optional<platform::Date> birth = delegate ? delegate->dateOfBirth() : std::nullopt;
    if (!birth)
        return kNoAge;
    double now = platform::Clock::current().now();
    double born = birth->secondsSince1970;
    // A birth date in the future counts backwards, as the calendar's difference does.
    return born <= now ? wholeYears(born, now) : -wholeYears(now, born);
}

std::optional<platform::Color> SwitchboardAdNetworkAdapter::helperTextColorToUse() const {
    auto delegate = switchboardDelegate();
    if (auto c = askColor(delegate.get(), "switchboardTextColor", &SwitchboardDelegate::switchboardTextColor))
        return c;
    if (auto c = askColor(delegate.get(), "textColor", &SwitchboardDelegate::textColor))
        return c;
    return switchboardConfig_ ? switchboardConfig_->textColor() : std::nullopt;
}

std::optional<platform::Color> SwitchboardAdNetworkAdapter::helperBackgroundColorToUse() const {
    auto delegate = switchboardDelegate();
    if (auto c = askColor(delegate.get(), "switchboardAdBackgroundColor",
                          &SwitchboardDelegate::switchboardAdBackgroundColor))
        return c;
    if (auto c = askColor(delegate.get(), "backgroundColor", &SwitchboardDelegate::backgroundColor))
        return c;
    return switchboardConfig_ ? switchboardConfig_->backgroundColor() : std::nullopt;
}

std::optional<platform::Color> SwitchboardAdNetworkAdapter::helperSecondaryTextColorToUse() const {
    auto delegate = switchboardDelegate();
    return askColor(delegate.get(), "switchboardSecondaryTextColor",
                    &SwitchboardDelegate::switchboardSecondaryTextColor);
}

void SwitchboardAdNetworkAdapter::helperNotifyDelegateOfFullScreenModal() {
    if (auto view = switchboardView()) {
        view->setShowingModalView(true);
        modalShown_ = true;
    }
    auto delegate = switchboardDelegate();
    if (delegate && delegate->responds("switchboardWillPresentFullScreenModal"))
        delegate->switchboardWillPresentFullScreenModal();
}

void SwitchboardAdNetworkAdapter::helperNotifyDelegateOfFullScreenModalDismissal() {
    auto delegate = switchboardDelegate();
    if (delegate && delegate->responds("switchboardDidDismissFullScreenModal"))
        delegate->switchboardDidDismissFullScreenModal();
    if (auto view = switchboardView())
        view->setShowingModalView(false);
    modalShown_ = false;
}

} // namespace mediation
