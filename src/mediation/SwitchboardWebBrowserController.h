#pragma once
// SwitchboardWebBrowserController: the modal in-app browser that opens an ad's landing page
// over the host's screen: a full-screen web view with a toolbar of back, forward, reload,
// stop, open-outside and close buttons. Its view comes from the "SwitchboardWebBrowser"
// layout (switchboardWebBrowserLayout). While a page loads the toolbar shows the stop button
// in place of reload; afterwards reload in place of stop.
//
// Use: make it with create(), set its delegate, presentWithController(presenter,
// transition), then loadURL(url). The close button (or any dismissal of the modal screen)
// ends it: when its view has disappeared the delegate hears webBrowserClosed once.
//
// Ownership: the presenting controller holds it while it is presented, its creator (the
// ad's adapter) until told of the close; the delegate and the presenter are held weakly.
// Callbacks (web view, buttons, appearance) arrive on the main thread; a web view that
// has been replaced no longer reaches the controller.
#include <memory>
#include <vector>

#include "platform/foundation/URL.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Image.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/ViewController.h"
#include "platform/web/WebView.h"

namespace mediation {

class SwitchboardWebBrowserController;

// Told when the browser is gone (main thread).
class SwitchboardWebBrowserControllerDelegate {
public:
    virtual ~SwitchboardWebBrowserControllerDelegate() = default;
    virtual void webBrowserClosed(SwitchboardWebBrowserController& browser) = 0;
};

// The toolbar's back button: an item that shows a drawn left-pointing arrow.
class SwitchboardBackButton {
public:
    static constexpr int kImageSize = 25;
    // The item, showing arrowImage(), pressing `action`.
    static std::shared_ptr<platform::BarButtonItem> create(platform::BarButtonItem::Action action);
    // awakeFromNib's drawing: a 25 by 25 pixel picture with a white filled triangle with the
    // corners (19, 2), (4, 11) and (19, 20) on a clear ground (premultiplied RGBA).
    static std::shared_ptr<platform::Image> arrowImage();
};

class SwitchboardWebBrowserController : public platform::ViewController, public platform::WebViewDelegate {
public:
    // The toolbar positions that viewDidLoad relies on.
    static constexpr std::size_t kReloadItemIndex = 4;
    static constexpr std::size_t kStopItemIndex = 5;
    // The web view's tag in the layout.
    static constexpr int kWebViewTag = 1;

    // init: the controller with its view loaded from the "SwitchboardWebBrowser" layout.
    static std::shared_ptr<SwitchboardWebBrowserController> create();

    std::shared_ptr<SwitchboardWebBrowserControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<SwitchboardWebBrowserControllerDelegate> d) { delegate_ = std::move(d); }
    std::shared_ptr<platform::ViewController> viewControllerForPresenting() const {
        return viewControllerForPresenting_.lock();
    }
    void setViewControllerForPresenting(std::weak_ptr<platform::ViewController> c) {
        viewControllerForPresenting_ = std::move(c);
    }

    // The modal transition for a transition number 0 to 9.
    static platform::ModalTransitionStyle transitionStyleFor(int transition);
    // Keeps `presenter`, picks the transition style and is presented by it, animated.
    void presentWithController(const std::shared_ptr<platform::ViewController>& presenter, int transition);
    // Loads a GET request for `url` in the web view.
    void loadURL(const platform::URL& url);

    // Toolbar actions.
    void close();
    void linkOut();
    void reload();
    void stop();
    void back();
    void forward();

    // Web view delegate.
    bool webViewShouldStartLoadWithRequestNavigationType(platform::WebView& webView,
                                                         const platform::URLRequest& request,
                                                         platform::WebViewNavigationType type) override;
    void webViewDidStartLoad(platform::WebView& webView) override;
    void webViewDidFinishLoad(platform::WebView& webView) override;
    void webViewDidFailLoadWithError(platform::WebView& webView, const platform::Error& error) override;

    // View controller.
    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation orientation) const override;

    const std::vector<std::shared_ptr<platform::BarButtonItem>>& loadingButtons() const {
        return loadingButtons_;
    }
    const std::vector<std::shared_ptr<platform::BarButtonItem>>& loadedButtons() const {
        return loadedButtons_;
    }
    const std::shared_ptr<platform::WebView>& webView() const { return webView_; }
    const std::shared_ptr<platform::Toolbar>& toolBar() const { return toolBar_; }
    const std::shared_ptr<platform::BarButtonItem>& backButton() const { return backButton_; }
    const std::shared_ptr<platform::BarButtonItem>& forwardButton() const { return forwardButton_; }
    const std::shared_ptr<platform::BarButtonItem>& reloadButton() const { return reloadButton_; }
    const std::shared_ptr<platform::BarButtonItem>& stopButton() const { return stopButton_; }
    const std::shared_ptr<platform::BarButtonItem>& linkOutButton() const { return linkOutButton_; }
    const std::shared_ptr<platform::BarButtonItem>& closeButton() const { return closeButton_; }

    // The outlets, set by the layout.
    void setWebView(std::shared_ptr<platform::WebView> v);
    void setToolBar(std::shared_ptr<platform::Toolbar> v) { toolBar_ = std::move(v); }
    void setBackButton(std::shared_ptr<platform::BarButtonItem> b) { backButton_ = std::move(b); }
    void setForwardButton(std::shared_ptr<platform::BarButtonItem> b) { forwardButton_ = std::move(b); }
    void setReloadButton(std::shared_ptr<platform::BarButtonItem> b) { reloadButton_ = std::move(b); }
    void setStopButton(std::shared_ptr<platform::BarButtonItem> b) { stopButton_ = std::move(b); }
    void setLinkOutButton(std::shared_ptr<platform::BarButtonItem> b) { linkOutButton_ = std::move(b); }
    void setCloseButton(std::shared_ptr<platform::BarButtonItem> b) { closeButton_ = std::move(b); }

    ~SwitchboardWebBrowserController() override;

private:
    std::shared_ptr<SwitchboardWebBrowserController> self();
    std::weak_ptr<platform::WebViewDelegate> webDelegate();
    bool isOwnWebView(const platform::WebView& webView) const { return &webView == webView_.get(); }
    void showLoadedState();

    std::weak_ptr<SwitchboardWebBrowserControllerDelegate> delegate_;
    std::weak_ptr<platform::ViewController> viewControllerForPresenting_;
    std::vector<std::shared_ptr<platform::BarButtonItem>> loadingButtons_;
    std::vector<std::shared_ptr<platform::BarButtonItem>> loadedButtons_;
    std::shared_ptr<platform::WebView> webView_;
    std::shared_ptr<platform::Toolbar> toolBar_;
    std::shared_ptr<platform::BarButtonItem> backButton_, forwardButton_, reloadButton_, stopButton_,
        linkOutButton_, closeButton_;
};

// The "SwitchboardWebBrowser" layout: builds `controller`'s view (a web view above a
// toolbar) and sets its outlets. The toolbar's items are, in order: back, a fixed space,
// forward, a flexible space, reload (index 4), stop (index 5), a flexible space, open
// outside, a fixed space, close; each button is wired to its action.
std::shared_ptr<platform::View> switchboardWebBrowserLayout(SwitchboardWebBrowserController& controller);

} // namespace mediation
