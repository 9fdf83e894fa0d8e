// Hostile content through the Tangent client's real entry point: the widget asks the loopback
// ad service, which answers with a crafted page or a malformed reply; the page may then act.
// For every row the main thread keeps answering, nothing outside the client's own folder
// changes, and the slot still shows the next, ordinary ad.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include "TangentTestSupport.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/net/URLConnection.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"
#include "services/TangentEndpoints.h"
#include "support/LoopbackServices.h"
#include "support/ManualClockScope.h"
#include "support/SharedReply.h"
#include "support/TemporaryHome.h"
#include "tangent/TGActionController.h"
#include "tangent/TGAdWidget.h"
#include "tangent/TGAdWidgetDelegate.h"
#include "tangent/TGBrowserView.h"
#include "tangent/TGDeviceInfo.h"
#include "tangent/TGEventManager.h"
#include "tangent/TGRequest.h"
#include "tangent/TGWebComponent.h"

using namespace tangent;
namespace fs = std::filesystem;

namespace {

class HostileHost : public TGAdWidgetDelegate {
public:
    std::optional<std::string> publisherId(TGAdWidgetWorker&) override { return std::string("pub-1"); }
    void adWidgetDidFailToRequestAd(TGAdWidgetWorker&, const std::optional<platform::Error>&) override {
        ++failures;
    }
    void adWidgetDidFailToShowAd(TGAdWidgetWorker&, const std::optional<platform::Error>&) override {
        ++failures;
    }
    int failures = 0;
};

// Every file under the home folder but the client's own, with its contents.
std::map<std::string, std::string> outsideFiles(const fs::path& home) {
    std::map<std::string, std::string> files;
    for (auto it = fs::recursive_directory_iterator(home); it != fs::recursive_directory_iterator(); ++it) {
        const auto relative = fs::relative(it->path(), home).generic_string();
        if (relative.rfind("Library/Tangent", 0) == 0) {
            it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file()) {
            std::ifstream in(it->path(), std::ios::binary);
            files[relative] = std::string(std::istreambuf_iterator<char>(in), {});
        } else {
            files[relative] = "<dir>";
        }
    }
    return files;
}

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Row {
    const char* name;
    services::ServiceReply reply; // the ad service's answer
    bool shown;                   // whether the crafted ad is shown at all
    std::string script;           // run in the shown ad's page
    // Checks after the script, with the ad's web view and the home folder.
    std::function<void(TGAdView&, const fs::path&)> check;
};

services::ServiceReply page(std::string markup, std::vector<services::NameValue> headers = {}) {
    return services::ServiceReply{200, std::move(markup), "text/html; charset=utf-8", std::move(headers)};
}

} // namespace

