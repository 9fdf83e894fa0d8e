#pragma once
// The JSON child of the Meridian ad view and its two content views.
//
// MRJSONAdView: parses each JSON reply into an MRJSONAd and routes it: an image ad goes to
//   the image child, which downloads its picture; a video ad goes to the video child
//   (MRJSONVideoAdView), which plays it from the video cache or caches it; a reply without a
//   usable ad is reported as failed. A reply of another ad type than the one the showing
//   child holds cross-fades between the children (transition begin and end are reported);
//   one of the same type asks the ad view to move the JSON view to the front. It relays the
//   video child's events to the ad view, requests the start and end tracking addresses of a
//   video, carries out the commands of the video buttons ("mrsdk://endVideo",
//   "restartVideo", "pauseVideo", "playVideo"; "sms", "tel" and "mrbrowser" addresses leave
//   the application; other addresses open the landing page) and replays cached videos.
// MRJSONBasicAdView: the base of the two children; holds the ad it shows.
// MRJSONImageAdView: downloads a picture (at most kMaximumImageBytes, HTTP status 200-299)
//   and shows it: the first at once, later ones with a 0.75 s cross-fade. A download that
//   fails, is empty or does not decode to a picture is reported as failed and the picture on
//   screen stays. A touch that ends on it is reported as a tap.
//
// Ownership: the ad view owns its MRJSONAdView through its subviews; the container owns its
// children; every delegate is held weakly and the ad model refers to its container weakly.
// Callbacks (connection, animation) arrive on the main run loop; a replaced or cancelled
// download, or one of a view that went away, reports nothing.
#include <memory>

#include "meridian/MRHTMLAdView.h"
#include "meridian/MRJSONAd.h"
#include "meridian/MRJSONBasicAdView.h"
#include "meridian/MRJSONVideoAdView.h"
#include "platform/net/URLConnection.h"
#include "platform/ui/ImageView.h"

namespace meridian {

class MRJSONAdView;
class MRJSONImageAdView;

class MRJSONAdViewDelegate {
public:
    virtual ~MRJSONAdViewDelegate() = default;
    virtual void jsonAdViewTransitionAnimationWillBegin(MRJSONAdView&) {}
    virtual void jsonAdViewTransitionAnimationDidEnd(MRJSONAdView&) {}
    virtual void jsonAdViewWasTapped(MRJSONAdView&, const platform::URLRequest&) {}
    virtual void jsonAdViewWantsToMoveToTheFront(MRJSONAdView&) {}
    virtual void jsonAdViewRequestSucceeded(MRJSONAdView& view) = 0;
    virtual void jsonAdViewRequestFailed(MRJSONAdView& view) = 0;
    // A video button's address with the scheme "sms", "tel" or "mrbrowser".
    virtual void jsonAdViewWantsToOpenURL(MRJSONAdView&, const platform::URL&) {}
    virtual void jsonAdViewVideoAdWillDisappear(MRJSONAdView&) {}
    virtual void jsonAdViewVideoAdWillAppear(MRJSONAdView&) {}
    virtual void jsonAdViewVideoAdDidAppear(MRJSONAdView&) {}
    virtual void jsonAdViewWillPlayChachedVideo(MRJSONAdView&) {}
    virtual void jsonAdViewWillLoadVideoURL(MRJSONAdView&) {}
    // A video's end action or button asks for the landing page, as HTML or as a request.
    // Answers whether the landing page opened.
    virtual bool jsonAdViewWantToShowOverlayWithHTML(MRJSONAdView&, MRJSONVideoAdView&, const std::string&,
                                                     int orientation, bool notifyOpenDelegates,
                                                     bool notifyCloseDelegates) {
        (void)orientation, (void)notifyOpenDelegates, (void)notifyCloseDelegates;
        return false;
    }
    virtual bool jsonAdViewWantToShowOverlayWithRequest(MRJSONAdView&, MRJSONVideoAdView&, const platform::URLRequest&,
                                                        int orientation, bool notifyOpenDelegates,
                                                        bool notifyCloseDelegates) {
        (void)orientation, (void)notifyOpenDelegates, (void)notifyCloseDelegates;
        return false;
    }
    virtual void jsonAdViewVideoCacheFailed(MRJSONAdView&) {}
    virtual void jsonAdViewVideoCacheSucceeded(MRJSONAdView&) {}
    virtual void jsonAdViewVideoAdFailed(MRJSONAdView&) {}
    virtual void jsonAdViewVideoAdSucceeded(MRJSONAdView&) {}
    virtual void jsonAdViewVideoAdFinishedPlaying(MRJSONAdView&, bool startTimer) { (void)startTimer; }
};

class MRJSONImageAdViewDelegate {
public:
    virtual ~MRJSONImageAdViewDelegate() = default;
    virtual void imageAdDidLoadNewAd(MRJSONImageAdView&, const std::shared_ptr<MRJSONAd>&) = 0;
    virtual void imageAdViewWasTapped(MRJSONImageAdView&) = 0;
    virtual void imageAdViewSucceeded(MRJSONImageAdView&) = 0;
    virtual void imageAdViewFailed(MRJSONImageAdView&) = 0;
};

class MRJSONImageAdView : public MRJSONBasicAdView, public platform::URLConnectionDelegate {
public:
    static constexpr std::int64_t kMaximumImageBytes = 2 * 1024 * 1024;
    static constexpr double kCrossfadeDuration = 0.75;
    static constexpr std::string_view kCrossfadeKey = "animateContents";

