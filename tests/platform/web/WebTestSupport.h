#pragma once
// Shared pieces of the web view tests: a delegate that records every callback in order, and
// a fixture with a manual clock, a web view and a temporary folder for file: pages (the one
// folder the fixture's web view may read).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/runloop/RunLoop.h"
#include "platform/web/WebView.h"
#include "support/ManualClockScope.h"
#include "support/TemporaryHome.h"

namespace webtest {

class RecordingDelegate : public platform::WebViewDelegate {
public:
    // One line per callback: "should URL type", "start", "finish", "fail CODE".
    std::vector<std::string> events;
    // Decides the should-start answer (allow everything when empty).
    std::function<bool(const platform::URLRequest&, platform::WebViewNavigationType)> decide;

    bool webViewShouldStartLoadWithRequestNavigationType(platform::WebView&,
                                                         const platform::URLRequest& request,
                                                         platform::WebViewNavigationType type) override {
        events.push_back("should " + request.url().absoluteString() + " " +
                         std::to_string(static_cast<int>(type)));
        return decide ? decide(request, type) : true;
    }
    void webViewDidStartLoad(platform::WebView&) override { events.push_back("start"); }
    void webViewDidFinishLoad(platform::WebView&) override { events.push_back("finish"); }
    void webViewDidFailLoadWithError(platform::WebView&, const platform::Error& error) override {
        events.push_back("fail " + std::to_string(error.code));
    }

    std::size_t count(const std::string& event) const {
        return static_cast<std::size_t>(std::count(events.begin(), events.end(), event));
    }
    bool ended() const { return count("finish") + failures() > 0; }
    std::size_t failures() const {
        return static_cast<std::size_t>(std::count_if(
            events.begin(), events.end(), [](const std::string& e) { return e.rfind("fail ", 0) == 0; }));
    }
};

class WebViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        webView = std::make_shared<platform::WebView>(platform::Rect{0, 0, 320, 480});
        webView->setDelegate(delegate);
        webView->setReadableFolder(platform::ReadableFolder(home.root() / "tmp"));
    }

    // Loads `html` and runs turns until the load has ended.
    void loadHTML(const std::string& html, const std::string& base = "http://ads.example/page/index.html") {
        const std::size_t before = delegate->count("finish") + delegate->failures();
        webView->loadHTMLString(html, platform::URL::parse(base));
        ASSERT_TRUE(
            clock.runUntil([&] { return delegate->count("finish") + delegate->failures() > before; }, 10));
    }

    // Writes a file in the temporary home and answers its file: URL.
    platform::URL writeFile(const std::string& name, const std::string& contents) {
        const auto path = home.root() / "tmp" / name;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << contents;
        return platform::URL::fileURL(path);
    }

    std::string eval(const std::string& script) {
        return webView->stringByEvaluatingJavaScriptFromString(script);
    }

    fwtest::ManualClockScope clock;
    fwtest::TemporaryHome home;
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<platform::WebView> webView;
};

} // namespace webtest
