#pragma once
// MRJSONAdView: the JSON child of the Meridian ad view. JSON ads (image and video ads) are
// built on this class later; until then it is the seam they plug into: loadWithAdContents
// reports the reply as a failure on the next run-loop turn ("MRSDK: JSON ads are not
// supported"), so the host hears exactly one outcome for it. Hidden at creation.
//
// Ownership: owned by the ad view through its subviews; the delegate is held weakly and a
// report for a view that went away is dropped. Main run loop.
#include <memory>

#include "meridian/MRHTMLAdView.h"

namespace meridian {

class MRJSONAdView;

class MRJSONAdViewDelegate {
public:
    virtual ~MRJSONAdViewDelegate() = default;
    virtual void jsonAdViewRequestSucceeded(MRJSONAdView& view) = 0;
    virtual void jsonAdViewRequestFailed(MRJSONAdView& view) = 0;
};

class MRJSONAdView : public MRBasicAdView {
public:
    static std::shared_ptr<MRJSONAdView> create(const platform::Rect& frame,
                                                std::weak_ptr<MRJSONAdViewDelegate> delegate);
    void loadWithAdContents(const platform::Data& contents);
    void setDelegate(std::weak_ptr<MRJSONAdViewDelegate> delegate) { delegate_ = std::move(delegate); }

private:
    explicit MRJSONAdView(const platform::Rect& frame) : MRBasicAdView(frame) {}
    std::weak_ptr<MRJSONAdViewDelegate> delegate_;
};

} // namespace meridian
