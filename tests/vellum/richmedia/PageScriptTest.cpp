// The page side of the bridge: an ad page that includes our "mrbridge.js" calls the client
// through the Device object, and each call reaches the command it names with the arguments
// the script wrote. Also the accelerometer feed: the filter, the shake threshold, observers.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>

#include "AdDisplayFixture.h"
#include "platform/media/SystemSound.h"
#include "platform/ui/Accelerometer.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "support/LoopbackServices.h"
#include "vellum/richmedia/MREmbeddedBrowserController.h"
#include "vellum/tracking/VellumAnalyticsManager.h"

namespace richmediatest {
namespace {

using vellum::MREmbeddedBrowserController;
using vellum::VellumJSBridge;

// An ad page with our page script, recording every callback it registers in window.got.
constexpr const char* kScriptPage = R"(<html><head><title>ad</title>
<script src="mrbridge.js"></script>
<script>
window.got = [];
function rec(name) { return function() { window.got.push(name + ':' + Array.prototype.join.call(arguments, ',')); }; }
</script></head><body>ad</body></html>)";

class PageScriptTest : public AdDisplayFixture {
protected:
    void SetUp() override {
        platform::Accelerometer::resetForTesting();
        storeBanner("ad-1");
        const auto folder = cacheFolder() / "ad-1";
        std::ofstream(folder / "index.html") << kScriptPage;
        std::ofstream(folder / VellumJSBridge::coreJSFileName()) << VellumJSBridge::builtInCoreJS();
        view = slotView();
        ASSERT_TRUE(view->loadAdWithID("ad-1", std::nullopt));
        c = view->adVC();
        ASSERT_TRUE(pageLoaded(*c));
        ASSERT_EQ(run("String(Device.available)"), "true");
    }
    void TearDown() override {
        platform::Accelerometer::resetForTesting();
        platform::Device::setBatteryReading(std::nullopt);
    }
    std::string run(const std::string& script) { return c->webView()->stringByEvaluatingJavaScriptFromString(script); }
    // Lets the page's navigations and its 100 ms batch timer run.
    void settle() {
        clock.drain();
        clock.advance(0.1);
        clock.drain();
        clock.advance(0.1);
    }
    static VellumJSBridge& bridge() { return *VellumJSBridge::sharedInstance(); }

