#pragma once
// The display side on a clean engine: a key window filling the screen, the tracking session
// started, and an HTML ad bundle written
// to the cache whose page records what the bridge sends it.
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "RichMediaFixture.h"
#include "platform/foundation/ClassTable.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/net/URLRequest.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"
#include "vellum/richmedia/VellumAdView.h"
#include "vellum/richmedia/VellumAdViewController.h"
#include "vellum/richmedia/VellumJSBridge.h"

namespace richmediatest {

// A page that keeps every value the client hands to its Device setters in window.got.
inline constexpr const char* kRecordingPage = R"(<html><head><title>ad</title><script>
window.got = [];
function rec(name) { return function() { window.got.push(name + ':' + Array.prototype.join.call(arguments, ',')); }; }
var Device = { init: rec('init'), SDKVersion: { set: rec('sdk') }, DeviceID: { set: rec('device') },
  AdRequest: { set: rec('request') }, Location: { set: rec('loc') }, Orientation: { set: rec('orientation') },
  AdData: { adID: { set: rec('adID') } } };
</script></head><body>ad</body></html>)";

class AdDisplayFixture : public RichMediaFixture {
public:
    static constexpr const char* kControllerClass = "MRHTMLAdViewController";

    AdDisplayFixture() {
        vellum::VellumAdViewController::resetForTesting();
        vellum::VellumJSBridge::resetForTesting();
        manager()->initializeWithAppID("app-1", "1.0", nullptr, false);
        window = std::make_shared<platform::Window>(platform::Screen::main().bounds());
        window->makeKeyAndVisible();
    }
    ~AdDisplayFixture() override {
        window->setHidden(true);
        vellum::VellumAdViewController::resetForTesting();
        vellum::VellumJSBridge::resetForTesting();
    }

    // An HTML banner of 320 by 50 in the cache, its page the recording page.
    vellum::MRCachedAd storeBanner(const std::string& id, platform::Dictionary extra = {}) {
        extra["mainFile"] = "index.html";
        extra["width"] = 320;
        extra["height"] = 50;
        extra["adSlotType"] = 3;
        extra["adType"] = 3;
        extra["avcClassName"] = kControllerClass;
        auto ad = storeAd(id, extra);
        std::ofstream(cacheFolder() / id / "index.html") << kRecordingPage;
        return ad;
    }

    // A slot view of 320 by 50 at the top of the window.
    std::shared_ptr<vellum::VellumAdView> slotView() {
        auto view = std::make_shared<vellum::VellumAdView>(platform::Rect(0, 100, 320, 50));
        view->setAdSlotKey("banner-top");
        window->addSubview(view);
        return view;
    }

    // Waits until the ad's page has loaded.
    bool pageLoaded(vellum::VellumAdViewController& c) {
        return clock.runUntil([&] {
            auto w = c.webView();
            return w && !w->isLoading() && w->stringByEvaluatingJavaScriptFromString("typeof window.got") == "object";
        });
    }
    static std::string got(platform::WebView& w) {
        return w.stringByEvaluatingJavaScriptFromString("window.got.join('|')");
    }

    // Collects the ad events posted with "MRADAdViewedNotification".
    struct AdViewedRecorder {
        std::vector<std::shared_ptr<vellum::VellumEvent>> events;
        platform::NotificationCenter::ObserverToken token;
        AdViewedRecorder() {
            token = platform::NotificationCenter::defaultCenter().addObserver(
                vellum::AdVCAdViewedNotification, [this](const platform::Notification& n) {
                    events.push_back(n.objectAs<vellum::VellumEvent>());
                });
        }
        ~AdViewedRecorder() { platform::NotificationCenter::defaultCenter().removeObserver(token); }
    };

    static std::optional<double> number(const vellum::VellumEvent& e, const char* key) {
        auto f = e.numbers().find(key);
        return f == e.numbers().end() ? std::nullopt : f->second.number();
    }
    static std::optional<std::string> string(const vellum::VellumEvent& e, const char* key) {
        auto f = e.strings().find(key);
        return f == e.strings().end() || !f->second.string() ? std::nullopt
                                                             : std::optional<std::string>(*f->second.string());
    }

    std::shared_ptr<platform::Window> window;
};

// The banner "ad-1" loaded and shown in a slot view, and its page's bridge commands sent as
// the page's navigations. Tests put the ad's files into its folder before `showBanner`.
class ShownBannerFixture : public AdDisplayFixture {
protected:
    void showBanner() {
        view = slotView();
        ASSERT_TRUE(view->loadAdWithID("ad-1", std::nullopt));
        c = view->adVC();
        ASSERT_TRUE(pageLoaded(*c));
    }
    bool command(const std::string& url) {
        auto request = platform::URLRequest::withURLString(url);
        return c->webViewShouldStartLoadWithRequestNavigationType(*c->webView(), *request,
                                                                  platform::WebViewNavigationType::Other);
    }
    std::shared_ptr<vellum::VellumAdView> view;
    std::shared_ptr<vellum::VellumAdViewController> c;
};

} // namespace richmediatest
