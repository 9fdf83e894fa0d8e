// The hand-written structs against code that the Thrift compiler generates from
// vellum_wire.thrift: what one writes, the other reads, field by field.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include "WireSamples.h"
#include "vellum/tracking/TBinaryProtocol.h"
#include "vellum_wire_types.h"

namespace v = vellum;
namespace g = wirecheck;
using vellumtest::Bytes;

namespace {

using apache::thrift::transport::TMemoryBuffer;

template <typename T> Bytes generatedEncode(const T& value) {
    auto buffer = std::make_shared<TMemoryBuffer>();
    apache::thrift::protocol::TBinaryProtocol protocol(buffer);
    value.write(&protocol);
    std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
    buffer->getBuffer(&data, &size);
    return Bytes(data, data + size);
}

template <typename T> T generatedDecode(const Bytes& bytes) {
    auto buffer = std::make_shared<TMemoryBuffer>(const_cast<std::uint8_t*>(bytes.data()),
                                                  static_cast<std::uint32_t>(bytes.size()));
    apache::thrift::protocol::TBinaryProtocol protocol(buffer);
    T value;
    value.read(&protocol);
    return value;
}

// ---- One full instance of each struct, every field set to a value of its own ----

v::MRStringData allStringData() {
    return v::MRStringData::initWithKey("name", "text value");
}
v::MRNumberData allNumberData() {
    return v::MRNumberData::initWithKey("seconds", -12.125);
}
v::MRAdEventURL allAdEventURL() {
    return v::MRAdEventURL::initWithId(2, "http://example.com/p?q=1", 5);
}
v::MRAdEventBreadcrumb allBreadcrumb() {
    return v::MRAdEventBreadcrumb::initWithUrlID(2, 15.5, "2011-03-04T11:00:45-0500");
}

v::VellumAdEvent allAdEvent() {
    return v::VellumAdEvent::initWithEventID(
        "800000001", "MRAdViewed", "2011-03-04T11:00:30-0500", "ad-7", 2, 51.5, -0.125, 35.25, 4, 32767,
        std::map<std::string, std::string>{{"a", "1"}, {"b", "2"}}, 30, 12,
        std::map<std::string, std::int16_t>{{"u", -3}}, 3, 7, 8, 9, std::vector{allStringData()},
        std::vector{allNumberData(), allNumberData()}, std::vector{allBreadcrumb()},
        std::vector{allAdEventURL()}, std::vector{allNumberData()}, 181.5, 2.5, "banner", "4", "child",
        "parent", 1);
}

v::Event allEvent() {
    return v::Event::initWithEventID(
        "700000001", "levelCompleted", "2011-03-04T10:10:00-0500", 3, 11, 12, 13, 40.5, -74.25, 10.5, 6, 120,
        std::map<std::string, std::string>{{"level", "9"}}, 65, 10, std::vector{allStringData()},
        std::vector{allNumberData()}, std::vector{allNumberData()}, 90, 1.5);
}

v::Run allRun() {
    return v::Run::initWithId("320000000", "1.2.3", -86400, "2011-03-04T10:00:00-0500",
                              v::durationToI16(90000), true, false, true, false, true, 21, 22, 23,
                              std::vector{allAdEvent()}, std::vector{allEvent(), allEvent()}, "4.3.2",
                              "iPhone3,1");
}

v::BroadcastData allBroadcastData() {
    return v::BroadcastData::initWithTime("2011-03-04T12:00:00-0500", true, false, 1.5, 2.5, 3.5, 4.5, 5.5,
                                          std::vector{allRun(), v::Run{}}, "iPad2,1");
}

v::MRClientRequest allClientRequest() {
    return v::MRClientRequest::initWithTok("pae=true", "device", "42", "2.4D", "0123abcd", "4.3.2", "iPhone",
                                           "1.2.3", "com.example.drive", "iPhone OS", allBroadcastData(),
                                           "10.0.0.1", "2011-03-04T12:00:00-0500", std::vector{allAdEvent()},
                                           std::vector{allEvent()});
}

v::MRAdUpdate allAdUpdate() {
    return v::MRAdUpdate::initWithAdVersion(5, "http://cdn/u5.zip");
}
v::MRAdControl allAdControl() {
    return v::MRAdControl::initWithAdControl("control text");
}
v::MRAdDownload allAdDownload() {
    return v::MRAdDownload::initWithAdID("ad-1", 3, "http://cdn/ad-1.zip",
                                         std::vector{allAdUpdate(), allAdUpdate()}, "<plist/>",
                                         allAdControl());
}
v::MRSlotZeroResponse allSlotZero() {
    return v::MRSlotZeroResponse::initWithAdDownloads(std::vector{allAdDownload(), v::MRAdDownload{}},
                                                      "<plist/>");
}

// ---- The pairs: our struct, the generated one, and instances with all and some fields ----

template <typename O, typename G> struct PairBase {
    using Ours = O;
    using Generated = G;
    static constexpr bool kSameOrder = true;
    // What the wire keeps of a struct: fields that are set but nil are not written.
    static O afterWire(O value) { return value; }
};

struct StringDataPair : PairBase<v::MRStringData, g::MRStringData> {
    static Ours all() { return allStringData(); }
    static Ours some() {
        Ours s;
        s.setValue("");
        return s;
    }
};
struct NumberDataPair : PairBase<v::MRNumberData, g::MRNumberData> {
    static Ours all() { return allNumberData(); }
    static Ours some() {
        Ours s;
        s.setValue(0);
        return s;
    }
};
struct AdEventURLPair : PairBase<v::MRAdEventURL, g::MRAdEventURL> {
    static Ours all() { return allAdEventURL(); }
    static Ours some() {
        Ours s;
        s.setVisitCount(-1);
        return s;
    }
};
struct BreadcrumbPair : PairBase<v::MRAdEventBreadcrumb, g::MRAdEventBreadcrumb> {
    static Ours all() { return allBreadcrumb(); }
    static Ours some() {
        Ours s;
        s.setUrlID(1);
        s.setViewStart("t");
        return s;
    }
};
struct AdEventPair : PairBase<v::VellumAdEvent, g::AdEvent> {
    static Ours all() { return allAdEvent(); }
    static Ours some() { return vellumtest::sampleAdEvent(3); }
};
struct EventPair : PairBase<v::Event, g::Event> {
    static Ours all() { return allEvent(); }
    static Ours some() { return vellumtest::sampleEvent(4); }
};
struct RunPair : PairBase<v::Run, g::Run> {
    static Ours all() { return allRun(); }
    static Ours some() { return vellumtest::sampleRun(1, 2, 0); }
};
struct BroadcastDataPair : PairBase<v::BroadcastData, g::BroadcastData> {
    static Ours all() { return allBroadcastData(); }
    static Ours some() { return vellumtest::sampleBroadcastData(3, 2, 2); }
};
struct ClientRequestPair : PairBase<v::MRClientRequest, g::MRClientRequest> {
    static constexpr bool kSameOrder = false; // field 5 before 4
    static Ours all() { return allClientRequest(); }
    static Ours some() { return vellumtest::sampleClientRequest(); }
    static Ours afterWire(Ours value) {
        if (value.deviceIDIsSet() && !value.deviceID())
            value.unsetDeviceID();
        if (value.broadcastDataIsSet() && !value.broadcastData())
            value.unsetBroadcastData();
        if (value.ipAddressIsSet() && !value.ipAddress())
            value.unsetIpAddress();
        return value;
    }
};
struct ActionResponsePair : PairBase<v::ECActionResponse, g::ECActionResponse> {
    static Ours all() { return vellumtest::sampleActionResponse(); }
    static Ours some() {
        Ours r;
        r.setBroadcastURL("http://u");
        r.setShutdown(false);
        r.setReceivedEvents(std::vector<std::string>{});
        return r;
    }
};
struct AdUpdatePair : PairBase<v::MRAdUpdate, g::MRAdUpdate> {
    static Ours all() { return allAdUpdate(); }
    static Ours some() {
        Ours s;
        s.setUpdateBundleURL("u");
        return s;
    }
};
struct AdControlPair : PairBase<v::MRAdControl, g::MRAdControl> {
    static Ours all() { return allAdControl(); }
    static Ours some() { return all(); }
};
struct AdDownloadPair : PairBase<v::MRAdDownload, g::MRAdDownload> {
    static Ours all() { return allAdDownload(); }
    static Ours some() {
        Ours s;
        s.setAdID("a");
        s.setAdControl(v::MRAdControl{});
        return s;
    }
};
struct SlotZeroPair : PairBase<v::MRSlotZeroResponse, g::MRSlotZeroResponse> {
    static Ours all() { return allSlotZero(); }
    static Ours some() { return vellumtest::sampleSlotZeroResponse(); }
};

template <typename P> class WireCrossCheck : public ::testing::Test {};
using Pairs = ::testing::Types<StringDataPair, NumberDataPair, AdEventURLPair, BreadcrumbPair, AdEventPair,
                               EventPair, RunPair, BroadcastDataPair, ClientRequestPair, ActionResponsePair,
                               AdUpdatePair, AdControlPair, AdDownloadPair, SlotZeroPair>;
TYPED_TEST_SUITE(WireCrossCheck, Pairs);

} // namespace

