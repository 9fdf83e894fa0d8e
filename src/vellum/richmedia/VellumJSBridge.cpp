// VellumJSBridge: the navigation router, the command table a page may reach, the data
// replies, page start-up, expansion notices, the accelerometer feed and the page's sound.
#include "vellum/richmedia/VellumJSBridge.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "platform/foundation/Numbers.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/media/AudioSession.h"
#include "platform/media/SystemSound.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "vellum/richmedia/MRCachedAd.h"
#include "vellum/richmedia/VellumAdView.h"
#include "vellum/richmedia/VellumAdViewController.h"
#include "vellum/richmedia/VellumResourceStrings.h"
#include "vellum/tracking/VellumAnalyticsManager.h"

namespace vellum {
namespace {

VellumAnalyticsManager& analytics() {
    return *VellumAnalyticsManager::sharedInstance();
}

std::shared_ptr<VellumJSBridge>& sharedSlot() {
    static std::shared_ptr<VellumJSBridge> bridge;
    return bridge;
}

std::string trimmed(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1])))
        --e;
    return std::string(text.substr(b, e - b));
}

// `fmt` with its one "%s" replaced by `a`.
std::string format(const char* fmt, const std::string& a) {
    const std::string f = fmt;
    const auto at = f.find("%s");
    return at == std::string::npos ? f : f.substr(0, at) + a + f.substr(at + 2);
}

// The first `n` characters of `text` (all of it when shorter).
std::string_view prefix(std::string_view text, std::size_t n) {
    return text.substr(0, std::min(n, text.size()));
}

// The delegate of `host`'s ad when it answers `selector`: a page's commands act on its own ad.
std::shared_ptr<MR_JSBridgeDelegate> delegateOf(MRPageHost* host, std::string_view selector) {
    auto d = host ? host->bridgeDelegate() : nullptr;
    return d && d->responds(selector) ? d : nullptr;
}

// Everything a command needs.
struct Call {
    VellumJSBridge& bridge;
    platform::WebView& webView;
    const platform::Dictionary& args;
    const std::string& basePath;
    MRPageHost* host;
    int depth;

    const std::string* arg(std::string_view key) const {
        auto found = args.find(key);
        return found == args.end() ? nullptr : found->second.string();
    }
    // An argument that is present and not the page's "undefined".
    const std::string* definedArg(std::string_view key) const {
        auto value = arg(key);
        return value && *value != "undefined" ? value : nullptr;
    }
    std::shared_ptr<VellumEvent> event() const { return host ? host->event() : nullptr; }
    // The delegate of the calling page's ad, when it answers `selector`.
    std::shared_ptr<MR_JSBridgeDelegate> delegateFor(std::string_view selector) const {
        return delegateOf(host, selector);
    }
    std::shared_ptr<MR_JSBridgeDelegate> delegate() const { return host ? host->bridgeDelegate() : nullptr; }
    // The host for the operations only an expanded-ad controller or an ad view controller
    // performs.
    MRPageHost* modalOrAdVC(std::shared_ptr<VellumAdViewController>& keep) const;
};

// One command a page may send; answers the command's result.
struct Command {
    const char* name;
    bool (*run)(const Call&);
};

void reply(platform::WebView& webView, const char* logLine, const std::string& script) {
    analytics().logInternal("%s", logLine);
    webView.stringByEvaluatingJavaScriptFromString(script);
    analytics().logInternal("VellumJSBridge sent : %s", script.c_str());
}