TEST(TangentHostile, CraftedPagesAndRepliesStayInTheirBox) {
    const std::string huge(3 * 1024 * 1024, 'x');
    const std::string hostname = fileText("/etc/hostname");
    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary.push_back(static_cast<char>((i * 37) & 0xff));
    int movieNotices = 0; // what any movie player posted during a row
    const std::vector<Row> rows = {
        {"the page navigates itself to a local file", page("<p id='ad'>ad</p>"), true,
         "window.location.href = 'file:///etc/hostname';",
         [&](TGAdView& ad, const fs::path&) {
             EXPECT_EQ(ad.evalJS("typeof Lantern"), "object");
             if (!hostname.empty()) {
                 EXPECT_EQ(ad.evalJS("document.body.innerHTML").find(hostname), std::string::npos);
             }
         }},
        {"an image probes a local file",
         page("<img src='file:///etc/passwd' onload=\"window.probe='loaded'\" "
              "onerror=\"window.probe='error'\">"),
         true, "", [](TGAdView& ad, const fs::path&) { EXPECT_NE(ad.evalJS("window.probe"), "loaded"); }},
        {"a script source outside the client's folder",
         page("<script src='file://${HOME}/Documents/outside.js'></script>"), true, "",
         [](TGAdView& ad, const fs::path&) { EXPECT_EQ(ad.evalJS("String(window.outside)"), "undefined"); }},
        {"a click through to a local file", page("<p>ad</p>"), true,
         "Lantern.beginDisplay(); Lantern.openUri('file:///etc/hostname');",
         [&](TGAdView& ad, const fs::path&) {
             auto browser = ad.actionController()->browserView();
             auto shown = browser ? browser->webContent() : nullptr;
             if (shown && shown->request()) {
                 EXPECT_NE(shown->request()->url().scheme(), "file");
             }
             if (shown && !hostname.empty()) {
                 EXPECT_EQ(shown
                               ->stringByEvaluatingJavaScriptFromString(
                                   "document.body ? document.body.innerHTML : ''")
                               .find(hostname),
                           std::string::npos);
             }
         }},
        {"a click on a movie of the person's", page("<p>ad</p>"), true,
         "Lantern.beginDisplay(); Lantern.openUri('file://${HOME}/Documents/clip.mp4', 'video');",
         [&](TGAdView&, const fs::path&) { EXPECT_EQ(movieNotices, 0) << "a movie player took the file"; }},
        {"a click whose server redirects to a movie of the person's", page("<p>ad</p>"), true,
         "Lantern.beginDisplay(); Lantern.openUri('${SERVICES}/hostile/redirect-to-clip');",
         [&](TGAdView&, const fs::path&) { EXPECT_EQ(movieNotices, 0) << "a movie player took the file"; }},
        {"a link with an unknown scheme", page("<p>ad</p>"), true,
         "window.location.href = 'fw-unknown://x/y';",
         [](TGAdView& ad, const fs::path&) { EXPECT_EQ(ad.currentActionState(), inactiveState); }},
        {"a resize with numbers out of every range", page("<p>ad</p>"), true,
         "window.location.href = 'tgc://tangent/width:height:transition:callback:options:?"
         "1e300&-99999999999999999999999&2147483648&&';",
         [](TGAdView& ad, const fs::path&) {
             auto component = std::dynamic_pointer_cast<TGWebComponent>(ad.adWrapper());
             ASSERT_TRUE(component);
             const auto screen = platform::Screen::main().bounds().size;
             const auto frame = ad.adWebView()->frame();
             EXPECT_LE(frame.size.width, screen.width);
             EXPECT_LE(frame.size.height, screen.height);
             EXPECT_GE(frame.size.height, 0);
         }},
        {"oversized strings in commands", page("<p>ad</p>"), true,
         "Lantern.beginDisplay(); Lantern.log(new Array(200001).join('y'));"
         "Lantern.openUri('http://127.0.0.1:1/' + new Array(200001).join('z'));",
         [](TGAdView& ad, const fs::path&) { EXPECT_EQ(ad.evalJS("typeof Lantern"), "object"); }},
        {"a log flood through logMessage", page("<p>ad</p>"), true,
         "Lantern.beginDisplay(); for (var i = 0; i < 100; i++) Lantern.log(i + new Array(8001).join('w'));",
         [](TGAdView& ad, const fs::path&) { EXPECT_EQ(ad.evalJS("String(Lantern.queue.length)"), "0"); }},
        {"a response id that tries to leave its script string",
         page("<p>ad</p>", {{"Xjt-Responseid", "\"</script><script>window.pwned=1</script>\\u2028'"}}), true,
         "",
         [](TGAdView& ad, const fs::path&) {
             EXPECT_EQ(ad.evalJS("String(window.pwned)"), "undefined");
             EXPECT_EQ(ad.evalJS("typeof Lantern"), "object");
         }},
        {"binary junk as the page", page(binary), false, "", nullptr},
        {"an error status", services::ServiceReply{500, "<p>ad</p>", "text/html", {}}, false, "", nullptr},
        {"an empty reply", page(""), false, "", nullptr},
        {"a reply over the size cap", page(huge), false, "", nullptr},
    };
    // One row: a failed assertion ends that row only.
    auto runRow = [&](const Row& row) {
        fwtest::TemporaryHome home;
        fwtest::ManualClockScope clock;
        fwtest::LoopbackServices services;
        tangenttest::TGLogScope logLevel(1);
        platform::LogCapture log;
        platform::Application::resetForTesting();
        platform::Device::resetForTesting();
        TGEventManager::resetForTesting();
        TGDeviceInfo::resetForTesting();
        auto window = std::make_shared<platform::Window>(platform::Screen::main().bounds());
        window->makeKeyAndVisible();
        auto host = std::make_shared<HostileHost>();
        auto reply = std::make_shared<fwtest::SharedReply>();
        auto crafted = row.reply;
        if (auto at = crafted.body.find("${HOME}"); at != std::string::npos)
            crafted.body.replace(at, 7, home.root().string());
        reply->set(crafted);
        std::string script = row.script;
        for (auto at = script.find("${HOME}"); at != std::string::npos; at = script.find("${HOME}"))
            script.replace(at, 7, home.root().string());
        for (auto at = script.find("${SERVICES}"); at != std::string::npos; at = script.find("${SERVICES}"))
            script.replace(at, 11, services.baseURL());
        // A click address whose server sends the click on to a file of the person's.
        const std::string clipURL =
            platform::URL::fileURL(home.root() / "Documents" / "clip.mp4").absoluteString();
        services.handle("GET", "/hostile/redirect-to-clip", [clipURL](const services::LoggedRequest&) {
            return services::ServiceReply{302, "", "text/plain", {{"Location", clipURL}}};
        });
        std::ofstream(home.root() / "Documents" / "outside.js") << "window.outside = 'ran';";
        services::installTangentEndpoints(services.host());
        services.handle("GET", std::string(services::kTangentAdPath), reply->handler());
        std::ofstream(home.root() / "Documents" / "keep.txt") << "the user's file";
        std::ofstream(home.root() / "Documents" / "clip.mp4") << "a movie of the person's";
        TGDeviceInfo::instance(); // the device's own identifier is written on first use
        const auto before = outsideFiles(home.root());
        // The main thread answers while the row runs: a turn posted to it gets its turn.
        auto answers = [&] {
            bool answered = false;
            platform::RunLoop::main().perform([&answered] { answered = true; });
            return clock.runUntil([&] { return answered; });
        };
        auto waitFor = [&](const std::function<bool()>& done) {
            return clock.runUntil([&] {
                clock.advance(0.02);
                return done();
            });
        };

        movieNotices = 0;
        auto movieToken = platform::NotificationCenter::defaultCenter().addObserver(
            "", [&](const platform::Notification& notice) {
                if (notice.name.find("MoviePlayer") != std::string::npos)
                    ++movieNotices;
            });

        auto widget = TGAdWidget::create(host, false);
        widget->setFrame(platform::Rect{0, 430, 320, 50});
        window->addSubview(widget);
        widget->loadRequest();
        ASSERT_TRUE(waitFor([&] { return widget->currentAdView() != nullptr || host->failures > 0; }));
        EXPECT_EQ(widget->currentAdView() != nullptr, row.shown);
        auto ad = widget->currentAdView();
        if (ad && !script.empty()) {
            ad->evalJS(script);
            // The page's queue and navigations settle.
            ASSERT_TRUE(waitFor([&] {
                return !ad->adWebView() ||
                       (!ad->adWebView()->isLoading() &&
                        ad->evalJS("String(typeof Lantern !== 'object' || (Lantern.queue.length === 0 && "
                                   "!Lantern.waiting))") == "true");
            }));
            clock.advance(1.0);
            ASSERT_TRUE(waitFor([&] { return ad->currentActionState() == inactiveState; }));
        }
        if (ad && row.check)
            row.check(*ad, home.root());
        EXPECT_TRUE(answers());
        EXPECT_FALSE(platform::Application::shared().isIgnoringInteractionEvents() && !ad);

        // The slot shows the next, ordinary ad.
        services.handle("GET", std::string(services::kTangentAdPath), reply->handler());
        reply->set(page("<p id='next'>Ferro Wick Pro</p>"));
        if (ad && ad->currentViewState() == activeState) {
            // An expansion the row caused is closed by the page first.
            ad->evalJS("Lantern.restoreToBanner(null, 'None');");
            ASSERT_TRUE(waitFor([&] { return ad->currentViewState() == inactiveState; }));
        }
        widget->refreshAd();
        ASSERT_TRUE(waitFor([&] {
            auto next = widget->currentAdView();
            return next && next != ad && next->currentViewState() == inactiveState &&
                   next->evalJS("document.getElementById('next') ? 'yes' : 'no'") == "yes";
        }));
        EXPECT_TRUE(widget->currentAdView()->adWebView()->window());
        EXPECT_FALSE(platform::Application::shared().isIgnoringInteractionEvents());

        EXPECT_EQ(outsideFiles(home.root()), before);
        platform::NotificationCenter::defaultCenter().removeObserver(movieToken);
        widget->removeFromSuperview();
        widget.reset();
        platform::URLConnection::cancelAllForTesting();
        TGEventManager::resetForTesting();
        platform::Application::resetForTesting();
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        runRow(row);
    }
    TGDeviceInfo::resetForTesting();
}