TYPED_TEST(WireCrossCheck, RoundTripsAndAgreesWithTheGeneratedCode) {
    using P = TypeParam;
    using Ours = typename P::Ours;
    using Generated = typename P::Generated;
    const struct {
        const char* what;
        Ours value;
    } samples[] = {{"all fields set", P::all()}, {"some fields set", P::some()}, {"no field set", Ours{}}};
    for (const auto& sample : samples) {
        SCOPED_TRACE(sample.what);
        const Ours expected = P::afterWire(sample.value);
        const Bytes ours = v::encodeWireStruct(sample.value);
        EXPECT_EQ(v::decodeWireStruct<Ours>(ours), expected) << "our own round trip";

        // Our bytes through the generated reader and back out of its writer.
        const Generated generated = generatedDecode<Generated>(ours);
        const Bytes theirs = generatedEncode(generated);
        if (P::kSameOrder)
            EXPECT_EQ(theirs, ours);
        else
            EXPECT_EQ(theirs.size(), ours.size());
        // The generated writer's bytes read by ours: every field, value and set flag.
        EXPECT_EQ(v::decodeWireStruct<Ours>(theirs), expected);
    }
    EXPECT_EQ(v::encodeWireStruct(Ours{}), Bytes{0});
}

TEST(WireCrossCheckFields, LongUploadsAndTextsGiveTheGeneratedBytesAtEveryOffset) {
    // The writer gathers bytes a few kilobytes at a time and puts headers together with their
    // values; every split of a header, a number or a text at the end of a gathered block, and
    // texts on both sides of the length that is gathered in one step, must give the same bytes.
    auto upload = vellumtest::sampleBroadcastData(3, 20, 6);
    auto runs = *upload.runs();
    auto longTexts = vellumtest::sampleEvent(9);
    longTexts.setKey(std::string(1024, 'k'));
    longTexts.setTime(std::string(1025, 't'));
    longTexts.setUDict(std::map<std::string, std::string>{{std::string(5000, 'a'), std::string(4095, 'b')}});
    runs[1].setEvents(std::vector{longTexts, vellumtest::sampleEvent(10)});
    upload.setRuns(runs);
    for (std::size_t shift = 0; shift < 16; ++shift) {
        SCOPED_TRACE(shift);
        upload.setTime(std::string(shift, 'x')); // the first field: moves every later byte
        const Bytes ours = v::encodeWireStruct(upload);
        ASSERT_GT(ours.size(), 3u * 4096);
        EXPECT_EQ(generatedEncode(generatedDecode<g::BroadcastData>(ours)), ours);
        EXPECT_EQ(v::decodeWireStruct<v::BroadcastData>(ours), upload);
    }
}