bool cmdGetLoc(const Call& c) {
    c.bridge.getLocationForWebView(c.webView);
    return true;
}
bool cmdBatteryLevel(const Call& c) {
    c.bridge.getBatteryLevel(c.webView);
    return true;
}
// A number argument as the page sent it (text read as a float); `fallback` when absent, and
// when the text reads as no finite number, so a page cannot feed the filter a NaN.
float floatArg(const Call& c, std::string_view key, float fallback) {
    auto text = c.arg(key);
    if (!text)
        return fallback;
    const float value = std::strtof(text->c_str(), nullptr);
    return std::isfinite(value) ? value : fallback;
}
bool cmdAccelerometer(const Call& c) {
    auto start = c.arg("start");
    c.bridge.observeAccelerationForWebView(c.webView, !start || *start != "false", floatArg(c, "freq", 0),
                                           floatArg(c, "shakeThreshold", VellumJSBridge::kDefaultShakeThreshold),
                                           floatArg(c, "filteringFactor", VellumJSBridge::kDefaultFilteringFactor));
    return true;
}
bool cmdDeviceID(const Call& c) {
    c.bridge.getDeviceID(c.webView);
    return true;
}
bool cmdSDKVersion(const Call& c) {
    c.bridge.getSDKVersion(c.webView);
    return true;
}
bool cmdAdID(const Call& c) {
    c.bridge.getadID(c.webView, c.host);
    return true;
}
bool cmdAdRequest(const Call& c) {
    c.bridge.getAdRequest(c.webView, c.host);
    return true;
}
bool cmdGoBack(const Call& c) {
    c.webView.goBack();
    return true;
}
bool cmdGoForward(const Call& c) {
    c.webView.goForward();
    return true;
}
bool cmdLaunchYoutube(const Call& c) {
    auto url = c.definedArg("url");
    if (!url)
        return true;
    platform::Application::shared().openURL(*url);
    if (auto d = c.delegateFor("dismissEmbeddedBrowser"))
        d->dismissEmbeddedBrowser();
    if (auto d = c.delegateFor("dismissAd"))
        d->dismissAd();
    return true;
}
bool cmdVibrate(const Call& c) {
    c.bridge.vibrate();
    return true;
}
bool cmdPlaySound(const Call& c) {
    if (auto file = c.definedArg("file"))
        c.bridge.playSound(*file, c.basePath);
    else
        c.bridge.playSound(std::nullopt, std::nullopt);
    return true;
}
bool cmdTrackEvent(const Call& c) {
    if (auto key = c.arg("eventKey"))
        analytics().trackEventWithUserDict(*key, c.args);
    return true;
}
bool cmdClickThrough(const Call& c) {
    if (!c.host)
        return true;
    if (auto url = c.arg("url"))
        c.host->performClickThrough(*url);
    else
        c.host->performClickThrough();
    return true;
}
bool cmdSendData(const Call& c) {
    if (auto d = c.delegateFor("saveContentEventWithDictionary:"))
        d->saveContentEventWithDictionary(c.args);
    return true;
}
bool cmdBatched(const Call& c) {
    if (c.depth >= VellumJSBridge::kMaxBatchDepth)
        return true; // a batch inside a batch is refused
    for (const auto& [key, value] : c.args) {
        (void)value;
        const std::string command = key.substr(0, key.find('?'));
        c.bridge.processMRBridgeMethod(command, c.webView, VellumJSBridge::argumentsFromBridgeString(key), c.basePath,
                                       c.host, c.depth + 1);
    }
    return true;
}
bool cmdSetString(const Call& c) {
    auto key = c.arg("key"), val = c.arg("val");
    if (auto event = c.event(); key && val && event) {
        analytics().logInternal("VellumJSBridge setTrackingEventString: %s : %s", key->c_str(), val->c_str());
        event->setString(*val, *key);
    }
    return true;
}
bool cmdSetNumber(const Call& c) {
    auto key = c.arg("key"), val = c.arg("val");
    if (auto event = c.event(); key && val && event) {
        analytics().logInternal("VellumJSBridge setTrackingEventNumber: %s : %s", key->c_str(), val->c_str());
        event->setNumber(platform::Value(static_cast<double>(std::strtof(val->c_str(), nullptr))), *key);
    }
    return true;
}
bool cmdStartTimer(const Call& c) {
    auto key = c.arg("key");
    if (auto event = c.event(); key && event) {
        analytics().logInternal("VellumJSBridge startTimerForKey: %s", key->c_str());
        event->startTimerForKey(*key);
    }
    return true;
}
bool cmdEndTimer(const Call& c) {
    auto key = c.arg("key");
    if (auto event = c.event(); key && event) {
        analytics().logInternal("VellumJSBridge endTimerForKey: %s", key->c_str());
        event->endTimerForKey(*key);
    }
    return true;
}
bool cmdSetDuration(const Call& c) {
    auto key = c.arg("key"), val = c.arg("val");
    if (auto event = c.event(); key && val && event) {
        analytics().logInternal("VellumJSBridge setDurationForKey: %s:%s", key->c_str(), val->c_str());
        event->setDuration(std::strtod(val->c_str(), nullptr), *key);
    }
    return true;
}
bool cmdIncrement(const Call& c) {
    auto key = c.arg("key");
    if (auto event = c.event(); key && event)
        event->incrementNumberForKey(*key);
    return true;
}
bool cmdLog(const Call& c) {
    if (auto message = c.arg("message")) {
        std::string text = *message;
        for (auto at = text.find("%20"); at != std::string::npos; at = text.find("%20", at + 1))
            text.replace(at, 3, " ");
        analytics().logInternal("%s", text.c_str());
    }
    return true;
}
bool cmdDismissAd(const Call& c) {
    if (auto d = c.delegateFor("dismissAd"))
        d->dismissAd();
    return true;
}
bool cmdAudioStart(const Call& c) {
    if (auto d = c.delegateFor("audioPlayBackDidStart"))
        d->audioPlayBackDidStart();
    return true;
}
bool cmdAudioFinish(const Call& c) {
    if (auto d = c.delegateFor("audioPlayBackDidFinish"))
        d->audioPlayBackDidFinish();
    return true;
}
bool cmdDismissBrowser(const Call& c) {
    if (auto d = c.delegateFor("dismissEmbeddedBrowser"))
        d->dismissEmbeddedBrowser();
    return true;
}

