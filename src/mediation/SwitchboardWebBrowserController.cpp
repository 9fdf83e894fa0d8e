#include "mediation/SwitchboardWebBrowserController.h"

#include <array>

#include "platform/foundation/Log.h"
#include "platform/foundation/Strings.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/ui/View.h"

namespace mediation {

namespace {

// Links with this scheme leave for the mail application.
constexpr const char* kMailtoScheme = "mailto";

// The transition numbers that do not present with the default vertical cover.
struct TransitionRow {
    int transition;
    platform::ModalTransitionStyle style;
};
constexpr std::array<TransitionRow, 3> kTransitionStyles = {{
    {1, platform::ModalTransitionStyle::FlipHorizontal},
    {2, platform::ModalTransitionStyle::FlipHorizontal},
    {7, platform::ModalTransitionStyle::CrossDissolve},
}};

// The arrow of the back button, in pixels.
constexpr double kArrowCorners[3][2] = {{19, 2}, {4, 11}, {19, 20}};

// The layout's sizes and titles.
constexpr double kSmallSpace = 10;
constexpr const char* kBackTitle = "Back";
constexpr const char* kForwardTitle = "Forward";
constexpr const char* kLinkOutTitle = "Open";

template <typename F> platform::BarButtonItem::Action action(SwitchboardWebBrowserController& c, F method) {
    std::weak_ptr<SwitchboardWebBrowserController> weak =
        std::static_pointer_cast<SwitchboardWebBrowserController>(c.shared_from_this());
    return [weak, method](platform::BarButtonItem&) {
        if (auto controller = weak.lock())
            ((*controller).*method)();
    };
}

std::vector<std::shared_ptr<platform::BarButtonItem>>
withoutIndex(const std::vector<std::shared_ptr<platform::BarButtonItem>>& items, std::size_t index) {
    std::vector<std::shared_ptr<platform::BarButtonItem>> out;
    for (std::size_t i = 0; i < items.size(); ++i)
        if (i != index)
            out.push_back(items[i]);
    return out;
}

double edgeSide(const double a[2], const double b[2], double x, double y) {
    return (b[0] - a[0]) * (y - a[1]) - (b[1] - a[1]) * (x - a[0]);
}

} // namespace

// ---- SwitchboardBackButton ----

std::shared_ptr<platform::Image> SwitchboardBackButton::arrowImage() {
    std::vector<std::uint8_t> pixels(kImageSize * kImageSize * 4, 0);
    for (int y = 0; y < kImageSize; ++y)
        for (int x = 0; x < kImageSize; ++x) {
            double px = x + 0.5, py = y + 0.5;
            double d0 = edgeSide(kArrowCorners[0], kArrowCorners[1], px, py);
            double d1 = edgeSide(kArrowCorners[1], kArrowCorners[2], px, py);
            double d2 = edgeSide(kArrowCorners[2], kArrowCorners[0], px, py);
            bool inside = (d0 >= 0 && d1 >= 0 && d2 >= 0) || (d0 <= 0 && d1 <= 0 && d2 <= 0);
            if (!inside)
                continue;
            auto* p = &pixels[(y * kImageSize + x) * 4];
            p[0] = p[1] = p[2] = p[3] = 255; // opaque white, premultiplied
        }
    return std::make_shared<platform::Image>(kImageSize, kImageSize, std::move(pixels),
                                             "SwitchboardBackButton");
}

std::shared_ptr<platform::BarButtonItem>
SwitchboardBackButton::create(platform::BarButtonItem::Action action) {
    auto item = platform::BarButtonItem::withImage(arrowImage(), platform::BarButtonItemStyle::Plain,
                                                   std::move(action));
    item->setTitle(kBackTitle);
    return item;
}

// ---- The layout ----

std::shared_ptr<platform::View> switchboardWebBrowserLayout(SwitchboardWebBrowserController& controller) {
    using platform::BarButtonItem;
    using platform::BarButtonSystemItem;
    using C = SwitchboardWebBrowserController;
    platform::Rect frame = platform::Screen::main().applicationFrame();
    frame.origin = {0, 0};
    auto root = std::make_shared<platform::View>(frame);
    root->setAutoresizingMask(platform::Autoresizing::FlexibleWidth | platform::Autoresizing::FlexibleHeight);

    auto webView = std::make_shared<platform::WebView>(
        platform::Rect(0, 0, frame.size.width, frame.size.height - platform::kToolbarHeight));
    webView->setTag(C::kWebViewTag);
    webView->setScalesPageToFit(true);
    webView->setAutoresizingMask(platform::Autoresizing::FlexibleWidth |
                                 platform::Autoresizing::FlexibleHeight);
    root->addSubview(webView);

    auto toolBar = std::make_shared<platform::Toolbar>(platform::Rect(
        0, frame.size.height - platform::kToolbarHeight, frame.size.width, platform::kToolbarHeight));
    toolBar->setBarStyle(platform::BarStyle::Black);
    toolBar->setAutoresizingMask(platform::Autoresizing::FlexibleWidth |
                                 platform::Autoresizing::FlexibleTopMargin);

    auto back = SwitchboardBackButton::create(action(controller, &C::back));
    auto forward = BarButtonItem::withTitle(kForwardTitle, platform::BarButtonItemStyle::Plain,
                                            action(controller, &C::forward));
    auto reload = BarButtonItem::withSystemItem(BarButtonSystemItem::Refresh, action(controller, &C::reload));
    auto stop = BarButtonItem::withSystemItem(BarButtonSystemItem::Stop, action(controller, &C::stop));
    auto linkOut = BarButtonItem::withTitle(kLinkOutTitle, platform::BarButtonItemStyle::Plain,
                                            action(controller, &C::linkOut));
    auto close = BarButtonItem::withSystemItem(BarButtonSystemItem::Done, action(controller, &C::close));
    toolBar->setItems({back, BarButtonItem::fixedSpace(kSmallSpace), forward, BarButtonItem::flexibleSpace(),
                       reload, stop, BarButtonItem::flexibleSpace(), linkOut,
                       BarButtonItem::fixedSpace(kSmallSpace), close});
    root->addSubview(toolBar);

    controller.setWebView(webView);
    controller.setToolBar(toolBar);
    controller.setBackButton(back);
    controller.setForwardButton(forward);
    controller.setReloadButton(reload);
    controller.setStopButton(stop);
    controller.setLinkOutButton(linkOut);
    controller.setCloseButton(close);
    return root;
}

// ---- SwitchboardWebBrowserController ----

std::shared_ptr<SwitchboardWebBrowserController> SwitchboardWebBrowserController::create() {
    auto controller = std::make_shared<SwitchboardWebBrowserController>();
    controller->view(); // loads the layout now, as init does
    return controller;
}

SwitchboardWebBrowserController::~SwitchboardWebBrowserController() {
    if (webView_)
        webView_->setDelegate({});
}

std::shared_ptr<SwitchboardWebBrowserController> SwitchboardWebBrowserController::self() {
    return std::static_pointer_cast<SwitchboardWebBrowserController>(shared_from_this());
}

std::weak_ptr<platform::WebViewDelegate> SwitchboardWebBrowserController::webDelegate() {
    auto s = self();
    return std::shared_ptr<platform::WebViewDelegate>(s, static_cast<platform::WebViewDelegate*>(s.get()));
}

void SwitchboardWebBrowserController::setWebView(std::shared_ptr<platform::WebView> v) {
    if (webView_ && webView_ != v)
        webView_->setDelegate({});
    webView_ = std::move(v);
    if (webView_)
        webView_->setDelegate(webDelegate());
}

void SwitchboardWebBrowserController::loadView() {
    setView(switchboardWebBrowserLayout(*this));
}

void SwitchboardWebBrowserController::viewDidLoad() {
    ViewController::viewDidLoad();
    if (!toolBar_)
        return;
    const auto& items = toolBar_->items();
    loadingButtons_ = withoutIndex(items, kReloadItemIndex);
    loadedButtons_ = withoutIndex(items, kStopItemIndex);
}

platform::ModalTransitionStyle SwitchboardWebBrowserController::transitionStyleFor(int transition) {
    for (const auto& row : kTransitionStyles)
        if (row.transition == transition)
            return row.style;
    return platform::ModalTransitionStyle::CoverVertical;
}

void SwitchboardWebBrowserController::presentWithController(
    const std::shared_ptr<platform::ViewController>& presenter, int transition) {
    viewControllerForPresenting_ = presenter;
    setModalTransitionStyle(transitionStyleFor(transition));
    if (presenter)
        presenter->presentModalViewController(self(), true);
}

void SwitchboardWebBrowserController::loadURL(const platform::URL& url) {
    // The landing pages come from ad servers: the browser shows network pages, never a local file.
    if (platform::toLower(url.scheme()) == "file") {
        platform::logLine("Switchboard browser: refused the local file " + url.absoluteString());
        return;
    }
    if (webView_)
        webView_->loadRequest(platform::URLRequest(url));
}

void SwitchboardWebBrowserController::viewWillAppear(bool animated) {
    ViewController::viewWillAppear(animated);
    if (webView_ && webView_->request()) {
        // Appearing again after a page: start from a fresh web view in the old one's place.
        auto fresh = std::make_shared<platform::WebView>(webView_->frame());
        fresh->setTag(webView_->tag());
        fresh->setAutoresizingMask(webView_->autoresizingMask());
        fresh->setScalesPageToFit(true);
        auto old = webView_;
        old->stopLoading();
        if (auto parent = old->superview())
            parent->insertSubviewAbove(fresh, old.get());
        old->removeFromSuperview();
        setWebView(fresh);
    }
    if (toolBar_)
        toolBar_->setItems(loadedButtons_);
}

void SwitchboardWebBrowserController::viewDidDisappear(bool animated) {
    ViewController::viewDidDisappear(animated);
    if (auto d = delegate())
        d->webBrowserClosed(*this);
}

bool SwitchboardWebBrowserController::shouldAutorotateToInterfaceOrientation(
    platform::InterfaceOrientation orientation) const {
    if (auto presenter = viewControllerForPresenting())
        return presenter->shouldAutorotateToInterfaceOrientation(orientation);
    return ViewController::shouldAutorotateToInterfaceOrientation(orientation);
}

bool SwitchboardWebBrowserController::webViewShouldStartLoadWithRequestNavigationType(
    platform::WebView&, const platform::URLRequest& request, platform::WebViewNavigationType) {
    if (request.url().scheme() == kMailtoScheme)
        platform::Application::shared().openURL(request.url().absoluteString());
    return true;
}

void SwitchboardWebBrowserController::webViewDidStartLoad(platform::WebView& webView) {
    if (!isOwnWebView(webView))
        return;
    platform::Application::shared().setNetworkActivityIndicatorVisible(true);
    if (toolBar_)
        toolBar_->setItems(loadingButtons_);
    for (auto* item : {&forwardButton_, &backButton_, &reloadButton_})
        if (*item)
            (*item)->setEnabled(false);
    if (stopButton_)
        stopButton_->setEnabled(true);
}

void SwitchboardWebBrowserController::showLoadedState() {
    platform::Application::shared().setNetworkActivityIndicatorVisible(false);
    if (toolBar_)
        toolBar_->setItems(loadedButtons_);
    if (forwardButton_)
        forwardButton_->setEnabled(webView_->canGoForward());
    if (backButton_)
        backButton_->setEnabled(webView_->canGoBack());
    if (reloadButton_)
        reloadButton_->setEnabled(true);
    if (stopButton_)
        stopButton_->setEnabled(false);
    if (linkOutButton_)
        linkOutButton_->setEnabled(webView_->request().has_value());
}

void SwitchboardWebBrowserController::webViewDidFinishLoad(platform::WebView& webView) {
    if (isOwnWebView(webView))
        showLoadedState();
}

void SwitchboardWebBrowserController::webViewDidFailLoadWithError(platform::WebView& webView,
                                                                  const platform::Error&) {
    if (isOwnWebView(webView))
        showLoadedState();
}

void SwitchboardWebBrowserController::back() {
    if (webView_)
        webView_->goBack();
}

void SwitchboardWebBrowserController::forward() {
    if (webView_)
        webView_->goForward();
}

void SwitchboardWebBrowserController::reload() {
    if (webView_)
        webView_->reload();
}

void SwitchboardWebBrowserController::stop() {
    if (webView_)
        webView_->stopLoading();
}

void SwitchboardWebBrowserController::linkOut() {
    platform::Application::shared().setNetworkActivityIndicatorVisible(false);
    if (webView_)
        if (auto request = webView_->request())
            platform::Application::shared().openURL(request->url().absoluteString());
}

void SwitchboardWebBrowserController::close() {
    platform::Application::shared().setNetworkActivityIndicatorVisible(false);
    if (auto presenter = viewControllerForPresenting())
        presenter->dismissModalViewControllerAnimated(true);
}

} // namespace mediation
