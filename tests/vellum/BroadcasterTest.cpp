// The tracking upload as the loopback tracking service receives it, and the handling of each
// kind of reply.
#include <gtest/gtest.h>

#include "TrackingFixture.h"
#include "platform/foundation/Base64.h"
#include "services/TrackingEndpoints.h"
#include "support/LoopbackServices.h"
#include "vellum/tracking/ECActionResponse.h"
#include "vellum/tracking/OldStylePropertyList.h"
#include "vellum/tracking/TBinaryProtocol.h"
#include "vellum/tracking/VellumTrackingState.h"

namespace {

using vellum::MRBroadcaster;
using vellum::TrackedEvents;
using vellum::VellumTrackedEvent;

constexpr const char* kBoundary = "0xKhTmLbOuNdArY";

std::string encodeReply(const vellum::ECActionResponse& reply) {
    auto bytes = vellum::encodeWireStruct(reply);
    return std::string(bytes.begin(), bytes.end());
}

class BroadcasterTest : public vellumtest::TrackingFixture {
public:
    BroadcasterTest() : service(services.host()) {
        manager()->initializeWithAppID("app-1", "1.0", nullptr, false);
        broadcaster = MRBroadcaster::sharedInstance();
    }

    // Records an event of the current run and answers it as stored.
    std::shared_ptr<VellumTrackedEvent> record(const std::string& type, const std::string& adID = {}) {
        auto e = std::make_shared<VellumTrackedEvent>();
        e->eventType = type;
        e->runID = vellum::trackingState().runID;
        e->timestamp = clock.clock().date();
        e->connStatus = "WiFiConnected";
        if (!adID.empty())
            e->adID = adID;
        EXPECT_TRUE(manager()->trackedEventDB()->insertTrackedEventToQueue(*e));
        return e;
    }
    TrackedEvents queued() {
        return *manager()->trackedEventDB()->retrieveQueuedEventsExcludeCurrentRun(false);
    }
    std::size_t queuedCount() { return queued().size(); }

    // Waits until the service has `count` uploads and the broadcaster has processed the reply.
    bool waitForUploads(std::size_t count) {
        return clock.runUntil([&] { return service.uploads().size() >= count && broadcaster->available(); });
    }

    fwtest::LoopbackServices services;
    services::TrackingService service;
    std::shared_ptr<MRBroadcaster> broadcaster;
};

TEST_F(BroadcasterTest, DefaultFormSendsBase64ThriftAndAppliesTheAcknowledgedEvents) {
    auto tap = record("Tap");
    auto ad = record("MRAdViewed", "ad-7");
    broadcaster->sendEvents(queued());
    EXPECT_FALSE(broadcaster->available());
    ASSERT_TRUE(waitForUploads(1));

    const auto requests = services.requestsTo(services::kTrackingPath);
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.header("Content-Type"), std::string("multipart/form-data; boundary=") + kBoundary);
    EXPECT_EQ(request.body.rfind(std::string("--") + kBoundary +
                                     "\r\nContent-Disposition: form-data; name=\"v\"\r\n\r\n2.4M\r\n",
                                 0),
              0u);
    EXPECT_TRUE(request.body.ends_with(std::string("--") + kBoundary + "--\r\n"));

    const auto upload = service.uploads()[0];
    std::vector<std::string> names;
    for (const auto& [name, value] : upload.textParts)
        names.push_back(name);
    // No tokens yet: appTok and devTok are left out.
    EXPECT_EQ(names, (std::vector<std::string>{"v", "b", "tok", "sys", "sysv", "dev", "model", "app", "appv",
                                               "data"}));
    EXPECT_EQ(upload.part("b"), "6");
    EXPECT_EQ(upload.part("tok"), "D7E2A94C");
    EXPECT_EQ(upload.part("app"), "app-1");
    EXPECT_EQ(upload.part("dev"), manager()->md5DeviceID());
    EXPECT_EQ(upload.dataEncoding, "base64");
    EXPECT_FALSE(upload.partial);
    EXPECT_EQ(upload.runIDs, std::vector<std::string>{std::to_string(vellum::trackingState().runID)});
    EXPECT_EQ(upload.eventIDs, std::vector<std::string>{std::to_string(tap->eventID)});
    EXPECT_EQ(upload.adEventIDs, std::vector<std::string>{std::to_string(ad->eventID)});