MRPageHost* Call::modalOrAdVC(std::shared_ptr<VellumAdViewController>& keep) const {
    if (!host)
        return nullptr;
    if (host->isModalAdVC())
        return host;
    keep = host->adVC();
    return keep.get();
}

bool cmdScreenCapture(const Call& c) {
    if (!c.delegateFor("dismissEmbeddedBrowser"))
        return true;
    std::shared_ptr<VellumAdViewController> keep;
    if (auto target = c.modalOrAdVC(keep))
        target->screenCapture(c.arg("filename") ? *c.arg("filename") : std::string());
    return true;
}
bool cmdInitOrientation(const Call& c) {
    c.bridge.getOrientation(c.webView, c.bridge.initOrientation());
    return true;
}
bool cmdLaunchApp(const Call& c) {
    if (!c.delegate() || !c.host)
        return true;
    auto appURL = c.arg("appURL");
    auto alternate = c.arg("alternateID");
    c.bridge.setAlternateURL(alternate ? std::optional<std::string>(*alternate) : std::nullopt);
    const std::string url = appURL ? *appURL : std::string();
    if (containsIgnoringCase(prefix(url, 3), "htt")) {
        // The mini browser reads the fallback later, so it stays set.
        c.host->showClickThroughInMiniBrowser(url);
        return false;
    }
    if (!c.host->launchAnotherApp(url, std::nullopt) && c.bridge.alternateURL())
        c.host->showClickThroughInMiniBrowser(*c.bridge.alternateURL());
    c.bridge.setAlternateURL(std::nullopt);
    return true;
}
bool cmdPlayVideo(const Call& c) {
    if (!c.delegate() || !c.host)
        return true;
    auto url = c.arg("videoURL");
    if (!url)
        return true;
    auto key = c.arg("videoKey");
    if (auto event = c.event())
        event->incrementNumberForKey("MRPlayVideo_" + (key ? *key : *url));
    std::shared_ptr<VellumAdViewController> keep;
    if (auto target = c.modalOrAdVC(keep))
        target->createAndPlayVideo(*url);
    return true;
}
bool cmdPassThru(const Call& c) {
    if (c.delegate()) {
        auto x = c.arg("x"), y = c.arg("y");
        const auto coordinate = [](const std::string* text) {
            return text ? platform::saturatingCast<int>(std::strtoll(text->c_str(), nullptr, 10)) : 0;
        };
        analytics().logDebug("Passed Thru Click Event: x:%d y:%d", coordinate(x), coordinate(y));
    }
    return true;
}
bool cmdExpand(const Call& c) {
    if (auto d = c.delegateFor("expandAd"))
        d->expandAd();
    return true;
}
bool cmdForceExpand(const Call& c) {
    if (auto d = c.delegateFor("expandAdExternal"))
        d->expandAdExternal();
    return true;
}
bool cmdDeactivateSwipe(const Call& c) {
    if (c.delegateFor("deactivateAppLevelSwipe") && c.host)
        c.host->deactivateAppLevelSwipe();
    return true;
}
bool cmdActivateSwipe(const Call& c) {
    if (c.delegateFor("activateAppLevelSwipe") && c.host)
        c.host->activateAppLevelSwipe();
    return true;
}

// The commands a page may send, compared ignoring case, first match wins.
constexpr Command kCommands[] = {
    {"getloc", cmdGetLoc},
    {"getBatteryLevel", cmdBatteryLevel},
    {"getDeviceID", cmdDeviceID},
    {"getSDKVersion", cmdSDKVersion},
    {"getAdID", cmdAdID},
    {"getAdRequest", cmdAdRequest},
    {"getaccel", cmdAccelerometer},
    {"getlocaccel", cmdAccelerometer},
    {"goback", cmdGoBack},
    {"goforward", cmdGoForward},
    {"vibrate", cmdVibrate},
    {"launchYoutube", cmdLaunchYoutube},
    {"playsound", cmdPlaySound},
    {"trackevent", cmdTrackEvent},
    {"clickthrough", cmdClickThrough},
    {"sendData", cmdSendData},
    {"batchedEvents", cmdBatched},
    {"setTrackingEventString", cmdSetString},
    {"setTrackingEventNumber", cmdSetNumber},
    {"startTimerForKey", cmdStartTimer},
    {"endTimerForKey", cmdEndTimer},
    {"setDurationForKey", cmdSetDuration},
    {"incrementKey", cmdIncrement},
    {"log", cmdLog},
    {"dismissAd", cmdDismissAd},
    {"audioPlayBackDidStart", cmdAudioStart},
    {"audioPlayBackDidFinish", cmdAudioFinish},
    {"dismissBrowser", cmdDismissBrowser},
    {"screenCapture", cmdScreenCapture},
    {"initOrientation", cmdInitOrientation},
    {"launchApp", cmdLaunchApp},
    {"playVideo", cmdPlayVideo},
    {"passThruClickEvent", cmdPassThru},
    {"expandAd", cmdExpand},
    {"forceExpand", cmdForceExpand},
    {"deactivateAppLevelSwipe", cmdDeactivateSwipe},
    {"activateAppLevelSwipe", cmdActivateSwipe},
};

} // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool containsIgnoringCase(std::string_view text, std::string_view part) {
    return std::search(text.begin(), text.end(), part.begin(), part.end(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           }) != text.end();
}

