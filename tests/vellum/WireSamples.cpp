#include "WireSamples.h"

#include <string>

namespace vellumtest {

using namespace vellum;

namespace {
std::string num(int n) {
    return std::to_string(n);
}
} // namespace

Event sampleEvent(int n) {
    Event e;
    e.setEventID(num(700000000 + n));
    e.setKey(n % 2 ? "UIApplicationDidBecomeActiveNotification" : "levelCompleted");
    e.setTime("2011-03-04T10:1" + num(n % 10) + ":00-0500");
    e.setConn(3);
    e.setLat(40.7128 + n * 0.001);
    e.setLon(-74.006);
    e.setAlt(10.5);
    e.setHorizontalAccuracy(65);
    e.setVerticalAccuracy(10);
    e.setUCount(static_cast<std::int16_t>(n % 5 + 1));
    e.setUDur(static_cast<std::int16_t>(n * 3));
    e.setUDict(std::map<std::string, std::string>{{"level", num(n)}, {"mode", "hard"}});
    e.setStringValues(std::vector{MRStringData::initWithKey("MRAdSlot", "home-" + num(n))});
    e.setNumericValues(std::vector{MRNumberData::initWithKey("score", 1234.5 + n)});
    e.setDurationValues(std::vector{MRNumberData::initWithKey("MRUserDuration", 12.25)});
    return e;
}

VellumAdEvent sampleAdEvent(int n) {
    VellumAdEvent a;
    a.setEventID(num(800000000 + n));
    a.setKey("MRAdViewed");
    a.setTime("2011-03-04T11:0" + num(n % 10) + ":30-0500");
    a.setAdID("ad-" + num(1000 + n));
    a.setConn(2);
    a.setLat(51.5);
    a.setLon(-0.12);
    a.setAlt(0);
    a.setHorizontalAccuracy(30);
    a.setVerticalAccuracy(-1);
    a.setUDur(static_cast<std::int16_t>(17 + n));
    a.setAdExit(3);
    a.setStringValues(std::vector{MRStringData::initWithKey("MRAdSlot", "banner"),
                                  MRStringData::initWithKey("MRAdVersion", num(n % 7))});
    a.setNumericValues(std::vector{MRNumberData::initWithKey("MRAdClickThru_Browser", 1)});
    a.setDurationValues(std::vector{MRNumberData::initWithKey("MRAdViewDuration", 17.5 + n)});
    a.setBreadcrumbs(std::vector{MRAdEventBreadcrumb::initWithUrlID(1, 0, "2011-03-04T11:01:00-0500"),
                                 MRAdEventBreadcrumb::initWithUrlID(2, 15, "2011-03-04T11:00:45-0500")});
    a.setVisitedAdEventLinks(std::vector{MRAdEventURL::initWithId(1, "http://example.com/a", 1),
                                         MRAdEventURL::initWithId(2, "http://example.com/b", 1)});
    a.setUrlCounts(std::map<std::string, std::int16_t>{{"http://example.com/a", 1}});
    a.setAdSlotName("banner");
    a.setAdVersion(num(n % 7));
    a.setAdChildAdID("child-" + num(n));
    a.setAdParentAdID("parent-" + num(n));
    a.setAdIsAClone(static_cast<std::int16_t>(n % 2));
    return a;
}

Run sampleRun(int n, int events, int adEvents) {
    Run r;
    r.setId(num(320000000 + n));
    r.setAppVersion("1.2." + num(n));
    r.setInterval(86400 + n);
    r.setStart("2011-03-04T10:00:0" + num(n % 10) + "-0500");
    r.setDur(durationToI16(120 + n));
    r.setAbEnd(n % 2 == 1);
    r.setFirst(n == 0);
    r.setFirstHr(true);
    r.setFirstDay(n < 2);
    r.setFirstMon(false);
    r.setCountHr(static_cast<std::int16_t>(n + 1));
    r.setCountDay(static_cast<std::int16_t>(n + 2));
    r.setCountMon(static_cast<std::int16_t>(n + 3));
    std::vector<Event> ev;
    for (int i = 0; i < events; ++i)
        ev.push_back(sampleEvent(n * 100 + i));
    std::vector<VellumAdEvent> ad;
    for (int i = 0; i < adEvents; ++i)
        ad.push_back(sampleAdEvent(n * 100 + i));
    if (!ad.empty())
        r.setVellumAdEvents(std::move(ad));
    if (!ev.empty())
        r.setEvents(std::move(ev));
    r.setSystemVersion("4.3.2");
    r.setRev("iPhone3,1");
    return r;
}

BroadcastData sampleBroadcastData(int runs, int eventsPerRun, int adEventsPerRun) {
    BroadcastData b;
    b.setTime("2011-03-04T12:00:00-0500");
    b.setLocTrOn(true);
    b.setLocSrvOn(false);
    b.setLat(40.7128);
    b.setLon(-74.006);
    b.setAlt(12);
    b.setHorizontalAccuracy(100);
    b.setVerticalAccuracy(15);
    std::vector<Run> list;
    for (int i = 0; i < runs; ++i)
        list.push_back(sampleRun(i, eventsPerRun, adEventsPerRun));
    b.setRuns(std::move(list));
    b.setRev("iPhone3,1");
    return b;
}

MRClientRequest sampleClientRequest() {
    MRClientRequest r;
    r.setTok("pae=true");
    r.setDeviceID(std::nullopt); // set but nil: never written
    r.setB("42");
    r.setV("2.4M");
    r.setDev("0123456789abcdef0123456789abcdef");
    r.setSysv("4.3.2");
    r.setModel("iPhone");
    r.setAppv("1.2.0");
    r.setApp("com.example.drive");
    r.setSys("iPhone OS");
    r.setBroadcastData(std::nullopt);
    r.setIpAddress(std::nullopt);
    r.setRequestTime("2011-03-04T12:00:00-0500");
    r.setVellumAdEvents(std::vector{sampleAdEvent(1), sampleAdEvent(2)});
    r.setEvents(std::vector{sampleEvent(3)});
    return r;
}

ECActionResponse sampleActionResponse() {
    return ECActionResponse::initWithReceivedEvents(
        std::vector<std::string>{"700000001", "700000002"}, std::vector<std::string>{"800000001"}, 300,
        "http://tracking.example.com/event", "C0FFEE00", "app-token", "device-token", "all good", "2.0",
        "http://example.com/get", false, false, true, std::vector<std::string>{"320000000"},
        std::vector<std::string>{"<dict><key>adID</key><string>ad-1</string></dict>"});
}

MRSlotZeroResponse sampleSlotZeroResponse() {
    auto first = MRAdDownload::initWithAdID("ad-1", 3, "http://cdn.example.com/ad-1.zip extra",
                                            std::vector{MRAdUpdate::initWithAdVersion(4, "http://u/1.zip")},
                                            "<plist/>", MRAdControl::initWithAdControl("control"));
    MRAdDownload second;
    second.setAdID("ad-2");
    second.setAdVersion(1);
    second.setBundleURL("http://cdn.example.com/ad-2.zip");
    return MRSlotZeroResponse::initWithAdDownloads(std::vector{first, second}, "<plist><dict/></plist>");
}

RawWriter& RawWriter::byte(int b) {
    bytes.push_back(static_cast<std::uint8_t>(b));
    return *this;
}

RawWriter& RawWriter::i16(std::int16_t v) {
    const auto u = static_cast<std::uint16_t>(v);
    return byte(u >> 8).byte(u & 0xff);
}

RawWriter& RawWriter::i32(std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    return byte(u >> 24).byte((u >> 16) & 0xff).byte((u >> 8) & 0xff).byte(u & 0xff);
}

RawWriter& RawWriter::string(std::string_view s) {
    i32(static_cast<std::int32_t>(s.size()));
    bytes.insert(bytes.end(), s.begin(), s.end());
    return *this;
}

RawWriter& RawWriter::append(std::span<const std::uint8_t> more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return *this;
}

} // namespace vellumtest
