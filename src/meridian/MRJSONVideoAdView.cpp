#include "meridian/MRJSONVideoAdView.h"

#include <cmath>

#include "meridian/MRCommon.h"
#include "meridian/MRLog.h"
#include "platform/foundation/Numbers.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/media/MoviePlayerView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/Window.h"

namespace meridian {

namespace {

constexpr std::string_view kTimeKey = "time";
constexpr std::string_view kURLsKey = "urls";
constexpr std::string_view kStayInPlayerKey = "stayInPlayer";
constexpr std::string_view kURLKey = "url";
constexpr std::string_view kHTMLKey = "html";

// Names the player posts with itself as object, and the application's names the view follows
// while a player is shown.
constexpr std::array<const char*, 5> kPlayerNotifications = {
    platform::MPMoviePlayerPlaybackDidFinishNotification,
    platform::MPMoviePlayerPlaybackStateDidChangeNotification,
    platform::MPMoviePlayerLoadStateDidChangeNotification,
    platform::MPMoviePlayerWillEnterFullscreenNotification,
    platform::MPMoviePlayerDidExitFullscreenNotification,
};
constexpr std::array<const char*, 3> kApplicationNotifications = {
    platform::kApplicationWillResignActiveNotification,
    platform::kApplicationDidEnterBackgroundNotification,
    platform::kApplicationWillEnterForegroundNotification,
};

std::string countdownText(int seconds) {
    return std::to_string(seconds) + " seconds remaining...";
}

// Whole seconds of a duration from the reply (any size, NaN included).
int wholeSeconds(double seconds) {
    return platform::saturatingCast<int>(seconds);
}

// The playback timer's ticks fall on whole seconds of playback; a tick reads the second that
// is ending, so the first tick counts second 0 and the countdown loses one second per tick.
constexpr double kTickLead = 0.001;

std::shared_ptr<platform::Window> targetWindow() {
    auto& app = platform::Application::shared();
    if (auto key = app.keyWindow())
        return key;
    auto windows = app.windows();
    return windows.empty() ? nullptr : windows.front();
}

} // namespace

std::shared_ptr<MRJSONVideoAdView> MRJSONVideoAdView::create(const platform::Rect& frame,
                                                             std::weak_ptr<MRJSONVideoAdViewDelegate> delegate) {
    std::shared_ptr<MRJSONVideoAdView> view(new MRJSONVideoAdView(frame));
    view->delegate_ = std::move(delegate);
    view->isStatusBarHidden_ = platform::Application::shared().isStatusBarHidden();
    auto& center = platform::NotificationCenter::defaultCenter();
    center.observe<MRJSONVideoAdView>(view, kMROverlayWillCloseNotification,
                                      [](MRJSONVideoAdView& v, const platform::Notification&) { v.overlayWasClosed(); });
    center.observe<MRJSONVideoAdView>(view, kMRShowStatusBarIfNeededFromVideoOverlayNotification,
                                      [](MRJSONVideoAdView& v, const platform::Notification&) { v.showStatusBar(); });
    return view;
}

MRJSONVideoAdView::~MRJSONVideoAdView() {
    platform::NotificationCenter::defaultCenter().removeObserver(static_cast<const void*>(this));
    if (playbackObserverTimer_)
        playbackObserverTimer_->invalidate();
    if (!isStatusBarHidden_ && player_)
        platform::Application::shared().setStatusBarHidden(false, false);
    if (player_)
        if (auto view = player_->view())
            view->removeFromSuperview();
}

void MRJSONVideoAdView::setAd(std::shared_ptr<MRJSONAd> ad) {
    MRJSONBasicAdView::setAd(ad);
    if (!ad)
        return;
    if (auto d = delegate_.lock())
        d->videoAdDidLoadNewAd(*this, ad);
}

int MRJSONVideoAdView::orientationForVideo() {
    auto o = platform::Application::shared().statusBarOrientation();
    return platform::isLandscape(o) ? static_cast<int>(o) : static_cast<int>(platform::InterfaceOrientation::LandscapeRight);
}

bool MRJSONVideoAdView::loadFullScreenVideoFromURL(const std::optional<platform::URL>&) {
    auto keep = self();
    firstPlay_ = false;
    if (player_) {
        stopObservingPlayer();
        if (auto view = player_->view())
            view->removeFromSuperview();
    }
    player_.reset();
    cache_.reset();
    auto currentAd = ad();
    if (!currentAd)
        return false;

    bool ready = false;
    auto record = MRVideoCache::loadFromArchive(currentAd->videoId());
    if (record) {
        ready = !record->isCacheExpired() && record->isDownloadComplete();
        record->updateWithNewAd(currentAd);
    } else {
        record = MRVideoCache::initWithAd(currentAd);
        if (!record)
            return false;
    }
    cache_ = record;

    logs_.clear();
    endLogsHaveBeenSent_ = false;
    if (const auto& entries = currentAd->logs())
        for (const auto& entry : *entries)
            if (const auto* dict = entry.dictionary())
                if (auto time = dict->find(kTimeKey); time != dict->end() && time->second.string())
                    logs_[*time->second.string()] = *dict;

    if (!ready) {
        platform::NotificationCenter::defaultCenter().post(kMRCachingBeganNotification);
        if (auto d = delegate_.lock())
            d->videoAdFailed(*this);
        record->startOrFinishDownloadWithDelegate(
            std::shared_ptr<MRURLDownloadDelegate>(keep, static_cast<MRURLDownloadDelegate*>(this)));
        return true;
    }
    // The player reads the video cache's folder only.
    player_ = platform::MoviePlayerController::create(platform::URL::fileURL(record->localPath()),
                                                      platform::ReadableFolder(MRVideoCache::cacheFolder()));
    if (auto d = delegate_.lock())
        d->videoAdSucceeded(*this);
    player_->setShouldAutoplay(true);
    player_->setControlStyle(static_cast<platform::MovieControlStyle>(currentAd->controlStyle()));
    player_->setFullscreen(false);
    observePlayer();
    showPlayer(player_);
    playVideo();
    return true;
}

void MRJSONVideoAdView::observePlayer() {
    auto& center = platform::NotificationCenter::defaultCenter();
    std::weak_ptr<MRJSONVideoAdView> weak = self();
    const void* sender = player_.get();
    center.addObserver(
        platform::MPMoviePlayerPlaybackDidFinishNotification,
        [weak](const platform::Notification& n) {
            if (auto v = weak.lock())
                v->moviePlayBackDidFinish(n);
        },
        sender, this);
    center.addObserver(
        platform::MPMoviePlayerPlaybackStateDidChangeNotification,
        [weak](const platform::Notification&) {
            if (auto v = weak.lock())
                v->moviePlayBackStateDidChange();
        },
        sender, this);
    center.addObserver(
        platform::MPMoviePlayerLoadStateDidChangeNotification,
        [weak](const platform::Notification&) {
            if (auto v = weak.lock())
                v->movieLoadStateDidChange();
        },
        sender, this);
    center.addObserver(
        platform::kApplicationWillResignActiveNotification,
        [weak](const platform::Notification&) {
            if (auto v = weak.lock())
                v->pauseVideo();
        },
        nullptr, this);
    if (!platform::Device::current().isMultitaskingSupported())
        return;
    center.addObserver(
        platform::kApplicationDidEnterBackgroundNotification,
        [weak](const platform::Notification&) {
            if (auto v = weak.lock())
                v->pauseVideo();
        },
        nullptr, this);
    center.addObserver(
        platform::kApplicationWillEnterForegroundNotification,
        [weak](const platform::Notification&) {
            if (auto v = weak.lock())
                v->playVideo();
        },
        nullptr, this);
}

void MRJSONVideoAdView::stopObservingPlayer() {
    auto& center = platform::NotificationCenter::defaultCenter();
    for (auto name : kPlayerNotifications)
        center.removeObserver(this, name);
    for (auto name : kApplicationNotifications)
        center.removeObserver(this, name);
}

double MRJSONVideoAdView::playerOffset(const platform::Rect& windowBounds) {
    return (windowBounds.height() - windowBounds.width()) / 2;
}

void MRJSONVideoAdView::showPlayer(const std::shared_ptr<platform::MoviePlayerController>& player) {
    auto keep = self();
    if (auto d = delegate_.lock())
        d->videoAdWillAppear(*this);
    auto window = targetWindow();
    platform::Rect bounds = window ? window->bounds() : platform::Rect{};
    double w = bounds.width(), h = bounds.height();
    auto& app = platform::Application::shared();
    auto playerView = player->view();
    const double offset = playerOffset(bounds);
    playerView->setFrame(platform::Rect(0, 0, h, w));
    if (app.statusBarOrientation() == platform::InterfaceOrientation::LandscapeLeft)
        playerView->setTransform(
            platform::AffineTransform::makeRotation(-kQuarterTurn).translated(-offset, -offset));
    else
        playerView->setTransform(
            platform::AffineTransform::makeRotation(kQuarterTurn).translated(offset, offset));
    isStatusBarHidden_ = app.isStatusBarHidden();
    app.setStatusBarHidden(true, false);

    auto source = cache_ && cache_->ad() ? cache_->ad() : ad();
    std::vector<std::shared_ptr<MRJSONVideoButton>> buttons;
    if (source && source->videoButtons())
        buttons = *source->videoButtons();
    videoControlOverlay_ = MRJSONVideoOverlayControlView::create(
        platform::Rect(0, 0, h, w), std::move(buttons), source && source->showCountdownHUD(),
        std::shared_ptr<MRJSONVideoOverlayControlViewDelegate>(
            keep, static_cast<MRJSONVideoOverlayControlViewDelegate*>(this)));
    if (auto label = videoControlOverlay_->countdownLabel(); label && source)
        label->setText(countdownText(wholeSeconds(source->videoDuration())));
    playerView->addSubview(videoControlOverlay_);
    if (window)
        window->addSubview(playerView);
    if (auto d = delegate_.lock())
        d->videoAdDidAppear(*this);
}

void MRJSONVideoAdView::playVideo() {
    if (videoControlOverlay_ && videoControlOverlay_->isVideoFinishedPlaying())
        return;
    if (!player_)
        return;
    startPlaybackTimer();
    player_->play();
}

void MRJSONVideoAdView::pauseVideo() {
    if (!player_)
        return;
    stopPlaybackTimer();
    player_->pause();
}

void MRJSONVideoAdView::restartVideo() {
    if (!player_)
        return;
    pauseVideo();
    player_->setCurrentPlaybackTime(0);
    if (videoControlOverlay_)
        videoControlOverlay_->restart();
    playVideo();
}

void MRJSONVideoAdView::showStatusBar() {
    if (!isStatusBarHidden_)
        platform::Application::shared().setStatusBarHidden(false, false);
}

void MRJSONVideoAdView::stopAndRemove() {
    if (player_) {
        // The stop reports nothing more to this view.
        stopObservingPlayer();
        player_->stop();
        if (auto view = player_->view())
            view->removeFromSuperview();
    }
    player_.reset();
    videoControlOverlay_.reset();
}

void MRJSONVideoAdView::placeButtons() {
    if (videoControlOverlay_)
        videoControlOverlay_->showButtons();
}

void MRJSONVideoAdView::startPlaybackTimer() {
    stopPlaybackTimer();
    std::weak_ptr<MRJSONVideoAdView> weak = self();
    playbackObserverTimer_ =
        platform::Timer::scheduled(kPlaybackTimerInterval, true, [weak](platform::Timer& timer) {
            auto v = weak.lock();
            if (!v) {
                timer.invalidate();
                return;
            }
            v->playbackTimerCheck();
        });
}

void MRJSONVideoAdView::stopPlaybackTimer() {
    if (playbackObserverTimer_)
        playbackObserverTimer_->invalidate();
    playbackObserverTimer_.reset();
}

void MRJSONVideoAdView::playbackTimerCheck() {
    auto currentAd = ad();
    double duration = currentAd ? currentAd->videoDuration() : 0;
    double now = player_ ? std::max(0.0, player_->currentPlaybackTime() - kTickLead) : 0;
    if (!player_ || std::isnan(now) || !(now < duration)) {
        stopPlaybackTimer();
        return;
    }
    int played = wholeSeconds(now);
    if (videoControlOverlay_)
        if (auto label = videoControlOverlay_->countdownLabel())
            label->setText(countdownText(platform::saturatingCast<int>(
                static_cast<double>(wholeSeconds(duration)) - static_cast<double>(played) - 1.0)));
    auto entry = logs_.find(std::to_string(played));
    if (entry == logs_.end())
        return;
    if (auto urls = entry->second.find(kURLsKey); urls != entry->second.end() && urls->second.array())
        for (const auto& url : *urls->second.array())
            if (url.string())
                MRLog::logURL(*url.string());
}

void MRJSONVideoAdView::moviePlayBackStateDidChange() {
    if (!player_ || player_->playbackState() != platform::MoviePlaybackState::Playing || firstPlay_)
        return;
    firstPlay_ = true;
    if (auto d = delegate_.lock())
        d->videoAdStarted(*this, player_);
}

void MRJSONVideoAdView::movieLoadStateDidChange() {
    if (player_ && (player_->loadState() & (platform::MovieLoadState::Playable | platform::MovieLoadState::PlaythroughOK)))
        placeButtons();
}

void MRJSONVideoAdView::moviePlayBackDidFinish(const platform::Notification& n) {
    auto keep = self();
    const auto* reasonValue = n.userInfo.count(platform::MPMoviePlayerPlaybackDidFinishReasonUserInfoKey)
                                  ? &n.userInfo.at(platform::MPMoviePlayerPlaybackDidFinishReasonUserInfoKey)
                                  : nullptr;
    auto reason = static_cast<platform::MovieFinishReason>(reasonValue ? reasonValue->intOr(0) : 0);
    switch (reason) {
    case platform::MovieFinishReason::PlaybackError: {
        showStatusBar();
        auto error = platform::movieErrorFromUserInfo(n.userInfo);
        if (error && error->code == kPlaybackErrorToRecache && cache_) {
            // The download's end restarts the refresh.
            endMovieAndRemoveWithNotification(false);
            cache_->restartDownloadWithDelegate(
                std::shared_ptr<MRURLDownloadDelegate>(keep, static_cast<MRURLDownloadDelegate*>(this)));
            return;
        }
        // Nothing else will restart the refresh stopped for playback: the end is reported,
        // without the end tracking of a video that did not play through.
        endMovieWithNotification(true, true, false, true);
        return;
    }
    case platform::MovieFinishReason::UserExited:
        showStatusBar();
        endMovieAndRemoveWithNotification(true);
        return;
    default:
        break;
    }
    // The video has played through: its timed tracking and countdown are done.
    stopPlaybackTimer();
    if (videoControlOverlay_)
        videoControlOverlay_->videoFinishedPlaying();
    auto currentAd = ad();
    if (currentAd && currentAd->onCompletion()) {
        showOnCompletionView();
        return;
    }
    showStatusBar();
    endMovieAndRemoveWithNotification(true);
}

void MRJSONVideoAdView::showOnCompletionView() {
    auto currentAd = ad();
    const auto* completion = currentAd && currentAd->onCompletion() ? &*currentAd->onCompletion() : nullptr;
    if (!completion) {
        showStatusBar();
        endMovieAndRemoveWithNotification(true, true);
        return;
    }
    auto value = [&](std::string_view key) -> const platform::Value* {
        auto it = completion->find(key);
        return it == completion->end() ? nullptr : &it->second;
    };
    if (const auto* stay = value(kStayInPlayerKey); stay && stay->boolOr(false)) {
        endLogsHaveBeenSent_ = true;
        if (auto d = delegate_.lock())
            d->videoAdFinished(*this, player_, false, true);
        return;
    }
    int orientation = orientationForVideo();
    const auto* url = value(kURLKey);
    const auto* html = value(kHTMLKey);
    auto request = url && url->string() ? platform::URLRequest::withURLString(*url->string()) : std::nullopt;
    bool opened = false;
    if (auto d = delegate_.lock()) {
        if (request)
            opened = d->videoAdLoadOnCompletionWithRequest(*this, *request, orientation);
        else if (html && html->string())
            opened = d->videoAdLoadOnCompletionWithHTML(*this, *html->string(), orientation);
    }
    if (opened) {
        // The landing page's close ends the modal screen and restarts the refresh.
        endMovieAndRemoveWithNotification(true, false);
        return;
    }
    // No landing page to go to: the player closes as a plain end does.
    showStatusBar();
    endMovieAndRemoveWithNotification(true, true);
}

void MRJSONVideoAdView::endMovieWithNotification(bool notify, bool enabledAdRefresh, bool log, bool closeVideo) {
    auto keep = self();
    stopObservingPlayer();
    if (closeVideo)
        stopAndRemove();
    auto d = delegate_.lock();
    if (enabledAdRefresh && d)
        d->videoAdWillClose(*this);
    if (notify && d)
        d->videoAdFinished(*this, player_, enabledAdRefresh, log);
}

void MRJSONVideoAdView::endMovieAndRemoveWithNotification(bool notify, bool enabledAdRefresh) {
    endMovieWithNotification(notify, enabledAdRefresh, !endLogsHaveBeenSent_, true);
}

void MRJSONVideoAdView::jsonVideoButtonWasTapped(MRJSONVideoButton& button, MRJSONVideoOverlayControlView&) {
    auto keep = self();
    if (auto d = delegate_.lock())
        d->videoButtonWasPressed(*this, button);
}

void MRJSONVideoAdView::downloadDidFinish(MRURLDownload&) {
    auto keep = self();
    if (auto d = delegate_.lock())
        d->videoCacheSucceeded(*this);
}

void MRJSONVideoAdView::downloadDidFail(MRURLDownload&, const platform::Error&) {
    auto keep = self();
    if (auto d = delegate_.lock())
        d->videoCacheFailed(*this);
}

} // namespace meridian