const MROutsideDestination* outsideDestinationFor(const platform::URL& url) {
    const auto host = url.host();
    const auto scheme = url.scheme();
    for (const auto& destination : kOutsideDestinations) {
        if (destination.matchesHost ? host && containsIgnoringCase(*host, destination.text)
                                    : containsIgnoringCase(scheme, destination.text))
            return &destination;
    }
    return nullptr;
}

// ---- Page host defaults: the ad view controller behind the page ----
namespace {
// The ad view controller behind `host` when it is another object than the host itself.
std::shared_ptr<VellumAdViewController> behind(const MRPageHost& host) {
    auto c = host.adVC();
    return c && static_cast<const MRPageHost*>(c.get()) != &host ? c : nullptr;
}
} // namespace

std::shared_ptr<MR_JSBridgeDelegate> MRPageHost::bridgeDelegate() {
    auto c = adVC();
    return c ? c->bridgeDelegate() : nullptr;
}
std::shared_ptr<MRCachedAd> MRPageHost::ad() const {
    auto c = behind(*this);
    return c ? c->ad() : nullptr;
}
std::string MRPageHost::strRequest() const {
    auto c = behind(*this);
    return c ? c->strRequest() : std::string();
}
void MRPageHost::setTHEStrRequest(const std::string& request) {
    if (auto c = behind(*this))
        c->setTHEStrRequest(request);
}
void MRPageHost::showClickThroughInMiniBrowser(const std::string& url) {
    if (auto c = behind(*this))
        c->showClickThroughInMiniBrowser(url);
}
void MRPageHost::performClickThrough(const std::string& url) {
    if (auto c = behind(*this))
        c->performClickThrough(url);
}
void MRPageHost::performClickThrough() {
    if (auto c = behind(*this))
        c->performClickThrough();
}
bool MRPageHost::launchAnotherApp(const std::string& url, const std::optional<std::string>& parentID) {
    auto c = behind(*this);
    return c && c->launchAnotherApp(url, parentID);
}
bool MRPageHost::downloadNewAdIntoBrowser(const std::string& adID, const std::optional<std::string>& parentID) {
    auto c = behind(*this);
    return c && c->downloadNewAdIntoBrowser(adID, parentID);
}
void MRPageHost::createAndPlayVideo(const std::string& url) {
    if (auto c = behind(*this))
        c->createAndPlayVideo(url);
}
void MRPageHost::screenCapture(const std::string& fileName) {
    if (auto c = behind(*this))
        c->screenCapture(fileName);
}

// ---- Bridge ----
VellumJSBridge::VellumJSBridge() : initJS_(buildInitJS()) {}

std::shared_ptr<VellumJSBridge> VellumJSBridge::sharedInstance() {
    if (!sharedSlot())
        sharedSlot() = std::shared_ptr<VellumJSBridge>(new VellumJSBridge());
    return sharedSlot();
}
void VellumJSBridge::resetForTesting() {
    if (auto& bridge = sharedSlot()) {
        bridge->playSound(std::nullopt, std::nullopt);
        bridge->adDismissed(nullptr);
    }
    sharedSlot().reset();
}

std::string VellumJSBridge::coreJS() {
    if (auto stored = platform::UserDefaults::standard().stringForKey(kCoreJSDefaultsKey))
        return *stored;
    return builtInCoreJS();
}

void VellumJSBridge::setCoreJS(const std::string& text) {
    auto& defaults = platform::UserDefaults::standard();
    defaults.setObject(kCoreJSDefaultsKey, platform::Value(text));
    defaults.synchronize();
}

const std::string& VellumJSBridge::builtInCoreJS() {
    static const std::string script = mrbridge_js;
    return script;
}

