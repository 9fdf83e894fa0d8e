// Reading data that ends early or lies: the in-memory transport's exact reads, the end-of-
// data rule (the struct ends where the data ends, keeping only whole fields), bounded sizes
// and garbage that must never crash the reader.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "AllocationProbe.h"
#include "WireSamples.h"
#include "platform/foundation/Error.h"
#include "vellum/tracking/TBinaryProtocol.h"

using namespace vellum;
using vellumtest::Bytes;
using vellumtest::RawWriter;

namespace {

constexpr int kI64 = 10, kString = 11, kStruct = 12, kMap = 13, kList = 15;
constexpr std::int32_t kHugeCount = 0x7fffffff;
// Far below any size a length prefix of the cases below claims.
constexpr std::size_t kSmallAllocation = 64 * 1024;

template <typename S> struct Decoded {
    S value;
    bool readError;
};

template <typename S> Decoded<S> decodeWithError(std::span<const std::uint8_t> bytes) {
    S s;
    TBinaryProtocol protocol(std::make_shared<TNSDataTransport>(bytes));
    s.read(protocol);
    return {std::move(s), protocol.readError()};
}

template <typename S> using FieldCopy = std::function<void(const S& from, S& to)>;

#define COPY(S, Name, getter) [](const S& f, S& t) { t.set##Name(f.getter()); }

const std::vector<FieldCopy<BroadcastData>>& broadcastDataFields() {
    static const std::vector<FieldCopy<BroadcastData>> fields = {
        COPY(BroadcastData, Time, time),
        COPY(BroadcastData, LocTrOn, locTrOn),
        COPY(BroadcastData, LocSrvOn, locSrvOn),
        COPY(BroadcastData, Lat, lat),
        COPY(BroadcastData, Lon, lon),
        COPY(BroadcastData, Alt, alt),
        COPY(BroadcastData, HorizontalAccuracy, horizontalAccuracy),
        COPY(BroadcastData, VerticalAccuracy, verticalAccuracy),
        COPY(BroadcastData, Runs, runs),
        COPY(BroadcastData, Rev, rev),
    };
    return fields;
}

const std::vector<FieldCopy<ECActionResponse>>& actionResponseFields() {
    static const std::vector<FieldCopy<ECActionResponse>> fields = {
        COPY(ECActionResponse, ReceivedEvents, receivedEvents),
        COPY(ECActionResponse, ReceivedAdEvents, receivedAdEvents),
        COPY(ECActionResponse, MinBroadcastInterval, minBroadcastInterval),
        COPY(ECActionResponse, BroadcastURL, broadcastURL),
        COPY(ECActionResponse, ClientToken, clientToken),
        COPY(ECActionResponse, AppTok, appTok),
        COPY(ECActionResponse, DevTok, devTok),
        COPY(ECActionResponse, DebugMessage, debugMessage),
        COPY(ECActionResponse, UserMessage, userMessage),
        COPY(ECActionResponse, UserMessageURL, userMessageURL),
        COPY(ECActionResponse, Shutdown, shutdown),
        COPY(ECActionResponse, Kill, kill),
        COPY(ECActionResponse, DcEnabled, dcEnabled),
        COPY(ECActionResponse, ReceivedRuns, receivedRuns),
        COPY(ECActionResponse, AdInstructions, adInstructions),
    };
    return fields;
}

const std::vector<FieldCopy<MRSlotZeroResponse>>& slotZeroFields() {
    static const std::vector<FieldCopy<MRSlotZeroResponse>> fields = {
        COPY(MRSlotZeroResponse, AdDownloads, adDownloads),
        COPY(MRSlotZeroResponse, AppSettings, appSettings),
    };
    return fields;
}

#undef COPY

// Cuts the encoded `whole` after every byte and checks that each cut reads as exactly the
// top-level fields whose bytes end before the cut, each whole, and nothing else.
template <typename S>
void expectEveryCutReadsItsWholeFields(const S& whole, const std::vector<FieldCopy<S>>& fields) {
    const Bytes bytes = encodeWireStruct(whole);
    // Where each field's bytes end: the size of the fields up to it, without the stop byte.
    std::vector<std::size_t> fieldEnd;
    S prefix;
    for (const auto& copy : fields) {
        copy(whole, prefix);
        fieldEnd.push_back(encodeWireStruct(prefix).size() - 1);
    }
    ASSERT_EQ(fieldEnd.back(), bytes.size() - 1);

    for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
        S expected;
        for (std::size_t i = 0; i < fields.size(); ++i)
            if (fieldEnd[i] <= cut)
                fields[i](whole, expected);
        const auto decoded = decodeWithError<S>(std::span(bytes).first(cut));
        ASSERT_EQ(decoded.value, expected) << "cut after " << cut << " of " << bytes.size() << " bytes";
        EXPECT_EQ(decoded.readError, cut < bytes.size()) << "cut after " << cut;
    }
}

