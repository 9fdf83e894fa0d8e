// The banner host's house news: the list, the rotation, the reports, the click and sizes.
#include "PromoTestSupport.h"

#include "mediation/SwitchboardAdNetworkAdapter.h"
#include "mediation/SwitchboardAdNetworkRegistry.h"
#include "mediation/SwitchboardConfig.h"
#include "mediation/SwitchboardConfigStore.h"
#include "mediation/SwitchboardView.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Event.h"
#include "promo/AdViewController.h"
#include "support/ReplyGate.h"

namespace promotest {
namespace {

constexpr const char* kNewsPath = "/applications/newNews/newNewsPhone.php";
constexpr const char* kImpressionPath = "/applications/newNews/updateImpressionPhone.php";
constexpr const char* kClickPath = "/applications/newNews/c_newNewsPhone.php";
constexpr const char* kConfigPath = "/switchboard/getInfo.php";
constexpr const char* kMediationClickPath = "/switchboard/exclick.php";

constexpr const char* kThreeEntries = R"({"newsData":[
  {"appIdentity":"ferrowickdocs://","imageLink":"{{base}}/promo/images/news-1.png","appId":"301","appLink":"http://store.example/1"},
  {"appIdentity":"ferrowickphoto://","imageLink":"{{base}}/promo/images/news-2.png","appId":"302","appLink":"http://store.example/2"},
  {"appIdentity":"ferrowicknotes://","imageLink":"{{base}}/promo/images/news-3.png","appId":"303","appLink":"http://store.example/3"}]})";

// The fixture images' first pixel tells them apart.
int redOf(const std::shared_ptr<platform::Image>& image) {
    return image && !image->pixels().empty() ? image->pixels()[0] : -1;
}
constexpr int kRed1 = 200, kRed2 = 40, kRed3 = 40;

// No refresh: the slot sends its ads-off notice once.
constexpr const char* kAdsOff = R"({"extra":{"refresh_interval":0},"rations":[]})";
constexpr const char* kGeneric =
    R"({"extra":{"refresh_interval":30},"rations":[{"type":16,"nid":"g","nname":"generic","weight":100,"priority":1}]})";

class BannerHost : public PromoTest {
protected:
    BannerHost() { mediation::SwitchboardConfigStore::resetStore(); }
    ~BannerHost() override { mediation::SwitchboardConfigStore::resetStore(); }
    std::shared_ptr<promo::AdViewController> makeHost(const char* config) {
        serve(kConfigPath, config);
        host_ = std::make_shared<promo::AdViewController>(platform::Rect(0, 383, 320, 53));
        host_->getAdFromNetwork();
        return host_;
    }
    // A host in a slot whose ads are off, with the first picture held until the ads-off notice
    // has come: a picture arriving before it would be shown as one that arrives in an empty
    // slot, without the rotation.
    void makeHostWithAdsOffFirst() {
        constexpr const char* kFirstPicture = "/promo/images/news-1.png";
        auto gate = std::make_shared<fwtest::ReplyGate>();
        services_.handle("GET", kFirstPicture, gate->holdingFile(services_.host(), kFirstPicture, "image/png"));
        makeHost(kAdsOff);
        const bool adsOff = waitFor([&] { return host_->isNewsPresent(); });
        gate->open();
        ASSERT_TRUE(adsOff);
    }
    // Waits until the service has had `count` impression reports: a report still on its way
    // when the clock moves on a minute would time out unsent.
    bool impressionsArrived(std::size_t count) {
        return waitFor([&] { return services_.requestCount(kImpressionPath) == count; });
    }
    // Until no download is left: a finished one may start the next (a failed picture is
    // skipped for the next entry's).
    void settleDownloads() {
        do {
            waitFor([] { return promo::backgroundImageDownloadsInFlight() == 0; });
            clock_.drain();
        } while (promo::backgroundImageDownloadsInFlight() != 0);
    }
    std::shared_ptr<promo::AdViewController> host_;
};

