#pragma once
// MRJSONBasicAdView: the base of the JSON ad container's two children (the image child and
// the video child); it holds the ad it shows. Owned by the container; main thread only.
#include <memory>

#include "meridian/MRHTMLAdView.h"
#include "meridian/MRJSONAd.h"

namespace meridian {

class MRJSONBasicAdView : public MRBasicAdView {
public:
    using MRBasicAdView::MRBasicAdView;
    const std::shared_ptr<MRJSONAd>& ad() const { return ad_; }
    virtual void setAd(std::shared_ptr<MRJSONAd> ad) { ad_ = std::move(ad); }

private:
    std::shared_ptr<MRJSONAd> ad_;
};

} // namespace meridian
