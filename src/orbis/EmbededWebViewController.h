#pragma once
// EmbededWebViewController: the in-application landing page of an Orbis click. It shows the
// click's target in a web view under a navigation bar whose "Done" button closes it, and
// tells its caller (AdScreenDismissDelegate, the banner manager) when it has gone.
//
// Ownership: the manager holds it while it is up (and the presentation holds its navigation
// controller); the caller is held weakly and may be cleared (detaching the banner), after
// which nobody is told. Callbacks (web view, button) arrive on the main run loop. After the
// user closes it (backTapped) web view callbacks leave its controls alone.
#include <memory>
#include <string>

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"
#include "platform/web/WebView.h"

namespace orbis {

// Told when the landing page has gone.
class AdScreenDismissDelegate {
public:
    virtual ~AdScreenDismissDelegate() = default;
    virtual void adDisplayScreenDismissed() = 0;
};

inline constexpr std::string_view kOrbisDefaultTitle = "Ad by Orbis";

class EmbededWebViewController : public platform::ViewController, public platform::WebViewDelegate {
public:
    static constexpr std::string_view kDoneTitle = "Done";
    static constexpr std::string_view kLoadFailedTitle = "Load Failed";
    static constexpr std::string_view kLoadFailedMessage = "This web page failed to load properly.";
    static constexpr std::string_view kOKTitle = "OK";

    // initWithUrl:withDelegate:webPageTile:
    EmbededWebViewController(std::string url, std::weak_ptr<AdScreenDismissDelegate> delegate,
                             std::string title);
    ~EmbededWebViewController() override;

    void viewDidLoad() override;
    bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation) const override {
        return true;
    }
    void viewDidDisappear(bool animated) override;

    void backButtonClicked();
    void dismissModalViewController();
    void setUrl(const std::string& url);

    // WebViewDelegate: every page of the landing site loads inside the page.
    bool webViewShouldStartLoadWithRequestNavigationType(platform::WebView&, const platform::URLRequest&,
                                                         platform::WebViewNavigationType) override {
        return true;
    }
    void webViewDidStartLoad(platform::WebView&) override;
    void webViewDidFinishLoad(platform::WebView&) override;
    void webViewDidFailLoadWithError(platform::WebView&, const platform::Error&) override;

    const std::shared_ptr<platform::View>& activityView() const { return activityView_; }
    const std::shared_ptr<platform::WebView>& webView() const { return webView_; }
    const std::string& requestUrl() const { return requestUrl_; }
    const std::shared_ptr<platform::BarButtonItem>& backButton() const { return backButton_; }
    bool backTapped() const { return backTapped_; }
    std::shared_ptr<AdScreenDismissDelegate> callerDelegate() const { return callerDelegate_.lock(); }
    void setCallerDelegate(std::weak_ptr<AdScreenDismissDelegate> delegate) {
        callerDelegate_ = std::move(delegate);
    }
    const std::string& titleText() const { return titleText_; }

private:
    void loadFinished();

    // This platform has no spinner view; a plain view stands where it is shown.
    std::shared_ptr<platform::View> activityView_;
    std::shared_ptr<platform::WebView> webView_;
    std::string requestUrl_;
    std::shared_ptr<platform::BarButtonItem> backButton_;
    bool backTapped_ = false;
    std::weak_ptr<AdScreenDismissDelegate> callerDelegate_;
    std::string titleText_;
};

} // namespace orbis