    // The default reply acknowledges both: only the run-start event stays queued.
    auto left = queued();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_TRUE(left[0]->isRunEvent());
    EXPECT_TRUE(defaults().objectForKey("MRLastBroadcastDate"));
    EXPECT_EQ(defaults().stringForKey("MRTrackingServerURL"), services.url(services::kTrackingPath));
}

TEST_F(BroadcasterTest, V2ZSendsTheCompressedBytesRaw) {
    platform::Bundle::main().setInfoDictionaryValue("MRBroadcastType", "v2z");
    record("Tap");
    broadcaster->sendEvents(queued());
    ASSERT_TRUE(waitForUploads(1));
    const auto upload = service.uploads()[0];
    EXPECT_EQ(upload.part("v"), "2.4Z");
    EXPECT_EQ(upload.dataEncoding, "binary");
    EXPECT_NE(services.requests()[0].body.find("Content-Type: application/octet-stream\r\n\r\n"),
              std::string::npos);
    EXPECT_EQ(upload.eventIDs.size(), 1u);
}

TEST_F(BroadcasterTest, PartialUploadSendsAnMRClientRequest) {
    auto ad = record("MRAdViewed", "ad-1");
    auto tap = record("Tap");
    auto db = manager()->trackedEventDB();
    broadcaster->sendPartialAdEvents(*db->retrieveQueuedPartialAdEvents(true),
                                     *db->retrieveQueuedPartialAdEvents(false));
    ASSERT_TRUE(waitForUploads(1));
    const auto upload = service.uploads()[0];
    EXPECT_TRUE(upload.partial);
    EXPECT_EQ(upload.part("pae"), "true");
    EXPECT_EQ(upload.adEventIDs, std::vector<std::string>{std::to_string(ad->eventID)});
    EXPECT_EQ(upload.eventIDs, std::vector<std::string>{std::to_string(tap->eventID)});
    EXPECT_NE(upload.description.find("tok:\"pae=true\""), std::string::npos);
    EXPECT_LT(upload.description.find("v:\"2.4M\""), upload.description.find("dev:\""));
}

TEST_F(BroadcasterTest, PartialUploadOfAnotherFormSendsNothingAndStaysAvailable) {
    platform::Bundle::main().setInfoDictionaryValue("MRBroadcastType", "v1");
    record("MRAdViewed", "ad-1");
    auto db = manager()->trackedEventDB();
    broadcaster->sendPartialAdEvents(*db->retrieveQueuedPartialAdEvents(true), {});
    EXPECT_TRUE(broadcaster->available());
    clock.drain();
    EXPECT_EQ(services.requests().size(), 0u);
}

TEST_F(BroadcasterTest, V1FormSendsTheEventsAsPropertyListText) {
    platform::Bundle::main().setInfoDictionaryValue("MRBroadcastType", "v1");
    record("Tap");
    broadcaster->sendEvents(queued());
    ASSERT_TRUE(waitForUploads(1));
    const auto upload = service.uploads()[0];
    EXPECT_EQ(upload.part("vers"), "1.0");
    EXPECT_EQ(upload.part("clientToken"), "D7E2A94C");
    EXPECT_EQ(upload.part("runCount"), "1");
    auto events = vellum::parseOldStylePropertyList(*upload.part("eventsData"));
    ASSERT_TRUE(events && events->isArray());
    ASSERT_EQ(events->size(), 2u); // the run start and the tap
    EXPECT_EQ(events->at(1)->find("eventKey")->stringOr(""), "Tap");
    EXPECT_TRUE(upload.dataEncoding.empty());
}

