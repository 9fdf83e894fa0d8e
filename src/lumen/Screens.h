#pragma once
// The Lumen client's full-screen screens. LMNViewController presents itself over the
// application (telling the delegates willPresentScreen, hiding the status bar, posting
// LMNViewControllerWillPresentFullScreen) and, on relinquishScreen, dismisses itself and tells
// them willDismissScreen and, once it has disappeared, didDismissScreen; only the first screen
// of a stack tells the delegates. LMNBrowserController is the in-app browser;
// LMNWebAppViewController runs an ad's full-screen page and calls its "onshow"/"onhide".
//
// Ownership: a presented screen keeps itself alive until relinquishScreen. Main thread only;
// the "settings" messages of its own pages arrive one run-loop pass after the page sent them.
#include <memory>
#include <optional>
#include <string>

#include "lumen/Bridge.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Button.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/ViewController.h"
#include "platform/web/WebView.h"

namespace lumen {

inline constexpr const char* LMNViewControllerWillPresentFullScreen =
    "LMNViewControllerWillPresentFullScreen";
inline constexpr const char* LMNViewControllerDidRelinquishFullScreen =
    "LMNViewControllerDidRelinquishFullScreen";
inline constexpr const char* kLMNSupportedOrientationsKey = "supportedorientations";

enum LMNOrientation {
    kOrientationNone = 0,
    kOrientationAny = 1,
    kOrientationPortrait = 2,
    kOrientationLandscape = 3
};

class LMNViewController : public platform::ViewController {
public:
    LMNViewController();
    ~LMNViewController() override;
    static int orientationFromString(const std::optional<std::string>& text);

    std::shared_ptr<LMNDelegateManager> delegateManager();
    void setDelegateManager(std::shared_ptr<LMNDelegateManager> manager) {
        delegateManager_ = std::move(manager);
    }
    int supportedOrientations() const { return supportedOrientations_; }
    void setSupportedOrientations(int code) {
        if (code != kOrientationNone)
            supportedOrientations_ = code;
    }
    // The root view: fills and follows its parent, opaque black, clipped.
    void viewDidLoad() override;
    void presentFromViewController(const std::shared_ptr<platform::ViewController>& parent);
    // Presented by the key window's root controller when there is one; otherwise by the
    // parent, and then the screen sends itself viewDidAppear 0.6 s later in case the
    // appearance is never reported.
    void presentSelfFrom(const std::shared_ptr<platform::ViewController>& parent);
    void relinquishScreen();
    bool isFirstLMNViewController() const;
    // Whether presenting the screen hides the status bar (and dismissing it shows it again):
    // on systems from 3.2 on only for a full-screen presentation style.
    bool hidesStatusBar() const;
    static constexpr double kAppearanceFallbackSeconds = 0.6;
    bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation orientation) const override;
    void viewDidAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    // Observes "settings" from the screen's own pages.
    void observeSettingsFrom(const std::shared_ptr<platform::WebView>& webView);

protected:
    std::shared_ptr<LMNViewController> selfRetain_;
    std::shared_ptr<LMNDelegateManager> delegateManager_;
    int supportedOrientations_ = kOrientationAny;
    bool statusBarWasHidden_ = false;
    bool appClosing_ = false;
    bool interactingWithParent_ = false;
    bool presenting_ = false;
    platform::NotificationCenter::ObserverToken settingsToken_;
};

class LMNBrowserController : public LMNViewController {
public:
    static constexpr double kToolbarHeight = 44;
    static constexpr double kLandscapePhoneToolbarHeight = 30;
    static constexpr double kButtonWidth = 27;
    static constexpr double kSpinnerSize = 20;

    void load(const platform::URL& url, const std::optional<platform::URL>& referringURL = std::nullopt);
    void viewWillAppear(bool animated) override;
    void didRotateFromInterfaceOrientation(platform::InterfaceOrientation from) override;
    void back();
    void forward();
    void reload();
    void stop();
    void openInSafari();
    // Enables back and forward as the history allows; the spinner stands in for the reload
    // item while a page loads, and the system-browser item is then disabled.
    void refreshToolbar();
    const std::shared_ptr<platform::WebView>& webView() const { return webView_; }
    const std::shared_ptr<platform::Toolbar>& toolbar() const { return toolbar_; }

private:
    void createToolbarButtons();
    std::shared_ptr<platform::BarButtonItem> buttonWithImage(std::shared_ptr<platform::Image> image,
                                                             const std::string& name, double width,
                                                             bool enabled,
                                                             void (LMNBrowserController::*action)());

    std::optional<platform::URL> urlToLoad_, referringURLToLoad_;
    std::shared_ptr<LMNWebViewDelegate> webViewDelegate_;
    std::shared_ptr<platform::WebView> webView_;
    std::shared_ptr<platform::Toolbar> toolbar_;
    std::shared_ptr<platform::BarButtonItem> flexibleSpaceButton_, backButton_, forwardButton_, reloadButton_,
        safariButton_, doneButton_, spinnerContainingButton_;
    std::shared_ptr<platform::ActivityIndicatorView> spinner_;
};

class LMNWebAppViewController : public LMNViewController {
public:
    // Makes the white loading spinner, shown over the web view until its first page finishes.
    LMNWebAppViewController();
    void load(const platform::URL& url);
    void loadHTML(const std::string& html, const std::optional<platform::URL>& baseURL);
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    void didRotateFromInterfaceOrientation(platform::InterfaceOrientation from) override;
    const std::shared_ptr<platform::WebView>& webView() const { return webView_; }
    const std::shared_ptr<platform::Button>& closeButton() const { return closeButton_; }
    // Dropped once the first page has finished loading.
    const std::shared_ptr<platform::ActivityIndicatorView>& loadingSpinner() const { return loadingSpinner_; }
    void setPendingOnShow(bool pending);
    void postOnShowEvent();
    void pageDidFinish();

private:
    std::optional<platform::URL> urlToLoad_, htmlBaseURLToLoad_;
    std::optional<std::string> htmlToLoad_;
    std::shared_ptr<LMNWebViewDelegate> webViewDelegate_;
    std::shared_ptr<platform::WebView> webView_;
    std::shared_ptr<platform::Button> closeButton_;
    bool loaded_ = false;
    std::shared_ptr<platform::ActivityIndicatorView> loadingSpinner_;
    bool pendingOnShow_ = false;
};

} // namespace lumen