TEST(WireCrossCheckFields, EveryAdEventFieldReachesTheGeneratedStruct) {
    const auto ours = allAdEvent();
    const auto a = generatedDecode<g::AdEvent>(v::encodeWireStruct(ours));
    EXPECT_EQ(a.eventID, *ours.eventID());
    EXPECT_EQ(a.key, "MRAdViewed");
    EXPECT_EQ(a.time, "2011-03-04T11:00:30-0500");
    EXPECT_EQ(a.adID, "ad-7");
    EXPECT_EQ(a.conn, 2);
    EXPECT_EQ(a.lat, 51.5);
    EXPECT_EQ(a.lon, -0.125);
    EXPECT_EQ(a.alt, 35.25);
    EXPECT_EQ(a.uCount, 4);
    EXPECT_EQ(a.uDur, 32767);
    EXPECT_EQ(a.uDict, (std::map<std::string, std::string>{{"a", "1"}, {"b", "2"}}));
    EXPECT_EQ(a.horizontalAccuracy, 30);
    EXPECT_EQ(a.verticalAccuracy, 12);
    EXPECT_EQ(a.urlCounts, (std::map<std::string, std::int16_t>{{"u", -3}}));
    EXPECT_EQ(a.adExit, 3);
    EXPECT_EQ(a.countHr, 7);
    EXPECT_EQ(a.countDay, 8);
    EXPECT_EQ(a.countMon, 9);
    ASSERT_EQ(a.stringValues.size(), 1u);
    EXPECT_EQ(a.stringValues[0].key, "name");
    EXPECT_EQ(a.stringValues[0].value, "text value");
    ASSERT_EQ(a.numericValues.size(), 2u);
    EXPECT_EQ(a.numericValues[1].value, -12.125);
    ASSERT_EQ(a.breadcrumbs.size(), 1u);
    EXPECT_EQ(a.breadcrumbs[0].urlID, 2);
    EXPECT_EQ(a.breadcrumbs[0].duration, 15.5);
    EXPECT_EQ(a.breadcrumbs[0].viewStart, "2011-03-04T11:00:45-0500");
    ASSERT_EQ(a.visitedAdEventLinks.size(), 1u);
    EXPECT_EQ(a.visitedAdEventLinks[0].url, "http://example.com/p?q=1");
    EXPECT_EQ(a.visitedAdEventLinks[0].visitCount, 5);
    ASSERT_EQ(a.durationValues.size(), 1u);
    EXPECT_EQ(a.direction, 181.5);
    EXPECT_EQ(a.directionAccuracy, 2.5);
    EXPECT_EQ(a.adSlotName, "banner");
    EXPECT_EQ(a.adVersion, "4");
    EXPECT_EQ(a.adChildAdID, "child");
    EXPECT_EQ(a.adParentAdID, "parent");
    EXPECT_EQ(a.adIsAClone, 1);
    // Every one of the 30 optional fields arrived.
    const auto& s = a.__isset;
    EXPECT_TRUE(s.eventID && s.key && s.time && s.adID && s.conn && s.lat && s.lon && s.alt && s.uCount &&
                s.uDur && s.uDict && s.horizontalAccuracy && s.verticalAccuracy && s.urlCounts && s.adExit &&
                s.countHr && s.countDay && s.countMon && s.stringValues && s.numericValues && s.breadcrumbs &&
                s.visitedAdEventLinks && s.durationValues && s.direction && s.directionAccuracy &&
                s.adSlotName && s.adVersion && s.adChildAdID && s.adParentAdID && s.adIsAClone);
}

