// The Meridian mediation adapter driven through a recording slot, with its banner talking
// real HTTP to the loopback Meridian service: the request data from the host's answers, one
// outcome per request, detaching, the modal helpers and the registration.
#include "MeridianTestSupport.h"

#include <filesystem>
#include <functional>
#include <set>

#include "mediation/MediationTestSupport.h"
#include "mediation/SwitchboardAdNetworkConfig.h"
#include "mediation/SwitchboardAdNetworkRegistry.h"
#include "meridian/MRURLDownload.h"
#include "meridian/MRVideoCache.h"
#include "meridian/SwitchboardAdapterMeridian.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/PropertyList.h"

using meridian::SwitchboardAdapterMeridian;
using meridiantest::countOf;

namespace {

class MeridianHost : public mediationtest::MinimalHost {
public:
    bool responds(std::string_view selector) const override {
        return implemented.count(std::string(selector)) > 0 || SwitchboardDelegate::responds(selector);
    }
    std::optional<std::string> meridianApIDString() override { return apid; }
    std::optional<std::uint64_t> meridianAdType() override { return adType; }
    std::optional<std::string> postalCode() override { return postal; }
    std::optional<std::string> gender() override { return genderAnswer; }
    std::optional<std::uint64_t> meridianAge() override { return age; }
    std::optional<platform::Date> dateOfBirth() override { return birth; }
    std::optional<platform::Location> locationInfo() override { return location; }

    std::set<std::string> implemented;
    std::optional<std::string> apid, postal, genderAnswer;
    std::optional<std::uint64_t> adType, age;
    std::optional<platform::Date> birth;
    std::optional<platform::Location> location;
};

class MeridianAdapter : public meridiantest::MeridianFixture {
protected:
    MeridianAdapter() { mediationtest::registerProgramTypes(registry); }

    std::shared_ptr<SwitchboardAdapterMeridian> makeAdapter() {
        platform::Dictionary ration{{"type", 6},   {"nid", "n6"},   {"nname", "meridian"},
                                    {"weight", 1}, {"priority", 1}, {"key", "pub id&x=1"}};
        auto entry =
            mediation::SwitchboardAdNetworkConfig::create(platform::Value(ration), &registry, nullptr);
        return mediation::SwitchboardAdNetworkAdapter::create<SwitchboardAdapterMeridian>(host, slot, nullptr,
                                                                                          entry);
    }
    std::size_t outcomes() const {
        return countOf(*events, "slot:didReceiveAdView") + countOf(*events, "slot:didFailAd");
    }
    services::LoggedRequest onlyAdRequest() {
        EXPECT_TRUE(waitForRequests(services::kMeridianAdPath, 1));
        return services.requestsTo(services::kMeridianAdPath).front();
    }

    mediation::SwitchboardAdNetworkRegistry registry;
    std::shared_ptr<MeridianHost> host = std::make_shared<MeridianHost>();
    std::shared_ptr<mediationtest::RecordingSlot> slot =
        std::make_shared<mediationtest::RecordingSlot>(events);
};

} // namespace

TEST_F(MeridianAdapter, HostWithoutAnswersGetsTheDefaults) {
    struct Case {
        platform::DeviceProfile profile;
        platform::Rect frame;
    };
    const Case cases[] = {{platform::DeviceProfile::Phone, {0, 0, 320, 53}},
                          {platform::DeviceProfile::Tablet, {0, 0, 728, 90}}};
    for (const auto& c : cases) {
        platform::Device::setProfile(c.profile);
        services.host().clearRequestLog();
        auto adapter = makeAdapter();
        adapter->getAd();
        auto* banner = dynamic_cast<meridian::MRGenericAdView*>(adapter->adNetworkView().get());
        ASSERT_NE(banner, nullptr);
        EXPECT_EQ(banner->frame(), c.frame);
        EXPECT_FALSE(banner->refreshTimerEnabled());
        EXPECT_FALSE(banner->isRefreshTimerRunning());
        auto request = onlyAdRequest();
        EXPECT_EQ(request.queryValue("sdkapid"), "pub id&x=1");
        EXPECT_EQ(request.queryValue("adtype"), "MRBannerAdTop");
        EXPECT_EQ(request.queryValue("vendor"), "switchboard");
        for (auto key : {"zip", "age", "sex", "lat", "long"})
            EXPECT_EQ(request.queryValue(key), std::nullopt) << key;
        adapter->stopBeingDelegate();
    }
}