template <typename S> void expectStable(const Bytes& garbage) {
    // Compared as bytes, since garbage may hold NaN doubles.
    const Bytes once = encodeWireStruct(decodeWireStruct<S>(garbage));
    ASSERT_EQ(encodeWireStruct(decodeWireStruct<S>(once)), once);
}

} // namespace

TEST(TNSDataTransport, ReadsExactlyTheBytesAskedForOrNothing) {
    const Bytes data = {1, 2, 3};
    TNSDataTransport t{std::span<const std::uint8_t>(data)};
    std::uint8_t buf[4] = {9, 9, 9, 9};
    EXPECT_EQ(t.readAll(buf, 2), 2u);
    EXPECT_EQ(buf[0], 1);
    EXPECT_EQ(buf[1], 2);
    EXPECT_EQ(t.position(), 2u);

    EXPECT_EQ(t.readAll(buf, 2), 0u) << "one byte left: nothing is read";
    EXPECT_EQ(t.position(), 2u);
    EXPECT_EQ(buf[0], 0) << "the caller never sees stale bytes";

    EXPECT_EQ(t.readAll(buf, 1), 1u) << "a read ending exactly at the last byte succeeds";
    EXPECT_EQ(buf[0], 3);
    EXPECT_EQ(t.readAll(buf, 1), 0u);
    EXPECT_EQ(t.available(), 0u);

    TNSDataTransport empty{std::span<const std::uint8_t>()};
    EXPECT_EQ(empty.read(buf, 4), 0u);
    EXPECT_EQ(empty.readAll(buf, 0), 0u);
    Bytes nothing;
    TNSDataTransport writer(nothing);
    writer.write(nullptr, 0);
    writer.flush();
    EXPECT_TRUE(nothing.empty());
}

TEST(TNSDataTransport, ReadOnlyDataHasNoWriteBuffer) {
    const Bytes data = {0};
    TNSDataTransport t{std::span<const std::uint8_t>(data)};
    EXPECT_FALSE(t.hasWriteBuffer());
    const std::uint8_t byte = 7;
    try {
        t.write(&byte, 1);
        FAIL() << "writing to read-only data must fail";
    } catch (const platform::NamedException& e) {
        EXPECT_EQ(e.reason(),
                  "You must initialize this object with mutable data if you intend to write to it.");
    }
    EXPECT_EQ(decodeWireStruct<ECActionResponse>(data), ECActionResponse{}) << "it still reads normally";
}

