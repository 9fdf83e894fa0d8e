// The Meridian handshake (request, reply, archive, schedule, video allowances) and the
// tracking pixels.
#include "MeridianTestSupport.h"

#include "meridian/MRLog.h"
#include "platform/net/URLConnection.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/PropertyList.h"
#include "platform/runloop/Clock.h"

using namespace meridiantest;
using meridian::MRHandshake;
using meridian::MRLog;

namespace {

class MeridianHandshake : public MeridianFixture {
protected:
    void replyWith(std::string json) {
        services.handle("GET", std::string(services::kMeridianHandshakePath),
                        [json](const services::LoggedRequest&) {
                            return services::ServiceReply{200, json, "application/json", {}};
                        });
    }
    double now() { return platform::Clock::current().now(); }
};

} // namespace

TEST_F(MeridianHandshake, RequestCarriesThePlacementIdAndDeviceFacts) {
    platform::UserDefaults::standard().setString("MRApid", "app id&x=1");
    waitForHandshake();
    auto request = services.requestsTo(services::kMeridianHandshakePath).front();
    EXPECT_EQ(request.queryValue("apid"), "app id&x=1");
    EXPECT_EQ(request.queryValue("x"), std::nullopt);
    EXPECT_EQ(request.queryValue("mrisdk"), "4.2.5-11.5.16.i");
    EXPECT_EQ(request.queryValue("auid"), meridian::mrDeviceFacts().uniqueIdentifier);
    EXPECT_EQ(request.queryValue("dv"), meridian::mrDeviceFacts().systemVersion);
    EXPECT_TRUE(request.queryValue("dm").has_value());
    EXPECT_TRUE(request.queryValue("language").has_value());
    EXPECT_TRUE(request.queryValue("country").has_value());
}

TEST_F(MeridianHandshake, ReplyIsStoredAndReusedAfterARestart) {
    replyWith(R"({"mrishake":{"kill":true,"deferredviewtimeout":1800,"handshakecallback":3600,
                 "adtypes":{"MRBannerAdTop":{"adrefresh":30.7,"videointerval":600}}}})");
    waitForHandshake();
    auto& first = MRHandshake::sharedHandshake();
    EXPECT_FALSE(first.isAdCallAllowed());
    EXPECT_EQ(first.deferredviewtimeout(), 1800);
    auto state = platform::readPropertyListFile(MRHandshake::statePath());
    ASSERT_TRUE(state && state->isDictionary());
    EXPECT_NE(state->find("handshakeResponse"), nullptr);
    ASSERT_NE(state->find("nextHandshakeToOccurAt"), nullptr);
    EXPECT_NE(state->find("lastHandshakeMadeAt"), nullptr);
    EXPECT_EQ(services.requestCount(services::kMeridianHandshakePath), 1u);

    // A restart reads the archive: no new request until the stored time, settings in force.
    MRHandshake::resetForTesting();
    auto& second = MRHandshake::sharedHandshake();
    second.setAdType(1);
    EXPECT_FALSE(second.isAdCallAllowed());
    EXPECT_EQ(second.adConfig().refreshPeriod, 30.7f);
    clock.advance(3599);
    clock.drain();
    EXPECT_EQ(services.requestCount(services::kMeridianHandshakePath), 1u);
    clock.advance(1);
    EXPECT_TRUE(waitForRequests(services::kMeridianHandshakePath, 2));
}

TEST_F(MeridianHandshake, RepliesThatChangeNothing) {
    struct Case {
        std::string name;
        std::string reply;
        std::string logged;
    };
    const Case cases[] = {
        {"not json", "{nope", "MRSDK: Invalid Response - No handshake"},
        {"no mrishake", R"({"other":{}})", "MRSDK: Invalid Response - No mrishake"},
        {"errors", R"({"mrishake":{"kill":true,"errors":[{"message":"bad apid","type":"log"}]}})",
         "MRSDK: bad apid"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MRHandshake::resetForTesting();
        platform::FileManager::removeItem(MRHandshake::statePath());
        replyWith(c.reply);
        platform::LogCapture log;
        auto before = services.requestCount(services::kMeridianHandshakePath);
        MRHandshake::sharedHandshake();
        ASSERT_TRUE(waitFor([&] { return log.contains(c.logged); }));
        EXPECT_TRUE(MRHandshake::sharedHandshake().isAdCallAllowed());
        EXPECT_FALSE(platform::FileManager::fileExists(MRHandshake::statePath()));
        // Nothing is scheduled after such a reply.
        clock.advance(100000);
        clock.drain();
        EXPECT_EQ(services.requestCount(services::kMeridianHandshakePath), before + 1);
    }
}

TEST_F(MeridianHandshake, AnUnreadableLaterReplyKeepsTheStoredSettings) {
    replyWith(R"({"mrishake":{"kill":true,"handshakecallback":3600,
                 "adtypes":{"MRBannerAdTop":{"adrefresh":30.7}}}})");
    waitForHandshake();
    ASSERT_FALSE(MRHandshake::sharedHandshake().isAdCallAllowed());
    replyWith("{nope");
    platform::LogCapture log;
    clock.advance(3600);
    ASSERT_TRUE(waitFor([&] { return log.contains("MRSDK: Invalid Response - No handshake"); }));
    EXPECT_EQ(services.requestCount(services::kMeridianHandshakePath), 2u);
    // A later save, then a restart: the kill switch and the settings are still in force.
    MRHandshake::sharedHandshake().setLastVideoPlayedAt(platform::Date{now()});
    MRHandshake::resetForTesting();
    auto& restarted = MRHandshake::sharedHandshake();
    restarted.setAdType(1);
    EXPECT_FALSE(restarted.isAdCallAllowed());
    EXPECT_EQ(restarted.adConfig().refreshPeriod, 30.7f);
}

