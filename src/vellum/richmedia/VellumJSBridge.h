#pragma once
// VellumJSBridge: the native end of the channel between a rich-media ad page and the engine.
// A page calls the client by navigating to "mrbridge:" URLs; the client never loads them, it
// runs the named command and, where the command asks for data, answers by evaluating a short
// script in the page that calls a setter of the page's Device object. Only the commands of
// the bridge's command table can be reached from a page; anything else is ignored. Texts
// placed into reply scripts are escaped for a single-quoted script string.
//
// The bridge also routes every other navigation of an ad page (stores, telephone, messages,
// mail, maps, video, web links, local pages, other applications), feeds accelerometer
// readings and shakes to the pages that observe them, and plays one sound at a time.
//
// One bridge per process (sharedInstance(); resetForTesting() drops it). Main thread only,
// the player's running-state notice included (the platform's queue calls it on the run loop
// that created the player).
// The page host is passed with each call, and every command acts on that host's ad (its
// bridgeDelegate()), so one ad's page never dismisses or expands another ad. The process-wide
// delegate (the ad shown last, or the expanded controller) is kept, weakly, for the parts that
// ask which ad is in front; no page command goes to it. Observing web views are held weakly,
// so a page that is gone simply stops receiving readings.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/ui/Accelerometer.h"
#include "platform/web/WebView.h"
#include "vellum/richmedia/MRAudioPlayer.h"
#include "vellum/richmedia/MRPageHost.h"
#include "vellum/tracking/VellumEventKeys.h"