std::string VellumJSBridge::scriptQuoted(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        // U+2028 and U+2029 end a line inside a script string.
        if (c == 0xe2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
            (static_cast<unsigned char>(text[i + 2]) == 0xa8 || static_cast<unsigned char>(text[i + 2]) == 0xa9)) {
            out += static_cast<unsigned char>(text[i + 2]) == 0xa8 ? "\\u2028" : "\\u2029";
            i += 2;
            continue;
        }
        if (c == '\\' || c == '\'' || c == '"' || c == '<' || c == '>' || c < 0x20 || c == 0x7f) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02x", c);
            out += buffer;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string VellumJSBridge::buildInitJS() const {
    auto& device = platform::Device::current();
    return std::string("Device.init('") + kBridgeVersion + "', '" + scriptQuoted(device.model()) + "', '" +
           scriptQuoted(device.systemVersion()) + "', '" + scriptQuoted(analytics().md5DeviceID()) + "');";
}

std::string VellumJSBridge::methodFromBridgeURL(std::string_view url) {
    const std::size_t skip = std::string_view(kURLScheme).size() + 1;
    if (url.size() <= skip)
        return {};
    auto rest = url.substr(skip);
    return std::string(rest.substr(0, rest.find('?')));
}

std::optional<platform::Dictionary> VellumJSBridge::argumentsFromBridgeString(std::string_view text) {
    const auto q = text.find('?');
    if (q == std::string_view::npos)
        return std::nullopt;
    auto query = text.substr(q + 1);
    if (auto next = query.find('?'); next != std::string_view::npos)
        query = query.substr(0, next);
    analytics().logInternal("VellumJSBridge extracting args: %s", std::string(query).c_str());
    platform::Dictionary out;
    std::size_t start = 0;
    while (start <= query.size()) {
        auto end = query.find('&', start);
        if (end == std::string_view::npos)
            end = query.size();
        auto piece = query.substr(start, end - start);
        if (!piece.empty()) {
            auto eq = piece.find('=');
            auto rawKey = trimmed(piece.substr(0, eq));
            auto rawValue = eq == std::string_view::npos ? std::string() : trimmed(piece.substr(eq + 1));
            // A pair whose escapes are not UTF-8 is skipped.
            auto key = platform::percentDecode(rawKey);
            auto value = platform::percentDecode(rawValue);
            if (key && value) {
                analytics().logInternal("VellumJSBridge found arg key: %s and value: %s", key->c_str(),
                                        value->c_str());
                out[*key] = *value;
            }
        }
        start = end + 1;
    }
    return out;
}

bool VellumJSBridge::processMRBridgeMethod(std::string_view name, platform::WebView& webView,
                                           const std::optional<platform::Dictionary>& args,
                                           const std::string& basePath, MRPageHost* host, int batchDepth) {
    analytics().logInternal("VellumJSBridge evaluating: %s", std::string(name).c_str());
    static const platform::Dictionary kNoArgs;
    auto keep = shared_from_this();
    for (const auto& command : kCommands)
        if (equalsIgnoringCase(name, command.name))
            return command.run(Call{*this, webView, args ? *args : kNoArgs, basePath, host, batchDepth});
    return true;
}

bool VellumJSBridge::routeLaunchAd(platform::WebView& webView, const std::string& text, MRPageHost* host) {
    const std::size_t skip = std::string_view(kURLScheme).size() + 1;
    const std::string command = methodFromBridgeURL(text);
    analytics().logDebug("method: %s", command.c_str());
    if (command != ":launchAd" && command != "launchAd")
        return false;
    auto args = argumentsFromBridgeString(text.size() > skip ? text.substr(skip) : std::string());
    auto argument = [&](const char* key) -> std::optional<std::string> {
        if (!args)
            return std::nullopt;
        auto found = args->find(key);
        return found != args->end() && found->second.string() ? std::optional(*found->second.string())
                                                                 : std::nullopt;
    };
    auto ad = host ? host->ad() : nullptr;
    const auto adID = argument("adID");
    if (host && adID && host->downloadNewAdIntoBrowser(*adID, ad ? ad->adID : std::nullopt))
        return true;
    // The arguments are unescaped already; the page's fallback markup shows without a base.
    webView.loadHTMLString(argument("alternate").value_or(""), std::nullopt);
    if (auto d = delegateOf(host, "dismissAd"))
        d->dismissAd();
    return true;
}

void VellumJSBridge::goOutside(platform::WebView&, const std::string& text, const char* counter, VellumAdView* adView,
                               MRPageHost* host) {
    if (host)
        host->setTHEStrRequest(text);
    if (auto event = host ? host->event() : nullptr)
        event->incrementNumberForKey(counter);
    platform::Application::shared().openURL(text);
    if (adView)
        adView->adViewDismissEmbeddedBrowser();
    if (auto d = delegateOf(host, "dismissAd"))
        d->dismissAd();
}

bool VellumJSBridge::rewriteLocalPage(platform::WebView& webView, const std::string& text, VellumAdView* adView,
                                      const std::string& basePath) {
    auto decoded = platform::percentDecode(text.substr(std::min<std::size_t>(7, text.size())));
    if (!decoded)
        return false;
    auto rewritten = writePageWithMacros(*decoded, basePath, adView);
    if (!rewritten)
        return false;
    webView.loadRequest(platform::URLRequest(platform::URL::fileURL(*rewritten)));
    return true;
}

bool VellumJSBridge::webViewShouldStartLoad(platform::WebView& webView, const platform::URLRequest& request,
                                            platform::WebViewNavigationType type, VellumAdView* adView,
                                            const std::string& basePath, MRPageHost* host) {
    auto keep = shared_from_this();
    const auto& url = request.url();
    const std::string text = url.absoluteString();
    const std::string scheme = url.scheme();
    const auto host_ = url.host();
    const std::string s3 = scheme.size() > 3 ? scheme.substr(0, 3) : std::string();
    const auto current = webView.request();
    const std::string pageURL = current ? current->url().absoluteString() : std::string();

    // 1. Another ad launched from the page.
    if (auto colon = text.find(':'); colon != std::string::npos && text.substr(0, colon) == kLaunchScheme &&
                                     routeLaunchAd(webView, text, host))
        return false;
    // 2. A bridge command.
    if (equalsIgnoringCase(scheme, kURLScheme)) {
        analytics().logInternal("got VellumJSBridge call: %s", text.c_str());
        processMRBridgeMethod(methodFromBridgeURL(text), webView,
                              argumentsFromBridgeString(text.substr(scheme.size() + 1)), basePath, host);
        return false;
    }
    // 3. Stores, video site, maps, mail, messages and telephone open outside.
    if (auto destination = outsideDestinationFor(url)) {
        goOutside(webView, text, destination->counter, adView, host);
        return false;
    }
    // 4. A video link plays in the movie player.
    if (containsIgnoringCase(scheme, "video")) {
        const std::string video = text.size() > 6 ? text.substr(6) : std::string();
        if (auto event = host ? host->event() : nullptr)
            event->incrementNumberForKey("MRPlayVideo_" + video);
        if (host)
            host->createAndPlayVideo(video);
        return false;
    }
    // 5 and 6. A tapped web link, or a script-driven one from a page that has loaded, opens in
    // the mini browser.
    const bool other = type == platform::WebViewNavigationType::Other;
    if ((containsIgnoringCase(s3, "htt") && !other) || (host_ && !host_->empty() && !pageURL.empty() && other)) {
        if (host) {
            host->setTHEStrRequest(text);
            if (auto event = host->event())
                event->incrementNumberForKey(MRAdClickThru_Browser);
            host->showClickThroughInMiniBrowser(text);
        }
        return false;
    }
    // 7. The application may claim the navigation.
    if (adView && !adView->willStartLoadWithRequest(webView, request, type, basePath)) {
        if (host)
            host->setTHEStrRequest(text);
        adView->adViewDismissEmbeddedBrowser();
        if (auto event = host ? host->event() : nullptr)
            event->incrementNumberForKey(MRAdClickThru_CustomApp);
        return false;
    }
    // 8. Other web loads stay in the page.
    if (containsIgnoringCase(s3, "htt"))
        return true;
    // 9. A tapped link to a local page gets the ad's macros filled in.
    if (containsIgnoringCase(s3, "fil")) {
        const bool html = text.size() >= 4 && equalsIgnoringCase(std::string_view(text).substr(text.size() - 4), "html");
        if (html && type == platform::WebViewNavigationType::LinkClicked) {
            if (host)
                host->setTHEStrRequest(text);
            // A page that cannot be rewritten loads as it is.
            return !rewriteLocalPage(webView, text, adView, basePath);
        }
        return true;
    }
    // 10. Another application's scheme.
    auto& application = platform::Application::shared();
    if (!scheme.empty() && application.canOpenURL(text)) {
        if (!application.openURL(text))
            return true;
        if (host) {
            host->setTHEStrRequest(text);
            if (auto event = host->event())
                event->incrementNumberForKey(MRAdClickThru_ExternalApp);
        }
        if (adView)
            adView->adViewDismissEmbeddedBrowser();
        if (auto d = delegateOf(host, "dismissAd"))
            d->dismissAd();
        return false;
    }
    return true;
}

void VellumJSBridge::send(platform::WebView& webView, const std::string& script) {
    webView.stringByEvaluatingJavaScriptFromString(script);
    analytics().logInternal("VellumJSBridge sent : %s", script.c_str());
}

void VellumJSBridge::webViewDidStartLoad(platform::WebView& webView) {
    send(webView, initJS_);
}

void VellumJSBridge::webViewDidFinishLoad(platform::WebView& webView, MRPageHost* host) {
    send(webView, buildInitJS());
    accelerationObservers_.clear();
    getAdRequest(webView, host);
}

// ---- Expansion notices ----
void VellumJSBridge::setOnExpandStart(platform::WebView& webView) {
    analytics().logInternal("VellumJSBridge onExpandStart callback");
    send(webView, "if (Device.AdData.onExpandStart.set) Device.AdData.onExpandStart.set();");
}
void VellumJSBridge::setOnExpandComplete(platform::WebView& webView) {
    analytics().logInternal("VellumJSBridge onExpandComplete callback");
    send(webView, "if (Device.AdData.onExpandComplete.set) Device.AdData.onExpandComplete.set();");
}
void VellumJSBridge::setOnCollapseStart(platform::WebView& webView) {
    analytics().logInternal("VellumJSBridge onCollapseStart callback");
    send(webView, "Device.AdData.onCollapseStart.set();");
}
void VellumJSBridge::setOnCollapseComplete(platform::WebView& webView) {
    analytics().logInternal("VellumJSBridge onCollapseComplete callback");
    send(webView, "Device.AdData.onCollapseComplete.set();");
}

void VellumJSBridge::adDismissed(platform::WebView*) {
    playSound(std::nullopt, std::nullopt);
    accelerationObservers_.clear();
    releaseAccelerometer();
}

// ---- Data replies ----
void VellumJSBridge::getLocationForWebView(platform::WebView& webView) {
    const auto& location = analytics().currentLocation();
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "if(Device.Location.set) Device.Location.set('%f','%f','%d');",
                  location ? location->coordinate().latitude : 0.0,
                  location ? location->coordinate().longitude : 0.0, location ? 1 : 0);
    reply(webView, "VellumJSBridge getting location", buffer);
}

