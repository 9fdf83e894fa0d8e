#pragma once
// SwitchboardAdapterGeneric (network type 16): hands the slot to the host, which fills it by
// itself. getAd tells the host switchboardReceivedRequestForDeveloperToFufill with the slot
// and reports the request as finished (so the slot sends its impression ping though nothing
// new is shown); a host that does not implement that item gets the warning "Delegate does
// not implement switchboardReceivedRequestForDeveloperToFufill" and the request fails with
// no error. Finishes within getAd; holds no client, so stopBeingDelegate does nothing.
// Main thread only.
#include "mediation/SwitchboardAdNetworkAdapter.h"

namespace mediation {

class SwitchboardAdapterGeneric final : public SwitchboardAdNetworkAdapter {
  public:
    using SwitchboardAdNetworkAdapter::SwitchboardAdNetworkAdapter;

    static int networkType() { return 16; }

    void getAd() override;
    void stopBeingDelegate() override {}
};

} // namespace mediation
