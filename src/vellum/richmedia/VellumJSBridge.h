#pragma once
// VellumJSBridge: the native end of the channel between a rich-media ad page and the engine.
// A page calls the client by navigating to "mrbridge:" URLs; the client never loads them, it
// runs the named command and, where the command asks for data, answers by evaluating a short
// script in the page that calls a setter of the page's Device object. Only the commands of
// the bridge's command table can be reached from a page; anything else is ignored. Texts
// placed into reply scripts are escaped for a single-quoted script string.
//
// One bridge per process (sharedInstance(); resetForTesting() drops it). Main thread only.
// The delegate (the ad view controller of the ad now shown) is held weakly; the page host is
// passed with each call.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"
#include "platform/web/WebView.h"

namespace vellum {

class VellumAdView;
class VellumAdViewController;

class VellumJSBridge {
public:
    static constexpr const char* kURLScheme = "mrbridge";
    static constexpr const char* kCoreJSFileName = "mrbridge.js";
    static constexpr const char* kBridgeVersion = "1.1";
    // How deep batched commands may nest: a batch may not hold another batch.
    static constexpr int kMaxBatchDepth = 1;

    static std::shared_ptr<VellumJSBridge> sharedInstance();
    static void resetForTesting();
    static std::string jsBridgeURLScheme() { return kURLScheme; }
    static std::string coreJSFileName() { return kCoreJSFileName; }

    void setDelegate(std::weak_ptr<VellumAdViewController> delegate) { delegate_ = std::move(delegate); }
    std::shared_ptr<VellumAdViewController> delegate() const { return delegate_.lock(); }

    // The navigation router: YES lets the web view load the request.
    bool webViewShouldStartLoad(platform::WebView& webView, const platform::URLRequest& request,
                                platform::WebViewNavigationType type, VellumAdView* adView,
                                const std::string& basePath, VellumAdViewController* host);
    // Runs one command of the table; answers YES (the page's navigation is never loaded).
    bool processMRBridgeMethod(std::string_view name, platform::WebView& webView,
                               const std::optional<platform::Dictionary>& args, const std::string& basePath,
                               VellumAdViewController* host, int batchDepth = 0);
    static std::string methodFromBridgeURL(std::string_view url);
    static std::optional<platform::Dictionary> argumentsFromBridgeString(std::string_view text);
    // `text` as the inside of a single-quoted script string.
    static std::string scriptQuoted(std::string_view text);

    void webViewDidStartLoad(platform::WebView& webView);
    void webViewDidFinishLoad(platform::WebView& webView, VellumAdViewController* host);
    const std::string& initJS() const { return initJS_; }

private:
    VellumJSBridge();
    std::string buildInitJS() const;
    void send(platform::WebView& webView, const std::string& script);

    std::string initJS_;
    std::weak_ptr<VellumAdViewController> delegate_;
};

} // namespace vellum
