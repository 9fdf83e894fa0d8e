#include "orbis/EmbededWebViewController.h"

#include "platform/foundation/Log.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"

namespace orbis {

namespace {

constexpr double kPageRed = 0.14, kPageGreen = 0.18, kPageBlue = 0.25;
constexpr double kSpinnerSide = 20.0;

} // namespace

EmbededWebViewController::EmbededWebViewController(std::string url,
                                                   std::weak_ptr<AdScreenDismissDelegate> delegate,
                                                   std::string title)
    : requestUrl_(std::move(url)), callerDelegate_(std::move(delegate)), titleText_(std::move(title)) {
    navigationItem().setTitle(titleText_);
}

EmbededWebViewController::~EmbededWebViewController() {
    if (webView_) {
        webView_->setDelegate({});
        webView_->stopLoading();
    }
}

void EmbededWebViewController::viewDidLoad() {
    platform::callGuarded("Orbis: landing page", [&] {
        std::weak_ptr<EmbededWebViewController> weak =
            std::static_pointer_cast<EmbededWebViewController>(sharedController());
        backButton_ = platform::BarButtonItem::withTitle(
            std::string(kDoneTitle), platform::BarButtonItemStyle::Done, [weak](platform::BarButtonItem&) {
                if (auto self = weak.lock())
                    self->backButtonClicked();
            });
        navigationItem().setLeftBarButtonItem(backButton_);

        auto root = view();
        root->setBackgroundColor(platform::Color::blackColor());
        auto bounds = root->bounds();
        webView_ =
            std::make_shared<platform::WebView>(platform::Rect(0, 0, bounds.size.width, bounds.size.height));
        root->addSubview(webView_);
        webView_->setScalesPageToFit(true);
        webView_->setBackgroundColor(platform::Color{kPageRed, kPageGreen, kPageBlue, 1.0});
        webView_->setDelegate(std::static_pointer_cast<EmbededWebViewController>(sharedController()));
        webView_->setAutoresizingMask(platform::Autoresizing::FlexibleWidth |
                                      platform::Autoresizing::FlexibleHeight);

        auto screen = platform::Screen::main().bounds();
        activityView_ = std::make_shared<platform::View>(platform::Rect(0, 0, kSpinnerSide, kSpinnerSide));
        activityView_->setCenter({screen.size.width / 2, screen.size.height / 2});
        root->addSubview(activityView_);

        webView_->setUserInteractionEnabled(true);
        if (auto request = platform::URLRequest::withURLString(requestUrl_))
            webView_->loadRequest(*request);
        else
            webViewDidFailLoadWithError(*webView_, platform::Error{"Orbis", 0, "bad landing page URL", {}});
    });
}

void EmbededWebViewController::setUrl(const std::string& url) {
    if (!webView_)
        return;
    if (auto request = platform::URLRequest::withURLString(url))
        webView_->loadRequest(*request);
}

void EmbededWebViewController::webViewDidStartLoad(platform::WebView&) {
    if (!backTapped_)
        setTitle(titleText_);
}

void EmbededWebViewController::loadFinished() {
    if (activityView_)
        activityView_->setHidden(true);
    if (backButton_) {
        backButton_->setTitle(std::string(kDoneTitle));
        backButton_->setEnabled(true);
    }
    if (webView_)
        webView_->setUserInteractionEnabled(true);
}

void EmbededWebViewController::webViewDidFinishLoad(platform::WebView&) {
    if (!backTapped_)
        loadFinished();
}

void EmbededWebViewController::webViewDidFailLoadWithError(platform::WebView&, const platform::Error&) {
    if (backTapped_)
        return;
    loadFinished();
    setTitle(std::string(kOrbisDefaultTitle));
    platform::AlertView::create(std::string(kLoadFailedTitle), std::string(kLoadFailedMessage), {},
                                std::string(kOKTitle))
        ->show();
}

void EmbededWebViewController::backButtonClicked() {
    if (backButton_)
        backButton_->setEnabled(false);
    backTapped_ = true;
    if (webView_)
        webView_->stopLoading();
    dismissModalViewController();
}

void EmbededWebViewController::dismissModalViewController() {
    platform::callGuarded("Orbis: close landing page", [&] {
        if (auto nav = navigationController())
            nav->dismissModalViewControllerAnimated(true);
        else
            dismissModalViewControllerAnimated(true);
    });
}

void EmbededWebViewController::viewDidDisappear(bool animated) {
    ViewController::viewDidDisappear(animated);
    platform::callGuarded("Orbis: landing page gone", [&] {
        if (auto caller = callerDelegate_.lock())
            caller->adDisplayScreenDismissed();
    });
}

} // namespace orbis
