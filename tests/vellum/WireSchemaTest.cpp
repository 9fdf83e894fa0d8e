// The struct model: exact bytes of the binary protocol, set flags and "set but nil", the
// order of MRClientRequest, skipping of unknown and mistyped fields, and descriptions.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "WireSamples.h"
#include "vellum/tracking/TBinaryProtocol.h"

using namespace vellum;
using vellumtest::Bytes;
using vellumtest::RawWriter;

namespace {

constexpr int kBool = 2, kDouble = 4, kI16 = 6, kI32 = 8, kI64 = 10, kString = 11, kStruct = 12, kMap = 13,
              kSet = 14, kList = 15;

Bytes hex(std::string_view text) {
    Bytes out;
    auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(static_cast<std::uint8_t>(digit(text[i]) * 16 + digit(text[i + 1])));
        i += 2;
    }
    return out;
}

} // namespace

TEST(WireSchema, WritesTheBinaryProtocolByteForByte) {
    struct Case {
        const char* what;
        std::function<Bytes()> encode;
        const char* expected;
    };
    const Case cases[] = {
        {"a fresh struct is its stop byte", [] { return encodeWireStruct(MRAdEventURL{}); }, "00"},
        {"i16, string, i16 in id order",
         [] { return encodeWireStruct(MRAdEventURL::initWithId(1, "ab", 2)); },
         "06 0001 0001  0b 0002 00000002 6162  06 0003 0002  00"},
        {"double as its big-endian IEEE pattern",
         [] { return encodeWireStruct(MRNumberData::initWithKey("k", 1.5)); },
         "0b 0001 00000001 6b  04 0002 3ff8000000000000  00"},
        {"bool and i64",
         [] {
             vellum::Run r;
             r.setInterval(-2);
             r.setAbEnd(true);
             r.setFirst(false);
             return encodeWireStruct(r);
         },
         "0a 0003 fffffffffffffffe  02 0006 01  02 0007 00  00"},
        {"an empty string that is set is written",
         [] {
             MRStringData s;
             s.setKey("");
             return encodeWireStruct(s);
         },
         "0b 0001 00000000  00"},
        {"a set string holding nil is not written",
         [] {
             MRStringData s;
             s.setKey(std::nullopt);
             s.setValue("v");
             return encodeWireStruct(s);
         },
         "0b 0002 00000001 76  00"},
        {"an empty list that is set is written with size 0",
         [] {
             ECActionResponse r;
             r.setReceivedEvents(std::vector<std::string>{});
             return encodeWireStruct(r);
         },
         "0f 0001 0b 00000000  00"},
        {"a list of strings",
         [] {
             ECActionResponse r;
             r.setReceivedEvents(std::vector<std::string>{"a", "bc"});
             return encodeWireStruct(r);
         },
         "0f 0001 0b 00000002 00000001 61 00000002 6263  00"},
        {"a list of structs, each with its own stop byte",
         [] {
             MRSlotZeroResponse r;
             r.setAdDownloads(
                 std::vector{MRAdDownload{}, MRAdDownload::initWithAdID("x", 1, std::nullopt, std::nullopt,
                                                                        std::nullopt, std::nullopt)});
             return encodeWireStruct(r);
         },
         "0f 0001 0c 00000002  00  0b 0001 00000001 78 06 0002 0001 00  00"},
        {"map of string to string",
         [] {
             Event e;
             e.setUDict(std::map<std::string, std::string>{{"k", "v"}});
             return encodeWireStruct(e);
         },
         "0d 000d 0b 0b 00000001 00000001 6b 00000001 76  00"},
        {"map of string to i16",
         [] {
             VellumAdEvent a;
             a.setUrlCounts(std::map<std::string, std::int16_t>{{"u", 7}});
             return encodeWireStruct(a);
         },
         "0d 000e 0b 06 00000001 00000001 75 0007  00"},
        {"a nested struct",
         [] {
             MRAdDownload d;
             d.setAdControl(MRAdControl::initWithAdControl("c"));
             return encodeWireStruct(d);
         },
         "0c 0006 0b 0001 00000001 63 00  00"},
        {"a set nested struct holding nil is not written",
         [] {
             MRClientRequest r;
             r.setBroadcastData(std::nullopt);
             return encodeWireStruct(r);
         },
         "00"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.encode(), hex(c.expected)) << c.what;
}

TEST(WireSchema, ClientRequestWritesFieldFiveBeforeFourAndReadsAnyOrder) {
    MRClientRequest r;
    r.setDev("d");
    r.setV("2.4M");
    r.setB("42");
    EXPECT_EQ(encodeWireStruct(r),
              hex("0b 0003 00000002 3432  0b 0005 00000004 322e344d  0b 0004 00000001 64  00"));

    // Fields in any order, also the reverse of the written one.
    Bytes reversed = RawWriter{}
                         .field(kString, 4)
                         .string("d")
                         .field(kString, 5)
                         .string("2.4M")
                         .field(kString, 3)
                         .string("42")
                         .stop()
                         .bytes;
    EXPECT_EQ(decodeWireStruct<MRClientRequest>(reversed), r);
    EXPECT_NE(r.description().find(",b:\"42\",v:\"2.4M\",dev:\"d\",sysv:"), std::string::npos);
}

TEST(WireSchema, SettersMarkFieldsSetAndUnsetLeavesTheWire) {
    VellumAdEvent a;
    EXPECT_FALSE(a.adIDIsSet());
    a.setAdID(std::nullopt);
    EXPECT_TRUE(a.adIDIsSet()) << "setting nil still marks the field set";
    EXPECT_EQ(encodeWireStruct(a), hex("00")) << "but nil is not written";

    a.setConn(3);
    a.unsetConn();
    EXPECT_FALSE(a.connIsSet());
    EXPECT_EQ(a.conn(), 3) << "an unset scalar keeps its value";
    EXPECT_EQ(encodeWireStruct(a), hex("00")) << "and is left out of the next write";

    a.setAdSlotName("banner");
    a.unsetAdSlotName();
    EXPECT_EQ(a.adSlotName(), std::nullopt) << "an unset object is cleared";

    vellum::Run run;
    run.setVellumAdEvents(std::vector{VellumAdEvent{}});
    EXPECT_TRUE(run.adEventsIsSet());
    run.unsetAdEvents();
    EXPECT_FALSE(run.adEventsIsSet());
    EXPECT_EQ(run.vellumAdEvents(), std::nullopt);
}

TEST(WireSchema, DesignatedInitializersSetEveryFieldNilIncluded) {
    auto d =
        MRAdDownload::initWithAdID(std::nullopt, 2, "http://b", std::nullopt, std::nullopt, std::nullopt);
    EXPECT_TRUE(d.adIDIsSet());
    EXPECT_TRUE(d.updatesIsSet());
    EXPECT_TRUE(d.adControlIsSet());
    EXPECT_EQ(d.adVersion(), 2);
    EXPECT_EQ(encodeWireStruct(d), hex("06 0002 0002  0b 0003 00000008 687474703a2f2f62  00"));

    auto r = vellum::Run::initWithId("1", "2", 3, "4", 5, true, false, true, false, true, 11, 12, 13,
                                     std::nullopt, std::vector<Event>{}, "16", "17");
    EXPECT_EQ(r.id(), "1");
    EXPECT_EQ(r.start(), "4");
    EXPECT_EQ(r.dur(), 5);
    EXPECT_EQ(r.countMon(), 13);
    EXPECT_TRUE(r.adEventsIsSet());
    EXPECT_EQ(r.events(), std::vector<Event>{});
    EXPECT_EQ(r.rev(), "17");
}

TEST(WireSchema, UnknownAndMistypedFieldsAreSkipped) {
    // Each case puts one extra field between fields 1 (adDownloads) and 2 (appSettings) of
    // an MRSlotZeroResponse, or sends field 1 itself with another type.
    struct Case {
        const char* what;
        std::function<void(RawWriter&)> extra;
        bool replacesField1 = false;
    };
    const Case cases[] = {
        {"unknown bool", [](RawWriter& w) { w.field(kBool, 3).byte(1); }},
        {"unknown i16", [](RawWriter& w) { w.field(kI16, 3).i16(9); }},
        {"unknown i32", [](RawWriter& w) { w.field(kI32, 3).i32(9); }},
        {"unknown i64", [](RawWriter& w) { w.field(kI64, 3).i32(0).i32(9); }},
        {"unknown double", [](RawWriter& w) { w.field(kDouble, 3).i32(0x3ff00000).i32(0); }},
        {"unknown string", [](RawWriter& w) { w.field(kString, 3).string("skipped"); }},
        {"unknown struct with nested fields",
         [](RawWriter& w) {
             w.field(kStruct, 3)
                 .field(kString, 1)
                 .string("x")
                 .field(kStruct, 2)
                 .field(kI32, 1)
                 .i32(5)
                 .stop()
                 .stop();
         }},
        {"unknown map",
         [](RawWriter& w) { w.field(kMap, 3).byte(kString).byte(kI32).i32(1).string("k").i32(1); }},
        {"unknown set", [](RawWriter& w) { w.field(kSet, 3).byte(kI16).i32(2).i16(1).i16(2); }},
        {"unknown list of lists",
         [](RawWriter& w) { w.field(kList, 3).byte(kList).i32(1).byte(kString).i32(1).string("deep"); }},
        {"field 1 as a string instead of a list",
         [](RawWriter& w) { w.field(kString, 1).string("not a list"); }, true},
        {"field 1 as an i32", [](RawWriter& w) { w.field(kI32, 1).i32(7); }, true},
        {"field 1 as a list of i32 instead of structs",
         [](RawWriter& w) { w.field(kList, 1).byte(kI32).i32(2).i32(1).i32(2); }, true},
    };
    MRAdDownload download;
    download.setAdID("ad-1");
    for (const auto& c : cases) {
        RawWriter w;
        if (!c.replacesField1)
            w.field(kList, 1).byte(kStruct).i32(1).field(kString, 1).string("ad-1").stop();
        c.extra(w);
        w.field(kString, 2).string("<plist/>").stop();
        const Bytes bytes = w.bytes;
        TBinaryProtocol protocol(std::make_shared<TNSDataTransport>(std::span<const std::uint8_t>(bytes)));
        MRSlotZeroResponse r;
        r.read(protocol);
        if (c.replacesField1)
            EXPECT_FALSE(r.adDownloadsIsSet()) << c.what;
        else
            EXPECT_EQ(r.adDownloads(), std::vector{download}) << c.what;
        EXPECT_EQ(r.appSettings(), "<plist/>") << c.what;
        EXPECT_FALSE(protocol.readError()) << c.what;
    }
}

TEST(WireSchema, ContainerElementTypesAreChecked) {
    // A list of strings declared with another element type is skipped whole; an empty one
    // is taken whatever its element type says.
    Bytes wrong = RawWriter{}
                      .field(kList, 1)
                      .byte(kI32)
                      .i32(1)
                      .i32(1234)
                      .field(kList, 2)
                      .byte(kI32)
                      .i32(0)
                      .field(kString, 4)
                      .string("http://u")
                      .stop()
                      .bytes;
    auto r = decodeWireStruct<ECActionResponse>(wrong);
    EXPECT_FALSE(r.receivedEventsIsSet());
    EXPECT_TRUE(r.receivedAdEventsIsSet());
    EXPECT_EQ(r.receivedAdEvents(), std::vector<std::string>{});
    EXPECT_EQ(r.broadcastURL(), "http://u");

    // A map whose value type is not the declared one.
    Bytes map = RawWriter{}
                    .field(kMap, 13)
                    .byte(kString)
                    .byte(kI32)
                    .i32(1)
                    .string("k")
                    .i32(5)
                    .field(kString, 2)
                    .string("key")
                    .stop()
                    .bytes;
    auto e = decodeWireStruct<Event>(map);
    EXPECT_FALSE(e.uDictIsSet());
    EXPECT_EQ(e.key(), "key");
}

TEST(WireSchema, ARepeatedFieldTakesTheLaterValue) {
    Bytes twice = RawWriter{}.field(kString, 4).string("a").field(kString, 4).string("b").stop().bytes;
    EXPECT_EQ(decodeWireStruct<ECActionResponse>(twice).broadcastURL(), "b");
}

TEST(WireSchema, ReadingKeepsTheStateOfFieldsThatDoNotOccur) {
    ECActionResponse r;
    r.setClientToken("kept");
    Bytes bytes = RawWriter{}.field(kString, 4).string("http://u").stop().bytes;
    TBinaryProtocol reader(std::make_shared<TNSDataTransport>(bytes));
    r.read(reader);
    EXPECT_EQ(r.broadcastURL(), "http://u");
    EXPECT_EQ(r.clientToken(), "kept");
}

TEST(WireSchema, DescriptionPrintsEveryFieldInDeclarationOrder) {
    EXPECT_EQ(
        MRClientRequest{}.description(),
        "MRClientRequest(tok:\"(null)\",deviceID:\"(null)\",b:\"(null)\",v:\"(null)\",dev:\"(null)\","
        "sysv:\"(null)\",model:\"(null)\",appv:\"(null)\",app:\"(null)\",sys:\"(null)\","
        "broadcastData:(null),ipAddress:\"(null)\",requestTime:\"(null)\",adEvents:(null),events:(null))");
    EXPECT_EQ(vellum::Run{}.description(),
              "Run(id:\"(null)\",appVersion:\"(null)\",interval:0,start:\"(null)\",dur:0,abEnd:0,first:0,"
              "firstHr:0,firstDay:0,firstMon:0,countHr:0,countDay:0,countMon:0,adEvents:(null),events:(null),"
              "systemVersion:\"(null)\",rev:\"(null)\")");
    const std::string adEvent = VellumAdEvent{}.description();
    EXPECT_EQ(adEvent.rfind("AdEvent(eventID:\"(null)\",key:\"(null)\",", 0), 0u) << adEvent;
    EXPECT_NE(adEvent.find(",lat:0.000000,"), std::string::npos) << adEvent;
    EXPECT_NE(adEvent.find(",uDict:(null),"), std::string::npos) << adEvent;

    auto r = MRSlotZeroResponse::initWithAdDownloads(
        std::vector{MRAdDownload::initWithAdID("a", -3, std::nullopt, std::vector<MRAdUpdate>{}, std::nullopt,
                                               MRAdControl::initWithAdControl("c"))},
        "s");
    EXPECT_EQ(
        r.description(),
        "MRSlotZeroResponse(adDownloads:(MRAdDownload(adID:\"a\",adVersion:-3,bundleURL:\"(null)\","
        "updates:(),adControlPlist:\"(null)\",adControl:MRAdControl(adControl:\"c\"))),appSettings:\"s\")");
    VellumAdEvent a;
    a.setUrlCounts(std::map<std::string, std::int16_t>{{"x", 2}});
    a.setLat(-1.25);
    EXPECT_NE(a.description().find(",lat:-1.250000,"), std::string::npos);
    EXPECT_NE(a.description().find(",urlCounts:{\"x\" = 2; },"), std::string::npos);
}

TEST(WireSchema, DurationsBeyondAnI16AreClamped) {
    const struct {
        std::int64_t seconds;
        std::int16_t written;
    } cases[] = {{0, 0},
                 {90, 90},
                 {32766, 32766},
                 {32767, 32767},
                 {32768, 32767},
                 {86400, 32767},
                 {std::int64_t{1} << 40, 32767},
                 {-5, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(durationToI16(c.seconds), c.written) << c.seconds;
}
