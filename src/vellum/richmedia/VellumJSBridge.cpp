// VellumJSBridge: the "mrbridge:" router, the command table a page may reach, the data
// replies and page start-up.
#include "vellum/richmedia/VellumJSBridge.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>

#include "platform/foundation/URL.h"
#include "platform/ui/Device.h"
#include "vellum/richmedia/MRCachedAd.h"
#include "vellum/richmedia/VellumAdView.h"
#include "vellum/richmedia/VellumAdViewController.h"
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

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string trimmed(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1])))
        --e;
    return std::string(text.substr(b, e - b));
}

std::string format(const char* fmt, const std::string& a) {
    const std::string f = fmt;
    const auto at = f.find("%s");
    return at == std::string::npos ? f : f.substr(0, at) + a + f.substr(at + 2);
}

// One command a page may send.
struct Command {
    const char* name;
    // Answers the command's result.
    bool (*run)(VellumJSBridge& bridge, platform::WebView& webView, const platform::Dictionary& args,
                const std::string& basePath, VellumAdViewController* host, int depth);
};

const std::string* arg(const platform::Dictionary& args, std::string_view key) {
    auto found = args.find(key);
    return found == args.end() ? nullptr : found->second.string();
}

void reply(platform::WebView& webView, const char* logLine, const std::string& script) {
    analytics().logInternal("%s", logLine);
    webView.stringByEvaluatingJavaScriptFromString(script);
    analytics().logInternal("VellumJSBridge sent : %s", script.c_str());
}

std::shared_ptr<VellumEvent> hostEvent(VellumAdViewController* host) {
    return host ? host->event() : nullptr;
}

template <typename F> bool withDelegate(VellumJSBridge& bridge, F call) {
    if (auto delegate = bridge.delegate())
        call(*delegate);
    return true;
}

