#include "meridian/MRHTMLAdView.h"

#include "meridian/MRAdView.h"

#include "platform/foundation/Strings.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Animation.h"

namespace meridian {

namespace {

const platform::Color kBufferBackground = platform::Color::white(1.0, 0.1);
constexpr std::string_view kFadeTransition = "fade";
constexpr std::string_view kCrossfadeKey = "MRHTMLAdViewCrossfade";

} // namespace

// ---- MRWebView ----

std::shared_ptr<MRWebView> MRWebView::create(const platform::Rect& frame,
                                             std::weak_ptr<MRWebViewDelegate> delegate) {
    std::shared_ptr<MRWebView> buffer(new MRWebView(frame));
    buffer->delegate_ = std::move(delegate);
    buffer->webView_ =
        std::make_shared<platform::WebView>(platform::Rect(0, 0, frame.width(), frame.height()));
    buffer->webView_->setDelegate(std::shared_ptr<platform::WebViewDelegate>(
        buffer, static_cast<platform::WebViewDelegate*>(buffer.get())));
    buffer->webView_->setBackgroundColor(kBufferBackground);
    buffer->webView_->setOpaque(false);
    buffer->webView_->setAlpha(1.0);
    buffer->addSubview(buffer->webView_);
    return buffer;
}

MRWebView::~MRWebView() {
    if (webView_) {
        webView_->stopLoading();
        webView_->setDelegate({});
    }
}

void MRWebView::loadWithContents(const platform::Data& contents) {
    std::string text(contents.begin(), contents.end());
    std::optional<std::string> markup;
    if (platform::isValidUTF8(text))
        markup = std::move(text);
    auto self = std::static_pointer_cast<MRWebView>(sharedView());
    webView_->setDelegate(
        std::shared_ptr<platform::WebViewDelegate>(self, static_cast<platform::WebViewDelegate*>(this)));
    auto delegate = delegate_.lock();
    bool accelerometer = delegate && delegate->accelerometerEnabled();
    bool readable = markup.has_value();
    auto pageView = readable ? webView_ : nullptr;
    setAd(MRHTMLAd::create(std::move(markup), std::move(pageView), accelerometer));
    if (readable)
        return;
    // Nothing can load from an unreadable reply: report it as a failed load, so the host
    // hears one outcome for it.
    std::weak_ptr<MRWebView> weak = self;
    platform::RunLoop::main().perform([weak] {
        if (auto buffer = weak.lock())
            if (auto delegate = buffer->delegate_.lock())
                delegate->webViewDidFail(*buffer);
    });
}

void MRWebView::setAd(std::shared_ptr<MRHTMLAd> ad) {
    ad_ = std::move(ad);
    if (ad_)
        if (auto delegate = delegate_.lock())
            delegate->webViewDidLoadNewAd(*this, ad_);
}

bool MRWebView::webViewShouldStartLoadWithRequestNavigationType(platform::WebView&,
                                                                const platform::URLRequest& request,
                                                                platform::WebViewNavigationType type) {
    if (type != platform::WebViewNavigationType::LinkClicked)
        return true;
    if (auto delegate = delegate_.lock()) {
        auto link = ad_ ? ad_->openURL() : std::nullopt;
        delegate->webViewWasTapped(*this, link ? platform::URLRequest(*link) : request);
    }
    return false;
}

void MRWebView::webViewDidFinishLoad(platform::WebView&) {
    auto self = sharedView(); // the delegate may let this buffer go
    if (auto delegate = delegate_.lock())
        delegate->webViewDidLoad(*this);
    if (!ad_)
        return;
    ad_->htmlDidLoad();
    // The page says once it has loaded whether it wants accelerometer readings.
    ad_->shouldAccelerate();
    if (auto link = ad_->openURL())
        if (auto delegate = delegate_.lock())
            delegate->webViewWantsToOpenURL(*this, *link);
}

void MRWebView::webViewDidFailLoadWithError(platform::WebView&, const platform::Error&) {
    if (auto delegate = delegate_.lock())
        delegate->webViewDidFail(*this);
}

// ---- MRHTMLAdView ----

std::shared_ptr<MRHTMLAdView> MRHTMLAdView::create(const platform::Rect& frame,
                                                   std::weak_ptr<MRHTMLAdViewDelegate> delegate) {
    std::shared_ptr<MRHTMLAdView> view(new MRHTMLAdView(frame));
    view->delegate_ = std::move(delegate);
    std::shared_ptr<MRWebViewDelegate> self(view, static_cast<MRWebViewDelegate*>(view.get()));
    platform::Rect inner(0, 0, frame.width(), frame.height());
    view->webView1_ = MRWebView::create(inner, self);
    view->webView2_ = MRWebView::create(inner, self);
    view->addSubview(view->webView1_);
    view->addSubview(view->webView2_);
    view->webView2_->setHidden(true);
    view->showingWebView_ = view->webView1_;
    view->hiddenWebView_ = view->webView2_;
    return view;
}

MRHTMLAdView::~MRHTMLAdView() {
    webView1_->setDelegate({});
    webView2_->setDelegate({});
}

void MRHTMLAdView::loadWithAdContents(const platform::Data& contents) {
    hiddenWebView_->loadWithContents(contents);
}

void MRHTMLAdView::webViewDidLoadNewAd(MRWebView& buffer, const std::shared_ptr<MRHTMLAd>& ad) {
    // The ad learns its ad view, whose permission gates the accelerometer readings.
    if (ad)
        ad->setAdView(std::dynamic_pointer_cast<MRGenericAdView>(delegate_.lock()));
    // A new ad loads into the hidden buffer; taps still belong to the ad on screen until the
    // new one has loaded and faded in (an unreadable reply never does).
    if (&buffer == showingWebView_.get())
        showingAd_ = ad;
}

void MRHTMLAdView::webViewDidFail(MRWebView&) {
    if (auto delegate = delegate_.lock())
        delegate->htmlAdViewRequestFailed(*this);
}

void MRHTMLAdView::webViewDidLoad(MRWebView& buffer) {
    if (&buffer != hiddenWebView_.get())
        return;
    auto delegate = delegate_.lock();
    if (delegate)
        delegate->htmlAdViewTransitionAnimationWillBegin(*this);
    crossfadeWithAd(buffer.ad());
    if (delegate)
        delegate->htmlAdViewRequestSucceeded(*this);
}

void MRHTMLAdView::webViewWasTapped(MRWebView&, const platform::URLRequest& request) {
    if (auto delegate = delegate_.lock())
        delegate->htmlAdViewWasTapped(*this, request);
}

void MRHTMLAdView::webViewWantsToOpenURL(MRWebView&, const platform::URL& url) {
    if (auto delegate = delegate_.lock())
        delegate->htmlAdViewWantsToOpenURL(*this, url);
}

bool MRHTMLAdView::accelerometerEnabled() {
    auto delegate = delegate_.lock();
    return delegate && delegate->htmlAdViewAccelerometerEnabled();
}

void MRHTMLAdView::crossfadeWithAd(const std::shared_ptr<MRHTMLAd>& ad) {
    auto fade = platform::LayerAnimation::transition(std::string(kFadeTransition), {},
                                                     ad ? ad->transitionDuration() : 0.0);
    fade->timing = platform::AnimationCurve::EaseInOut;
    std::weak_ptr<MRHTMLAdView> weak = std::static_pointer_cast<MRHTMLAdView>(sharedView());
    fade->didStop = [weak](platform::LayerAnimation&, bool finished) {
        if (auto self = weak.lock())
            self->animationDidStop(finished);
    };
    layer().addAnimation(fade, std::string(kCrossfadeKey));
    showingWebView_->setHidden(true);
    hiddenWebView_->setHidden(false);
    std::swap(showingWebView_, hiddenWebView_);
    showingAd_ = showingWebView_->ad();
}

void MRHTMLAdView::animationDidStop(bool) {
    showingAd_ = showingWebView_->ad();
    if (auto delegate = delegate_.lock())
        delegate->htmlAdViewTransitionAnimationDidEnd(*this);
}

} // namespace meridian