TEST_F(BannerHost, AdsOffShowsTheFirstImageThenTheNextEntryEverySixtySeconds) {
    serve(kNewsPath, kThreeEntries);
    makeHostWithAdsOffFirst();
    ASSERT_TRUE(waitFor([&] { return host_->newsView() != nullptr; }));
    EXPECT_TRUE(host_->isNewsPresent());
    EXPECT_EQ(host_->newsAdCounter(), 0);
    EXPECT_EQ(redOf(host_->newsView()->currentBackgroundImage()), kRed1);
    EXPECT_EQ(host_->newsView()->tag(), promo::AdViewController::kHouseAdTag);
    EXPECT_EQ(host_->newsView()->frame(), platform::Rect(0, 0, 320, 53));
    settleDownloads();
    ASSERT_TRUE(impressionsArrived(1));
    EXPECT_EQ(services_.requestsTo(kImpressionPath)[0].queryValue("appId"), "301");

    const int expectedReds[] = {kRed2, kRed3, kRed1};
    for (int step = 0; step < 3; ++step) {
        auto shown = host_->newsView();
        clock_.advance(59.9);
        EXPECT_EQ(host_->newsView(), shown) << "step " << step;
        clock_.advance(0.1);
        EXPECT_NE(host_->newsView(), shown) << "step " << step;
        EXPECT_EQ(host_->newsAdCounter(), (step + 1) % 3);
        EXPECT_EQ(redOf(host_->newsView()->currentBackgroundImage()), expectedReds[step]) << "step " << step;
        settleDownloads();
        ASSERT_TRUE(impressionsArrived(std::size_t(step) + 2)) << "step " << step;
    }
    EXPECT_EQ(host_->refreshTimer(), nullptr) << "ads off: no count of seconds";

    // A network result ends the rotation.
    host_->switchboardDidReceiveAd(host_->mediationView().get());
    auto last = host_->newsView();
    clock_.advance(120);
    EXPECT_EQ(host_->newsView(), last);
    EXPECT_EQ(services_.requestsTo(kNewsPath).size(), 1u);
    EXPECT_EQ(services_.requestsTo(kNewsPath)[0].target, std::string(kNewsPath) + "?");
}

TEST_F(BannerHost, NetworkFailureShowsTheNextHouseAdOnlyAfterARefreshInterval) {
    serve(kNewsPath, kThreeEntries);
    makeHost(kGeneric);
    // The first image arrives while the slot is empty: shown at once, without rotation.
    ASSERT_TRUE(waitFor([&] { return host_->newsView() != nullptr; }));
    EXPECT_FALSE(host_->isNewsPresent());
    settleDownloads();
    ASSERT_NE(host_->refreshTimer(), nullptr);
    EXPECT_EQ(host_->newsShowTimer(), 0);
    auto* slot = host_->mediationView().get();
    ASSERT_FLOAT_EQ(slot->adRefreshTime(), 30);

    clock_.advance(10);
    host_->switchboardDidFailToReceiveAd(slot, true);
    EXPECT_EQ(host_->newsAdCounter(), 0) << "10 s after a house ad: nothing";
    clock_.advance(20);
    EXPECT_EQ(host_->newsShowTimer(), 30);
    host_->switchboardDidFailToReceiveAd(slot, true);
    EXPECT_EQ(host_->newsAdCounter(), 1);
    EXPECT_EQ(redOf(host_->newsView()->currentBackgroundImage()), kRed2);
    EXPECT_EQ(host_->newsShowTimer(), 0);
}

TEST_F(BannerHost, InstalledApplicationsAreFilteredOut) {
    platform::Application::shared().setInstalledSchemes({"ferrowickdocs", "ferrowickphoto", "ferrowicknotes"});
    serve(kNewsPath, kThreeEntries);
    makeHost(kAdsOff);
    ASSERT_TRUE(waitFor([&] { return services_.requestCount(kNewsPath) == 1; }));
    waitFor([&] { return false; }, 0.3);
    EXPECT_TRUE(host_->dataArray().empty());
    clock_.advance(61);
    settleDownloads();
    EXPECT_EQ(host_->newsView(), nullptr);
    EXPECT_EQ(services_.requestCount("/promo/images/news-1.png"), 0u);

    platform::Application::shared().setInstalledSchemes({"ferrowickdocs"});
    host_.reset();
    makeHost(kAdsOff);
    ASSERT_TRUE(waitFor([&] { return host_->newsView() != nullptr; }));
    ASSERT_EQ(host_->dataArray().size(), 2u);
    EXPECT_EQ(redOf(host_->newsView()->currentBackgroundImage()), kRed2);
}

