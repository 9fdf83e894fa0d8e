// Tangent event reports and the client's log: records with their timers, counts and query;
// the per-ad collection with one report per completed click; the event manager sending
// reports to the loopback service and keeping them across termination; and the log switches.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "platform/foundation/DateFormatter.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/Strings.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Application.h"
#include "services/TangentEndpoints.h"
#include "support/LoopbackServices.h"
#include "support/ManualClockScope.h"
#include "support/TemporaryHome.h"
#include "tangent/TGAdEventCollection.h"
#include "tangent/TGDelegateAdaptor.h"
#include "tangent/TGDeviceInfo.h"
#include "tangent/TGEventManager.h"
#include "tangent/TGEventRecord.h"
#include "tangent/TGLog.h"

using namespace tangent;

namespace {

// The query of a report parsed back into its pairs, in order, values decoded.
std::vector<std::pair<std::string, std::string>> pairsOf(std::string_view query) {
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const auto& piece : platform::split(query, "&")) {
        if (piece.empty())
            continue;
        auto eq = piece.find('=');
        pairs.emplace_back(piece.substr(0, eq), platform::percentDecode(piece.substr(eq + 1)).value_or("?"));
    }
    return pairs;
}

std::optional<std::string> valueOf(std::string_view query, std::string_view key) {
    for (auto& [name, value] : pairsOf(query))
        if (name == key)
            return value;
    return std::nullopt;
}

struct ZoneScope {
    explicit ZoneScope(platform::TimeZone zone) { platform::TimeZone::setCurrent(zone); }
    ~ZoneScope() { platform::TimeZone::setCurrent(std::nullopt); }
};

// An adaptor with fixed answers, as a host would give them.
class AnsweringAdaptor : public TGDelegateAdaptor {
public:
    std::optional<std::string> publisher() override { return "pub-7"; }
    std::optional<std::string> site() override { return "site 1"; }
    std::optional<std::string> adSpot() override { return std::nullopt; }
    std::optional<std::string> baseUrl() override { return base; }
    std::optional<std::string> base;
};

struct ReportFixture {
    ReportFixture() {
        TGEventManager::resetForTesting();
        services::installTangentEndpoints(services.host());
    }
    ~ReportFixture() { TGEventManager::resetForTesting(); }
    std::vector<services::LoggedRequest> reportsSent() {
        TGEventManager::instance().operationQueue().waitUntilAllOperationsAreFinished();
        return services.requestsTo(services::kTangentReportPath);
    }
    std::vector<std::string> stored() {
        return platform::UserDefaults::standard()
            .stringArrayForKey(TGEventManager::kEventRecordStoreKey)
            .value_or(std::vector<std::string>{});
    }
    fwtest::TemporaryHome home;
    fwtest::ManualClockScope clock;
    fwtest::LoopbackServices services;
};

} // namespace

TEST(TangentEventRecord, TimesCountsAndWritesItsQuery) {
    fwtest::TemporaryHome home;
    fwtest::ManualClockScope clock;
    ZoneScope zone(platform::TimeZone::utc());
    // 2024-12-30 is in the first week of the week-based year 2025: the date keeps 2024.
    clock.clock().setNow(1735560000.0 + 3 * 3600 + 4 * 60 + 5); // 2024-12-30 12:00:00 + 3:04:05
    TGEventRecord record(TGEventTypeImpression);
    EXPECT_EQ(record.detail("date"), "20241230150405");
    EXPECT_EQ(record.detail("event"), "impression");
    EXPECT_EQ(record.detail("hid"), TGDeviceInfo::instance().deviceId);

    // No duration and no count: neither pair is written.
    EXPECT_FALSE(record.durationValue());
    EXPECT_FALSE(record.countValue());
    auto query = record.eventRecord();
    EXPECT_FALSE(valueOf(query, "duration"));
    EXPECT_FALSE(valueOf(query, "units"));

    // A second start keeps the first; durations add up over start/stop pairs; a running timer
    // is stopped by reading the duration.
    record.eventStartTimer();
    clock.advance(1.5);
    record.eventStartTimer();
    clock.advance(0.25);
    record.eventStopTimer();
    clock.advance(5);
    record.eventStartTimer();
    clock.advance(0.5);
    EXPECT_EQ(record.durationValue(), "2250");
    EXPECT_FALSE(record.timerRunning());
    clock.advance(1);
    EXPECT_EQ(record.durationValue(), "2250");

    record.setCount(2);
    record.addMessage("http://a.example/x?y=1&z", "url");
    record.addMessage(std::nullopt, "ignored");
    query = record.eventRecord();
    EXPECT_EQ(valueOf(query, "units"), "2");
    EXPECT_EQ(valueOf(query, "duration"), "2250");
    // The message detail holds its own escaped pairs and is escaped once more as a value.
    EXPECT_EQ(valueOf(query, "message"), "url=http%3A%2F%2Fa.example%2Fx%3Fy%3D1%26z&");
    EXPECT_EQ(query.back(), '&');
    // Details come first, in the order they were set, then duration and units.
    auto pairs = pairsOf(query);
    ASSERT_GE(pairs.size(), 3u);
    EXPECT_EQ(pairs.front().first, "event");
    EXPECT_EQ(pairs[pairs.size() - 2].first, "duration");
    EXPECT_EQ(pairs.back().first, "units");
}

