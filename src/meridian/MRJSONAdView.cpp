#include "meridian/MRJSONAdView.h"

#include "meridian/MRCommon.h"
#include "meridian/MRHandshake.h"
#include "meridian/MRLog.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Image.h"

#include <algorithm>
#include <array>

namespace meridian {

namespace {

// Commands of the video buttons' addresses.
constexpr std::string_view kEndVideoCommand = "mrsdk://endVideo";
constexpr std::string_view kRestartVideoCommand = "mrsdk://restartVideo";
constexpr std::string_view kPauseVideoCommand = "mrsdk://pauseVideo";
constexpr std::string_view kPlayVideoCommand = "mrsdk://playVideo";
// Schemes of button addresses that leave the application.
constexpr std::array<std::string_view, 3> kLeavingSchemes = {"sms", "tel", "mrbrowser"};

void logEach(const std::optional<platform::Array>& urls) {
    if (!urls)
        return;
    for (const auto& url : *urls)
        if (url.string())
            MRLog::logURL(*url.string());
}
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
    if (!loadWithData(bytes)) {
        failed();
        return;
    }
    if (auto d = delegate_.lock())
        d->imageAdViewSucceeded(*this);
}

bool MRJSONImageAdView::loadWithData(const platform::Data& bytes) {
    auto image = platform::Image::fromData(bytes);
    if (!image)
        return false;
    if (imageView_->image())
        crossfadeWithNewImage(image);
    else
        imageView_->setImage(image);
    return true;
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
    view->videoAdView_ = MRJSONVideoAdView::create(
        inner, std::shared_ptr<MRJSONVideoAdViewDelegate>(view, static_cast<MRJSONVideoAdViewDelegate*>(view.get())));
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
    } else if (type == MRJSONAd::kVideoAd) {
        MRHandshake::sharedHandshake().setLastVideoRequestMadeAt(platform::Clock::current().date());
        videoAdView_->setAd(ad);
        if (auto d = delegate_.lock())
            d->jsonAdViewWillLoadVideoURL(*this);
        // A video the cache cannot name a file for is no usable ad; the refresh stopped for
        // it goes on.
        if (!videoAdView_->loadFullScreenVideoFromURL(ad->videoContentURL()))
            if (auto d = delegate_.lock()) {
                d->jsonAdViewRequestFailed(*this);
                d->jsonAdViewVideoCacheFailed(*this);
            }
    } else {
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
    } else if (ad->adType() == MRJSONAd::kVideoAd) {
        videoAdView_->setHidden(false);
        imageAdView_->setHidden(true);
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

void MRJSONAdView::playVideoAdWithCache(const std::shared_ptr<MRVideoCache>& cache) {
    auto keep = self();
    // Every replay ends in an outcome: a record without its ad, or one the video view
    // refuses, is a failed request.
    if (!cache || !cache->ad()) {
        if (auto d = delegate_.lock())
            d->jsonAdViewRequestFailed(*this);
        return;
    }
    if (auto d = delegate_.lock())
        d->jsonAdViewWillPlayChachedVideo(*this);
    videoAdView_->setAd(cache->ad());
    if (!videoAdView_->loadFullScreenVideoFromURL(cache->url())) {
        if (auto d = delegate_.lock()) {
            d->jsonAdViewRequestFailed(*this);
            // The refresh stopped for the video goes on.
            d->jsonAdViewVideoCacheFailed(*this);
        }
        return;
    }
    cache->incrementNumPlaysBy(1);
    cache->save();
    if (auto d = delegate_.lock())
        d->jsonAdViewTransitionAnimationWillBegin(*this);
    crossfadeWithAd(cache->ad());
}

// ---- The video child's events ----

// "Caching ended" is posted by the cache record, which hears the download's end even when
// this view is gone.
void MRJSONAdView::videoCacheSucceeded(MRJSONVideoAdView&) {
    auto keep = self();
    if (auto d = delegate_.lock())
        d->jsonAdViewVideoCacheSucceeded(*this);
}

void MRJSONAdView::videoCacheFailed(MRJSONVideoAdView&) {
    auto keep = self();
    if (auto d = delegate_.lock())
        d->jsonAdViewVideoCacheFailed(*this);
}

bool MRJSONAdView::videoAdLoadOnCompletionWithHTML(MRJSONVideoAdView& video, const std::string& html, int orientation) {
    auto d = delegate_.lock();
    return d && d->jsonAdViewWantToShowOverlayWithHTML(*this, video, html, orientation, false, true);
}

bool MRJSONAdView::videoAdLoadOnCompletionWithRequest(MRJSONVideoAdView& video, const platform::URLRequest& request,
                                                      int orientation) {
    auto d = delegate_.lock();
    return d && d->jsonAdViewWantToShowOverlayWithRequest(*this, video, request, orientation, false, true);
}

void MRJSONAdView::videoAdStarted(MRJSONVideoAdView& video, const Player&) {
    MRHandshake::sharedHandshake().setLastVideoPlayedAt(platform::Clock::current().date());
    if (auto ad = video.ad())
        logEach(ad->startActivity());
}

void MRJSONAdView::videoAdFinished(MRJSONVideoAdView& video, const Player&, bool enableAdRefresh, bool log) {
    auto keep = self();
    if (log)
        if (auto ad = video.ad())
            logEach(ad->endActivity());
    if (auto d = delegate_.lock())
        d->jsonAdViewVideoAdFinishedPlaying(*this, enableAdRefresh);
}

void MRJSONAdView::videoAdWillAppear(MRJSONVideoAdView&) {
    if (auto d = delegate_.lock())
        d->jsonAdViewVideoAdWillAppear(*this);
}

void MRJSONAdView::videoAdDidAppear(MRJSONVideoAdView&) {
    if (auto d = delegate_.lock())
        d->jsonAdViewVideoAdDidAppear(*this);
}

void MRJSONAdView::videoAdWillClose(MRJSONVideoAdView&) {
    if (auto d = delegate_.lock())
        d->jsonAdViewVideoAdWillDisappear(*this);
}

void MRJSONAdView::videoAdSucceeded(MRJSONVideoAdView&) {
    if (auto d = delegate_.lock())
        d->jsonAdViewVideoAdSucceeded(*this);
}

void MRJSONAdView::videoAdFailed(MRJSONVideoAdView&) {
    if (auto d = delegate_.lock())
        d->jsonAdViewVideoAdFailed(*this);
}

void MRJSONAdView::videoButtonWasPressed(MRJSONVideoAdView& video, MRJSONVideoButton& button) {
    auto keep = self();
    auto keepVideo = video.sharedView();
    logEach(button.activity());
    video.pauseVideo();
    std::string address = button.tapURL() ? button.tapURL()->absoluteString() : std::string();
    if (address == kEndVideoCommand) {
        video.showStatusBar();
        video.endMovieWithNotification(true, true, false, true);
        return;
    }
    if (address == kRestartVideoCommand) {
        video.restartVideo();
        return;
    }
    if (address == kPauseVideoCommand)
        return;
    if (address == kPlayVideoCommand) {
        video.playVideo();
        return;
    }
    if (!button.tapURL())
        return;
    const auto& url = *button.tapURL();
    auto d = delegate_.lock();
    if (!d)
        return;
    if (std::find(kLeavingSchemes.begin(), kLeavingSchemes.end(), url.scheme()) != kLeavingSchemes.end()) {
        d->jsonAdViewWantsToOpenURL(*this, url);
        return;
    }
    // The video stays paused; it plays on when the landing page closes.
    d->jsonAdViewWantToShowOverlayWithRequest(*this, video, platform::URLRequest(url),
                                              MRJSONVideoAdView::orientationForVideo(), false, false);
}

} // namespace meridian
