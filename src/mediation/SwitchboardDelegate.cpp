#include "mediation/SwitchboardDelegate.h"

#include <algorithm>

namespace mediation {

bool isSwitchboardDelegateSelector(std::string_view selector) {
    return std::any_of(kSwitchboardDelegateSelectors.begin(), kSwitchboardDelegateSelectors.end(),
                       [&](const SwitchboardDelegateSelector& s) { return s.selector == selector; });
}

bool SwitchboardDelegate::responds(std::string_view selector) const {
    for (const auto& s : kSwitchboardDelegateSelectors)
        if (s.selector == selector)
            return s.required;
    return eventActions_.find(selector) != eventActions_.end();
}

void SwitchboardDelegate::setEventAction(std::string selector, EventAction action) {
    if (action)
        eventActions_.insert_or_assign(std::move(selector), std::move(action));
    else
        eventActions_.erase(selector);
}

bool SwitchboardDelegate::performEventAction(std::string_view selector, SwitchboardView* argument) {
    auto it = eventActions_.find(selector);
    if (it == eventActions_.end())
        return false;
    // A copy, so that an action may replace or remove itself while it runs.
    EventAction action = it->second;
    action(argument);
    return true;
}

} // namespace mediation