    static std::shared_ptr<MRJSONImageAdView> create(const platform::Rect& frame,
                                                     std::weak_ptr<MRJSONImageAdViewDelegate> delegate);
    ~MRJSONImageAdView() override;

    void setAd(std::shared_ptr<MRJSONAd> ad) override;
    // Downloads the picture; without an address the download fails on the next turn.
    void loadWithURL(const std::optional<platform::URL>& url);
    // Shows the picture decoded from `bytes` as a finished download does (a cross-fade when a
    // picture is showing); reports nothing. Bytes that decode to no picture change nothing.
    // Answers whether a picture was shown.
    bool loadWithData(const platform::Data& bytes);
    const std::shared_ptr<platform::ImageView>& imageView() const { return imageView_; }
    bool isLoading() const { return connection_ != nullptr; }

    void touchesEnded(const platform::TouchSet& touches, const platform::Event& event) override;

    void connectionDidReceiveResponse(platform::URLConnection& c, const platform::URLResponse& r) override;
    void connectionDidReceiveData(platform::URLConnection& c, const platform::Data& data) override;
    void connectionDidFinishLoading(platform::URLConnection& c) override;
    void connectionDidFailWithError(platform::URLConnection& c, const platform::Error& error) override;

private:
    explicit MRJSONImageAdView(const platform::Rect& frame) : MRJSONBasicAdView(frame) {}
    void failed();
    void crossfadeWithNewImage(const std::shared_ptr<platform::Image>& image);

    std::shared_ptr<platform::ImageView> imageView_;
    platform::Data imageData_;
    int replyStatus_ = 0;
    std::shared_ptr<platform::URLConnection> connection_;
    std::weak_ptr<MRJSONImageAdViewDelegate> delegate_;
    // Identifies the current download, so a stale "no address" failure is dropped.
    std::uint64_t loadGeneration_ = 0;
};

class MRJSONAdView : public MRBasicAdView, public MRJSONImageAdViewDelegate, public MRJSONVideoAdViewDelegate {
public:
    static std::shared_ptr<MRJSONAdView> create(const platform::Rect& frame,
                                                std::weak_ptr<MRJSONAdViewDelegate> delegate);
    void loadWithAdContents(const platform::Data& contents);
    void setDelegate(std::weak_ptr<MRJSONAdViewDelegate> delegate) { delegate_ = std::move(delegate); }
    // The ad last announced by a child (not owned).
    std::shared_ptr<MRJSONAd> getAd() const { return jsonAd_.lock(); }
    void setFrame(const platform::Rect& frame);
    void crossfadeWithAd(const std::shared_ptr<MRJSONAd>& ad);
    // Plays the record's video from the cache and counts the play.
    void playVideoAdWithCache(const std::shared_ptr<MRVideoCache>& cache);

    const std::shared_ptr<MRJSONImageAdView>& imageAdView() const { return imageAdView_; }
    const std::shared_ptr<MRJSONVideoAdView>& videoAdView() const { return videoAdView_; }
    MRJSONBasicAdView* showingAdView() const { return showingAdView_; }

    void imageAdDidLoadNewAd(MRJSONImageAdView&, const std::shared_ptr<MRJSONAd>& ad) override {
        jsonAd_ = ad;
    }
    void imageAdViewWasTapped(MRJSONImageAdView&) override;
    void imageAdViewSucceeded(MRJSONImageAdView&) override;
    void imageAdViewFailed(MRJSONImageAdView&) override;

    // MRJSONVideoAdViewDelegate.
    void videoCacheSucceeded(MRJSONVideoAdView&) override;
    void videoCacheFailed(MRJSONVideoAdView&) override;
    void videoAdDidLoadNewAd(MRJSONVideoAdView&, const std::shared_ptr<MRJSONAd>& ad) override { jsonAd_ = ad; }
    bool videoAdLoadOnCompletionWithHTML(MRJSONVideoAdView&, const std::string& html, int orientation) override;
    bool videoAdLoadOnCompletionWithRequest(MRJSONVideoAdView&, const platform::URLRequest& request,
                                            int orientation) override;
    void videoButtonWasPressed(MRJSONVideoAdView&, MRJSONVideoButton& button) override;
    void videoAdStarted(MRJSONVideoAdView&, const Player&) override;
    void videoAdFinished(MRJSONVideoAdView&, const Player&, bool enableAdRefresh, bool log) override;
    void videoAdWillAppear(MRJSONVideoAdView&) override;
    void videoAdDidAppear(MRJSONVideoAdView&) override;
    void videoAdWillClose(MRJSONVideoAdView&) override;
    void videoAdSucceeded(MRJSONVideoAdView&) override;
    void videoAdFailed(MRJSONVideoAdView&) override;

private:
    explicit MRJSONAdView(const platform::Rect& frame) : MRBasicAdView(frame) {}
    std::shared_ptr<MRJSONAdView> self() { return std::static_pointer_cast<MRJSONAdView>(sharedView()); }

    std::weak_ptr<MRJSONAd> jsonAd_;
    std::shared_ptr<MRJSONImageAdView> imageAdView_;
    std::shared_ptr<MRJSONVideoAdView> videoAdView_;
    MRJSONBasicAdView* showingAdView_ = nullptr;
    MRJSONBasicAdView* hiddenAdView_ = nullptr;
    std::weak_ptr<MRJSONAdViewDelegate> delegate_;
};

} // namespace meridian