// The state file cannot hold a JSON null: a reply holding nulls is saved all the same, null
// members left out and a null inside an array kept as an element that reads as none.
TEST_F(MeridianHandshake, RepliesHoldingNullsAreSavedAndReadBackAfterARestart) {
    replyWith(R"({"mrishake":{"kill":true,"deferredviewtimeout":1800,"handshakecallback":3600,"note":null,
                 "errors":[],"adtypes":{"MRBannerAdTop":{"adrefresh":30.7,"videointerval":null},
                 "MRBannerAdBottom":null,"MRBannerAdRectangle":{"adrefresh":[null,5],"videointerval":600}}}})");
    platform::LogCapture log;
    waitForHandshake();
    EXPECT_FALSE(log.contains("could not save the handshake state"));
    MRHandshake::resetForTesting();
    auto& restarted = MRHandshake::sharedHandshake();
    EXPECT_FALSE(restarted.isAdCallAllowed());
    EXPECT_EQ(restarted.deferredviewtimeout(), 1800);
    EXPECT_EQ(restarted.handshakeCallbackDuration(), 3600);
    struct Row {
        int type;
        float refresh;
        float video;
    };
    for (const Row& row : {Row{1, 30.7f, -1}, Row{2, -1, -1}, Row{3, -1, 600}}) {
        SCOPED_TRACE(row.type);
        restarted.setAdType(row.type);
        EXPECT_EQ(restarted.adConfig().refreshPeriod, row.refresh);
        EXPECT_EQ(restarted.adConfig().videoInterval, row.video);
    }
    // Nothing new is asked before the stored time.
    EXPECT_EQ(services.requestCount(services::kMeridianHandshakePath), 1u);

    // A later reply whose "errors" holds only a null is an errored reply: it changes nothing
    // now and replaces nothing, so saved with the next video date and read at the next start,
    // the reply in force is still the first one (its own "kill" false is not applied).
    replyWith(R"({"mrishake":{"errors":[null],"kill":false,"adtypes":{"MRBannerAdTop":{"adrefresh":99}}}})");
    clock.advance(3600);
    ASSERT_TRUE(waitForRequests(services::kMeridianHandshakePath, 2));
    ASSERT_TRUE(waitFor([] { return platform::URLConnection::runningCount() == 0; }));
    auto errorCount = [](const MRHandshake& handshake) {
        const auto* root = handshake.handshakeResponse().find("mrishake");
        const auto* errors = root ? root->find("errors") : nullptr;
        return errors ? errors->size() : 0;
    };
    EXPECT_EQ(errorCount(MRHandshake::sharedHandshake()), 0u);
    EXPECT_FALSE(MRHandshake::sharedHandshake().isAdCallAllowed());
    const platform::Date played{now()};
    MRHandshake::sharedHandshake().setLastVideoPlayedAt(played);
    EXPECT_FALSE(log.contains("could not save the handshake state"));
    MRHandshake::resetForTesting();
    auto& again = MRHandshake::sharedHandshake();
    EXPECT_EQ(again.lastVideoPlayedAt(), played);
    ASSERT_NE(again.handshakeResponse().find("mrishake"), nullptr);
    EXPECT_EQ(errorCount(again), 0u);
    again.setAdType(1);
    EXPECT_EQ(again.adConfig().refreshPeriod, 30.7f);
    EXPECT_FALSE(again.isAdCallAllowed());
}