    std::shared_ptr<vellum::VellumAdView> view;
    std::shared_ptr<vellum::VellumAdViewController> c;
};

// Each row: what the page calls, what its callbacks then hold, and what else must be true.
TEST_F(PageScriptTest, EveryCallOfThePageScriptReachesItsCommand) {
    platform::Device::current().setBatteryMonitoringEnabled(true);
    platform::Device::setBatteryReading(platform::BatteryReading{0.5f, platform::DeviceBatteryState::Unplugged});
    c->setTHEStrRequest("http://example.com/last");
    const std::string deviceID = manager()->md5DeviceID();
    auto& app = platform::Application::shared();
    auto browser = vellum::MREmbeddedBrowserController::sharedInstance();
    struct Host : vellum::VellumAdViewDelegate {
        std::vector<std::string> calls;
        void adViewDidStartPlayingAudio(vellum::VellumAdView&) override { calls.push_back("audio started"); }
        void adViewDidFinishPlayingAudio(vellum::VellumAdView&) override { calls.push_back("audio finished"); }
    };
    auto host = std::make_shared<Host>();
    view->setDelegate(host);
    const auto lastCall = [&] { return host->calls.empty() ? std::string() : host->calls.back(); };
    const auto duration = [&](const char* key) {
        auto found = c->event()->durations().find(key);
        return found == c->event()->durations().end() ? std::nullopt : found->second.number();
    };
    const auto number = [&](const char* key) { return AdDisplayFixture::number(*c->event(), key); };
    const auto string = [&](const char* key) { return AdDisplayFixture::string(*c->event(), key); };

    struct Case {
        const char* call;
        std::string got;
        std::function<void()> check;
    };
    const Case cases[] = {
        {"Device.SDKVersion.init(rec('sdk')); Device.SDKVersion.get();", "sdk:2.4.6", {}},
        {"Device.DeviceID.init(rec('id')); Device.DeviceID.get();", "id:" + deviceID, {}},
        {"Device.BatteryLevel.init(rec('battery')); Device.BatteryLevel.get();", "battery:0.500000", {}},
        {"Device.Location.init(rec('loc')); Device.Location.get();", "loc:0.000000,0.000000,0", {}},
        {"Device.AdRequest.init(rec('request')); Device.AdRequest.get();", "request:http://example.com/last", {}},
        {"Device.AdData.adID.init(rec('adID')); Device.AdData.adID.get();", "adID:ad-1", {}},
        {"Device.Orientation.init(rec('angle'));", "angle:0", {}},
        // A command the client does not know: the callback never runs.
        {"Device.AdShutDown.init(rec('shutdown'));", "", {}},
        {"Device.trackingEvent.setString('color', 'deep blue');", "",
         [&] { EXPECT_EQ(string("color"), "deep blue"); }},
        // setNumber escapes its key once more: the event keeps it escaped once.
        {"Device.trackingEvent.setNumber('my level', 2.5);", "", [&] { EXPECT_EQ(number("my%20level"), 2.5); }},
        {"Device.trackingEvent.setValues({shade: 'dark', size: 3});", "",
         [&] {
             EXPECT_EQ(string("shade"), "dark");
             EXPECT_EQ(number("size"), 3);
         }},
        {"Device.trackingEvent.incrementKey('taps'); Device.trackingEvent.incrementKey('taps');", "",
         // Identical texts in one batch run once.
         [&] { EXPECT_EQ(number("taps"), 1); }},
        {"Device.trackingEvent.setDurationForKey('watched', 12.5);", "",
         [&] { EXPECT_EQ(duration("watched"), 12.5); }},
        // The batch of the start goes out after 100 ms; the end's batch 100 ms after its own call.
        {"Device.trackingEvent.startTimerForKey('stay');", "", [&] { clock.advance(3.0); }},
        {"Device.trackingEvent.endTimerForKey('stay');", "", [&] {
             ASSERT_TRUE(duration("stay"));
             EXPECT_NEAR(*duration("stay"), 3.2, 0.15);
         }},
        {"Device.exec('getSDKVersion'); Device.SDKVersion.init(rec('exec'));", "exec:2.4.6", {}},
        {"Device.log('page says hello');", "", [&] { EXPECT_TRUE(log.contains("page says hello")); }},
        {"Device.audioPlayBackDidStart();", "", [&] { EXPECT_EQ(lastCall(), "audio started"); }},
        {"Device.audioPlayBackDidFinish();", "", [&] { EXPECT_EQ(lastCall(), "audio finished"); }},

        {"Device.vibrate();", "", [&, before = platform::vibrationCount()] {
             EXPECT_EQ(platform::vibrationCount(), before + 1);
         }},
        {"Device.launchYoutube('http://youtube.example.com/watch?v=1');", "",
         [&] { EXPECT_EQ(app.openedURLs().back(), "http://youtube.example.com/watch?v=1"); }},
        {"Device.launchApp('http://example.com/app', 'http://example.com/alt');", "",
         [&] {
             EXPECT_EQ(browser->currentURLString(), "http://example.com/app");
             EXPECT_EQ(bridge().alternateURL(), "http://example.com/alt");
         }},
        {"Device.dismissBrowser();", "",
         [&] {
             clock.advance(MREmbeddedBrowserController::kSlideSeconds);
             EXPECT_FALSE(browser->isViewLoaded());
         }},
        {"Device.playVideo('http://example.com/clip.mp4', 'intro');", "",
         [&] {
             EXPECT_EQ(number("MRPlayVideo_intro"), 1);
             ASSERT_TRUE(c->embeddedMoviePlayer());
             c->doneButtonAction();
         }},
        {"Device.Acceleration.observe();", "",
         [&] {
             EXPECT_TRUE(bridge().isObservingAcceleration(*c->webView()));
             EXPECT_NEAR(platform::Accelerometer::sharedAccelerometer().updateInterval(), 0.025, 1e-6);
             EXPECT_FLOAT_EQ(bridge().kShakeAccelerationThreshold(), 2.0f);
             EXPECT_FLOAT_EQ(bridge().kFilteringFactor(), 0.1f);
         }},
        {"Device.observeAccel(false);", "", [&] { EXPECT_FALSE(bridge().isObservingAcceleration(*c->webView())); }},
        {"Device.dismissAd();", "", [&] { EXPECT_FALSE(c->loaded()); }},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.call);
        run("window.got = [];");
        run(tc.call);
        settle();
        EXPECT_EQ(got(*c->webView()), tc.got);
        if (tc.check)
            tc.check();
        EXPECT_EQ(c->webView()->title(), "ad"); // no call is ever loaded as a page
    }
}