TEST(TangentEventRecord, TakesItsEndpointAndIdentityFromTheAdaptor) {
    fwtest::TemporaryHome home;
    fwtest::LoopbackServices services;
    AnsweringAdaptor adaptor;
    adaptor.setRequestId("resp-9");

    TGEventRecord plain(TGEventTypeRequest);
    EXPECT_EQ(plain.reportingUrl(), services.baseURL() + "/tangent/a/conversion");

    TGEventRecord fromAdaptor(TGEventTypeRequest, &adaptor);
    EXPECT_EQ(fromAdaptor.reportingUrl(), services.baseURL() + "/tangent/a/conversion");
    EXPECT_EQ(fromAdaptor.detail("tgreqid"), "resp-9");
    EXPECT_EQ(fromAdaptor.detail("pub"), "pub-7");
    EXPECT_EQ(fromAdaptor.detail("site"), "site 1");
    EXPECT_FALSE(fromAdaptor.detail("spot"));

    adaptor.base = "http://reports.example/b";
    fromAdaptor.updateFromDelegateAdaptor(adaptor);
    EXPECT_EQ(fromAdaptor.reportingUrl(), "http://reports.example/b/conversion");
    fromAdaptor.setReportingUrl(std::nullopt);
    EXPECT_EQ(fromAdaptor.reportingUrl(), services.baseURL() + "/tangent/a/conversion");
}

TEST(TangentEventCollection, EachCompletedClickIsItsOwnReport) {
    ReportFixture f;
    {
        AnsweringAdaptor adaptor;
        adaptor.setRequestId("resp-1");
        auto& events = *adaptor.adEventCollection();
        // Records that go on the list when first read.
        events.requestRecord();
        events.impressionRecord().eventStartTimer();
        EXPECT_EQ(events.eventCollection().size(), 2u);
        // A click record joins the list only once it has run.
        auto* first = &events.clickRecord();
        EXPECT_EQ(&events.clickRecord(), first);
        first->eventStartTimer();
        f.clock.advance(0.4);
        first->eventStopTimer();
        auto* second = &events.clickRecord();
        EXPECT_NE(second, first);
        EXPECT_EQ(events.eventCollection().size(), 3u);
        // The second click is still running when the ad goes: it is stopped and reported.
        second->eventStartTimer();
        f.clock.advance(0.1);
        // A click record that never ran is not reported.
        events.subClickRecord();
        // A failed click closed and a new one started: two reports.
        events.failedClickRecord().addMessage("dismissed", "reason");
        events.setFailedClickRecord(nullptr);
        events.failedClickRecord().addMessage("unsupported", "reason");
        f.clock.advance(1);
    } // the adaptor goes: its records are submitted

    auto sent = f.reportsSent();
    std::multiset<std::string> kinds;
    for (const auto& report : sent) {
        kinds.insert(report.queryValue("event").value_or("?"));
        EXPECT_EQ(report.queryValue("tgreqid"), "resp-1");
        EXPECT_EQ(report.queryValue("pub"), "pub-7");
        EXPECT_EQ(report.header("User-Agent"), TGDeviceInfo::instance().userAgent);
    }
    EXPECT_EQ(kinds, (std::multiset<std::string>{"request", "impression", "click", "click", "failedclick",
                                                 "failedclick"}));
    std::multiset<std::string> clickDurations;
    for (const auto& report : sent)
        if (report.queryValue("event") == "click")
            clickDurations.insert(report.queryValue("duration").value_or("none"));
    EXPECT_EQ(clickDurations, (std::multiset<std::string>{"400", "1100"}));
    // The impression ran to the moment of its report.
    for (const auto& report : sent) {
        if (report.queryValue("event") == "impression") {
            EXPECT_EQ(report.queryValue("duration"), "1500");
        }
    }
}

