#include "meridian/MRJSONAdView.h"

#include "meridian/MRCommon.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Image.h"

namespace meridian {

namespace {

constexpr std::string_view kVideoNotSupported = "Video ads are not supported";
constexpr std::string_view kFadeTransition = "fade";
constexpr std::string_view kContentsKeyPath = "contents";
constexpr int kLowestSuccess = 200;
constexpr int kHighestSuccess = 299;

} // namespace

// ---- MRJSONImageAdView ----

std::shared_ptr<MRJSONImageAdView>
MRJSONImageAdView::create(const platform::Rect& frame, std::weak_ptr<MRJSONImageAdViewDelegate> delegate) {
    std::shared_ptr<MRJSONImageAdView> view(
        new MRJSONImageAdView(platform::Rect(0, 0, frame.width(), frame.height())));
    view->delegate_ = std::move(delegate);
    view->imageView_ =
        std::make_shared<platform::ImageView>(platform::Rect(0, 0, frame.width(), frame.height()));
    view->imageView_->setAutoresizingMask(platform::Autoresizing::FlexibleWidth |
                                          platform::Autoresizing::FlexibleHeight);
    view->addSubview(view->imageView_);
    view->setAutoresizesSubviews(true);
    return view;
}

MRJSONImageAdView::~MRJSONImageAdView() {
    if (connection_)
        connection_->cancel();
}

void MRJSONImageAdView::setAd(std::shared_ptr<MRJSONAd> ad) {
    MRJSONBasicAdView::setAd(ad);
    if (!ad)
        return;
    if (auto d = delegate_.lock())
        d->imageAdDidLoadNewAd(*this, ad);
}

void MRJSONImageAdView::loadWithURL(const std::optional<platform::URL>& url) {
    if (connection_)
        connection_->cancel();
    connection_.reset();
    imageData_.clear();
    replyStatus_ = 0;
    std::uint64_t generation = ++loadGeneration_;
    if (!url) {
        std::weak_ptr<MRJSONImageAdView> weak = std::static_pointer_cast<MRJSONImageAdView>(sharedView());
        platform::RunLoop::main().perform([weak, generation] {
            if (auto view = weak.lock())
                if (view->loadGeneration_ == generation)
                    view->failed();
        });
        return;
    }
    auto me = std::static_pointer_cast<MRJSONImageAdView>(sharedView());
    connection_ =
        platform::URLConnection::create(platform::URLRequest(*url),
                                        std::shared_ptr<platform::URLConnectionDelegate>(
                                            me, static_cast<platform::URLConnectionDelegate*>(this)),
                                        false, platform::URLConnection::DelegateHold::Weak);
    connection_->setMaximumBodyLength(kMaximumImageBytes);
    connection_->start();
}

void MRJSONImageAdView::connectionDidReceiveResponse(platform::URLConnection& c,
                                                     const platform::URLResponse& r) {
    if (&c == connection_.get())
        replyStatus_ = r.statusCode();
}

void MRJSONImageAdView::connectionDidReceiveData(platform::URLConnection& c, const platform::Data& data) {
    if (&c == connection_.get())
        imageData_.insert(imageData_.end(), data.begin(), data.end());
}

void MRJSONImageAdView::connectionDidFinishLoading(platform::URLConnection& c) {
    if (&c != connection_.get())
        return;
    auto keep = sharedView();
    connection_.reset();
    platform::Data bytes;
    bytes.swap(imageData_);
    if (bytes.empty() || replyStatus_ < kLowestSuccess || replyStatus_ > kHighestSuccess) {
        failed();
        return;
    }
    auto image = platform::Image::fromData(bytes);
    if (!image) {
        failed();
        return;
    }
    if (imageView_->image())
        crossfadeWithNewImage(image);
    else
        imageView_->setImage(image);
    if (auto d = delegate_.lock())
        d->imageAdViewSucceeded(*this);
}

void MRJSONImageAdView::connectionDidFailWithError(platform::URLConnection& c, const platform::Error&) {
    if (&c != connection_.get())
        return;
    auto keep = sharedView();
    connection_.reset();
    imageData_.clear();
    failed();
}

void MRJSONImageAdView::failed() {
    if (auto d = delegate_.lock())
        d->imageAdViewFailed(*this);
}

void MRJSONImageAdView::crossfadeWithNewImage(const std::shared_ptr<platform::Image>& image) {
    auto fade = platform::LayerAnimation::basic(std::string(kContentsKeyPath), imageView_->image(), image,
                                                kCrossfadeDuration);
    std::weak_ptr<platform::ImageView> weak = imageView_;
    fade->didStop = [weak, image](platform::LayerAnimation&, bool) {
        if (auto view = weak.lock())
            view->setImage(image);
    };
    imageView_->layer().addAnimation(fade, std::string(kCrossfadeKey));
}

void MRJSONImageAdView::touchesEnded(const platform::TouchSet& touches, const platform::Event& event) {
    auto keep = sharedView();
    if (auto d = delegate_.lock())
        d->imageAdViewWasTapped(*this);
    MRJSONBasicAdView::touchesEnded(touches, event);
}

// ---- MRJSONAdView ----

std::shared_ptr<MRJSONAdView> MRJSONAdView::create(const platform::Rect& frame,
                                                   std::weak_ptr<MRJSONAdViewDelegate> delegate) {
    std::shared_ptr<MRJSONAdView> view(new MRJSONAdView(frame));
    view->delegate_ = std::move(delegate);
    platform::Rect inner(0, 0, frame.width(), frame.height());
    view->imageAdView_ =
        MRJSONImageAdView::create(inner, std::shared_ptr<MRJSONImageAdViewDelegate>(
                                             view, static_cast<MRJSONImageAdViewDelegate*>(view.get())));
    view->videoAdView_ = std::make_shared<MRJSONBasicAdView>(inner);
    view->addSubview(view->imageAdView_);
    view->addSubview(view->videoAdView_);
    view->videoAdView_->setHidden(true);
    view->showingAdView_ = view->imageAdView_.get();
    view->hiddenAdView_ = view->videoAdView_.get();
    view->setAutoresizingMask(platform::Autoresizing::FlexibleWidth);
    return view;
}

void MRJSONAdView::setFrame(const platform::Rect& frame) {
    platform::Rect inner(0, 0, frame.width(), frame.height());
    showingAdView_->setFrame(inner);
    bringSubviewToFront(showingAdView_);
    hiddenAdView_->setFrame(inner);
    View::setFrame(frame);
}

void MRJSONAdView::loadWithAdContents(const platform::Data& contents) {
    auto keep = self();
    int noted = showingAdView_->ad() ? showingAdView_->ad()->adType() : 0;
    auto ad = std::make_shared<MRJSONAd>(contents, keep);
    int type = ad->adType();
    if (type == MRJSONAd::kImageAd) {
        imageAdView_->setAd(ad);
        imageAdView_->loadWithURL(ad->imageContentURL());
    } else {
        if (type == MRJSONAd::kVideoAd)
            mrLog(kVideoNotSupported);
        type = MRJSONAd::kNoAd;
        if (auto d = delegate_.lock())
            d->jsonAdViewRequestFailed(*this);
    }
    if (noted == type) {
        if (auto d = delegate_.lock())
            d->jsonAdViewWantsToMoveToTheFront(*this);
        return;
    }
    if (auto d = delegate_.lock())
        d->jsonAdViewTransitionAnimationWillBegin(*this);
    crossfadeWithAd(ad);
}

void MRJSONAdView::crossfadeWithAd(const std::shared_ptr<MRJSONAd>& ad) {
    auto fade =
        platform::LayerAnimation::transition(std::string(kFadeTransition), {}, ad->transitionDuration());
    fade->timing = platform::AnimationCurve::EaseInOut;
    std::weak_ptr<MRJSONAdView> weak = self();
    fade->didStop = [weak](platform::LayerAnimation&, bool) {
        auto view = weak.lock();
        if (!view)
            return;
        if (auto d = view->delegate_.lock())
            d->jsonAdViewTransitionAnimationDidEnd(*view);
    };
    layer().addAnimation(fade, {});
    if (ad->adType() == MRJSONAd::kImageAd) {
        imageAdView_->setHidden(false);
        videoAdView_->setHidden(true);
    } else {
        showingAdView_->setHidden(false);
        hiddenAdView_->setHidden(true);
    }
    std::swap(showingAdView_, hiddenAdView_);
}

void MRJSONAdView::imageAdViewWasTapped(MRJSONImageAdView&) {
    auto ad = getAd();
    if (!ad || !ad->imageTapThroughURL())
        return;
    if (auto d = delegate_.lock())
        d->jsonAdViewWasTapped(*this, platform::URLRequest(*ad->imageTapThroughURL()));
}

void MRJSONAdView::imageAdViewSucceeded(MRJSONImageAdView&) {
    if (auto d = delegate_.lock())
        d->jsonAdViewRequestSucceeded(*this);
}

void MRJSONAdView::imageAdViewFailed(MRJSONImageAdView&) {
    if (auto d = delegate_.lock())
        d->jsonAdViewRequestFailed(*this);
}

} // namespace meridian
