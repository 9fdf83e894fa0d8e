#include "tangent/TGBrowserView.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Strings.h"
#include "platform/ui/Application.h"
#include "platform/ui/Window.h"
#include "tangent/TGCategories.h"
#include "tangent/TGDelegateAdaptor.h"
#include "tangent/TGLog.h"
#include "tangent/TGViewCategories.h"

namespace tangent {

namespace {
constexpr std::string_view kAboutBlank = "about:blank";
}

std::shared_ptr<TGBrowserView> TGBrowserView::create(const std::shared_ptr<TGDelegateAdaptor>& languageDelegate,
                                                     std::weak_ptr<TGBrowserController> browserController,
                                                     const platform::Rect& frame, bool isFullScreen) {
    auto view = std::shared_ptr<TGBrowserView>(new TGBrowserView(frame, std::move(browserController)));
    view->setOpaque(false);
    view->setBackgroundColor(platform::Color::clearColor());
    const auto bounds = view->bounds();
    const double barHeight = isFullScreen ? 0 : kNavBarHeight;
    view->navBar_ = std::make_shared<platform::NavigationBar>(platform::Rect{0, 0, bounds.size.width, barHeight});
    std::weak_ptr<TGBrowserView> weak = view;
    view->backButton_ = platform::BarButtonItem::withTitle(
        languageDelegate ? languageDelegate->getBackButtonPrompt(false).value_or(std::string(kBackTitle))
                         : std::string(kBackTitle),
        platform::BarButtonItemStyle::Plain, [weak](platform::BarButtonItem&) {
            if (auto self = weak.lock())
                self->backButtonPressed();
        });
    view->safariButton_ = platform::BarButtonItem::withTitle(
        languageDelegate ? languageDelegate->getSafariButtonPrompt().value_or(std::string(kSafariTitle))
                         : std::string(kSafariTitle),
        platform::BarButtonItemStyle::Plain, [weak](platform::BarButtonItem&) {
            if (auto self = weak.lock())
                self->showInSafari();
        });
    view->safariButton_->setEnabled(false);
    auto item = std::make_shared<platform::NavigationItem>();
    item->setLeftBarButtonItem(view->backButton_);
    item->setRightBarButtonItem(view->safariButton_);
    view->navBar_->setItems({item});

    auto web = std::make_shared<platform::WebView>(
        platform::Rect{0, barHeight, bounds.size.width, bounds.size.height - barHeight});
    compatibleDetectPhoneNumbers(*web, true);
    view->activityIndicator_ = std::make_shared<platform::ActivityIndicatorView>(platform::ActivityIndicatorViewStyle::White);
    view->activityIndicator_->setHidesWhenStopped(true);
    view->activityIndicator_->setCenter(view->navBar_->bounds().center());
    view->navBar_->addSubview(view->activityIndicator_);
    if (!isFullScreen)
        view->addSubview(view->navBar_);
    view->addSubview(web);
    view->setWebContent(std::move(web));
    return view;
}

TGBrowserView::~TGBrowserView() {
    TGLog::log("- dealloc: TGBrowserView");
    platform::NotificationCenter::defaultCenter().removeObserver(this);
}

void TGBrowserView::setSafariUrl(std::optional<platform::URL> url) {
    safariUrl_ = std::move(url);
    if (safariButton_)
        safariButton_->setEnabled(safariUrl_.has_value());
}

void TGBrowserView::setWebContent(std::shared_ptr<platform::WebView> webView) {
    if (webContent_ && webContent_ != webView)
        webContent_->stopLoading();
    webContent_ = std::move(webView);
}

void TGBrowserView::layoutSubviews() {
    if (auto parent = superview())
        setFrame(parent->bounds());
    const auto bounds = this->bounds();
    const double barHeight = navBar_ && navBar_->superview() ? navBar_->frame().size.height : 0;
    if (navBar_)
        updateBoundsToFrame(*navBar_, platform::Rect{0, 0, bounds.size.width, barHeight});
    if (activityIndicator_ && navBar_)
        activityIndicator_->setCenter(navBar_->bounds().center());
    if (webContent_) {
        updateBoundsToFrame(*webContent_,
                            platform::Rect{0, barHeight, bounds.size.width, bounds.size.height - barHeight});
        webContent_->stringByEvaluatingJavaScriptFromString(
            platform::formatString("rotate(%d, %d);", static_cast<int>(webContent_->frame().size.width),
                                   static_cast<int>(webContent_->frame().size.height)));
    }
}

void TGBrowserView::showBrowser() {
    setHidden(false);
    setNeedsLayout();
    layoutIfNeeded();
    watchWindow(true);
}

void TGBrowserView::watchWindow(bool forHiding) {
    auto& center = platform::NotificationCenter::defaultCenter();
    center.removeObserver(this);
    // The browser may be put into its window after it is shown: the notice is checked against
    // the window it is in when the notice comes.
    auto self = std::static_pointer_cast<TGBrowserView>(sharedView());
    auto fromOwnWindow = [](TGBrowserView& browser, const platform::Notification& notice) {
        auto window = browser.window();
        return window && notice.sender == window.get();
    };
    if (forHiding) {
        center.observe<TGBrowserView>(self, platform::kWindowDidBecomeHiddenNotification,
                                      [fromOwnWindow](TGBrowserView& browser, const platform::Notification& notice) {
                                          if (fromOwnWindow(browser, notice))
                                              browser.watchWindow(false);
                                      });
    } else {
        center.observe<TGBrowserView>(self, platform::kWindowDidBecomeVisibleNotification,
                                      [fromOwnWindow](TGBrowserView& browser, const platform::Notification& notice) {
                                          if (fromOwnWindow(browser, notice))
                                              browser.windowDidBecomeVisible();
                                      });
    }
}

void TGBrowserView::windowDidBecomeVisible() {
    watchWindow(true);
    if (auto window = this->window())
        window->makeKeyWindow();
    if (auto parent = superview())
        setFrame(parent->bounds());
    setNeedsLayout();
    layoutIfNeeded();
}

void TGBrowserView::hideBrowser() {
    platform::NotificationCenter::defaultCenter().removeObserver(this);
    if (webContent_) {
        webContent_->setDelegate({});
        if (auto blank = platform::URL::parse(kAboutBlank))
            webContent_->loadRequest(platform::URLRequest(*blank));
    }
}

void TGBrowserView::showInSafari() {
    if (safariUrl_)
        platform::Application::shared().openURL(safariUrl_->absoluteString());
}

void TGBrowserView::backButtonPressed() {
    if (auto controller = browserController_.lock())
        controller->browserDismissalRequested();
}

} // namespace tangent