TEST(TangentEventManager, ReportsOfATerminatingApplicationAreStoredAndSentAtTheNextStart) {
    ReportFixture f;
    auto& manager = TGEventManager::instance();
    // One report at a time, and the first one's reply held until termination has cancelled the
    // second, so the second is still queued when the application terminates.
    manager.operationQueue().setMaxConcurrentOperationCount(1);
    auto held = std::make_shared<std::atomic<bool>>(true);
    f.services.handle("GET", std::string(services::kTangentReportPath),
                      [queue = &manager.operationQueue(), held](const services::LoggedRequest&) {
                          const auto waiting = [queue] {
                              for (const auto& operation : queue->operations())
                                  if (!operation->isExecuting() && !operation->isCancelled() &&
                                      !operation->isFinished())
                                      return true;
                              return false;
                          };
                          const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(1);
                          if (held->exchange(false))
                              while (waiting() && std::chrono::steady_clock::now() < limit)
                                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
                          return services::ServiceReply{200, "ok", "text/plain", {}};
                      });
    const std::string base = TGEventRecord(TGEventTypeRequest).reportingUrl();
    manager.submitEventReportString(base + "?event=sent&");
    manager.submitEventReportString(base + "?event=queued&");
    ASSERT_TRUE(f.clock.runUntil([&] { return f.services.requestCount(services::kTangentReportPath) == 1; }));

    platform::NotificationCenter::defaultCenter().post(platform::kApplicationWillTerminateNotification);
    EXPECT_TRUE(manager.applicationExiting());
    // Termination waited for the running report; the queued one went to the store.
    EXPECT_EQ(manager.operationQueue().operationCount(), 0u);
    manager.submitEventReportString(base + "?event=late1&");
    manager.submitEventReportString(base + "?event=late2&");
    EXPECT_EQ(f.stored(), (std::vector<std::string>{base + "?event=queued&", base + "?event=late1&",
                                                    base + "?event=late2&"}));
    // Written through to disk at once.
    platform::UserDefaults::resetForTesting();
    EXPECT_EQ(f.stored().size(), 3u);

    // The next run's manager sends the stored reports (concurrently) and empties the store.
    TGEventManager::resetForTesting();
    TGEventManager::instance();
    EXPECT_TRUE(f.stored().empty());
    auto sent = f.reportsSent();
    std::multiset<std::string> events;
    for (const auto& report : sent)
        events.insert(report.queryValue("event").value_or("?"));
    EXPECT_EQ(events, (std::multiset<std::string>{"sent", "queued", "late1", "late2"}));
}

TEST(TangentEventManager, AnOperationSendsOrStoresItsReportExactlyOnce) {
    ReportFixture f;
    TGEventManager::instance();
    const std::string url = f.services.url("/tangent/a/conversion?event=once&");
    // Cancelled before it runs: stored, and running it afterwards sends nothing.
    auto cancelled = TGRecordEventsOperation::operationWithReportUrl(url);
    cancelled->cancel();
    cancelled->cancel();
    cancelled->start();
    EXPECT_EQ(f.stored(), std::vector<std::string>{url});
    EXPECT_FALSE(cancelled->reportingUrl());
    // Run first: sent once, and a later cancel stores nothing.
    auto sent = TGRecordEventsOperation::operationWithReportUrl(url);
    sent->start();
    sent->cancel();
    EXPECT_EQ(f.stored().size(), 1u);
    EXPECT_EQ(f.services.requestCount(services::kTangentReportPath), 1u);
}

TEST(TangentLog, EnvironmentSwitchesLoggingAndLevel) {
    struct Row {
        std::optional<std::string> enabled;
        std::optional<std::string> level;
        bool expectEnabled;
        int expectLevel;
    };
    const Row rows[] = {
        {std::nullopt, std::nullopt, false, 1}, {"YES", std::nullopt, true, 1}, {"TRUE", "2", true, 2},
        {"1", "3", true, 3},                    {"yes", "3", false, 3},         {"true", std::nullopt, false, 1},
        {"YES", "0", true, 1},                  {"YES", "-4", true, 1},         {"YES", "2x", true, 1},
    };
    for (const auto& row : rows) {
        platform::ProcessInfo::setEnvironmentValueForTesting("TGLogEnabled", row.enabled);
        platform::ProcessInfo::setEnvironmentValueForTesting("TGLogLevel", row.level);
        TGLog::resetForTesting();
        SCOPED_TRACE(row.enabled.value_or("-") + "/" + row.level.value_or("-"));
        EXPECT_EQ(TGLog::enabled(), row.expectEnabled);
        EXPECT_EQ(TGLog::activeLevel(), row.expectLevel);
    }
    // Enabled at level 2: info lines carry the prefix, traces stay out.
    platform::ProcessInfo::setEnvironmentValueForTesting("TGLogEnabled", "YES");
    platform::ProcessInfo::setEnvironmentValueForTesting("TGLogLevel", "2");
    TGLog::resetForTesting();
    {
        platform::LogCapture log;
        TGLog::info("for the developer");
        TGLog::log("client line");
        TGLog::trace("trace line");
        EXPECT_EQ(log.lines(), (std::vector<std::string>{"Tangent: for the developer", "client line"}));
    }
    platform::ProcessInfo::setEnvironmentValueForTesting("TGLogEnabled", std::nullopt);
    platform::ProcessInfo::setEnvironmentValueForTesting("TGLogLevel", std::nullopt);
    TGLog::resetForTesting();
}
