// The Tangent location source: which fixes it accepts, its listener list and when updates
// run, failures turning location off, and fixes reaching an ad's page.
#include <gtest/gtest.h>

#include "platform/foundation/Log.h"
#include "platform/foundation/URL.h"
#include "platform/runloop/Clock.h"
#include "support/ManualClockScope.h"
#include "support/TemporaryHome.h"
#include "tangent/TangentTestSupport.h"
#include "tangent/TGAdView.h"
#include "tangent/TGDelegateAdaptor.h"
#include "tangent/TGLanternFileManager.h"
#include "tangent/TGLocation.h"

using namespace tangent;

namespace {

struct RecordingLocationListener : TGLocationListener {
    std::vector<std::string> heard;
    void locationUpdated(const platform::Location& fix) override {
        heard.push_back("fix " + std::to_string(fix.coordinate().latitude));
    }
    void locationUpdateEncounteredAnError() override { heard.push_back("error"); }
    void locationDisabled() override { heard.push_back("disabled"); }
};

struct LocationFixture {
    LocationFixture() { TGLocation::resetForTesting(); }
    ~LocationFixture() { TGLocation::resetForTesting(); }
    // A fix taken `age` seconds before now.
    platform::Location fix(double latitude, double age, double speed = -1) const {
        return platform::Location({latitude, -74.25}, 10, 5, 5,
                                  platform::Date{platform::Clock::current().now() - age}, -1, speed);
    }
    platform::LocationManager& manager() { return *TGLocation::instance().locationManager(); }
    fwtest::ManualClockScope clock;
};

} // namespace

