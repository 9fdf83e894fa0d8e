#pragma once
// SBRelayView: a second name for the mediation slot, kept for hosts written against an older
// interface. It is a SwitchboardView in every respect but its factory, which neither checks
// the delegate nor starts a configuration fetch: the host starts one with
// updateSwitchboardConfig, after which the first request follows by itself.
// Ownership and threads as SwitchboardView.
#include <memory>

#include "mediation/SwitchboardView.h"

namespace mediation {

class SBRelayView : public SwitchboardView {
  public:
    static std::shared_ptr<SBRelayView>
    requestRelayViewWithDelegate(std::weak_ptr<SwitchboardDelegate> delegate);
    SBRelayView(ConstructionKey key, std::weak_ptr<SwitchboardDelegate> delegate)
        : SwitchboardView(key, std::move(delegate)) {}

    // requestFreshAd.
    void getNextAd() { requestFreshAd(); }
    // setDelegate with none.
    void setDelegateToNil() { setDelegate({}); }
};

} // namespace mediation
