#pragma once
// The web message bridge of the Lumen client's pages. A page talks to the native side by
// navigating to message URLs ("lmsg://host/name?query" and the "lumen" forms launch,
// closecanvas, log); LMNNotification parses them; LMNWebViewDelegate (the delegate of every
// web view of the client) answers each navigation: messages become native actions through an
// explicit table, unknown names are posted on LMNNotificationCenter one run-loop pass later,
// "mailto" opens the mail composer, other non-web schemes go to the system, web navigations
// load. LMNOpener opens screens and other applications.
//
// Ownership: web view delegates are owned by the web views' owners and held weakly by the
// views; the opener holds the delegate manager strongly and the view controller weakly.
// Everything runs on the main thread; delayed postings of a destroyed delegate are dropped.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "lumen/DelegateManager.h"
#include "lumen/Statistics.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/URL.h"
#include "platform/ui/MailComposeViewController.h"
#include "platform/ui/ViewController.h"
#include "platform/web/WebView.h"

namespace lumen {

inline constexpr const char* LMNWebViewDelegateDidReceiveWebAction = "didReceiveWebAction";

// JSON text of `value` made safe to stand as a literal inside a script element.
std::string jsonForScript(const platform::Value& value);

struct LMNNotification {
    std::string name;
    std::map<std::string, std::string> parameters;

    static bool isLMSGNotificationURL(const platform::URL& url) { return url.scheme() == "lmsg"; }
    static bool isLumenNotificationURL(const platform::URL& url) { return url.scheme() == "lumen"; }
    static bool isNotificationURL(const platform::URL& url) {
        return isLMSGNotificationURL(url) || isLumenNotificationURL(url);
    }
    static std::optional<LMNNotification> notificationFromURL(const platform::URL& url);
    std::string description() const;
};

// The page messages' own centre, separate from the platform's default one.
class LMNNotificationCenter {
public:
    static platform::NotificationCenter& defaultCenter();
    // Posts the message of `url` with `object` after `delay` seconds (next pass for 0).
    static void postNotificationFromURL(const platform::URL& url, std::shared_ptr<platform::WebView> object,
                                        double delay);
    static void postNotificationFromURL(const platform::URL& url,
                                        const std::shared_ptr<platform::WebView>& object);
    // Calls the page's LUMA_ReceiveMessage with the name and the JSON of the information.
    static void postJSNotification(const std::string& name,
                                   const std::optional<platform::Dictionary>& userInfo,
                                   platform::WebView& webView);
};

class LMNOpener : public platform::MailComposeViewControllerDelegate,
                  public std::enable_shared_from_this<LMNOpener> {
public:
    static constexpr double kOpenAppRetrySeconds = 0.3;
    static constexpr int kOpenAppMaximumRetries = 3;

    std::shared_ptr<LMNDelegateManager> delegateManager_;
    std::weak_ptr<platform::ViewController> viewController_;
    std::optional<platform::URL> referringURL_;

    void openNotification(const LMNNotification& notification);
    void openBrowserToURL(const platform::URL& url, int supportedOrientations);
    void openWebApp(const platform::URL& url, int supportedOrientations);
    void openWebAppWithHTML(const std::string& html, int supportedOrientations);
    void openApp(const std::optional<platform::URL>& url);
    void openEmailComposer(const platform::URL& url);
    void mailComposeController(platform::MailComposeViewController& controller,
                               platform::MailComposeResult result,
                               const std::optional<platform::Error>& error) override;
    static int& openAppRetryCount();
};

class LMNWebViewDelegate : public platform::WebViewDelegate,
                           public std::enable_shared_from_this<LMNWebViewDelegate> {
public:
    LMNWebViewDelegate() : opener_(std::make_shared<LMNOpener>()) {}
    std::shared_ptr<platform::ViewController> viewController() const { return viewController_.lock(); }
    void setViewController(std::weak_ptr<platform::ViewController> vc) { viewController_ = std::move(vc); }
    const std::shared_ptr<LMNOpener>& opener() const { return opener_; }

    bool webViewShouldStartLoadWithRequestNavigationType(platform::WebView& webView,
                                                         const platform::URLRequest& request,
                                                         platform::WebViewNavigationType type) override;
    void webViewDidFinishLoad(platform::WebView& webView) override;
    void trackURLString(const std::string& text, bool appendSpamSignals);
    void processTouchSignals(const std::map<std::string, std::string>& parameters);
    static int intForKey(const std::string& key, const std::map<std::string, std::string>& parameters);
    static void notifyWebViewOfOrientationChange(platform::WebView& webView,
                                                 platform::InterfaceOrientation orientation);
    // The message names that reach a native action; every other name is only posted.
    static const std::map<
        std::string, std::function<void(LMNWebViewDelegate&, platform::WebView&, const LMNNotification&)>>&
    messageActions();

protected:
    std::shared_ptr<LMNOpener> opener_;
    std::shared_ptr<LMNClickTracker> tracker_;
    std::weak_ptr<platform::ViewController> viewController_;
};

} // namespace lumen
