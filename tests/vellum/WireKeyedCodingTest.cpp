// Keyed coding of the partial upload (MRClientRequest) and of the ad server's cache
// instructions (MRSlotZeroResponse) through the platform's keyed archive: set fields under
// their names, set-but-nil fields, nested structs, and archives whose values are of the wrong
// kind.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "WireSamples.h"
#include "platform/archive/KeyedArchiver.h"
#include "support/TemporaryHome.h"
#include "vellum/tracking/TBinaryProtocol.h"

using namespace vellum;
using platform::ArchivedArray;
using platform::ArchivedDictionary;
using platform::ArchivedValue;
using platform::CodingClasses;
using platform::KeyedArchiver;
using platform::KeyedUnarchiver;

namespace {

template <typename T> std::shared_ptr<T> roundTrip(const T& value) {
    const auto data = KeyedArchiver::archivedDataWithRootObject(value);
    return std::dynamic_pointer_cast<T>(
        KeyedUnarchiver::unarchiveObjectWithData(data, CodingClasses().add<T>()));
}

// An archive written under a struct's class name with whatever values a test gives, as a
// damaged or foreign archive might hold them.
class ForeignArchive : public platform::Coding {
public:
    ForeignArchive(std::string name, ArchivedDictionary values)
        : name_(std::move(name)), values_(std::move(values)) {}
    std::string_view codingClassName() const override { return name_; }
    void encodeWithCoder(KeyedArchiver& coder) const override {
        for (const auto& [key, value] : values_)
            coder.encodeObject(value, key);
    }

private:
    std::string name_;
    ArchivedDictionary values_;
};

template <typename T> std::shared_ptr<T> readForeign(ArchivedDictionary values) {
    const auto data = KeyedArchiver::archivedDataWithRootObject(
        ForeignArchive(std::string(T::kCodingClassName), std::move(values)));
    return std::dynamic_pointer_cast<T>(
        KeyedUnarchiver::unarchiveObjectWithData(data, CodingClasses().add<T>()));
}

std::vector<std::string> keysOf(const ArchivedDictionary& d) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : d)
        keys.push_back(key);
    return keys;
}

} // namespace

TEST(WireKeyedCoding, ClientRequestComesBackFieldForField) {
    auto request = vellumtest::sampleClientRequest(); // deviceID and ipAddress set but nil
    request.setBroadcastData(vellumtest::sampleBroadcastData(2, 2, 1));
    request.unsetModel();

    // Each set field under its name, field 14 as "adEvents"; nil ones as null values.
    const auto fields = request.keyedFields();
    EXPECT_EQ(keysOf(fields),
              (std::vector<std::string>{"adEvents", "app", "appv", "b", "broadcastData", "dev", "deviceID",
                                        "events", "ipAddress", "requestTime", "sys", "sysv", "tok", "v"}));
    EXPECT_TRUE(fields.at("deviceID").isNull());
    ASSERT_NE(fields.at("broadcastData").dictionary(), nullptr) << "a nested struct is a dictionary";
    ASSERT_NE(fields.at("adEvents").array(), nullptr);
    EXPECT_EQ(fields.at("adEvents").array()->size(), 2u);

    auto back = roundTrip(request);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(*back, request) << back->description();
    EXPECT_TRUE(back->deviceIDIsSet());
    EXPECT_FALSE(back->deviceID());
    EXPECT_FALSE(back->modelIsSet());
    // It writes the same bytes as the original.
    EXPECT_EQ(encodeWireStruct(*back), encodeWireStruct(request));

    // An empty request stays empty.
    auto empty = roundTrip(MRClientRequest());
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(*empty, MRClientRequest());
}

TEST(WireKeyedCoding, SlotZeroResponseComesBackWithItsAds) {
    const auto reply = vellumtest::sampleSlotZeroResponse();
    EXPECT_EQ(keysOf(reply.keyedFields()), (std::vector<std::string>{"adDownloads", "appSettings"}));
    auto back = roundTrip(reply);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(*back, reply) << back->description();
    ASSERT_TRUE(back->adDownloads());
    EXPECT_EQ(back->adDownloads()->at(0).adControl()->adControl(), "control");

    MRSlotZeroResponse nil;
    nil.setAdDownloads(std::nullopt);
    back = roundTrip(nil);
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(back->adDownloadsIsSet());
    EXPECT_FALSE(back->adDownloads());
    EXPECT_FALSE(back->appSettingsIsSet());
}

TEST(WireKeyedCoding, ValuesOfAnotherKindLeaveTheirFieldsUnset) {
    auto request = readForeign<MRClientRequest>({
        {"tok", ArchivedValue(5)},                                  // a number for a text
        {"deviceID", ArchivedValue("device")},                      // as it should be
        {"adEvents", ArchivedValue(ArchivedArray{"not an event"})}, // an element of another kind
        {"events", ArchivedValue(ArchivedArray{})},                 // an empty list is a list
        {"broadcastData", ArchivedValue("upload")},                 // a text for a struct
        {"unknown", ArchivedValue("ignored")},
    });
    ASSERT_NE(request, nullptr);
    EXPECT_FALSE(request->tokIsSet());
    EXPECT_EQ(request->deviceID(), "device");
    EXPECT_FALSE(request->adEventsIsSet());
    EXPECT_FALSE(request->vellumAdEvents());
    ASSERT_TRUE(request->events());
    EXPECT_TRUE(request->events()->empty());
    EXPECT_FALSE(request->broadcastDataIsSet());

    // Nested numbers must fit their field: an i16 version of 70000 is refused, 7 is taken.
    auto reply = readForeign<MRSlotZeroResponse>({
        {"adDownloads", ArchivedValue(ArchivedArray{
                            ArchivedValue(ArchivedDictionary{{"adID", "a"}, {"adVersion", 70000}}),
                            ArchivedValue(ArchivedDictionary{{"adID", "b"}, {"adVersion", 7}}),
                        })},
        {"appSettings", ArchivedValue(ArchivedArray{})},
    });
    ASSERT_NE(reply, nullptr);
    ASSERT_TRUE(reply->adDownloads());
    ASSERT_EQ(reply->adDownloads()->size(), 2u);
    EXPECT_EQ(reply->adDownloads()->at(0).adID(), "a");
    EXPECT_FALSE(reply->adDownloads()->at(0).adVersionIsSet());
    EXPECT_EQ(reply->adDownloads()->at(1).adVersion(), 7);
    EXPECT_FALSE(reply->appSettingsIsSet());
}

TEST(WireKeyedCoding, ArchiveFilesRoundTripAndOtherClassesAreRefused) {
    fwtest::TemporaryHome home;
    const auto path = home.root() / "request.archive";
    const auto request = vellumtest::sampleClientRequest();
    ASSERT_TRUE(KeyedArchiver::archiveRootObject(request, path));
    auto back = KeyedUnarchiver::unarchiveObjectOfClassWithFile<MRClientRequest>(
        path, CodingClasses().add<MRClientRequest>());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(*back, request);
    // A reader that accepts only the cache instructions builds nothing from this archive.
    EXPECT_EQ(KeyedUnarchiver::unarchiveObjectWithFile(path, CodingClasses().add<MRSlotZeroResponse>()),
              nullptr);
}