TEST(WireCrossCheckFields, ClientRequestOrderIsAcceptedByTheGeneratedReader) {
    const auto request = vellumtest::sampleClientRequest();
    const Bytes ours = v::encodeWireStruct(request);
    auto position = [](const Bytes& bytes, std::uint8_t id) {
        const std::uint8_t header[] = {11, 0, id, 0, 0, 0};
        return std::search(bytes.begin(), bytes.end(), std::begin(header), std::end(header)) - bytes.begin();
    };
    EXPECT_LT(position(ours, 5), position(ours, 4)) << "ours: v before dev";

    const auto generated = generatedDecode<g::MRClientRequest>(ours);
    EXPECT_EQ(generated.v, "2.4M");
    EXPECT_EQ(generated.dev, "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(generated.b, "42");
    EXPECT_FALSE(generated.__isset.deviceID) << "set but nil is not on the wire";
    EXPECT_FALSE(generated.__isset.broadcastData);
    EXPECT_FALSE(generated.__isset.ipAddress);
    EXPECT_EQ(generated.adEvents.size(), 2u);
    EXPECT_EQ(generated.events.size(), 1u);

    const Bytes theirs = generatedEncode(generated);
    EXPECT_GT(position(theirs, 5), position(theirs, 4)) << "the generated writer goes by id";
    EXPECT_EQ(v::decodeWireStruct<v::MRClientRequest>(theirs), ClientRequestPair::afterWire(request));
}

TEST(WireCrossCheckFields, RepliesBuiltByTheGeneratedCodeReadIntoOurs) {
    g::ECActionResponse reply;
    reply.__set_receivedEvents({"1", "2", "3"});
    reply.__set_broadcastURL("http://tracking.example.com/event");
    reply.__set_shutdown(true);
    reply.__set_userMessage("");
    reply.__set_adInstructions({"<dict/>"});
    const auto ours = v::decodeWireStruct<v::ECActionResponse>(generatedEncode(reply));
    EXPECT_EQ(ours.receivedEvents(), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_FALSE(ours.receivedAdEventsIsSet());
    EXPECT_EQ(ours.broadcastURL(), "http://tracking.example.com/event");
    EXPECT_TRUE(ours.shutdownIsSet());
    EXPECT_TRUE(ours.shutdown());
    EXPECT_TRUE(ours.userMessageIsSet());
    EXPECT_EQ(ours.userMessage(), "");
    EXPECT_FALSE(ours.userMessageURLIsSet());
    EXPECT_EQ(ours.adInstructions(), std::vector<std::string>{"<dict/>"});

    g::MRAdDownload download;
    download.__set_adID("ad-9");
    download.__set_adVersion(12);
    download.__set_bundleURL("http://cdn/ad-9.zip");
    download.__set_adControlPlist("<plist/>");
    g::MRSlotZeroResponse cache;
    cache.__set_adDownloads({download});
    cache.__set_appSettings("<dict/>");
    const auto slot = v::decodeWireStruct<v::MRSlotZeroResponse>(generatedEncode(cache));
    ASSERT_TRUE(slot.adDownloads());
    ASSERT_EQ(slot.adDownloads()->size(), 1u);
    const auto& d = slot.adDownloads()->front();
    EXPECT_EQ(d.adID(), "ad-9");
    EXPECT_EQ(d.adVersion(), 12);
    EXPECT_EQ(d.bundleURL(), "http://cdn/ad-9.zip");
    EXPECT_EQ(d.adControlPlist(), "<plist/>");
    EXPECT_FALSE(d.updatesIsSet());
    EXPECT_EQ(slot.appSettings(), "<dict/>");
}

TEST(WireCrossCheckFields, GeneratedCodeReadsThroughOurTransportAndProtocol) {
    // Through the virtual protocol interface, the end-of-data rule holds for the generated
    // reader too: a reply cut right after field 4 gives fields 1 to 4.
    auto whole = vellumtest::sampleActionResponse();
    v::ECActionResponse head;
    head.setReceivedEvents(whole.receivedEvents());
    head.setReceivedAdEvents(whole.receivedAdEvents());
    head.setMinBroadcastInterval(whole.minBroadcastInterval());
    head.setBroadcastURL(whole.broadcastURL());
    Bytes cut = v::encodeWireStruct(head);
    cut.pop_back();

    for (const Bytes& bytes : {v::encodeWireStruct(whole), cut}) {
        v::TBinaryProtocol protocol(
            std::make_shared<v::TNSDataTransport>(std::span<const std::uint8_t>(bytes)));
        g::ECActionResponse reply;
        reply.read(&protocol);
        EXPECT_EQ(reply.broadcastURL, "http://tracking.example.com/event");
        EXPECT_EQ(reply.receivedEvents, (std::vector<std::string>{"700000001", "700000002"}));
        EXPECT_EQ(reply.__isset.clientToken, bytes.size() != cut.size());
    }
}