TEST(TNSDataTransport, MutableDataIsReadAndAppendedTo) {
    Bytes data = {0x0b};
    {
        TNSDataTransport t(data);
        EXPECT_TRUE(t.hasWriteBuffer());
        const std::uint8_t more[] = {0x00, 0x04};
        t.write(more, 2);
        std::uint8_t buf[3] = {};
        EXPECT_EQ(t.readAll(buf, 3), 3u) << "what was written can be read";
        EXPECT_EQ(buf[2], 0x04);
        t.flush();
        EXPECT_EQ(data, (Bytes{0x0b, 0x00, 0x04}));
        t.write(more, 1);
    }
    EXPECT_EQ(data, (Bytes{0x0b, 0x00, 0x04, 0x00})) << "the transport flushes when it goes";

    // A payload written through the protocol is exact as soon as its write() returns.
    Bytes out;
    auto transport = std::make_shared<TNSDataTransport>(out);
    TBinaryProtocol protocol(transport);
    vellumtest::sampleActionResponse().write(protocol);
    EXPECT_EQ(out, encodeWireStruct(vellumtest::sampleActionResponse()));
    EXPECT_GT(out.size(), 256u) << "large enough to have grown the buffer";
}

TEST(WireTruncation, TheEndOfDataIsStickyAndEndsEveryStruct) {
    const Bytes one = {0x05};
    TBinaryProtocol p(std::make_shared<TNSDataTransport>(std::span<const std::uint8_t>(one)));
    std::int8_t byte = 0;
    p.readByte(byte);
    EXPECT_EQ(byte, 5);
    EXPECT_FALSE(p.readError());
    p.readByte(byte);
    EXPECT_TRUE(p.readError());
    EXPECT_EQ(byte, 0);

    std::string name;
    apache::thrift::protocol::TType type{};
    std::int16_t id = 1;
    p.readFieldBegin(name, type, id);
    EXPECT_EQ(type, apache::thrift::protocol::T_STOP);

    // A field header cut between its type and its id also reads as the stop field.
    const Bytes cutHeader = {kString, 0x00};
    TBinaryProtocol q(std::make_shared<TNSDataTransport>(std::span<const std::uint8_t>(cutHeader)));
    q.readFieldBegin(name, type, id);
    EXPECT_EQ(type, apache::thrift::protocol::T_STOP);
    EXPECT_TRUE(q.readError());
}

TEST(WireTruncation, EveryWayOfEndingTheDataIsSticky) {
    // Each case ends the data with bytes still there; every later read, of any size, then
    // yields zero and consumes nothing.
    struct Case {
        const char* what;
        Bytes bytes;
        std::function<void(TBinaryProtocol&)> end;
    };
    auto readString = [](TBinaryProtocol& p) {
        std::string s = "stale";
        p.readString(s);
        EXPECT_EQ(s, "");
    };
    const Case cases[] = {
        {"a short read", RawWriter{}.byte(1).bytes,
         [](TBinaryProtocol& p) {
             std::int32_t v = 7;
             p.readI32(v);
             EXPECT_EQ(v, 0);
         }},
        {"a string longer than the data", RawWriter{}.i32(100).string("abc").bytes, readString},
        {"a negative string size", RawWriter{}.i32(-1).string("abc").bytes, readString},
        {"a list count beyond the data", RawWriter{}.byte(kI64).i32(1000).i32(1).i32(2).bytes,
         [](TBinaryProtocol& p) {
             apache::thrift::protocol::TType type{};
             std::uint32_t size = 9;
             p.readListBegin(type, size);
             EXPECT_EQ(size, 0u);
         }},
        {"a type that cannot be skipped", RawWriter{}.i32(1).i32(2).bytes,
         [](TBinaryProtocol& p) { p.skip(apache::thrift::protocol::T_VOID); }},
    };
    for (const auto& c : cases) {
        auto transport = std::make_shared<TNSDataTransport>(std::span<const std::uint8_t>(c.bytes));
        TBinaryProtocol p(transport);
        c.end(p);
        ASSERT_TRUE(p.readError()) << c.what;
        const std::size_t at = transport->position();
        std::int8_t byte = 9;
        EXPECT_EQ(p.readByte(byte), 0u) << c.what;
        EXPECT_EQ(byte, 0) << c.what;
        std::int64_t wide = 9;
        EXPECT_EQ(p.readI64(wide), 0u) << c.what;
        EXPECT_EQ(wide, 0) << c.what;
        std::string text = "stale";
        EXPECT_EQ(p.readString(text), 0u) << c.what;
        EXPECT_EQ(text, "") << c.what;
        EXPECT_EQ(transport->position(), at) << c.what << ": nothing is consumed after the end";
    }
}