// However a reply's errors are written, the reply applies nothing and never replaces the one in
// force: after the next video date saves the state and the application starts again, the kill
// switch and the refresh period of the last good reply hold. The kill switch lasts until a
// reply with "kill" false is applied.
TEST_F(MeridianHandshake, AnErroredReplyKeepsTheKillSwitchThroughARestart) {
    struct Case {
        const char* name;
        std::string errors;
    };
    const Case cases[] = {
        {"logged", R"([{"message":"bad apid","type":"log"}])"},
        {"prompted", R"([{"message":"update the application","type":"prompt"}])"},
        {"null", "[null]"},
        {"by name", R"({"first":{"message":"bad apid","type":"log"}})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MRHandshake::resetForTesting();
        platform::FileManager::removeItem(MRHandshake::statePath());
        const auto asked = services.requestCount(services::kMeridianHandshakePath);
        replyWith(R"({"mrishake":{"kill":true,"handshakecallback":3600,
                     "adtypes":{"MRBannerAdTop":{"adrefresh":45}}}})");
        waitForHandshake();
        ASSERT_FALSE(MRHandshake::sharedHandshake().isAdCallAllowed());

        replyWith(R"({"mrishake":{"errors":)" + c.errors +
                  R"(,"kill":false,"adtypes":{"MRBannerAdTop":{"adrefresh":99}}}})");
        clock.advance(3600);
        ASSERT_TRUE(waitForRequests(services::kMeridianHandshakePath, asked + 2));
        ASSERT_TRUE(waitFor([] { return platform::URLConnection::runningCount() == 0; }));
        auto& handshake = MRHandshake::sharedHandshake();
        handshake.setAdType(1);
        EXPECT_FALSE(handshake.isAdCallAllowed());
        EXPECT_EQ(handshake.adConfig().refreshPeriod, 45);
        handshake.setLastVideoPlayedAt(platform::Date{now()});

        // The next start: the stored time of the next handshake has passed, so it asks again
        // at once; until that reply is applied, the stored one holds.
        replyWith(R"({"mrishake":{"kill":false,"handshakecallback":3600}})");
        MRHandshake::resetForTesting();
        auto& restarted = MRHandshake::sharedHandshake();
        restarted.setAdType(1);
        EXPECT_FALSE(restarted.isAdCallAllowed());
        EXPECT_EQ(restarted.adConfig().refreshPeriod, 45);
        const auto* stored = restarted.handshakeResponse().find("mrishake");
        ASSERT_NE(stored, nullptr);
        EXPECT_EQ(stored->find("errors"), nullptr);
        EXPECT_TRUE(waitFor([] { return MRHandshake::sharedHandshake().isAdCallAllowed(); }));
        EXPECT_EQ(restarted.adConfig().refreshPeriod, -1);
    }
}

TEST_F(MeridianHandshake, FailureRetriesAfterAPause) {
    services.setFault(std::string(services::kMeridianHandshakePath),
                      services::Fault::errorStatus(503).onlyTimes(1));
    MRHandshake::sharedHandshake();
    ASSERT_TRUE(waitForRequests(services::kMeridianHandshakePath, 1));
    // The failed reply has been handled (and its retry scheduled) once the connection has ended.
    ASSERT_TRUE(waitFor([] { return platform::URLConnection::runningCount() == 0; }));
    clock.drain();
    EXPECT_EQ(services.requestCount(services::kMeridianHandshakePath), 1u);
    clock.advance(MRHandshake::kHandshakeRetryDelay);
    waitForHandshake();
    EXPECT_EQ(services.requestCount(services::kMeridianHandshakePath), 2u);
}