void VellumJSBridge::getDeviceID(platform::WebView& webView) {
    reply(webView, "VellumJSBridge Device ID request",
          format("if (Device.DeviceID.set) Device.DeviceID.set('%s');", scriptQuoted(analytics().md5DeviceID())));
}

void VellumJSBridge::getSDKVersion(platform::WebView& webView) {
    const std::string version =
        VellumAnalyticsManager::versionString() + "." + std::to_string(VellumAnalyticsManager::buildNumber());
    reply(webView, "VellumJSBridge SDK Version request",
          format("if (Device.SDKVersion.set) Device.SDKVersion.set('%s');", scriptQuoted(version)));
}

void VellumJSBridge::getadID(platform::WebView& webView, MRPageHost* host) {
    auto ad = host ? host->ad() : nullptr;
    reply(webView, "VellumJSBridge adID request",
          format("if (Device.AdData.adID.set) Device.AdData.adID.set('%s');",
                 scriptQuoted(ad ? ad->adID.value_or("") : "")));
}

void VellumJSBridge::getAdRequest(platform::WebView& webView, MRPageHost* host) {
    reply(webView, "VellumJSBridge AdRequest update",
          format("if (Device.AdRequest.set) Device.AdRequest.set('%s');",
                 scriptQuoted(host ? host->strRequest() : "")));
}