// The page's launchApp with a web page for the application: the mini browser opens it and
// keeps the page's fallback; when that page then sends the user to an application that is not
// installed, the browser loads the fallback instead.
TEST_F(PageScriptTest, LaunchAppFallsBackToTheAlternateThroughTheBrowser) {
    fwtest::LoopbackServices services;
    services.handle("GET", "/app", [](const services::LoggedRequest&) {
        return services::ServiceReply{200, "<html><head><title>app page</title></head></html>", "text/html", {}};
    });
    services.handle("GET", "/alt", [](const services::LoggedRequest&) {
        return services::ServiceReply{200, "<html><head><title>alternate</title></head></html>", "text/html", {}};
    });
    auto& app = platform::Application::shared();
    app.setInstalledSchemes({"http", "https"});
    const std::string appPage = services.url("/app"), alternate = services.url("/alt");
    run("Device.launchApp('" + appPage + "', '" + alternate + "');");
    settle();
    auto browser = MREmbeddedBrowserController::sharedInstance();
    ASSERT_TRUE(clock.runUntil([&] { return browser->webView() && browser->webView()->title() == "app page"; }));
    EXPECT_EQ(bridge().alternateURL(), alternate);

    browser->webView()->stringByEvaluatingJavaScriptFromString("location.href = 'noapp://open';");
    ASSERT_TRUE(clock.runUntil([&] { return browser->webView()->title() == "alternate"; }));
    EXPECT_EQ(browser->currentURLString(), alternate);
    EXPECT_FALSE(bridge().alternateURL());
    EXPECT_EQ(c->strRequest(), "noapp://open");
    clock.advance(MREmbeddedBrowserController::kRevealDelay);
    EXPECT_FALSE(app.isIgnoringInteractionEvents());

    // An application URL the platform refuses outright opens the fallback at once.
    browser->dismiss();
    clock.advance(1.0);
    run("Device.launchApp('noapp://direct', '" + alternate + "');");
    settle();
    ASSERT_TRUE(clock.runUntil([&] { return browser->webView() && browser->webView()->title() == "alternate"; }));
    EXPECT_FALSE(bridge().alternateURL());
}

TEST_F(PageScriptTest, ScriptCallsWaitUntilTheBridgeIsUp) {
    run("Device.available = false;");
    run("Device.launchYoutube('http://youtube.example.com/early'); Device.log('early');");
    settle();
    EXPECT_TRUE(platform::Application::shared().openedURLs().empty());
    // A sound asked for too early is asked for again half a second later.
    run("Device.playsound('missing.wav');");
    settle();
    EXPECT_FALSE(log.contains("playing sound file"));
    run("Device.available = true;");
    clock.advance(0.5);
    settle();
    EXPECT_TRUE(log.contains("missing.wav"));
}

TEST_F(PageScriptTest, ShakeIsAHighPassMagnitudeAboveTheThreshold) {
    // A filtering factor of 1 makes the rolling values follow the reading, so the high-pass
    // part is the change between readings; 0 keeps them at rest, so it is the reading.
    struct Case {
        const char* observe;
        platform::Acceleration reading;
        const char* rolling; // rolling values the page receives
        bool shake;
    };
    const Case cases[] = {
        {"getaccel?filteringFactor=0&shakeThreshold=2", {2, 0, 0, 0}, "0.000000,0.000000,0.000000", false},
        {"getaccel?filteringFactor=0&shakeThreshold=2", {0, 2.5, 0, 0}, "0.000000,0.000000,0.000000", true},
        {"getaccel?filteringFactor=0&shakeThreshold=5", {3, 4, 0, 0}, "0.000000,0.000000,0.000000", false},
        {"getaccel?filteringFactor=0.5&shakeThreshold=0.9", {2, 0, 0, 0}, "1.000000,0.000000,0.000000", true},
        {"getaccel?filteringFactor=1&shakeThreshold=0.1", {0.5, -1, 0.25, 0}, "0.500000,-1.000000,0.250000",
         false},
    };
    run("Device.Acceleration.callback = rec('accel'); Device.Acceleration.shakeCallback = rec('shake');");
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.observe);
        run("window.got = [];");
        VellumJSBridge::sharedInstance()->webViewShouldStartLoad(
            *c->webView(), *platform::URLRequest::withURLString(std::string("mrbridge:") + tc.observe),
            platform::WebViewNavigationType::Other, view.get(), "", c.get());
        platform::Accelerometer::sharedAccelerometer().injectAcceleration(tc.reading.x, tc.reading.y, tc.reading.z);
        clock.advance(0.025);
        char reading[96];
        std::snprintf(reading, sizeof reading, "accel:%f,%f,%f,", tc.reading.x, tc.reading.y, tc.reading.z);
        EXPECT_EQ(got(*c->webView()), reading + std::string(tc.rolling) + (tc.shake ? "|shake:" : ""));
    }
}