TEST_F(BroadcasterTest, EachKindOfReplyIsAppliedAsItSays) {
    struct Case {
        const char* name;
        std::function<void(BroadcasterTest&, const std::string& eventID)> reply;
        bool marked;
        bool success;
        bool shutdown;
    };
    const Case cases[] = {
        {"acknowledgement text",
         [](BroadcasterTest& t, const std::string&) { t.service.replyWithAcknowledgementText(); }, false,
         false, false},
        {"HTML page",
         [](BroadcasterTest& t, const std::string&) { t.service.replyWithHTML("<html>down</html>"); }, false,
         false, false},
        {"reply without broadcastURL",
         [](BroadcasterTest& t, const std::string& id) {
             vellum::ECActionResponse r;
             r.setReceivedEvents(std::vector<std::string>{id});
             r.setBroadcastURL(std::string());
             t.service.replyWithBytes(encodeReply(r));
         },
         false, false, false},
        {"shut-down reply",
         [](BroadcasterTest& t, const std::string& id) {
             vellum::ECActionResponse r;
             r.setReceivedEvents(std::vector<std::string>{id});
             r.setBroadcastURL(std::string("http://elsewhere/event"));
             r.setShutdown(true);
             t.service.replyWithBytes(encodeReply(r));
         },
         false, false, true},
        {"full reply",
         [](BroadcasterTest& t, const std::string& id) {
             vellum::ECActionResponse r;
             r.setReceivedEvents(std::vector<std::string>{id});
             r.setBroadcastURL(t.services.url("/event"));
             r.setShutdown(false);
             r.setClientToken(std::string("C0FFEE00"));
             r.setAppTok(std::string("app-token"));
             r.setDevTok(std::string("dev-token"));
             r.setDebugMessage(std::string("hello"));
             r.setUserMessage(std::string("2.0"));
             r.setUserMessageURL(std::string("http://store/app"));
             t.service.replyWithBytes(encodeReply(r));
         },
         true, true, false},
    };
    setLogLevel("DEBUG");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        defaults().removeObjectForKey("MRLastBroadcastDate");
        defaults().removeObjectForKey("MRShutdown");
        auto e = record("Tap");
        c.reply(*this, std::to_string(e->eventID));
        const auto before = service.uploads().size();
        broadcaster->sendEvents(queued());
        ASSERT_TRUE(waitForUploads(before + 1));
        bool stillQueued = false;
        for (const auto& q : queued())
            stillQueued = stillQueued || q->eventID == e->eventID;
        EXPECT_EQ(stillQueued, !c.marked);
        EXPECT_EQ(defaults().objectForKey("MRLastBroadcastDate").has_value(), c.success);
        EXPECT_EQ(manager()->isShutdown(), c.shutdown);
        EXPECT_TRUE(broadcaster->available()); // every attempt ends with the broadcaster available
    }
    EXPECT_TRUE(
        log.contains("received an unexpected HTML response from the tracking server: <html>down</html>"));
    EXPECT_TRUE(log.contains("did not receive an ECActionResponse object from the server"));
    EXPECT_TRUE(log.contains("tracking server response: hello"));
    EXPECT_EQ(MRBroadcaster::broadcastClientToken(), "C0FFEE00");
    EXPECT_EQ(manager()->appToken(), "app-token");
    EXPECT_EQ(manager()->deviceToken(), "dev-token");
    EXPECT_EQ(manager()->updateVersionString(), "2.0");
    EXPECT_EQ(manager()->updateVersionURL(), "http://store/app");

    // The next upload carries the issued tokens.
    record("Later");
    broadcaster->sendEvents(queued());
    ASSERT_TRUE(waitForUploads(std::size(cases) + 1));
    const auto last = service.uploads().back();
    EXPECT_EQ(last.part("tok"), "C0FFEE00");
    EXPECT_EQ(last.part("appTok"), "app-token");
    EXPECT_EQ(last.part("devTok"), "dev-token");
}

class RecordingAdCache : public vellum::MRAdInstructionsReceiver {
public:
    void updateAdInfo(const std::vector<std::string>& instructions) override {
        received.push_back(instructions);
    }
    std::vector<std::vector<std::string>> received;
};

TEST_F(BroadcasterTest, AdInstructionsReachTheRegisteredAdCacheOnly) {
    vellum::ECActionResponse r;
    r.setBroadcastURL(services.url("/event"));
    r.setAdInstructions(std::vector<std::string>{"<dict><key>adID</key><string>a1</string></dict>"});
    service.replyWithBytes(encodeReply(r));

    record("Tap");
    broadcaster->sendEvents(queued());
    ASSERT_TRUE(waitForUploads(1));
    EXPECT_TRUE(defaults().objectForKey("MRLastBroadcastDate")); // applied without an ad cache

    auto cache = std::make_shared<RecordingAdCache>();
    vellum::registerMRCachedAdDatabaseClass([cache] { return cache; });
    broadcaster->sendEvents(queued());
    ASSERT_TRUE(waitForUploads(2));
    ASSERT_EQ(cache->received.size(), 1u);
    EXPECT_EQ(cache->received[0], *r.adInstructions());
}