void VellumJSBridge::getBatteryLevel(platform::WebView& webView) {
    // The level as the device reports it: monitoring stays as the application left it.
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "if (Device.BatteryLevel.set) Device.BatteryLevel.set('%f');",
                  static_cast<double>(platform::Device::current().batteryLevel()));
    reply(webView, "VellumJSBridge battery level check", buffer);
}

// ---- Accelerometer ----
void VellumJSBridge::observeAccelerationForWebView(platform::WebView& webView, bool start, float frequency,
                                                   float shakeThreshold, float filteringFactor) {
    auto observing = std::find_if(accelerationObservers_.begin(), accelerationObservers_.end(),
                                  [&](const auto& o) { return o.lock().get() == &webView; });
    auto& accelerometer = platform::Accelerometer::sharedAccelerometer();
    if (!start) {
        if (observing != accelerationObservers_.end())
            accelerationObservers_.erase(observing);
        releaseAccelerometer();
        return;
    }
    if (observing == accelerationObservers_.end())
        accelerationObservers_.push_back(std::static_pointer_cast<platform::WebView>(webView.sharedView()));
    rollingX_ = rollingY_ = rollingZ_ = 0;
    kShakeAccelerationThreshold_ = shakeThreshold;
    kFilteringFactor_ = filteringFactor;
    accelerometer.setUpdateInterval(frequency > 0 ? frequency : kDefaultAccelerationInterval);
    accelerometer.setDelegate(std::weak_ptr<platform::AccelerometerDelegate>(shared_from_this()));
}