TEST_F(MeridianAdapter, HostAnswersBecomeRequestData) {
    struct Case {
        std::string name;
        std::set<std::string> implemented;
        std::function<void(MeridianHost&)> answer;
        std::vector<std::pair<std::string, std::optional<std::string>>> expected;
    };
    const Case cases[] = {
        {"all",
         {"meridianApIDString", "meridianAdType", "postalCode", "gender", "meridianAge", "locationInfo"},
         [](MeridianHost& h) {
             h.apid = "host apid";
             h.adType = 2;
             h.postal = "12 345";
             h.genderAnswer = "f";
             h.age = 33;
             h.location = platform::Location({12.5, -7.25}, 0, 5, 5, {});
         },
         {{"sdkapid", "host apid"},
          {"adtype", "MRBannerAdBottom"},
          {"zip", "12 345"},
          {"sex", "F"},
          {"age", "33"},
          {"lat", "12.500000"},
          {"long", "-7.250000"}}},
        {"male", {"gender"}, [](MeridianHost& h) { h.genderAnswer = "m"; }, {{"sex", "M"}}},
        {"whole word", {"gender"}, [](MeridianHost& h) { h.genderAnswer = "female"; }, {{"sex", ""}}},
        {"nil birth date", {"dateOfBirth"}, [](MeridianHost&) {}, {{"age", std::nullopt}}},
        {"nil location", {"locationInfo"}, [](MeridianHost&) {}, {{"lat", "0.000000"}, {"long", "0.000000"}}},
        {"nil postal code", {"postalCode"}, [](MeridianHost&) {}, {{"zip", std::nullopt}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        services.host().clearRequestLog();
        *host = MeridianHost();
        host->implemented = c.implemented;
        c.answer(*host);
        auto adapter = makeAdapter();
        adapter->getAd();
        auto request = onlyAdRequest();
        EXPECT_EQ(request.queryValue("vendor"), "switchboard");
        for (const auto& [key, value] : c.expected)
            EXPECT_EQ(request.queryValue(key), value) << key;
        adapter->stopBeingDelegate();
    }
}

TEST_F(MeridianAdapter, RequestDataIsTheSameDictionaryEveryTime) {
    host->implemented = {"postalCode"};
    host->postal = "999";
    auto adapter = makeAdapter();
    adapter->getAd();
    auto first = adapter->requestData();
    EXPECT_EQ(adapter->requestData(), first);
    EXPECT_EQ(first, (platform::Dictionary{{"vendor", "switchboard"}, {"zip", "999"}}));
    EXPECT_EQ(adapter->adRefreshDuration(), 60);
}

TEST_F(MeridianAdapter, OneOutcomePerRequest) {
    struct Case {
        std::string name;
        services::ServiceReply reply;
        std::string outcome;
    };
    const Case cases[] = {
        {"html", {200, "<p>ad</p>", "text/html", {}}, "slot:didReceiveAdView"},
        {"empty", {200, "", "text/html", {}}, "slot:didFailAd"},
        {"error", {404, "<p>missing</p>", "text/html", {}}, "slot:didFailAd"},
        {"json", {200, "{}", "application/json", {}}, "slot:didFailAd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        events->clear();
        services.handle("GET", std::string(services::kMeridianAdPath),
                        [c](const services::LoggedRequest&) { return c.reply; });
        auto adapter = makeAdapter();
        adapter->getAd();
        ASSERT_TRUE(waitFor([&] { return outcomes() > 0; }));
        auto* banner = dynamic_cast<meridian::MRAdView*>(adapter->adNetworkView().get());
        // A later notice of the same banner is not a second outcome.
        adapter->adRequestFailed(*banner);
        adapter->adRequestSucceeded(*banner);
        clock.advance(5);
        EXPECT_EQ(*events, std::vector<std::string>{c.outcome});
        adapter->stopBeingDelegate();
    }
}

TEST_F(MeridianAdapter, DetachedBannerReachesNobody) {
    services.setFault(std::string(services::kMeridianAdPath), services::Fault::delay(0.3));
    auto adapter = makeAdapter();
    adapter->getAd();
    auto banner = std::dynamic_pointer_cast<meridian::MRAdView>(adapter->adNetworkView());
    adapter->stopBeingDelegate();
    adapter->stopBeingDelegate();
    EXPECT_EQ(banner->delegate(), nullptr);
    ASSERT_TRUE(waitForRequests(services::kMeridianAdPath, 1));
    ASSERT_TRUE(waitFor([] { return platform::URLConnection::runningCount() == 0; }));
    clock.drain();
    clock.advance(5);
    EXPECT_EQ(outcomes(), 0u);
}

TEST_F(MeridianAdapter, ModalNoticesBecomeTheSlotsModalMark) {
    auto adapter = makeAdapter();
    adapter->adModalWillAppear();
    adapter->adModalWasDismissed();
    EXPECT_EQ(*events, (std::vector<std::string>{"slot:modal=YES", "slot:modal=NO"}));
}

TEST(MeridianAdapterRegistration, RegisteredForType6WhenTheProgramLoads) {
    auto wrapper = mediation::SwitchboardAdNetworkRegistry::sharedRegistry().adapterClassFor(6);
    ASSERT_NE(wrapper, nullptr);
    EXPECT_EQ(wrapper->theClass()->name, "meridian::SwitchboardAdapterMeridian");
    EXPECT_EQ(SwitchboardAdapterMeridian::networkType(), 6);
}

TEST_F(MeridianAdapter, OutcomesReachedWhileTheBannerIsMadeReachTheSlot) {
    // A first request of the video placement caches the video and leaves the marker.
    host->implemented = {"meridianApIDString"};
    host->apid = "fw-meridian";
    auto caching = makeAdapter();
    caching->getAd();
    ASSERT_TRUE(waitFor([&] { return outcomes() == 1; }));
    EXPECT_EQ(*events, std::vector<std::string>{"slot:didFailAd"});
    ASSERT_TRUE(waitFor([] { return platform::FileManager::fileExists(meridian::MRVideoCache::markerPath()); }));
    ASSERT_TRUE(waitFor([] { return meridian::MRURLDownload::runningCount() == 0; }));
    caching->stopBeingDelegate();
    auto record = meridian::MRVideoCache::loadFromArchive("fw-spot-1");
    ASSERT_NE(record, nullptr);

    struct Case {
        std::string name;
        std::function<void()> prepare;
        std::vector<std::string> expected;
        bool requests; // the banner asks the server instead of replaying
    };
    auto markVideo = [] {
        platform::writePropertyListFile(meridian::MRVideoCache::markerPath(),
                                        platform::Value(platform::Dictionary{{"needToPlayVideo", "fw-spot-1"}}));
    };
    const Case cases[] = {
        {"replayed", markVideo, {"slot:modal=YES", "slot:didReceiveAdView"}, false},
        {"file gone",
         [&] {
             std::filesystem::remove(record->localPath());
             markVideo();
         },
         {"slot:didFailAd"},
         false},
        {"record without its ad",
         [&] {
             auto bare = meridian::MRVideoCache::loadFromArchive("fw-spot-1");
             bare->setAd(nullptr);
             bare->save();
             markVideo();
         },
         {}, // whatever the server answers, exactly one outcome
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(waitFor([] { return meridian::MRURLDownload::runningCount() == 0; }));
        c.prepare();
        events->clear();
        auto requests = services.requestCount(services::kMeridianAdPath);
        auto adapter = makeAdapter();
        adapter->getAd();
        ASSERT_TRUE(waitFor([&] { return outcomes() == 1; }));
        EXPECT_EQ(std::vector<std::string>(events->begin(), events->begin() + c.expected.size()), c.expected);
        EXPECT_EQ(services.requestCount(services::kMeridianAdPath) > requests, c.requests);
        adapter->stopBeingDelegate();
        clock.drain();
    }
}
