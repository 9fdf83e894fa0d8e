#include "meridian/MRJSONAdView.h"

#include "meridian/MRCommon.h"
#include "platform/runloop/RunLoop.h"

namespace meridian {

std::shared_ptr<MRJSONAdView> MRJSONAdView::create(const platform::Rect& frame,
                                                   std::weak_ptr<MRJSONAdViewDelegate> delegate) {
    std::shared_ptr<MRJSONAdView> view(new MRJSONAdView(frame));
    view->delegate_ = std::move(delegate);
    return view;
}

void MRJSONAdView::loadWithAdContents(const platform::Data&) {
    mrLog("JSON ads are not supported");
    std::weak_ptr<MRJSONAdView> weak = std::static_pointer_cast<MRJSONAdView>(sharedView());
    platform::RunLoop::main().perform([weak] {
        auto self = weak.lock();
        if (!self)
            return;
        if (auto delegate = self->delegate_.lock())
            delegate->jsonAdViewRequestFailed(*self);
    });
}

} // namespace meridian