bool VellumJSBridge::isObservingAcceleration(const platform::WebView& webView) const {
    return std::any_of(accelerationObservers_.begin(), accelerationObservers_.end(),
                       [&](const auto& o) { return o.lock().get() == &webView; });
}

void VellumJSBridge::releaseAccelerometer() {
    auto& accelerometer = platform::Accelerometer::sharedAccelerometer();
    if (accelerometer.delegate().get() == static_cast<platform::AccelerometerDelegate*>(this))
        accelerometer.setDelegate({});
}

void VellumJSBridge::accelerometerDidAccelerate(platform::Accelerometer&, const platform::Acceleration& a) {
    // Pages that are gone stop observing.
    std::erase_if(accelerationObservers_, [](const auto& o) { return o.expired(); });
    if (accelerationObservers_.empty())
        return;
    const double f = kFilteringFactor_;
    rollingX_ = static_cast<float>(a.x * f + rollingX_ * (1.0 - f));
    rollingY_ = static_cast<float>(a.y * f + rollingY_ * (1.0 - f));
    rollingZ_ = static_cast<float>(a.z * f + rollingZ_ * (1.0 - f));
    const double hx = a.x - rollingX_, hy = a.y - rollingY_, hz = a.z - rollingZ_;
    const bool shake = std::sqrt(hx * hx + hy * hy + hz * hz) > kShakeAccelerationThreshold_;
    char buffer[512];
    std::snprintf(buffer, sizeof buffer,
                  "if (Device.Acceleration._callback) Device.Acceleration._callback('%f','%f','%f','%f','%f','%f');%s",
                  a.x, a.y, a.z, static_cast<double>(rollingX_), static_cast<double>(rollingY_),
                  static_cast<double>(rollingZ_),
                  shake ? "if (Device.Acceleration.shakeCallback) Device.Acceleration.shakeCallback();" : "");
    // A page's script may stop observing while it runs: send to a copy of the list.
    const auto observers = accelerationObservers_;
    for (const auto& observer : observers)
        if (auto webView = observer.lock())
            send(*webView, buffer);
}

// ---- Orientation ----
int VellumJSBridge::initOrientation() {
    flip_ = 0;
    switch (platform::Device::current().orientation()) {
    case platform::DeviceOrientation::LandscapeLeft: return 90;
    case platform::DeviceOrientation::LandscapeRight: return -90;
    case platform::DeviceOrientation::PortraitUpsideDown: flip_ = 180; return 180;
    default: return 0;
    }
}

void VellumJSBridge::getOrientation(platform::WebView& webView, int angle) {
    int sent = angle + flip_;
    if (sent == 270)
        sent = -90;
    reply(webView, "VellumJSBridge Orientation update",
          "if (Device.Orientation.set) Device.Orientation.set('" + std::to_string(sent) + "');");
}



// ---- Sound ----
void VellumJSBridge::playSound(const std::optional<std::string>& file, const std::optional<std::string>& basePath) {
    std::optional<std::string> path;
    // Only a file inside the ad's own folder is played.
    if (file && basePath)
        if (auto inside = platform::FileManager::pathInside(*basePath, *file))
            path = inside->string();
    analytics().logInternal("VellumJSBridge playing sound file: %s", path ? path->c_str() : "(null)");
    if (auto previous = std::move(audioPlayer_)) {
        previous->setAudioPlayerShouldStopImmediately(true);
        previous->stop();
    }
    if (!path)
        return;
    auto& session = platform::AudioSession::shared();
    if (!session.isInitialized())
        session.initialize();
    session.setProperty(platform::kAudioSessionPropertyAudioCategory, platform::kAudioSessionCategoryMediaPlayback);
    auto player = MRAudioPlayer::initWithURL(platform::URL::fileURL(*path), platform::ReadableFolder(*basePath));
    if (!player)
        return;
    audioPlayer_ = player;
    player->setNotificationDelegate(std::weak_ptr<MRAudioQueueObjectDelegate>(shared_from_this()));
    session.setActive(true);
    player->play();
}

void VellumJSBridge::audioQueueStateChangeCallback(MRAudioPlayer& player) {
    if (audioPlayer_.get() != &player || player.isRunning())
        return;
    // The player is released on a later turn, not inside its own queue's notice.
    platform::RunLoop::current().performAfter(0, [finished = std::move(audioPlayer_)] {});
}

void VellumJSBridge::vibrate() {
    platform::AudioServicesPlaySystemSound(platform::kSystemSoundIDVibrate);
}

} // namespace vellum