TEST_F(BroadcasterTest, AFailedConnectionEndsTheAttemptWithoutRetryingIt) {
    platform::ProcessInfo::setEnvironmentValueForTesting(
        "VellumTrackingServerURL", fwtest::LoopbackServices::closedPortURL() + "/event");
    record("Tap");
    const auto before = queuedCount();
    broadcaster->sendEvents(queued());
    ASSERT_TRUE(clock.runUntil([&] { return broadcaster->available(); }));
    EXPECT_EQ(queuedCount(), before);
    EXPECT_EQ(services.requests().size(), 0u);

    platform::ProcessInfo::setEnvironmentValueForTesting("VellumTrackingServerURL", std::nullopt);
    broadcaster->sendEvents(queued());
    ASSERT_TRUE(waitForUploads(1));
    EXPECT_EQ(queuedCount(), 1u); // only the run-start event is left
}

TEST_F(BroadcasterTest, SynchronousUploadProcessesTheReplyBeforeReturning) {
    record("Tap");
    EXPECT_TRUE(broadcaster->sendEventsSynchronously(queued()));
    EXPECT_EQ(service.uploads().size(), 1u);
    EXPECT_EQ(queuedCount(), 1u);
    EXPECT_TRUE(broadcaster->available());

    platform::ProcessInfo::setEnvironmentValueForTesting(
        "VellumTrackingServerURL", fwtest::LoopbackServices::closedPortURL() + "/event");
    EXPECT_FALSE(broadcaster->sendEventsSynchronously(queued()));
    EXPECT_TRUE(broadcaster->available());
}

TEST_F(BroadcasterTest, AnEmptyUploadStillSendsABroadcastDataWithoutRuns) {
    broadcaster->sendEvents({});
    ASSERT_TRUE(waitForUploads(1));
    const auto upload = service.uploads()[0];
    EXPECT_TRUE(upload.runIDs.empty());
    EXPECT_NE(upload.description.find("runs:()"), std::string::npos);
}

TEST_F(BroadcasterTest, TheTrackingURLFollowsTheSettingsInOrder) {
    const std::string base = services.baseURL();
    struct Case {
        std::vector<std::pair<std::string, platform::Value>> info;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {{}, base + "/event"},
        {{{"VellumTrackingServerURL", "http://own/t"}, {"VellumUseStagingServers", true}}, "http://own/t"},
        {{{"VellumUseStagingServers", true}}, base + "/test/24event"},
        {{{"VellumUseStagingServers", false}, {"VellumUseTestServers", true}}, base + "/test/event"},
        {{{"VellumUseTestServers", false}, {"MRTrackingServerURL", "http://issued/e"}}, base + "/event"},
        {{{"MRTrackingServerURL", "http://issued/e"}, {"MRUseTestServers", true}}, "http://issued/e"},
        {{{"MRUseTestServers", true}}, base + "/test/event"},
        // A text value reads as NO, but the key exists.
        {{{"MRUseTestServers", "YES"}}, base + "/event"},
    };
    for (const auto& c : cases) {
        platform::Bundle::main().setInfoDictionary({});
        for (const auto& [key, value] : c.info)
            platform::Bundle::main().setInfoDictionaryValue(key, value);
        EXPECT_EQ(MRBroadcaster::broadcastURL(), c.expected);
    }
}

TEST_F(BroadcasterTest, TheEnvironmentTokenWinsOverTheIssuedOne) {
    MRBroadcaster::setBroadcastClientToken("ISSUED01");
    EXPECT_EQ(MRBroadcaster::broadcastClientToken(), "ISSUED01");
    platform::ProcessInfo::setEnvironmentValueForTesting("MRBroadcastClientToken", "ENV00001");
    EXPECT_EQ(MRBroadcaster::broadcastClientToken(), "ENV00001");
}

// ---- Runs ----

std::shared_ptr<VellumTrackedEvent> runEvent(std::uint32_t runID, const std::string& type, double time,
                                             std::uint32_t runDuration = 0) {
    auto e = std::make_shared<VellumTrackedEvent>();
    e->runID = runID;
    e->eventType = type;
    e->timestamp = platform::Date{time};
    e->runDuration = runDuration;
    return e;
}

