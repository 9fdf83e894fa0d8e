// Web pages from the network through the web view: any page loads to exactly one outcome
// (finished or failed), its scripts stay inside their time budget (endless loops are cut
// short), its timers run on the manual clock without end-of-world effects, and every page
// navigation waits for the delegate's answer (refused here, so the page stays).
#include "FuzzSupport.h"

#include <chrono>

#include "platform/web/WebView.h"
#include "support/ManualClockScope.h"

namespace {

// Allows the one load the target asks for and refuses every navigation the page makes.
class Delegate : public platform::WebViewDelegate {
public:
    int offered = 0;
    int started = 0;
    int finished = 0;
    int failed = 0;
    bool webViewShouldStartLoadWithRequestNavigationType(platform::WebView&, const platform::URLRequest&,
                                                         platform::WebViewNavigationType) override {
        return ++offered == 1;
    }
    void webViewDidStartLoad(platform::WebView&) override { ++started; }
    void webViewDidFinishLoad(platform::WebView&) override { ++finished; }
    void webViewDidFailLoadWithError(platform::WebView&, const platform::Error&) override { ++failed; }
};

// A base on the loopback discard port: a script or image the page names relative to it is
// refused at once instead of reaching any real service.
constexpr std::string_view kBase = "http://127.0.0.1:9/ads/page.html";
// Page timers are run for this much manual time after the load.
constexpr int kTimerSeconds = 2;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fwtest::ManualClockScope clock;
    auto delegate = std::make_shared<Delegate>();
    auto webView = std::make_shared<platform::WebView>(platform::Rect{0, 0, 320, 480});
    webView->setDelegate(delegate);
    webView->loadHTMLString(std::string(fwfuzz::text(data, size)), platform::URL::parse(kBase));

    const auto start = std::chrono::steady_clock::now();
    FUZZ_CHECK(clock.runUntil([&] { return delegate->finished + delegate->failed > 0; }, 30));
    for (int i = 0; i < kTimerSeconds; ++i)
        clock.advance(1.0);
    (void)webView->stringByEvaluatingJavaScriptFromString("document.title");
    clock.drain();
    FUZZ_CHECK(delegate->started == 1);
    FUZZ_CHECK(delegate->finished + delegate->failed == 1);
    webView->stopLoading();
    clock.drain();
    FUZZ_CHECK(delegate->finished + delegate->failed == 1);
    // Every evaluation is cut at its budget; a page has a handful of them per second of timers.
    FUZZ_CHECK(std::chrono::steady_clock::now() - start < std::chrono::seconds(60));
    return 0;
}