bool cmdGetLoc(VellumJSBridge&, platform::WebView& w, const platform::Dictionary&, const std::string&,
               VellumAdViewController*, int) {
    const auto& location = analytics().currentLocation();
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "if(Device.Location.set) Device.Location.set('%f','%f','%d');",
                  location ? location->coordinate().latitude : 0.0, location ? location->coordinate().longitude : 0.0, location ? 1 : 0);
    reply(w, "VellumJSBridge getting location", buffer);
    return true;
}
bool cmdDeviceID(VellumJSBridge&, platform::WebView& w, const platform::Dictionary&, const std::string&,
                 VellumAdViewController*, int) {
    reply(w, "VellumJSBridge Device ID request",
          format("if (Device.DeviceID.set) Device.DeviceID.set('%s');",
                 VellumJSBridge::scriptQuoted(analytics().md5DeviceID())));
    return true;
}
bool cmdSDKVersion(VellumJSBridge&, platform::WebView& w, const platform::Dictionary&, const std::string&,
                   VellumAdViewController*, int) {
    const std::string version = VellumAnalyticsManager::versionString() + "." +
                                std::to_string(VellumAdServer::buildNumber());
    reply(w, "VellumJSBridge SDK Version request",
          format("if (Device.SDKVersion.set) Device.SDKVersion.set('%s');", VellumJSBridge::scriptQuoted(version)));
    return true;
}
bool cmdAdID(VellumJSBridge&, platform::WebView& w, const platform::Dictionary&, const std::string&,
             VellumAdViewController* host, int) {
    auto ad = host ? host->ad() : nullptr;
    reply(w, "VellumJSBridge adID request",
          format("if (Device.AdData.adID.set) Device.AdData.adID.set('%s');",
                 VellumJSBridge::scriptQuoted(ad ? ad->adID.value_or("") : "")));
    return true;
}
bool cmdAdRequest(VellumJSBridge&, platform::WebView& w, const platform::Dictionary&, const std::string&,
                  VellumAdViewController* host, int) {
    reply(w, "VellumJSBridge AdRequest update",
          format("if (Device.AdRequest.set) Device.AdRequest.set('%s');",
                 VellumJSBridge::scriptQuoted(host ? host->strRequest() : "")));
    return true;
}
bool cmdOrientation(VellumJSBridge&, platform::WebView& w, const platform::Dictionary&, const std::string&,
                    VellumAdViewController*, int) {
    int angle = 0;
    switch (platform::Device::current().orientation()) {
    case platform::DeviceOrientation::LandscapeLeft: angle = 90; break;
    case platform::DeviceOrientation::LandscapeRight: angle = -90; break;
    case platform::DeviceOrientation::PortraitUpsideDown: angle = 360; break; // 180 plus the flip
    default: break;
    }
    reply(w, "VellumJSBridge Orientation update",
          "if (Device.Orientation.set) Device.Orientation.set('" + std::to_string(angle) + "');");
    return true;
}
bool cmdGoBack(VellumJSBridge&, platform::WebView& w, const platform::Dictionary&, const std::string&,
               VellumAdViewController*, int) {
    w.goBack();
    return true;
}
bool cmdGoForward(VellumJSBridge&, platform::WebView& w, const platform::Dictionary&, const std::string&,
                  VellumAdViewController*, int) {
    w.goForward();
    return true;
}
bool cmdTrackEvent(VellumJSBridge&, platform::WebView&, const platform::Dictionary& a, const std::string&,
                   VellumAdViewController*, int) {
    if (auto key = arg(a, "eventKey"))
        analytics().trackEventWithUserDict(*key, a);
    return true;
}
bool cmdClickThrough(VellumJSBridge&, platform::WebView&, const platform::Dictionary& a, const std::string&,
                     VellumAdViewController* host, int) {
    if (!host)
        return true;
    if (auto url = arg(a, "url"))
        host->performClickThrough(*url);
    else
        host->performClickThrough();
    return true;
}
bool cmdBatched(VellumJSBridge& bridge, platform::WebView& w, const platform::Dictionary& a, const std::string& base,
                VellumAdViewController* host, int depth) {
    if (depth >= VellumJSBridge::kMaxBatchDepth)
        return true; // a batch inside a batch is refused
    for (const auto& [key, value] : a) {
        (void)value;
        const std::string command = key.substr(0, key.find('?'));
        bridge.processMRBridgeMethod(command, w, VellumJSBridge::argumentsFromBridgeString(key), base, host,
                                     depth + 1);
    }
    return true;
}
bool cmdSetString(VellumJSBridge&, platform::WebView&, const platform::Dictionary& a, const std::string&,
                  VellumAdViewController* host, int) {
    auto key = arg(a, "key"), val = arg(a, "val");
    auto event = hostEvent(host);
    if (key && val && event) {
        analytics().logInternal("VellumJSBridge setTrackingEventString: %s : %s", key->c_str(), val->c_str());
        event->setString(*val, *key);
    }
    return true;
}
bool cmdSetNumber(VellumJSBridge&, platform::WebView&, const platform::Dictionary& a, const std::string&,
                  VellumAdViewController* host, int) {
    auto key = arg(a, "key"), val = arg(a, "val");
    auto event = hostEvent(host);
    if (key && val && event) {
        analytics().logInternal("VellumJSBridge setTrackingEventNumber: %s : %s", key->c_str(), val->c_str());
        event->setNumber(platform::Value(static_cast<double>(std::strtof(val->c_str(), nullptr))), *key);
    }
    return true;
}
bool cmdStartTimer(VellumJSBridge&, platform::WebView&, const platform::Dictionary& a, const std::string&,
                   VellumAdViewController* host, int) {
    auto key = arg(a, "key");
    if (auto event = hostEvent(host); key && event) {
        analytics().logInternal("VellumJSBridge startTimerForKey: %s", key->c_str());
        event->startTimerForKey(*key);
    }
    return true;
}
bool cmdEndTimer(VellumJSBridge&, platform::WebView&, const platform::Dictionary& a, const std::string&,
                 VellumAdViewController* host, int) {
    auto key = arg(a, "key");
    if (auto event = hostEvent(host); key && event) {
        analytics().logInternal("VellumJSBridge endTimerForKey: %s", key->c_str());
        event->endTimerForKey(*key);
    }
    return true;
}
bool cmdSetDuration(VellumJSBridge&, platform::WebView&, const platform::Dictionary& a, const std::string&,
                    VellumAdViewController* host, int) {
    auto key = arg(a, "key"), val = arg(a, "val");
    if (auto event = hostEvent(host); key && val && event) {
        analytics().logInternal("VellumJSBridge setDurationForKey: %s:%s", key->c_str(), val->c_str());
        event->setDuration(std::strtod(val->c_str(), nullptr), *key);
    }
    return true;
}
bool cmdIncrement(VellumJSBridge&, platform::WebView&, const platform::Dictionary& a, const std::string&,
                  VellumAdViewController* host, int) {
    auto key = arg(a, "key");
    if (auto event = hostEvent(host); key && event)
        event->incrementNumberForKey(*key);
    return true;
}
bool cmdLog(VellumJSBridge&, platform::WebView&, const platform::Dictionary& a, const std::string&,
            VellumAdViewController*, int) {
    if (auto message = arg(a, "message")) {
        std::string text = *message;
        for (auto at = text.find("%20"); at != std::string::npos; at = text.find("%20", at + 1))
            text.replace(at, 3, " ");
        analytics().logInternal("%s", text.c_str());
    }
    return true;
}
bool cmdDismissAd(VellumJSBridge& b, platform::WebView&, const platform::Dictionary&, const std::string&,
                  VellumAdViewController*, int) {
    return withDelegate(b, [](VellumAdViewController& d) { d.dismissAd(); });
}
bool cmdAudioStart(VellumJSBridge& b, platform::WebView&, const platform::Dictionary&, const std::string&,
                   VellumAdViewController*, int) {
    return withDelegate(b, [](VellumAdViewController& d) { d.audioPlayBackDidStart(); });
}
bool cmdAudioFinish(VellumJSBridge& b, platform::WebView&, const platform::Dictionary&, const std::string&,
                    VellumAdViewController*, int) {
    return withDelegate(b, [](VellumAdViewController& d) { d.audioPlayBackDidFinish(); });
}
bool cmdDismissBrowser(VellumJSBridge& b, platform::WebView&, const platform::Dictionary&, const std::string&,
                       VellumAdViewController*, int) {
    return withDelegate(b, [](VellumAdViewController& d) { d.dismissEmbeddedBrowser(); });
}
bool cmdExpand(VellumJSBridge& b, platform::WebView&, const platform::Dictionary&, const std::string&,
               VellumAdViewController*, int) {
    return withDelegate(b, [](VellumAdViewController& d) { d.expandAd(); });
}
bool cmdForceExpand(VellumJSBridge& b, platform::WebView&, const platform::Dictionary&, const std::string&,
                    VellumAdViewController*, int) {
    return withDelegate(b, [](VellumAdViewController& d) { d.expandAdExternal(); });
}
bool cmdPassThru(VellumJSBridge& b, platform::WebView&, const platform::Dictionary& a, const std::string&,
                 VellumAdViewController*, int) {
    if (b.delegate()) {
        auto x = arg(a, "x"), y = arg(a, "y");
        analytics().logDebug("Passed Thru Click Event: x:%d y:%d", x ? std::atoi(x->c_str()) : 0,
                             y ? std::atoi(y->c_str()) : 0);
    }
    return true;
}

