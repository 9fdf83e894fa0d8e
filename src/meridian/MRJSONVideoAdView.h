#pragma once
// MRJSONVideoAdView: the video child of the JSON ad container. Given a video ad it either
// plays the ad's file from the video cache in a movie player laid over the key window, turned
// to landscape, with the ad's buttons and an optional countdown on top
// (MRJSONVideoOverlayControlView), or, when the file is not cached yet or has expired, reports
// the ad as not playable (videoAdFailed) and starts the download, whose end it reports
// (videoCacheSucceeded / videoCacheFailed). While a video plays a one-second timer updates the
// countdown and requests the ad's timed tracking addresses; when it ends, the ad's
// "onCompletion" keeps the player open, opens an address or HTML in the landing-page overlay,
// or closes the player. Every end lets the host's refresh go on: an end action whose landing
// page cannot open (no usable "url" or "html", one already open, no window) closes the player
// as a plain end does, and a playback error other than -50 (which downloads the file again)
// closes it and reports the end without end tracking. The application leaving the foreground
// pauses playback and its timer; coming back plays on.
//
// Ownership: owned by its container; the delegate (the container) is held weakly; the player
// and the cache record are owned here (the record is also held by its running download, so the
// download completes it even when this view is gone). Callbacks (player notifications, the
// playback timer, downloads) arrive on the main run loop; nothing reaches the delegate after
// the view is gone. A video refused by the cache (an id or address that cannot name a file)
// is not played and not downloaded: loadFullScreenVideoFromURL answers false.
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "meridian/MRJSONBasicAdView.h"
#include "meridian/MRJSONVideoOverlayControlView.h"
#include "meridian/MRURLDownload.h"
#include "meridian/MRVideoCache.h"
#include "platform/media/MoviePlayerController.h"
#include "platform/runloop/RunLoop.h"

