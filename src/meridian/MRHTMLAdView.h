#pragma once
// The HTML child of the Meridian ad view, with its two web-view buffers.
//
// MRBasicAdView: the base view of the ad view's two children (HTML and JSON).
// MRWebView: one buffer, a platform web view plus the MRHTMLAd loaded in it. A link click
//   never navigates the buffer: it is reported to the delegate (with the page's shouldOpen()
//   link when it gives one); other navigations load normally.
// MRHTMLAdView: a reply always loads into the hidden buffer; when that buffer's page has
//   loaded it is cross-faded in (duration: the ad's transitionDuration) and the roles swap.
//
// Ownership: the ad view owns its MRHTMLAdView through its subviews; the MRHTMLAdView owns
// both buffers; every delegate is held weakly. Callbacks arrive on the main run loop; a
// buffer that went away (or was cleared) reports nothing.
#include <memory>
#include <optional>

#include "meridian/MRHTMLAd.h"
#include "platform/foundation/Value.h"
#include "platform/web/WebView.h"

namespace meridian {

class MRBasicAdView : public platform::View {
public:
    using View::View;
};

class MRWebView;
class MRHTMLAdView;

class MRWebViewDelegate {
public:
    virtual ~MRWebViewDelegate() = default;
    virtual void webViewDidLoadNewAd(MRWebView& buffer, const std::shared_ptr<MRHTMLAd>& ad) = 0;
    virtual void webViewDidFail(MRWebView& buffer) = 0;
    virtual void webViewDidLoad(MRWebView& buffer) = 0;
    virtual void webViewWasTapped(MRWebView& buffer, const platform::URLRequest& request) = 0;
    virtual void webViewWantsToOpenURL(MRWebView& buffer, const platform::URL& url) = 0;
    virtual bool accelerometerEnabled() = 0;
};

class MRWebView : public platform::View, public platform::WebViewDelegate {
public:
    static std::shared_ptr<MRWebView> create(const platform::Rect& frame,
                                             std::weak_ptr<MRWebViewDelegate> delegate);
    ~MRWebView() override;

    // Decodes `contents` as UTF-8 and loads it as a new MRHTMLAd.
    void loadWithContents(const platform::Data& contents);
    const std::shared_ptr<MRHTMLAd>& ad() const { return ad_; }
    void setAd(std::shared_ptr<MRHTMLAd> ad);
    const std::shared_ptr<platform::WebView>& webView() const { return webView_; }
    void setDelegate(std::weak_ptr<MRWebViewDelegate> delegate) { delegate_ = std::move(delegate); }

    bool webViewShouldStartLoadWithRequestNavigationType(platform::WebView&,
                                                         const platform::URLRequest& request,
                                                         platform::WebViewNavigationType type) override;
    void webViewDidFinishLoad(platform::WebView&) override;
    void webViewDidFailLoadWithError(platform::WebView&, const platform::Error&) override;

private:
    explicit MRWebView(const platform::Rect& frame) : View(frame) {}
    std::shared_ptr<platform::WebView> webView_;
    std::shared_ptr<MRHTMLAd> ad_;
    std::weak_ptr<MRWebViewDelegate> delegate_;
};

class MRHTMLAdViewDelegate {
public:
    virtual ~MRHTMLAdViewDelegate() = default;
    virtual void htmlAdViewTransitionAnimationWillBegin(MRHTMLAdView& view) = 0;
    virtual void htmlAdViewTransitionAnimationDidEnd(MRHTMLAdView& view) = 0;
    virtual void htmlAdViewWantsToOpenURL(MRHTMLAdView& view, const platform::URL& url) = 0;
    virtual void htmlAdViewWasTapped(MRHTMLAdView& view, const platform::URLRequest& request) = 0;
    virtual void htmlAdViewRequestSucceeded(MRHTMLAdView& view) = 0;
    virtual void htmlAdViewRequestFailed(MRHTMLAdView& view) = 0;
    virtual bool htmlAdViewAccelerometerEnabled() = 0;
};

class MRHTMLAdView : public MRBasicAdView, public MRWebViewDelegate {
public:
    static std::shared_ptr<MRHTMLAdView> create(const platform::Rect& frame,
                                                std::weak_ptr<MRHTMLAdViewDelegate> delegate);
    ~MRHTMLAdView() override;

    void loadWithAdContents(const platform::Data& contents);
    // The ad on screen (not owned).
    std::shared_ptr<MRHTMLAd> getAd() const { return showingAd_.lock(); }
    std::shared_ptr<MRHTMLAdViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<MRHTMLAdViewDelegate> delegate) { delegate_ = std::move(delegate); }
    const std::shared_ptr<MRWebView>& showingWebView() const { return showingWebView_; }
    const std::shared_ptr<MRWebView>& hiddenWebView() const { return hiddenWebView_; }
    const std::shared_ptr<MRWebView>& webView1() const { return webView1_; }
    const std::shared_ptr<MRWebView>& webView2() const { return webView2_; }

    void webViewDidLoadNewAd(MRWebView& buffer, const std::shared_ptr<MRHTMLAd>& ad) override;
    void webViewDidFail(MRWebView& buffer) override;
    void webViewDidLoad(MRWebView& buffer) override;
    void webViewWasTapped(MRWebView& buffer, const platform::URLRequest& request) override;
    void webViewWantsToOpenURL(MRWebView& buffer, const platform::URL& url) override;
    bool accelerometerEnabled() override;

    void crossfadeWithAd(const std::shared_ptr<MRHTMLAd>& ad);
    void animationDidStop(bool finished);

private:
    explicit MRHTMLAdView(const platform::Rect& frame) : MRBasicAdView(frame) {}
    std::shared_ptr<MRWebView> webView1_, webView2_;
    std::weak_ptr<MRHTMLAd> showingAd_;
    std::shared_ptr<MRWebView> showingWebView_, hiddenWebView_;
    std::weak_ptr<MRHTMLAdViewDelegate> delegate_;
};

} // namespace meridian