TEST_F(BannerHost, TapReportsAClickThenOpensTheAppLinkHalfASecondLater) {
    serve(kNewsPath, kThreeEntries);
    makeHost(kAdsOff);
    ASSERT_TRUE(waitFor([&] { return host_->newsView() != nullptr; }));
    host_->newsView()->sendActionsForControlEvents(platform::ControlEvent::TouchDown);
    ASSERT_TRUE(waitFor([&] { return services_.requestCount(kClickPath) == 1; }));
    EXPECT_EQ(services_.requestsTo(kClickPath)[0].queryValue("appId"), "301");
    clock_.advance(0.49);
    EXPECT_TRUE(platform::Application::shared().openedURLs().empty());
    clock_.advance(0.02);
    EXPECT_EQ(platform::Application::shared().openedURLs(), std::vector<std::string>{"http://store.example/1"});
}

// A shown picture, its reports and its link always belong to one entry: when the next
// picture failed the same entry shows again, and a tap opens the tapped entry's link even when
// the next house ad replaces it before the link opens.
TEST_F(BannerHost, PictureReportsAndLinkBelongToOneEntry) {
    constexpr const char* kSecondPictureMissing = R"({"newsData":[
  {"appIdentity":"ferrowickdocs://","imageLink":"{{base}}/promo/images/news-1.png","appId":"301","appLink":"http://store.example/1"},
  {"appIdentity":"ferrowickphoto://","imageLink":"{{base}}/promo/images/missing.png","appId":"302","appLink":"http://store.example/2"}]})";
    serve(kNewsPath, kSecondPictureMissing);
    makeHostWithAdsOffFirst();
    ASSERT_TRUE(waitFor([&] { return host_->newsView() != nullptr; }));
    settleDownloads(); // entry 1's picture fails
    ASSERT_TRUE(impressionsArrived(1));
    clock_.advance(60);
    ASSERT_TRUE(impressionsArrived(2));
    EXPECT_EQ(host_->newsAdCounter(), 0);
    EXPECT_EQ(redOf(host_->newsView()->currentBackgroundImage()), kRed1);
    for (const auto& request : services_.requestsTo(kImpressionPath))
        EXPECT_EQ(request.queryValue("appId"), "301");
    host_->newsView()->sendActionsForControlEvents(platform::ControlEvent::TouchDown);
    ASSERT_TRUE(waitFor([&] { return services_.requestCount(kClickPath) == 1; }));
    EXPECT_EQ(services_.requestsTo(kClickPath)[0].queryValue("appId"), "301");
    clock_.advance(0.5);
    EXPECT_EQ(platform::Application::shared().openedURLs(), std::vector<std::string>{"http://store.example/1"});

    // Three entries whose pictures all arrive: tap entry 0, then entry 1 is shown at once.
    platform::Application::resetForTesting();
    serve(kNewsPath, kThreeEntries);
    host_.reset();
    makeHostWithAdsOffFirst();
    ASSERT_TRUE(waitFor([&] { return host_->newsView() != nullptr; }));
    settleDownloads();
    auto tapped = host_->newsView();
    tapped->sendActionsForControlEvents(platform::ControlEvent::TouchDown);
    clock_.advance(0.2);
    host_->showNewsAd();
    EXPECT_EQ(host_->newsAdCounter(), 1);
    EXPECT_EQ(redOf(host_->newsView()->currentBackgroundImage()), kRed2);
    clock_.advance(0.3);
    EXPECT_EQ(platform::Application::shared().openedURLs(), std::vector<std::string>{"http://store.example/1"});
}