TEST_F(MeridianHandshake, PerTypeSettings) {
    struct Case {
        std::string entry;
        float refresh;
        float video;
    };
    const Case cases[] = {
        {R"({"adrefresh":"sdk","videointerval":600})", -1, 600},
        {R"({"adrefresh":0,"videointerval":0})", -1, -1},
        {R"({"adrefresh":-5,"videointerval":-1})", -1, -1},
        {R"({"adrefresh":45})", 45, -1},
        {R"({})", -1, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        auto entry = platform::Value::fromJSON(c.entry);
        ASSERT_TRUE(entry);
        auto config = MRHandshake::configurationFromDictionary(&*entry, 2);
        EXPECT_EQ(config.refreshPeriod, c.refresh);
        EXPECT_EQ(config.videoInterval, c.video);
    }
    const std::pair<int, std::string> names[] = {
        {1, "MRBannerAdTop"},        {2, "MRBannerAdBottom"},         {3, "MRBannerAdRectangle"},
        {4, "MRFullScreenAdLaunch"}, {5, "MRFullScreenAdTransition"}, {0, "MRBannerAdTop"},
        {9, "MRBannerAdTop"}};
    for (const auto& [number, name] : names)
        EXPECT_EQ(MRHandshake::adTypeName(number), name);
    // Without any handshake both values are -1.
    auto& handshake = MRHandshake::sharedHandshake();
    EXPECT_EQ(handshake.adConfig().refreshPeriod, -1);
    handshake.setAdType(1);
    EXPECT_EQ(handshake.adConfig().videoInterval, -1);
}

TEST_F(MeridianHandshake, VideoAllowancesFollowTheIntervals) {
    waitForHandshake(); // the top banner's video interval is 600 s, the deferred time-out 1800 s
    auto& handshake = MRHandshake::sharedHandshake();
    handshake.setAdType(1);
    EXPECT_TRUE(handshake.isVideoAdRequestAllowed());
    EXPECT_FALSE(handshake.isDeferredTimeoutExpired());
    struct Case {
        double secondsAgo;
        bool videoAllowed;
        bool deferredExpired;
    };
    const Case cases[] = {{300, false, false}, {599, false, false}, {660, true, false}, {1800, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.secondsAgo);
        handshake.setLastVideoPlayedAt(platform::Date{now() - c.secondsAgo});
        handshake.setLastVideoRequestMadeAt(platform::Date{now() - c.secondsAgo});
        EXPECT_EQ(handshake.isVideoAdRequestAllowed(), c.videoAllowed);
        EXPECT_EQ(handshake.isDeferredTimeoutExpired(), c.deferredExpired);
    }
    // The video dates are in the archive at once.
    auto state = platform::readPropertyListFile(MRHandshake::statePath());
    ASSERT_TRUE(state);
    EXPECT_NE(state->find("lastVideoPlayedAt"), nullptr);
    EXPECT_NE(state->find("lastVideoRequestMadeAt"), nullptr);
}

TEST_F(MeridianHandshake, VideoHeaderMarksAVideoPlayedAndTheNextRequestSaysSo) {
    waitForHandshake();
    services.handle("GET", std::string(services::kMeridianAdPath), [](const services::LoggedRequest&) {
        return services::ServiceReply{200, "<p>v</p>", "text/html", {{"X-MR-Video", "1"}}};
    });
    auto view = banner(1);
    ASSERT_TRUE(waitForEvent("succeeded"));
    EXPECT_TRUE(MRHandshake::sharedHandshake().lastVideoPlayedAt().has_value());
    view->refreshAd();
    ASSERT_TRUE(waitForRequests(services::kMeridianAdPath, 2));
    EXPECT_EQ(services.requestsTo(services::kMeridianAdPath)[1].queryValue("video"), "false");
}

TEST_F(MeridianHandshake, TrackingPixels) {
    struct Case {
        platform::Dictionary parameters;
        int activity;
        std::string acid;
        std::string path;
        std::string expectedActivity;
        std::string expectedAcid;
    };
    const Case cases[] = {
        {{}, 3, "ad-1", std::string(services::kMeridianDemoPixelPath), "ON_LOAD", "ad-1"},
        {{}, 0, "", std::string(services::kMeridianDemoPixelPath), "INTERACTION", "99"},
        {{}, 10, "a b&c", std::string(services::kMeridianDemoPixelPath), "INTERACTION", "a b&c"},
        {{{"version", "live"}, {"apid", "x&y"}, {"empty", ""}},
         9,
         "z",
         std::string(services::kMeridianLivePixelPath),
         "INAPPLOAD",
         "z"},
    };
    std::size_t sent = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expectedActivity + c.acid);
        MRLog::logActivity(c.parameters, c.activity, c.acid);
        ++sent;
        ASSERT_TRUE(waitFor([&] {
            return services.requestCount(services::kMeridianDemoPixelPath) +
                       services.requestCount(services::kMeridianLivePixelPath) >=
                   sent;
        }));
        auto request = services.requestsTo(c.path).back();
        EXPECT_EQ(request.queryValue("activity"), c.expectedActivity);
        EXPECT_EQ(request.queryValue("acid"), c.expectedAcid);
        for (const auto& [key, value] : c.parameters)
            EXPECT_EQ(request.queryValue(key), value.stringOr("").empty()
                                                   ? std::nullopt
                                                   : std::optional<std::string>(value.stringOr("")));
    }
    const std::pair<int, std::string> names[] = {
        {1, "EXPAND"},        {2, "COLLAPSE"},       {4, "VIEW_VIDEO"}, {5, "INTERACTION"},
        {6, "CAROUSEL_LEFT"}, {7, "CAROUSEL_RIGHT"}, {8, "CALL"},       {-1, "INTERACTION"}};
    for (const auto& [number, name] : names)
        EXPECT_EQ(MRLog::stringFromLogType(number), name);
}

TEST_F(MeridianHandshake, AMissingIntervalWaitsTheShortestIntervalNotZero) {
    replyWith(R"({"mrishake":{"kill":false}})");
    waitForHandshake();
    clock.advance(MRHandshake::kMinimumHandshakeInterval - 1);
    clock.drain();
    EXPECT_EQ(services.requestCount(services::kMeridianHandshakePath), 1u);
    clock.advance(1);
    EXPECT_TRUE(waitForRequests(services::kMeridianHandshakePath, 2));
    EXPECT_EQ(MRHandshake::sharedHandshake().deferredviewtimeout(), 0);
}