TEST(WireTruncation, EmptyAndCutRepliesReadAsTheFieldsBeforeTheCut) {
    EXPECT_EQ(decodeWireStruct<ECActionResponse>(Bytes{}), ECActionResponse{}) << "zero bytes: no field set";

    const auto whole = vellumtest::sampleActionResponse();
    ECActionResponse upToFour;
    upToFour.setReceivedEvents(whole.receivedEvents());
    upToFour.setReceivedAdEvents(whole.receivedAdEvents());
    upToFour.setMinBroadcastInterval(whole.minBroadcastInterval());
    upToFour.setBroadcastURL(whole.broadcastURL());
    Bytes cut = encodeWireStruct(upToFour);
    cut.pop_back(); // the bytes of the whole reply up to the end of field 4
    const Bytes bytes = encodeWireStruct(whole);
    ASSERT_TRUE(std::equal(cut.begin(), cut.end(), bytes.begin()));

    const auto r = decodeWireStruct<ECActionResponse>(cut);
    EXPECT_EQ(r.broadcastURL(), "http://tracking.example.com/event");
    EXPECT_FALSE(r.clientTokenIsSet());
    EXPECT_FALSE(r.shutdownIsSet());
    EXPECT_FALSE(r.adInstructionsIsSet());
    EXPECT_EQ(r, upToFour);
}

TEST(WireTruncation, EveryCutOfAnUploadReadsAsItsWholeFields) {
    expectEveryCutReadsItsWholeFields(vellumtest::sampleBroadcastData(2, 1, 1), broadcastDataFields());
}

TEST(WireTruncation, EveryCutOfAReplyReadsAsItsWholeFields) {
    expectEveryCutReadsItsWholeFields(vellumtest::sampleActionResponse(), actionResponseFields());
    expectEveryCutReadsItsWholeFields(vellumtest::sampleSlotZeroResponse(), slotZeroFields());
}

TEST(WireTruncation, OversizeSizesAreRejectedWithoutLargeAllocations) {
    struct Case {
        const char* what;
        std::function<bool()> decodeLeavesFieldUnset; // also checks that reading stopped
    };
    auto reply = [](RawWriter w) {
        auto d = decodeWithError<ECActionResponse>(w.bytes);
        return d.readError && !d.value.broadcastURLIsSet() && !d.value.receivedEventsIsSet();
    };
    auto slotZero = [](RawWriter w) {
        auto d = decodeWithError<MRSlotZeroResponse>(w.bytes);
        return d.readError && !d.value.adDownloadsIsSet() && !d.value.appSettingsIsSet();
    };
    const Case cases[] = {
        {"string length 2^31-1",
         [&] { return reply(RawWriter{}.field(kString, 4).i32(kHugeCount).string("abc")); }},
        {"string length 2^28",
         [&] { return reply(RawWriter{}.field(kString, 4).i32(1 << 28).string("abc")); }},
        {"negative string length",
         [&] { return reply(RawWriter{}.field(kString, 4).i32(-1).string("abc")); }},
        {"list of strings counting 2^31-1",
         [&] { return reply(RawWriter{}.field(kList, 1).byte(kString).i32(kHugeCount).string("a")); }},
        {"negative list count", [&] { return reply(RawWriter{}.field(kList, 1).byte(kString).i32(-5)); }},
        {"list of structs counting 2^31-1",
         [&] { return slotZero(RawWriter{}.field(kList, 1).byte(kStruct).i32(kHugeCount).stop().stop()); }},
        {"a string inside a list element",
         [&] {
             return slotZero(
                 RawWriter{}.field(kList, 1).byte(kStruct).i32(1).field(kString, 3).i32(kHugeCount).stop());
         }},
        {"map counting 2^31-1",
         [&] {
             auto d = decodeWithError<Event>(
                 RawWriter{}.field(kMap, 13).byte(kString).byte(kString).i32(kHugeCount).string("k").bytes);
             return d.readError && !d.value.uDictIsSet();
         }},
        {"unknown field: string of 2^31-1",
         [&] { return reply(RawWriter{}.field(kString, 99).i32(kHugeCount).field(kString, 4).string("u")); }},
        {"unknown field: list of i64 counting 2^31-1",
         [&] {
             return reply(
                 RawWriter{}.field(kList, 99).byte(kI64).i32(kHugeCount).field(kString, 4).string("u"));
         }},
        {"unknown field: map counting 2^31-1",
         [&] {
             return reply(RawWriter{}
                              .field(kMap, 99)
                              .byte(kString)
                              .byte(kList)
                              .i32(kHugeCount)
                              .field(kString, 4)
                              .string("u"));
         }},
    };
    for (const auto& c : cases) {
        vellumtest::AllocationProbe probe;
        EXPECT_TRUE(c.decodeLeavesFieldUnset()) << c.what;
        EXPECT_LT(probe.largestAllocation(), kSmallAllocation) << c.what;
    }
}