// The rotation goes round every entry: one whose picture is missing, or is no picture, is
// skipped, and each shown picture keeps its own entry's reports and link.
TEST_F(BannerHost, TheRotationSkipsEntriesWhosePictureFailed) {
    struct Case {
        const char* name;
        const char* secondPicture;
    };
    const Case cases[] = {{"missing", "{{base}}/promo/images/missing.png"},
                          {"not a picture", "{{base}}/promo/houseNews.json"},
                          {"no link", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::Application::resetForTesting();
        services_.host().clearRequestLog();
        std::string news = std::string(R"({"newsData":[
  {"appIdentity":"ferrowickdocs://","imageLink":"{{base}}/promo/images/news-1.png","appId":"301","appLink":"http://store.example/1"},
  {"appIdentity":"ferrowickphoto://","imageLink":")") + c.secondPicture + R"(","appId":"302","appLink":"http://store.example/2"},
  {"appIdentity":"ferrowicknotes://","imageLink":"{{base}}/promo/images/news-3.png","appId":"303","appLink":"http://store.example/3"}]})";
        serve(kNewsPath, news.c_str());
        host_.reset();
        makeHostWithAdsOffFirst();
        ASSERT_TRUE(waitFor([&] { return host_->newsView() != nullptr; }));
        settleDownloads();
        // Entries 0, 2, 0, 2: the second never shows, the third does.
        const int expectedCounters[] = {2, 0, 2};
        for (int step = 0; step < 3; ++step) {
            ASSERT_TRUE(impressionsArrived(std::size_t(step) + 1)) << "step " << step;
            clock_.advance(60);
            EXPECT_EQ(host_->newsAdCounter(), expectedCounters[step]) << "step " << step;
            settleDownloads();
        }
        EXPECT_EQ(redOf(host_->newsView()->currentBackgroundImage()), kRed3);
        ASSERT_TRUE(impressionsArrived(4));
        std::vector<std::string> reported;
        for (const auto& request : services_.requestsTo(kImpressionPath))
            reported.push_back(request.queryValue("appId").value_or(""));
        EXPECT_EQ(reported, (std::vector<std::string>{"301", "303", "301", "303"}));
        host_->newsView()->sendActionsForControlEvents(platform::ControlEvent::TouchDown);
        ASSERT_TRUE(waitFor([&] { return services_.requestCount(kClickPath) == 1; }));
        EXPECT_EQ(services_.requestsTo(kClickPath)[0].queryValue("appId"), "303");
        clock_.advance(0.5);
        EXPECT_EQ(platform::Application::shared().openedURLs(), std::vector<std::string>{"http://store.example/3"});
    }
}

// A network adapter that fills every request with a 300 by 50 ad on a later turn, or fails
// while `failing` is set.
class FillingAdapter : public mediation::SwitchboardAdNetworkAdapter {
public:
    using SwitchboardAdNetworkAdapter::SwitchboardAdNetworkAdapter;
    static int networkType() { return 1; }
    static inline bool failing = false;
    void stopBeingDelegate() override {}
    void getAd() override {
        std::weak_ptr<SwitchboardAdNetworkAdapter> weak = shared_from_this();
        platform::RunLoop::main().perform([weak] {
            auto self = weak.lock();
            auto slot = self ? self->switchboardView() : nullptr;
            if (!slot)
                return;
            if (failing) {
                slot->adapterDidFailAd(*self, std::nullopt);
                return;
            }
            auto view = std::make_shared<platform::View>(platform::Rect(0, 0, 300, 50));
            self->setAdNetworkView(view);
            slot->adapterDidReceiveAdView(*self, view);
        });
    }
};

class RecordingApplication : public promo::AdViewControllerDelegate {
public:
    void adViewControllerDidReceiveAd(platform::Size size) override { sizes.push_back(size); }
    std::vector<platform::Size> sizes;
};

