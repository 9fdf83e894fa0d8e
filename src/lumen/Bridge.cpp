#include "lumen/Bridge.h"

#include <algorithm>
#include <cstdio>

#include "lumen/NetworkUtilities.h"
#include "lumen/Request.h"
#include "lumen/Screens.h"
#include "lumen/SignalHooks.h"
#include "platform/foundation/Log.h"
#include "platform/media/SystemSound.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Application.h"

namespace lumen {

namespace {

constexpr const char* kReceiveMessageFunction = "LUMA_ReceiveMessage";
constexpr std::size_t kMinimumReportedPath = 2;

struct OrientationAngle {
    platform::InterfaceOrientation orientation;
    int angle;
};
constexpr OrientationAngle kOrientationAngles[] = {
    {platform::InterfaceOrientation::Portrait, 0},
    {platform::InterfaceOrientation::PortraitUpsideDown, 180},
    {platform::InterfaceOrientation::LandscapeRight, 90},
    {platform::InterfaceOrientation::LandscapeLeft, -90},
};

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

platform::Dictionary toDictionary(const std::map<std::string, std::string>& parameters) {
    platform::Dictionary out;
    for (auto& [k, v] : parameters)
        out[k] = v;
    return out;
}

std::optional<std::string> param(const LMNNotification& n, const std::string& key) {
    auto it = n.parameters.find(key);
    if (it == n.parameters.end())
        return std::nullopt;
    return it->second;
}

} // namespace

// JSON text is a script literal; only "</" and the two line terminators need escaping there.
std::string jsonForScript(const platform::Value& value) {
    std::string json = value.toJSON(), out;
    for (std::size_t i = 0; i < json.size(); ++i) {
        if (json.compare(i, 2, "</") == 0)
            out += "<\\/", ++i;
        else if (json.compare(i, 3, "\xE2\x80\xA8") == 0)
            out += "\\u2028", i += 2;
        else if (json.compare(i, 3, "\xE2\x80\xA9") == 0)
            out += "\\u2029", i += 2;
        else
            out += json[i];
    }
    return out;
}

// ---- LMNNotification ----

std::optional<LMNNotification> LMNNotification::notificationFromURL(const platform::URL& url) {
    LMNNotification n;
    if (isLMSGNotificationURL(url)) {
        auto path = url.path();
        if (path.size() < 2 || path[0] != '/')
            return std::nullopt;
        n.name = path.substr(1);
        n.parameters = LMNNetworkUtilities::dictionaryFromQueryString(url.query());
        return n;
    }
    if (!isLumenNotificationURL(url))
        return std::nullopt;
    auto host = url.host().value_or("");
    auto query = LMNNetworkUtilities::dictionaryFromQueryString(url.query());
    if (host == "launch") {
        n.name = "open";
        n.parameters["a"] = "browser";
        if (auto it = query.find("url"); it != query.end())
            n.parameters["u"] = it->second;
    } else if (host == "closecanvas") {
        n.name = "close";
    } else if (host == "log") {
        n.name = "log";
        n.parameters = query;
    } else {
        return std::nullopt;
    }
    return n;
}

std::string LMNNotification::description() const {
    char head[64];
    std::snprintf(head, sizeof head, "LMNNotification<%p>: name:", static_cast<const void*>(this));
    return head + name + " parameters:" + platform::Value(toDictionary(parameters)).toJSON();
}

// ---- LMNNotificationCenter ----

platform::NotificationCenter& LMNNotificationCenter::defaultCenter() {
    static platform::NotificationCenter center;
    return center;
}

void LMNNotificationCenter::postNotificationFromURL(const platform::URL& url,
                                                    std::shared_ptr<platform::WebView> object, double delay) {
    std::weak_ptr<platform::WebView> weak = object;
    const bool hadObject = object != nullptr;
    platform::RunLoop::current().performAfter(delay, [url, weak, hadObject] {
        auto strong = weak.lock();
        if (hadObject && !strong)
            return; // the page's view is gone: nobody is left to hear it
        postNotificationFromURL(url, strong);
    });
}

void LMNNotificationCenter::postNotificationFromURL(const platform::URL& url,
                                                    const std::shared_ptr<platform::WebView>& object) {
    auto n = LMNNotification::notificationFromURL(url);
    if (!n)
        return;
    platform::Notification note{n->name, object, object.get(), toDictionary(n->parameters)};
    defaultCenter().post(note);
}

void LMNNotificationCenter::postJSNotification(const std::string& name,
                                               const std::optional<platform::Dictionary>& userInfo,
                                               platform::WebView& webView) {
    std::string script = std::string(kReceiveMessageFunction) + "('" + escapeForScript(name) + "'";
    if (userInfo)
        script += ", " + jsonForScript(platform::Value(*userInfo));
    script += ");";
    webView.stringByEvaluatingJavaScriptFromString(script);
}

// ---- LMNOpener ----

int& LMNOpener::openAppRetryCount() {
    static int count = 0;
    return count;
}

void LMNOpener::openNotification(const LMNNotification& notification) {
    auto a = param(notification, "a").value_or("");
    std::optional<platform::URL> url;
    if (auto u = param(notification, "u"))
        url = platform::URL::parse(*u);
    auto html = param(notification, "html");
    if (!url && !(html && a == "webapp"))
        return;
    auto o = param(notification, "o").value_or("");
    int orientation = o == "p" ? kOrientationPortrait : o == "l" ? kOrientationLandscape : kOrientationAny;
    std::optional<platform::URL> clickURL;
    if (url)
        clickURL = LMNStatistics::sharedStatistics().urlForClick(*url);
    if (a == "browser" || a == "video") {
        if (clickURL)
            openBrowserToURL(*clickURL, orientation);
    } else if (a == "webapp") {
        if (clickURL)
            openWebApp(*clickURL, orientation);
        else
            openWebAppWithHTML(*html, orientation);
    } else {
        openApp(clickURL);
    }
}

void LMNOpener::openBrowserToURL(const platform::URL& url, int supportedOrientations) {
    auto browser = std::make_shared<LMNBrowserController>();
    browser->setSupportedOrientations(supportedOrientations);
    browser->load(url, referringURL_);
    browser->setDelegateManager(delegateManager_);
    browser->presentFromViewController(viewController_.lock());
}

void LMNOpener::openWebApp(const platform::URL& url, int supportedOrientations) {
    auto screen = std::make_shared<LMNWebAppViewController>();
    screen->setSupportedOrientations(supportedOrientations);
    screen->setDelegateManager(delegateManager_);
    screen->load(url);
    screen->presentFromViewController(viewController_.lock());
}

void LMNOpener::openWebAppWithHTML(const std::string& html, int supportedOrientations) {
    auto screen = std::make_shared<LMNWebAppViewController>();
    screen->setSupportedOrientations(supportedOrientations);
    screen->setDelegateManager(delegateManager_);
    screen->loadHTML(html, std::nullopt);
    screen->presentFromViewController(viewController_.lock());
}

void LMNOpener::openApp(const std::optional<platform::URL>& url) {
    if (!url)
        return;
    if (LMNClickTracker::activeTrackings() && openAppRetryCount() < kOpenAppMaximumRetries) {
        ++openAppRetryCount();
        auto self = shared_from_this();
        platform::RunLoop::current().performAfter(kOpenAppRetrySeconds, [self, url] { self->openApp(url); });
        return;
    }
    openAppRetryCount() = 0;
    if (delegateManager_)
        delegateManager_->willLeaveApplication();
    auto text = url->absoluteString();
    platform::RunLoop::current().perform([text] { platform::Application::shared().openURL(text); });
}

void LMNOpener::openEmailComposer(const platform::URL& url) {
    auto parent = viewController_.lock();
    if (!parent)
        return;
    std::string rest = url.absoluteString().substr(std::string_view("mailto:").size());
    auto q = rest.find('?');
    std::string recipient = platform::percentDecode(rest.substr(0, q)).value_or("");
    auto fields = LMNNetworkUtilities::dictionaryFromQueryString(
        q == std::string::npos ? std::nullopt : std::optional<std::string>(rest.substr(q + 1)));
    auto split = [](const std::string& text) {
        std::vector<std::string> out;
        std::size_t at = 0;
        while (at <= text.size()) {
            auto end = text.find(',', at);
            auto piece = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
            if (!piece.empty())
                out.push_back(piece);
            if (end == std::string::npos)
                break;
            at = end + 1;
        }
        return out;
    };
    auto composer = platform::MailComposeViewController::create();
    composer->setMailComposeDelegate(weak_from_this());
    composer->setToRecipients({recipient});
    if (fields.count("cc"))
        composer->setCcRecipients(split(fields["cc"]));
    if (fields.count("bcc"))
        composer->setBccRecipients(split(fields["bcc"]));
    if (fields.count("subject"))
        composer->setSubject(fields["subject"]);
    if (fields.count("body"))
        composer->setMessageBody(fields["body"], false);
    composer->setModalTransitionStyle(platform::ModalTransitionStyle::CoverVertical);
    parent->presentModalViewController(composer, true);
}

void LMNOpener::mailComposeController(platform::MailComposeViewController& controller,
                                      platform::MailComposeResult, const std::optional<platform::Error>&) {
    if (auto presenter = controller.presentingViewController())
        presenter->dismissModalViewControllerAnimated(true);
}

// ---- LMNWebViewDelegate ----

const std::map<std::string,
               std::function<void(LMNWebViewDelegate&, platform::WebView&, const LMNNotification&)>>&
LMNWebViewDelegate::messageActions() {
    using Action = std::function<void(LMNWebViewDelegate&, platform::WebView&, const LMNNotification&)>;
    static const std::map<std::string, Action> actions = {
        {"click", [](LMNWebViewDelegate& d, platform::WebView&,
                     const LMNNotification& n) { d.trackURLString(param(n, "u").value_or(""), true); }},
        {"close",
         [](LMNWebViewDelegate& d, platform::WebView&, const LMNNotification&) {
             if (auto screen = std::dynamic_pointer_cast<LMNViewController>(d.viewController()))
                 screen->relinquishScreen();
         }},
        {"httpTrack", [](LMNWebViewDelegate& d, platform::WebView&,
                         const LMNNotification& n) { d.trackURLString(param(n, "u").value_or(""), false); }},
        {"log", [](LMNWebViewDelegate&, platform::WebView&,
                   const LMNNotification& n) { platform::logLine(param(n, "string").value_or("")); }},
        {"open", [](LMNWebViewDelegate& d, platform::WebView&,
                    const LMNNotification& n) { d.opener_->openNotification(n); }},
        {"touch", [](LMNWebViewDelegate& d, platform::WebView&,
                     const LMNNotification& n) { d.processTouchSignals(n.parameters); }},
        {"vibrate",
         [](LMNWebViewDelegate&, platform::WebView&, const LMNNotification&) {
             platform::AudioServicesPlaySystemSound(platform::kSystemSoundIDVibrate);
         }},
    };
    return actions;
}

bool LMNWebViewDelegate::webViewShouldStartLoadWithRequestNavigationType(
    platform::WebView& webView, const platform::URLRequest& request, platform::WebViewNavigationType type) {
    auto self = shared_from_this();
    if (auto agent = request.valueForHTTPHeaderField("User-Agent"))
        LMNNetworkUtilities::setUserAgentString(*agent);
    opener_->viewController_ = viewController_;
    const auto& url = request.url();
    const auto scheme = lower(url.scheme());
    if (scheme == "file")
        return false;
    if (scheme == "about")
        return true;
    if (LMNNotification::isNotificationURL(url)) {
        auto n = LMNNotification::notificationFromURL(url);
        if (!n)
            return false;
        platform::NotificationCenter::defaultCenter().post(
            platform::Notification{LMNWebViewDelegateDidReceiveWebAction,
                                   {},
                                   &webView,
                                   {{"u", url.absoluteString()}, {"a", n->name}}});
        const auto& actions = messageActions();
        if (auto it = actions.find(n->name); it != actions.end()) {
            it->second(*this, webView, *n);
        } else {
            auto shared = std::dynamic_pointer_cast<platform::WebView>(webView.shared_from_this());
            LMNNotificationCenter::postNotificationFromURL(url, shared, 0);
        }
        return false;
    }
    if (!(type == platform::WebViewNavigationType::Other && url.path().size() < kMinimumReportedPath))
        platform::NotificationCenter::defaultCenter().post(platform::Notification{
            LMNWebViewDelegateDidReceiveWebAction, {}, &webView, {{"u", url.absoluteString()}}});
    if (scheme == "mailto") {
        opener_->openEmailComposer(url);
        return false;
    }
    if (scheme == "http" || scheme == "https")
        return true;
    opener_->openApp(url);
    return false;
}

void LMNWebViewDelegate::webViewDidFinishLoad(platform::WebView& webView) {
    notifyWebViewOfOrientationChange(webView, platform::Application::shared().statusBarOrientation());
}

void LMNWebViewDelegate::trackURLString(const std::string& text, bool appendSpamSignals) {
    auto url = platform::URL::parse(text);
    if (!url || !url->isAbsolute())
        return;
    if (appendSpamSignals)
        if (auto ai = LMNNetworkUtilities::parameterValueForKey("ai", *url)) {
            std::string signal;
            if (lmn_gmcs(*ai, signal))
                url = LMNNetworkUtilities::appendQueryKey(signal, std::nullopt, *url);
        }
    if (!tracker_)
        tracker_ = LMNClickTracker::create();
    tracker_->trackURL(*url);
}

int LMNWebViewDelegate::intForKey(const std::string& key,
                                  const std::map<std::string, std::string>& parameters) {
    auto it = parameters.find(key);
    if (it == parameters.end())
        return -1;
    return std::atoi(it->second.c_str());
}

void LMNWebViewDelegate::processTouchSignals(const std::map<std::string, std::string>& parameters) {
    lmn_htg(intForKey("tx", parameters), intForKey("ty", parameters), intForKey("td", parameters));
}

void LMNWebViewDelegate::notifyWebViewOfOrientationChange(platform::WebView& webView,
                                                          platform::InterfaceOrientation orientation) {
    for (const auto& row : kOrientationAngles)
        if (row.orientation == orientation) {
            char script[160];
            std::snprintf(
                script, sizeof script,
                "window.__defineGetter__('orientation',function(){return %i;});window.onorientationchange();",
                row.angle);
            webView.stringByEvaluatingJavaScriptFromString(script);
            return;
        }
}

} // namespace lumen
