#pragma once
// What an adapter may call on its slot: the three adapter callbacks and the modal flag.
//
// SwitchboardView (the mediation slot) implements this interface; adapters hold their slot
// as std::weak_ptr<SwitchboardViewInterface> (the `switchboardView` field of the adapter
// base) and call it only on the main thread, always passing themselves as the first
// argument. Tests of an adapter can stand a recording slot in its place.
//
// Per `getAd`, exactly one of the three callbacks is expected, at any later time:
// - adapterDidReceiveAdView: an ad is ready and `view` shows it. Set it as the adapter's
//   `adNetworkView` first: the slot takes its size from that field.
// - adapterDidFinishAdRequest: the request is complete and nothing is to be shown in the
//   slot (event and generic slots).
// - adapterDidFailAd: no ad; the error (possibly none) is only logged.
// A callback from an adapter that is no longer the slot's current one is ignored by the slot.
//
// While showingModalView is set (by the adapter base's modal helpers), the slot requests
// nothing and its refresh timer does nothing, so every modal mark must be cleared again.
#include <memory>
#include <optional>

#include "mediation/SwitchboardForward.h"
#include "platform/foundation/Error.h"

namespace mediation {

class SwitchboardViewInterface {
public:
    virtual ~SwitchboardViewInterface() = default;

    virtual void adapterDidReceiveAdView(SwitchboardAdNetworkAdapter& adapter,
                                         std::shared_ptr<platform::View> view) = 0;
    virtual void adapterDidFinishAdRequest(SwitchboardAdNetworkAdapter& adapter) = 0;
    virtual void adapterDidFailAd(SwitchboardAdNetworkAdapter& adapter,
                                  const std::optional<platform::Error>& error) = 0;

    virtual bool showingModalView() const = 0;
    virtual void setShowingModalView(bool showing) = 0;
};

} // namespace mediation