// Each new ad resizes the slot to that ad in 0.7 s and tells the application its size; a house
// ad put in after a network failed has its own size, not the failed network's.
TEST_F(BannerHost, SlotFollowsEachNewAdsSize) {
    // No refresh timer, so any failure may show a house ad; no transition animation.
    constexpr const char* kNetwork =
        R"({"extra":{"refresh_interval":0,"transition":0},"rations":[{"type":1,"nid":"n","nname":"net","weight":100,"priority":1}]})";
    FillingAdapter::failing = false;
    mediation::SwitchboardAdNetworkRegistry registry;
    registry.registerClass(mediation::switchboardAdapterClass<FillingAdapter>());
    auto application = std::make_shared<RecordingApplication>();
    serve(kNewsPath, kThreeEntries);
    makeHost(kNetwork);
    host_->setDelegate(application);
    auto slot = host_->mediationView();
    ASSERT_NE(slot->config(), nullptr);
    slot->config()->setAdNetworkRegistry(&registry);

    auto networkAdShown = [&] {
        auto adapter = slot->currAdapter();
        return adapter && adapter->adNetworkView() && adapter->adNetworkView()->superview().get() == slot.get();
    };
    ASSERT_TRUE(waitFor(networkAdShown));
    ASSERT_TRUE(waitFor([&] { return host_->newsImage() != nullptr; })); // ready for the failure
    settleDownloads();
    ASSERT_TRUE(networkAdShown());
    ASSERT_FALSE(application->sizes.empty());
    EXPECT_EQ(application->sizes.back(), (platform::Size{300, 50}));
    EXPECT_EQ(slot->frame(), platform::Rect(0, 0, 300, 50));
    bool resized = false;
    for (const auto& r : platform::AnimationLog::shared().recordsFor(*slot, "frame"))
        resized |= r.name == "switchboardDidAnimateToNewAdIn" && r.duration == 0.7;
    EXPECT_TRUE(resized);

    // The next cycle fails and a house ad goes in: the slot takes the house ad's size, and a
    // touch on it is no click on the failed network's ad.
    FillingAdapter::failing = true;
    application->sizes.clear();
    clock_.advance(5);
    slot->requestFreshAd();
    ASSERT_TRUE(waitFor([&] { return !networkAdShown(); }));
    clock_.drain();
    EXPECT_EQ(host_->newsShowTimer(), 0);
    ASSERT_FALSE(application->sizes.empty());
    EXPECT_EQ(application->sizes.back(), (platform::Size{320, 53}));
    EXPECT_EQ(slot->actualAdSize(), (platform::Size{320, 53}));
    platform::Event touch(platform::Event::Type::Touches, 0);
    EXPECT_TRUE(slot->pointInside({10, 10}, &touch));
    waitFor([&] { return false; }, 0.2);
    EXPECT_EQ(services_.requestCount(kMediationClickPath), 0u);
    FillingAdapter::failing = false;
}

TEST_F(BannerHost, FailedOrEmptyListShowsNoHouseAds) {
    const char* replies[] = {"", "[]", R"({"newsData":[]})", "<html>"};
    for (const char* reply : replies) {
        serve(kNewsPath, reply);
        host_.reset();
        makeHost(kAdsOff);
        ASSERT_TRUE(waitFor([&] { return host_->isNewsPresent(); })) << reply;
        waitFor([&] { return false; }, 0.2);
        clock_.advance(61);
        EXPECT_EQ(host_->newsView(), nullptr) << reply;
    }
}

TEST_F(BannerHost, TabletSizes) {
    platform::Device::setProfile(platform::DeviceProfile::Tablet);
    serve("/applications/newNews/newNewsPad.php", kThreeEntries);
    serve(kConfigPath, kAdsOff);
    host_ = std::make_shared<promo::AdViewController>(platform::Rect(0, 0, 768, 90));
    host_->getAdFromNetwork();
    EXPECT_EQ(host_->mediationView()->frame(), platform::Rect(0, 0, 768, 90));
    EXPECT_EQ(host_->switchboardApplicationKey(), promo::kTabletApplicationKey);
    ASSERT_TRUE(waitFor([&] { return host_->newsView() != nullptr; }));
    EXPECT_EQ(host_->newsView()->frame(), platform::Rect(0, 0, 728, 90));
}

} // namespace
} // namespace promotest