namespace meridian {

class MRJSONVideoAdView;

// Every selector is sent only to a delegate that is set; all do nothing unless overridden.
class MRJSONVideoAdViewDelegate {
public:
    using Player = std::shared_ptr<platform::MoviePlayerController>;
    virtual ~MRJSONVideoAdViewDelegate() = default;
    virtual void videoCacheSucceeded(MRJSONVideoAdView&) {}
    virtual void videoCacheFailed(MRJSONVideoAdView&) {}
    virtual void videoAdDidLoadNewAd(MRJSONVideoAdView&, const std::shared_ptr<MRJSONAd>&) {}
    // The end action's landing page; answers whether it opened.
    virtual bool videoAdLoadOnCompletionWithHTML(MRJSONVideoAdView&, const std::string&, int) { return false; }
    virtual bool videoAdLoadOnCompletionWithRequest(MRJSONVideoAdView&, const platform::URLRequest&, int) {
        return false;
    }
    virtual void videoButtonWasPressed(MRJSONVideoAdView&, MRJSONVideoButton&) {}
    virtual void videoAdStarted(MRJSONVideoAdView&, const Player&) {}
    virtual void videoAdFinished(MRJSONVideoAdView&, const Player&, bool enableAdRefresh, bool log) {
        (void)enableAdRefresh;
        (void)log;
    }
    virtual void videoAdWillAppear(MRJSONVideoAdView&) {}
    virtual void videoAdDidAppear(MRJSONVideoAdView&) {}
    virtual void videoAdWillClose(MRJSONVideoAdView&) {}
    virtual void videoAdSucceeded(MRJSONVideoAdView&) {}
    virtual void videoAdFailed(MRJSONVideoAdView&) {}
    virtual void videoAdLoaded(MRJSONVideoAdView&, const Player&) {}
    virtual void videoAdPaused(MRJSONVideoAdView&, const Player&) {}
};

class MRJSONVideoAdView : public MRJSONBasicAdView,
                          public MRJSONVideoOverlayControlViewDelegate,
                          public MRURLDownloadDelegate {
public:
    static constexpr double kPlaybackTimerInterval = 1.0;
    static constexpr double kQuarterTurn = 1.5707964;
    // The shift that puts the quarter-turned player (h wide, w high before the turn) back on
    // a w × h window: half the difference of the window's sides (80 on a 320 × 480 phone,
    // 128 on a 768 × 1024 tablet).
    static double playerOffset(const platform::Rect& windowBounds);
    static constexpr int kPlaybackErrorToRecache = -50;

    static std::shared_ptr<MRJSONVideoAdView> create(const platform::Rect& frame,
                                                     std::weak_ptr<MRJSONVideoAdViewDelegate> delegate);
    ~MRJSONVideoAdView() override;

    void setAd(std::shared_ptr<MRJSONAd> ad) override;
    // Plays the view's ad from the cache, or reports it not playable and caches it. The
    // address is not used: the file comes from the record of the ad's video id. Answers
    // false when the cache refuses the video.
    bool loadFullScreenVideoFromURL(const std::optional<platform::URL>& url);
    void showPlayer(const std::shared_ptr<platform::MoviePlayerController>& player);
    void playVideo();
    void pauseVideo();
    void restartVideo();
    void showStatusBar();
    void stopAndRemove();
    void placeButtons();
    void startPlaybackTimer();
    void stopPlaybackTimer();
    void playbackTimerCheck();
    void overlayWasClosed() { playVideo(); }
    void endMovieWithNotification(bool notify, bool enabledAdRefresh, bool log, bool closeVideo);
    void endMovieAndRemoveWithNotification(bool notify, bool enabledAdRefresh);
    void endMovieAndRemoveWithNotification(bool notify) { endMovieAndRemoveWithNotification(notify, true); }
    void showOnCompletionView();
    // The interface orientation for video: the status bar's when it is landscape, else
    // landscape right (3).
    static int orientationForVideo();

    void moviePlayBackDidFinish(const platform::Notification& n);
    void moviePlayBackStateDidChange();
    void movieLoadStateDidChange();

    const std::shared_ptr<platform::MoviePlayerController>& player() const { return player_; }
    const std::shared_ptr<MRJSONVideoOverlayControlView>& videoControlOverlay() const { return videoControlOverlay_; }
    const std::shared_ptr<MRVideoCache>& cache() const { return cache_; }
    bool isPlaybackTimerRunning() const { return playbackObserverTimer_ != nullptr; }
    void setDelegate(std::weak_ptr<MRJSONVideoAdViewDelegate> delegate) { delegate_ = std::move(delegate); }

    // MRJSONVideoOverlayControlViewDelegate.
    void jsonVideoButtonWasTapped(MRJSONVideoButton& button, MRJSONVideoOverlayControlView& overlay) override;
    // MRURLDownloadDelegate: the record has taken note already.
    void downloadDidFinish(MRURLDownload& download) override;
    void downloadDidFail(MRURLDownload& download, const platform::Error& error) override;

private:
    explicit MRJSONVideoAdView(const platform::Rect& frame) : MRJSONBasicAdView(frame) {}
    std::shared_ptr<MRJSONVideoAdView> self() {
        return std::static_pointer_cast<MRJSONVideoAdView>(sharedView());
    }
    void observePlayer();
    void stopObservingPlayer();

    std::shared_ptr<platform::MoviePlayerController> player_;
    std::shared_ptr<MRJSONVideoOverlayControlView> videoControlOverlay_;
    std::weak_ptr<MRJSONVideoAdViewDelegate> delegate_;
    bool firstPlay_ = false;
    bool endLogsHaveBeenSent_ = false;
    std::shared_ptr<platform::Timer> playbackObserverTimer_;
    std::shared_ptr<MRVideoCache> cache_;
    bool isStatusBarHidden_ = false;
    // Timed tracking entries by their "time" text.
    std::map<std::string, platform::Dictionary> logs_;
};

} // namespace meridian
