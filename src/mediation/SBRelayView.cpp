#include "mediation/SBRelayView.h"

namespace mediation {

std::shared_ptr<SBRelayView>
SBRelayView::requestRelayViewWithDelegate(std::weak_ptr<SwitchboardDelegate> delegate) {
    return makeSlot<SBRelayView>(std::move(delegate));
}

} // namespace mediation