TEST_F(PageScriptTest, RollingValuesCarryOverReadingsAndRestartWithEachStart) {
    run("Device.Acceleration.callback = rec('accel');");
    auto& accelerometer = platform::Accelerometer::sharedAccelerometer();
    run("Device.Acceleration.observe(true, 0.05);");
    settle();
    EXPECT_NEAR(accelerometer.updateInterval(), 0.05, 1e-6);
    run("window.got = [];");
    accelerometer.injectAcceleration(1, 0, 0);
    accelerometer.injectAcceleration(1, 0, 0);
    clock.advance(0.11);
    EXPECT_EQ(got(*c->webView()),
              "accel:1.000000,0.000000,0.000000,0.100000,0.000000,0.000000|"
              "accel:1.000000,0.000000,0.000000,0.190000,0.000000,0.000000");
    // A new start filters from rest again.
    run("Device.Acceleration.observe(true, 0.05); window.got = [];");
    settle();
    accelerometer.injectAcceleration(1, 0, 0);
    clock.advance(0.06);
    EXPECT_EQ(got(*c->webView()), "accel:1.000000,0.000000,0.000000,0.100000,0.000000,0.000000");
}

TEST_F(PageScriptTest, ObserversEndWithStopDismissalAndTheNextPage) {
    auto& accelerometer = platform::Accelerometer::sharedAccelerometer();
    const auto observe = [&] {
        run("Device.Acceleration.observe();");
        settle();
        ASSERT_TRUE(bridge().isObservingAcceleration(*c->webView()));
        ASSERT_TRUE(accelerometer.hasDelegate());
    };
    struct Case {
        const char* name;
        std::function<void()> end;
        bool sensorReleased;
    };
    const Case cases[] = {
        {"stop command", [&] { run("Device.Acceleration.observe(false);"); settle(); }, true},
        {"ad dismissed", [&] { bridge().adDismissed(c->webView().get()); }, true},
        // A finished load forgets the observers but leaves the sensor to the bridge.
        {"next page", [&] { bridge().webViewDidFinishLoad(*c->webView(), c.get()); }, false},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        observe();
        tc.end();
        EXPECT_FALSE(bridge().isObservingAcceleration(*c->webView()));
        EXPECT_EQ(accelerometer.hasDelegate(), !tc.sensorReleased);
        run("Device.Acceleration.callback = rec('accel'); window.got = [];");
        accelerometer.injectAcceleration(1, 1, 1);
        clock.advance(0.1);
        EXPECT_EQ(got(*c->webView()), "");
    }
}

// Another part of the program reading the sensor keeps it when a page stops observing.
TEST_F(PageScriptTest, StoppingLeavesAnotherReaderOfTheSensorAlone) {
    struct Reader : platform::AccelerometerDelegate {
        int readings = 0;
        void accelerometerDidAccelerate(platform::Accelerometer&, const platform::Acceleration&) override {
            ++readings;
        }
    };
    auto reader = std::make_shared<Reader>();
    auto& accelerometer = platform::Accelerometer::sharedAccelerometer();
    accelerometer.setDelegate(reader);
    run("Device.Acceleration.observe(false);");
    settle();
    EXPECT_EQ(accelerometer.delegate(), reader);
}

// Numbers a page sends that read as no number leave the defaults in place.
TEST_F(PageScriptTest, AccelerometerArgumentsFallBackToTheirDefaults) {
    struct Case {
        const char* url;
        double interval;
        float threshold;
        float factor;
    };
    const Case cases[] = {
        {"mrbridge:getaccel", 0.025, 2.0f, 0.1f},
        {"mrbridge:getlocaccel?freq=0.5&shakeThreshold=3&filteringFactor=0.2", 0.5, 3.0f, 0.2f},
        {"mrbridge:getaccel?freq=nan&shakeThreshold=inf&filteringFactor=NaN", 0.025, 2.0f, 0.1f},
        {"mrbridge:getaccel?freq=-1", 0.025, 2.0f, 0.1f},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.url);
        bridge().webViewShouldStartLoad(*c->webView(), *platform::URLRequest::withURLString(tc.url),
                                        platform::WebViewNavigationType::Other, view.get(), "", c.get());
        EXPECT_TRUE(bridge().isObservingAcceleration(*c->webView()));
        EXPECT_NEAR(platform::Accelerometer::sharedAccelerometer().updateInterval(), tc.interval, 1e-6);
        EXPECT_FLOAT_EQ(bridge().kShakeAccelerationThreshold(), tc.threshold);
        EXPECT_FLOAT_EQ(bridge().kFilteringFactor(), tc.factor);
    }
}

} // namespace
} // namespace richmediatest