TEST(TangentLocation, AcceptsOnlyRecentFixesThatDifferFromTheCurrentOne) {
    LocationFixture f;
    auto& location = TGLocation::instance();
    location.initializeLocationManager();
    auto listener = std::make_shared<RecordingLocationListener>();
    location.startListeningToLocationUpdates(listener);

    struct Row {
        const char* what;
        platform::Location fix;
        double advanceAfter;
        bool reachesListener;
    };
    const Row rows[] = {
        {"cached fix 30 s old", f.fix(40.5, 30), 0, false},
        {"fix 10 s old", f.fix(40.5, 10), 0, false},
        {"fix stamped now", f.fix(40.5, 0), 0, false},
        {"fix from the future", f.fix(40.5, -1), 0, false},
        {"fresh fix", f.fix(40.5, 0.5), 2, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const auto before = listener->heard.size();
        f.manager().simulateUpdate(row.fix);
        EXPECT_EQ(listener->heard.size() > before, row.reachesListener);
        f.clock.advance(row.advanceAfter);
    }
    EXPECT_EQ(TGLocation::location()->coordinate().latitude, 40.5);

    // The same values 2 s later are not new; any changed value, or the same values 10 s
    // later, are.
    const auto current = *TGLocation::location();
    auto sameValuesLater = [&](double seconds) {
        return platform::Location(current.coordinate(), current.altitude(), current.horizontalAccuracy(),
                                  current.verticalAccuracy(),
                                  platform::Date{current.timestamp().secondsSince1970 + seconds}, current.course(),
                                  current.speed());
    };
    EXPECT_FALSE(TGLocation::isLocationDifferentFrom(sameValuesLater(2), current));
    EXPECT_TRUE(TGLocation::isLocationDifferentFrom(sameValuesLater(10), current));
    EXPECT_TRUE(TGLocation::isLocationDifferentFrom(current, std::nullopt));
    const auto before = listener->heard.size();
    f.manager().simulateUpdate(sameValuesLater(2));
    EXPECT_EQ(listener->heard.size(), before);
    f.manager().simulateUpdate(f.fix(40.5, 0.1, 3.0)); // only the speed changed
    EXPECT_EQ(listener->heard.size(), before + 1);
}

TEST(TangentLocation, UpdatesRunWhileSomeoneListens) {
    LocationFixture f;
    auto& location = TGLocation::instance();
    auto first = std::make_shared<RecordingLocationListener>();
    // Off: a listener hears at once that location is disabled and is not kept.
    EXPECT_FALSE(TGLocation::enabled());
    location.startListeningToLocationUpdates(first);
    EXPECT_EQ(first->heard, std::vector<std::string>{"disabled"});
    EXPECT_EQ(location.listenerCount(), 0u);

    location.initializeLocationManager();
    EXPECT_TRUE(TGLocation::enabled());
    EXPECT_TRUE(f.manager().isUpdatingLocation());
    // A first fix without listeners is kept, and stops the updates.
    f.manager().simulateUpdate(f.fix(1, 0.5));
    EXPECT_FALSE(f.manager().isUpdatingLocation());
    EXPECT_TRUE(TGLocation::location());

    auto second = std::make_shared<RecordingLocationListener>();
    location.startListeningToLocationUpdates(first);
    EXPECT_TRUE(f.manager().isUpdatingLocation());
    location.startListeningToLocationUpdates(second);
    location.startListeningToLocationUpdates(first); // moved to the end, kept once
    EXPECT_EQ(location.listenerCount(), 2u);
    f.manager().simulateUpdate(f.fix(2, 0.5));
    EXPECT_EQ(first->heard.back(), "fix 2.000000");
    EXPECT_EQ(second->heard, std::vector<std::string>{"fix 2.000000"});

    location.stopListeningToLocationUpdates(first.get());
    EXPECT_TRUE(f.manager().isUpdatingLocation());
    // A listener that is gone counts as removed.
    second.reset();
    location.stopListeningToLocationUpdates(nullptr);
    EXPECT_FALSE(f.manager().isUpdatingLocation());
}

TEST(TangentLocation, AFailureTellsTheListenersAndTurnsLocationOff) {
    LocationFixture f;
    auto& location = TGLocation::instance();
    location.initializeLocationManager();
    auto listener = std::make_shared<RecordingLocationListener>();
    location.startListeningToLocationUpdates(listener);
    f.manager().simulateFailure(platform::Error{platform::kLocationErrorDomain, platform::kLocationErrorDenied,
                                                "denied", {}});
    EXPECT_EQ(listener->heard, std::vector<std::string>{"error"});
    EXPECT_FALSE(TGLocation::enabled());
    EXPECT_EQ(location.listenerCount(), 0u);
    location.startListeningToLocationUpdates(listener);
    EXPECT_EQ(listener->heard.back(), "disabled");
}

TEST(TangentLocation, FixesReachTheAdPage) {
    LocationFixture f;
    fwtest::TemporaryHome home;
    TGLocation::instance().initializeLocationManager();
    auto adView = TGAdView::create({0, 0, 320, 50}, std::make_shared<TGDelegateAdaptorImmutable>(),
                                   std::weak_ptr<TGStateListener>());
    ASSERT_TRUE(adView->loadAdContent("<p>ad</p>"));
    ASSERT_TRUE(f.clock.runUntil([&] {
        f.clock.advance(0.02);
        return adView->actualViewState() == loadedState;
    }));
    adView->bridgeUrl(*platform::URL::parse("tgc://tangent/receiveLocationUpdates:?true"));
    EXPECT_EQ(TGLocation::instance().listenerCount(), 1u);
    f.manager().simulateUpdate(f.fix(40.5, 0.5, 2.5));
    EXPECT_EQ(adView->evalJS("String(Lantern.position.coords.latitude)"), "40.5");
    EXPECT_EQ(adView->evalJS("String(Lantern.position.coords.speed)"), "2.5");
    EXPECT_EQ(adView->evalJS("String(Lantern.locationStatus)"), "0");

    adView->bridgeUrl(*platform::URL::parse("tgc://tangent/receiveLocationUpdates:?false"));
    EXPECT_EQ(TGLocation::instance().listenerCount(), 0u);
    // A failure while listening: the page hears error 2 and the view stops listening.
    adView->bridgeUrl(*platform::URL::parse("tgc://tangent/receiveLocationUpdates:?true"));
    f.manager().simulateFailure(platform::Error{platform::kLocationErrorDomain, 0, "unknown", {}});
    EXPECT_EQ(adView->evalJS("String(Lantern.locationStatus)"), "2");
    // An ended ad no longer listens.
    TGLocation::instance().initializeLocationManager();
    adView->bridgeUrl(*platform::URL::parse("tgc://tangent/receiveLocationUpdates:?true"));
    adView->endDisplay();
    EXPECT_EQ(TGLocation::instance().listenerCount(), 0u);
}

TEST(TangentLantern, CommandQueueAnchorsSetupAndGeolocationThroughAPage) {
    LocationFixture f;
    fwtest::TemporaryHome home;
    TGLocation::instance().initializeLocationManager();
    auto adaptor = std::make_shared<TGDelegateAdaptorImmutable>();
    adaptor->setRequestId("req-5");
    auto adView = TGAdView::create({0, 0, 320, 50}, adaptor, std::weak_ptr<TGStateListener>());
    const std::string markup =
        R"(<a id="link" href="about:blank" type="uri" data-campaign="spring" style="color:red" )"
        R"(onclick="return Lantern.openAnchor(this);">go</a>)"
        R"(<script>window.fixes = []; window.errors = [];)"
        R"(Lantern.adSetupOptions = { useGeolocation: true, setup: function (id, req, geo) {)"
        R"(  window.setupArgs = [id, req, typeof geo.watchPosition].join(","); } };</script>)";
    ASSERT_TRUE(adView->loadAdContent(markup));
    ASSERT_TRUE(f.clock.runUntil([&] {
        f.clock.advance(0.02);
        return adView->actualViewState() == loadedState;
    }));
    // The ad's setup callback got the device id, the response id and the geolocation functions.
    EXPECT_EQ(adView->evalJS("window.setupArgs"),
              TGLanternFileManager::instance().deviceId() + ",req-5,function");

    tangenttest::TGLogScope logLevel(2);
    platform::LogCapture log;
    auto logged = [&](std::string_view prefix) {
        std::vector<std::string> lines;
        for (const auto& line : log.lines())
            if (line.starts_with(prefix))
                lines.push_back(line);
        return lines;
    };
    // Commands wait in the queue until the ad is displayed, then go one at a time, in order.
    adView->evalJS("Lantern.log('one'); Lantern.log('two'); Lantern.log('three');");
    f.clock.advance(0.5);
    EXPECT_TRUE(logged("Tangent: LanternLog:").empty());
    EXPECT_EQ(adView->evalJS("String(Lantern.queue.length)"), "3");
    adView->evalJS("Lantern.beginDisplay();");
    ASSERT_TRUE(f.clock.runUntil([&] {
        f.clock.advance(0.01);
        return logged("Tangent: LanternLog:").size() == 3;
    }));
    EXPECT_EQ(logged("Tangent: LanternLog:"), (std::vector<std::string>{"Tangent: LanternLog: one",
                                                                        "Tangent: LanternLog: two",
                                                                        "Tangent: LanternLog: three"}));

    // An anchor's click: its link, its type and its other attributes as options; the link
    // itself is neutralised so the page does not follow it as well.
    ASSERT_TRUE(adView->adWebView()->clickLinkWithId("link"));
    ASSERT_TRUE(f.clock.runUntil([&] {
        f.clock.advance(0.01);
        return !logged("    URI:").empty();
    }));
    EXPECT_EQ(logged("    URI:"), std::vector<std::string>{"    URI: about:blank"});
    EXPECT_EQ(logged("    ClickType:"), std::vector<std::string>{"    ClickType: uri"});
    ASSERT_EQ(logged("    Options:").size(), 1u);
    EXPECT_NE(logged("    Options:")[0].find("data-campaign:spring"), std::string::npos);
    EXPECT_EQ(logged("    Options:")[0].find("color"), std::string::npos);
    EXPECT_EQ(adView->evalJS("document.getElementById('link').getAttribute('orig-href')"), "about:blank");
    EXPECT_EQ(adView->evalJS("document.getElementById('link').getAttribute('href')"), "#");

    // Geolocation: the first watcher turns native updates on, a fix reaches it, clearing the
    // last watcher turns them off again.
    adView->evalJS("window.watch = Lantern.watchPosition(function (p) { fixes.push(p.coords.latitude); },"
                   " function (e) { errors.push(e.code); });");
    ASSERT_TRUE(f.clock.runUntil([&] {
        f.clock.advance(0.01);
        return TGLocation::instance().listenerCount() == 1;
    }));
    f.manager().simulateUpdate(f.fix(51.5, 0.5));
    EXPECT_EQ(adView->evalJS("fixes.join(',')"), "51.5");
    adView->evalJS("Lantern.clearPositionWatch(window.watch);");
    ASSERT_TRUE(f.clock.runUntil([&] {
        f.clock.advance(0.01);
        return TGLocation::instance().listenerCount() == 0;
    }));
    // A one-shot request while a fix is known is answered at once; a native error reaches
    // the waiting listeners with its code.
    EXPECT_EQ(adView->evalJS("var got; Lantern.getCurrentPosition(function (p) { got = p.coords.latitude; });"
                             " String(got)"),
              "51.5");
    adView->evalJS("Lantern.locationError(1); Lantern.watchPosition(function () {}, function (e) { errors.push(e.code); },"
                   " { timeout: 500 });");
    f.clock.advance(0.6);
    EXPECT_EQ(adView->evalJS("errors.join(',')"), "1");
}