TEST(WireTruncation, NestingBeyondTheRuntimeLimitEndsTheMessage) {
    // An unknown field made of a hundred thousand nested structs: skipping stops at the
    // runtime's recursion limit instead of exhausting the stack.
    RawWriter w;
    w.field(kString, 2).string("before");
    for (int i = 0; i < 100000; ++i)
        w.field(kStruct, 3);
    auto d = decodeWithError<MRSlotZeroResponse>(w.bytes);
    EXPECT_TRUE(d.readError);
    EXPECT_EQ(d.value.appSettings(), "before");
}

TEST(WireTruncation, UnknownTypeCodesEndTheMessage) {
    // Type 7 is no Thrift type: its size cannot be known, so nothing after it is read.
    auto d = decodeWithError<ECActionResponse>(RawWriter{}
                                                   .field(kString, 5)
                                                   .string("tok")
                                                   .field(7, 6)
                                                   .i32(1)
                                                   .field(kString, 4)
                                                   .string("u")
                                                   .stop()
                                                   .bytes);
    EXPECT_TRUE(d.readError);
    EXPECT_EQ(d.value.clientToken(), "tok");
    EXPECT_FALSE(d.value.broadcastURLIsSet());
}

TEST(WireTruncation, GarbageNeverCrashesTheReader) {
    const Bytes upload = encodeWireStruct(vellumtest::sampleBroadcastData(2, 1, 1));
    const Bytes partial = encodeWireStruct(vellumtest::sampleClientRequest());
    const Bytes reply = encodeWireStruct(vellumtest::sampleActionResponse());
    const Bytes cache = encodeWireStruct(vellumtest::sampleSlotZeroResponse());
    std::mt19937 random(20110304); // fixed seed: the same inputs every run
    for (int round = 0; round < 400; ++round) {
        for (const Bytes* source : {&upload, &partial, &reply, &cache}) {
            Bytes bytes = *source;
            const int flips = 1 + static_cast<int>(random() % 4);
            for (int i = 0; i < flips; ++i)
                bytes[random() % bytes.size()] = static_cast<std::uint8_t>(random());
            if (random() % 3 == 0)
                bytes.resize(random() % bytes.size());
            // Any struct may receive any bytes; none may crash, throw or over-read, and what
            // was read writes back and reads again as the same struct.
            expectStable<BroadcastData>(bytes);
            expectStable<MRClientRequest>(bytes);
            expectStable<ECActionResponse>(bytes);
            expectStable<MRSlotZeroResponse>(bytes);
        }
    }
}