namespace vellum {

class VellumAdView;

// One outside destination: a host that holds the domain, or a scheme that holds the text.
struct MROutsideDestination {
    const char* text;
    bool matchesHost; // false: matches the scheme
    const char* counter;
};
// Tested in this order by the bridge's router and the mini browser's.
inline constexpr MROutsideDestination kOutsideDestinations[] = {
    {"music.example.com", true, MRAdClickThru_MusicStore},
    {"apps.example.com", true, MRAdClickThru_AppStore},
    {"youtube.example.com", true, MRAdClickThru_YouTube},
    {"maps.example.com", true, MRAdClickThru_Maps},
    {"mailto", false, MRAdClickThru_Email},
    {"sms", false, MRAdClickThru_SMS},
    {"tel", false, MRAdClickThru_Phone},
};
// The first destination that `url` goes to, or null.
const MROutsideDestination* outsideDestinationFor(const platform::URL& url);
// Case-insensitive helpers shared by the two routers.
bool containsIgnoringCase(std::string_view text, std::string_view part);
bool equalsIgnoringCase(std::string_view a, std::string_view b);

class VellumJSBridge : public std::enable_shared_from_this<VellumJSBridge>,
                       public MRAudioQueueObjectDelegate,
                       public platform::AccelerometerDelegate {
public:
    static constexpr const char* kURLScheme = "mrbridge";
    static constexpr const char* kCoreJSFileName = "mrbridge.js";
    static constexpr const char* kCoreJSDefaultsKey = "VellumJSBridgeCoreJS";
    static constexpr const char* kBridgeVersion = "1.1";
    static constexpr const char* kLaunchScheme = "vellum";
    // How deep batched commands may nest: a batch may not hold another batch.
    static constexpr int kMaxBatchDepth = 1;
    // Accelerometer defaults of the "getaccel" command.
    static constexpr double kDefaultAccelerationInterval = 0.025;
    static constexpr float kDefaultShakeThreshold = 2.0f;
    static constexpr float kDefaultFilteringFactor = 0.1f;

    static std::shared_ptr<VellumJSBridge> sharedInstance();
    static void resetForTesting();
    static std::string jsBridgeURLScheme() { return kURLScheme; }
    static std::string coreJSFileName() { return kCoreJSFileName; }
    // The page script: the text kept in the user defaults when there is one, else our own.
    static std::string coreJS();
    static void setCoreJS(const std::string& text);
    // The built-in page script.
    static const std::string& builtInCoreJS();

    void setDelegate(std::weak_ptr<MR_JSBridgeDelegate> delegate) { delegate_ = std::move(delegate); }
    std::shared_ptr<MR_JSBridgeDelegate> delegate() const { return delegate_.lock(); }
    const std::optional<std::string>& alternateURL() const { return alternateURL_; }
    const std::optional<std::string>& getAlternateURL() const { return alternateURL_; }
    void setAlternateURL(std::optional<std::string> url) { alternateURL_ = std::move(url); }

    // The navigation router: YES lets the web view load the request.
    bool webViewShouldStartLoad(platform::WebView& webView, const platform::URLRequest& request,
                                platform::WebViewNavigationType type, VellumAdView* adView,
                                const std::string& basePath, MRPageHost* host);
    // Runs one command of the table; answers YES except for a web-URL "launchApp".
    bool processMRBridgeMethod(std::string_view name, platform::WebView& webView,
                               const std::optional<platform::Dictionary>& args, const std::string& basePath,
                               MRPageHost* host, int batchDepth = 0);
    static std::string methodFromBridgeURL(std::string_view url);
    static std::optional<platform::Dictionary> argumentsFromBridgeString(std::string_view text);
    // `text` as the inside of a single-quoted script string.
    static std::string scriptQuoted(std::string_view text);

    // ---- Page start-up and load callbacks ----
    void webViewDidStartLoad(platform::WebView& webView);
    void webViewDidFinishLoad(platform::WebView& webView, MRPageHost* host);
    void webViewDidFailLoadWithError(platform::WebView&) {}
    const std::string& initJS() const { return initJS_; }

    // ---- Expansion notices and dismissal ----
    void setOnExpandStart(platform::WebView& webView);
    void setOnExpandComplete(platform::WebView& webView);
    void setOnCollapseStart(platform::WebView& webView);
    void setOnCollapseComplete(platform::WebView& webView);
    void adDismissed(platform::WebView* webView);

    // ---- Data replies ----
    void getOrientation(platform::WebView& webView, int angle);
    int initOrientation();
    int flip() const { return flip_; }
    // Each evaluates its setter call in `webView`; `host` is the page's host (may be null).
    void getLocationForWebView(platform::WebView& webView);
    void getBatteryLevel(platform::WebView& webView);
    void getDeviceID(platform::WebView& webView);
    void getSDKVersion(platform::WebView& webView);
    void getadID(platform::WebView& webView, MRPageHost* host);
    void getAdRequest(platform::WebView& webView, MRPageHost* host);

    // ---- Accelerometer ----
    // Start: `webView` observes (once), the filter restarts from rest, the sensor reads every
    // `frequency` seconds (0: every kDefaultAccelerationInterval) with the bridge as its
    // delegate. Stop: `webView` no longer observes and the bridge lets go of the sensor.
    void observeAccelerationForWebView(platform::WebView& webView, bool start, float frequency,
                                       float shakeThreshold, float filteringFactor);
    // One reading: low-pass filtered per axis, a shake when the high-pass part is longer than
    // the threshold, sent to every observing page.
    void accelerometerDidAccelerate(platform::Accelerometer& accelerometer,
                                    const platform::Acceleration& acceleration) override;
    bool isObservingAcceleration(const platform::WebView& webView) const;
    float rollingX() const { return rollingX_; }
    float rollingY() const { return rollingY_; }
    float rollingZ() const { return rollingZ_; }
    float kFilteringFactor() const { return kFilteringFactor_; }
    float kShakeAccelerationThreshold() const { return kShakeAccelerationThreshold_; }

    // ---- Sound ----
    // Stops the current sound; with a file inside the ad's folder, plays it.
    void playSound(const std::optional<std::string>& file, const std::optional<std::string>& basePath);
    void audioQueueStateChangeCallback(MRAudioPlayer& player) override;
    std::shared_ptr<MRAudioPlayer> audioPlayer() const { return audioPlayer_; }
    void vibrate();

private:
    VellumJSBridge();
    std::string buildInitJS() const;
    void send(platform::WebView& webView, const std::string& script);
    bool routeLaunchAd(platform::WebView& webView, const std::string& text, MRPageHost* host);
    bool rewriteLocalPage(platform::WebView& webView, const std::string& text, VellumAdView* adView,
                          const std::string& basePath);
    // Clears the sensor's delegate when it is this bridge (another part may be reading it).
    void releaseAccelerometer();
    void goOutside(platform::WebView& webView, const std::string& text, const char* counter, VellumAdView* adView,
                   MRPageHost* host);

    std::string initJS_;
    std::optional<std::string> alternateURL_;
    std::vector<std::weak_ptr<platform::WebView>> accelerationObservers_;
    std::weak_ptr<MR_JSBridgeDelegate> delegate_;
    std::shared_ptr<MRAudioPlayer> audioPlayer_;
    float rollingX_ = 0;
    float rollingY_ = 0;
    float rollingZ_ = 0;
    float kFilteringFactor_ = kDefaultFilteringFactor;
    float kShakeAccelerationThreshold_ = kDefaultShakeThreshold;
    int flip_ = 0;
};

} // namespace vellum