// The commands a page may send, compared ignoring case, first match wins.
constexpr Command kCommands[] = {
    {"getloc", cmdGetLoc},
    {"getDeviceID", cmdDeviceID},
    {"getSDKVersion", cmdSDKVersion},
    {"getAdID", cmdAdID},
    {"getAdRequest", cmdAdRequest},
    {"goback", cmdGoBack},
    {"goforward", cmdGoForward},
    {"trackevent", cmdTrackEvent},
    {"clickthrough", cmdClickThrough},
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
    {"initOrientation", cmdOrientation},
    {"passThruClickEvent", cmdPassThru},
    {"expandAd", cmdExpand},
    {"forceExpand", cmdForceExpand},
};

} // namespace

VellumJSBridge::VellumJSBridge() : initJS_(buildInitJS()) {}

std::shared_ptr<VellumJSBridge> VellumJSBridge::sharedInstance() {
    if (!sharedSlot())
        sharedSlot() = std::shared_ptr<VellumJSBridge>(new VellumJSBridge());
    return sharedSlot();
}
void VellumJSBridge::resetForTesting() {
    sharedSlot().reset();
}

std::string VellumJSBridge::scriptQuoted(std::string_view text) {
    std::string out;
    for (unsigned char c : text) {
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
                                           const std::string& basePath, VellumAdViewController* host,
                                           int batchDepth) {
    analytics().logInternal("VellumJSBridge evaluating: %s", std::string(name).c_str());
    static const platform::Dictionary kNoArgs;
    for (const auto& command : kCommands)
        if (equalsIgnoringCase(name, command.name))
            return command.run(*this, webView, args ? *args : kNoArgs, basePath, host, batchDepth);
    return true;
}

bool VellumJSBridge::webViewShouldStartLoad(platform::WebView& webView, const platform::URLRequest& request,
                                            platform::WebViewNavigationType type, VellumAdView* adView,
                                            const std::string& basePath, VellumAdViewController* host) {
    const auto& url = request.url();
    const std::string text = url.absoluteString();
    const std::string scheme = url.scheme();
    if (equalsIgnoringCase(scheme, kURLScheme)) {
        analytics().logInternal("got VellumJSBridge call: %s", text.c_str());
        const auto command = methodFromBridgeURL(text);
        processMRBridgeMethod(command, webView, argumentsFromBridgeString(text.substr(scheme.size() + 1)), basePath,
                              host);
        return false;
    }
    if (adView && !adView->willStartLoadWithRequest(webView, request, type, basePath)) {
        if (host)
            host->setTHEStrRequest(text);
        adView->adViewDismissEmbeddedBrowser();
        if (auto event = hostEvent(host))
            event->incrementNumberForKey("MRAdClickThru_CustomApp");
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

void VellumJSBridge::webViewDidFinishLoad(platform::WebView& webView, VellumAdViewController* host) {
    send(webView, buildInitJS());
    cmdAdRequest(*this, webView, {}, {}, host, 0);
}

} // namespace vellum