TEST_F(BroadcasterTest, EventsGroupIntoRunsByConsecutiveRunIDs) {
    const double t = kStartTime;
    auto runs = broadcaster->runDataForEvents(
        {runEvent(5, "A", t), runEvent(5, "B", t + 1), runEvent(6, "C", t + 2), runEvent(5, "D", t + 3)});
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].id(), "5");
    EXPECT_EQ(runs[1].id(), "6");
    EXPECT_EQ(runs[2].id(), "5");
    EXPECT_EQ(runs[0].events()->size(), 2u);
}

TEST_F(BroadcasterTest, RunDurationAndEndFollowTheGroup) {
    const double t = kStartTime;
    const std::string term = platform::kApplicationWillTerminateNotification;
    struct Case {
        const char* name;
        TrackedEvents group;
        std::optional<std::int16_t> dur;
        bool abEnd;
    };
    const std::vector<Case> cases = {
        {"single event without duration", {runEvent(9, "A", t)}, std::nullopt, true},
        {"two events 90 s apart", {runEvent(9, "A", t), runEvent(9, "B", t + 90)}, 90, true},
        {"last event's run duration", {runEvent(9, "A", t), runEvent(9, term, t + 5, 40)}, 40, false},
        {"duration beyond the field", {runEvent(9, "A", t, 100000)}, 32767, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto run = broadcaster->runObjectForEvents(c.group);
        EXPECT_EQ(run.durIsSet(), c.dur.has_value());
        if (c.dur) {
            EXPECT_EQ(run.dur(), *c.dur);
        }
        EXPECT_EQ(run.abEndIsSet(), c.abEnd);
        if (c.abEnd) {
            EXPECT_TRUE(run.abEnd());
        }
    }
}

TEST_F(BroadcasterTest, RunIntervalCountsFromTheLastRunsLastEvent) {
    defaults().setObject("MRLastRunLastEventTime", platform::Value(platform::Date{kStartTime - 100.5}));
    auto run = broadcaster->runObjectForEvents({runEvent(3, "A", kStartTime)});
    ASSERT_TRUE(run.intervalIsSet());
    EXPECT_EQ(run.interval(), 100);
    EXPECT_EQ(run.start(), "2023-11-14T22:13:20+0000");
}

TEST_F(BroadcasterTest, LegacyEventsSplitIntoRunsAtLaunchesAndReturns) {
    const double t = kStartTime;
    const std::string launch = platform::kApplicationDidFinishLaunchingNotification;
    const std::string foreground = platform::kApplicationWillEnterForegroundNotification;
    const std::string term = platform::kApplicationWillTerminateNotification;
    auto runs = broadcaster->runDataForEvents({runEvent(0, launch, t), runEvent(0, "A", t + 1),
                                               runEvent(0, foreground, t + 2), runEvent(0, "B", t + 3),
                                               runEvent(0, term, t + 4), runEvent(0, "C", t + 5)});
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].events()->size(), 2u); // the launch (joining an empty group) and A
    EXPECT_EQ(runs[1].events()->size(), 2u); // B and the termination
    EXPECT_FALSE(runs[1].abEndIsSet());
    EXPECT_EQ(runs[2].events()->size(), 1u);
}

TEST(BroadcasterFormat, Base64AndISODates) {
    EXPECT_EQ(MRBroadcaster::base64Encoding2({}), "");
    EXPECT_EQ(MRBroadcaster::base64Encoding2({'a', 'b', 'c', 'd'}), "YWJjZA==");
    platform::TimeZone::setCurrent(platform::TimeZone::fixed(-5 * 3600));
    EXPECT_EQ(MRBroadcaster::iso8601stringFromDate(platform::Date{1'356'998'400.0}),
              "2012-12-31T19:00:00-0500");
    // The last days of December belong to the calendar year, whatever week they fall in.
    platform::TimeZone::setCurrent(platform::TimeZone::utc());
    EXPECT_EQ(MRBroadcaster::iso8601stringFromDate(platform::Date{1'356'912'000.0}),
              "2012-12-31T00:00:00+0000");
    platform::TimeZone::setCurrent(std::nullopt);
}

} // namespace
