#pragma once
// TGBrowserView: the Tangent client's in-app browser. A navigation bar (48 points; none in
// full-screen mode) with a "Back" button, which asks the browser controller to dismiss the
// browser, and a "Safari" button, which opens the current page outside the application and is
// enabled only while there is a page to open; below it the web view that shows the page; and
// an activity indicator at the bar's centre while a page loads.
//
// Ownership: the action controller owns the browser view; the view hierarchy holds the web
// view. The browser controller and the language delegate (the adaptor, for the button texts)
// are held weakly. hideBrowser() clears the web view's delegate and loads "about:blank", after
// which no load of the old page reaches the controller. Between showBrowser() and hideBrowser()
// the browser follows its window: once the window has been hidden and is shown again, the
// window is made key and the browser takes its superview's bounds. Main thread only.
#include <memory>
#include <optional>

#include "platform/foundation/URL.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/View.h"
#include "platform/web/WebView.h"

namespace tangent {

class TGDelegateAdaptor;

// What the in-app browser asks of its controller, which is also its web view's delegate.
class TGBrowserController : public platform::WebViewDelegate {
public:
    virtual void browserDismissalRequested() = 0;
};

class TGBrowserView final : public platform::View {
public:
    static constexpr double kNavBarHeight = 48;
    static constexpr std::string_view kBackTitle = "Back";
    static constexpr std::string_view kSafariTitle = "Safari";

    // initWithLanguageDelegate:browserController:frame:isFullScreen:.
    static std::shared_ptr<TGBrowserView> create(const std::shared_ptr<TGDelegateAdaptor>& languageDelegate,
                                                 std::weak_ptr<TGBrowserController> browserController,
                                                 const platform::Rect& frame, bool isFullScreen);
    ~TGBrowserView() override;

    const std::optional<platform::URL>& safariUrl() const { return safariUrl_; }
    // Enables the Safari button exactly when there is a URL.
    void setSafariUrl(std::optional<platform::URL> url);
    const std::shared_ptr<platform::NavigationBar>& navBar() const { return navBar_; }
    const std::shared_ptr<platform::WebView>& webContent() const { return webContent_; }
    // Stops the previous web view's loading and keeps the new one.
    void setWebContent(std::shared_ptr<platform::WebView> webView);
    const std::shared_ptr<platform::ActivityIndicatorView>& activityIndicator() const { return activityIndicator_; }
    const std::shared_ptr<platform::BarButtonItem>& backButton() const { return backButton_; }
    const std::shared_ptr<platform::BarButtonItem>& safariButton() const { return safariButton_; }

    void showBrowser();
    void hideBrowser();
    void showInSafari();
    void backButtonPressed();

    void layoutSubviews() override;
    void didMoveToSuperview() override { setNeedsLayout(); }

private:
    // Watches the browser's window for hiding (true) or for showing again (false).
    void watchWindow(bool forHiding);
    void windowDidBecomeVisible();

    TGBrowserView(const platform::Rect& frame, std::weak_ptr<TGBrowserController> controller)
        : platform::View(frame), browserController_(std::move(controller)) {}

    std::weak_ptr<TGBrowserController> browserController_;
    std::optional<platform::URL> safariUrl_;
    std::shared_ptr<platform::NavigationBar> navBar_;
    std::shared_ptr<platform::WebView> webContent_;
    std::shared_ptr<platform::ActivityIndicatorView> activityIndicator_;
    std::shared_ptr<platform::Label> label_;
    std::shared_ptr<platform::BarButtonItem> backButton_;
    std::shared_ptr<platform::BarButtonItem> safariButton_;
};

} // namespace tangent
