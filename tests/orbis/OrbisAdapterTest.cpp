// The Orbis mediation adapter driven through a recording slot, with the banner talking real
// HTTP to the loopback Orbis service: the request as the service receives it, one outcome per
// request, the factory's refusals, the landing page's modal begin and end, detaching, and the
// adapter's answers and registration.
#include <gtest/gtest.h>

#include "OrbisTestSupport.h"
#include "mediation/MediationTestSupport.h"
#include "mediation/SwitchboardAdNetworkConfig.h"
#include "mediation/SwitchboardAdNetworkRegistry.h"
#include "orbis/APIRequest.h"
#include "orbis/SwitchboardAdapterOrbis.h"
#include "orbis/UserInfo.h"
#include "platform/foundation/Log.h"
#include "platform/ui/NavigationController.h"
#include "support/ReplyGate.h"

using orbis::OrbisAdManager;
using orbis::SwitchboardAdapterOrbis;
using orbistest::countOf;

namespace {

// The slot's host: answers the optional items a test lists and presents from the test's root.
class OrbisHost : public mediationtest::MinimalHost {
public:
    OrbisHost(orbistest::Events events, std::shared_ptr<platform::ViewController> root)
        : events_(std::move(events)), root_(std::move(root)) {}
    bool responds(std::string_view selector) const override {
        return implemented.count(std::string(selector)) > 0 || SwitchboardDelegate::responds(selector);
    }
    std::shared_ptr<platform::ViewController> viewControllerForPresentingModalView() override {
        return root_;
    }
    std::optional<std::string> orbisAppID() override { return appID; }
    std::optional<std::string> gender() override { return genderAnswer; }
    std::optional<platform::Date> dateOfBirth() override { return birth; }
    std::optional<bool> switchboardTestMode() override { return testMode; }
    std::optional<std::uint64_t> incomeLevel() override { return income; }
    void switchboardWillPresentFullScreenModal() override { events_->push_back("host:willPresent"); }
    void switchboardDidDismissFullScreenModal() override { events_->push_back("host:didDismiss"); }

    std::set<std::string> implemented;
    std::optional<std::string> appID;
    std::optional<std::string> genderAnswer;
    std::optional<platform::Date> birth;
    std::optional<bool> testMode;
    std::optional<std::uint64_t> income;

private:
    orbistest::Events events_;
    std::shared_ptr<platform::ViewController> root_;
};

std::optional<std::string> formValue(const services::LoggedRequest& request, std::string_view name) {
    for (const auto& [key, value] : request.formItems())
        if (key == name)
            return value;
    return std::nullopt;
}

} // namespace

class OrbisAdapterTest : public orbistest::OrbisFixture {
protected:
    OrbisAdapterTest() { mediationtest::registerProgramTypes(registry); }

    std::shared_ptr<SwitchboardAdapterOrbis> makeAdapter(std::optional<std::string> pubid = "site id&x=1") {
        platform::Dictionary ration{
            {"type", 18}, {"nid", "n18"}, {"nname", "orbis"}, {"weight", 1}, {"priority", 1}};
        if (pubid)
            ration["key"] = *pubid;
        auto entry =
            mediation::SwitchboardAdNetworkConfig::create(platform::Value(ration), &registry, nullptr);
        return mediation::SwitchboardAdNetworkAdapter::create<SwitchboardAdapterOrbis>(host, slot, nullptr,
                                                                                       entry);
    }
    static OrbisAdManager* bannerOf(const std::shared_ptr<SwitchboardAdapterOrbis>& adapter) {
        return dynamic_cast<OrbisAdManager*>(adapter->adNetworkView().get());
    }
    std::size_t outcomes() const {
        return countOf(*events, "slot:didReceiveAdView") + countOf(*events, "slot:didFailAd");
    }

    mediation::SwitchboardAdNetworkRegistry registry;
    std::shared_ptr<OrbisHost> host = std::make_shared<OrbisHost>(events, rootController);
    std::shared_ptr<mediationtest::RecordingSlot> slot =
        std::make_shared<mediationtest::RecordingSlot>(events);
};

TEST_F(OrbisAdapterTest, RequestAsTheServiceReceivesItThenOneSuccess) {
    auto adapter = makeAdapter();
    adapter->getAd();
    auto* banner = bannerOf(adapter);
    ASSERT_NE(banner, nullptr);
    EXPECT_EQ(banner->getDelegate().get(), static_cast<orbis::OrbisAdDelegate*>(adapter.get()));
    EXPECT_EQ(services.requestCount(services::kOrbisAdPath), 0u) << "the request waits 0.2 s";

    clock.advance(OrbisAdManager::kRequestDelaySeconds);
    ASSERT_TRUE(waitFor([&] { return services.requestCount(services::kOrbisAdPath) == 1; }));
    auto request = services.requestsTo(services::kOrbisAdPath).front();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.body.find(' '), std::string::npos) << "every value is escaped";
    EXPECT_EQ(request.formItems().front().first, "u-id") << "a host without targeting sends no delegate part";
    const std::pair<const char*, const char*> expectedForm[] = {
        {"ob-siteid", "site id&x=1"},
        {"ob-banner-size", "9"},
        {"ob-version", "pr-SPEC-ATATA-20101223"},
        {"ob-ads", "1"},
        {"format", "xhtml"},
        {"requestactivity", "AdRequest"},
        {"u-Orbis_iPhoneSDKVersion", "2.0.0"},
        {"d-netType", "carrier"},
    };
    for (auto [name, value] : expectedForm)
        EXPECT_EQ(formValue(request, name), value) << name;
    for (const char* absent : {"u-gender", "u-age", "u-income", "u-lat_lon_accu", "u-postalCode"})
        EXPECT_FALSE(formValue(request, absent)) << absent;
    EXPECT_EQ(request.header("x-orbis-testmode"), "NO");
    EXPECT_EQ(request.header("x-orbis-siteid"), "site id&x=1");
    EXPECT_EQ(request.header("content-type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(request.header("content-length"), std::to_string(request.body.size()));
    EXPECT_EQ(request.header("ob-banner-size"), "9");
    EXPECT_EQ(request.header("cookie").value_or("").rfind("iphone-uuid=", 0), 0u);
    EXPECT_EQ(request.header("user-agent").value_or("").rfind("Orbis_iPhoneSDK=2.0.0 (", 0), 0u);
    EXPECT_FALSE(request.header("X-Orbis-AdActionType"));

    ASSERT_TRUE(waitForEvent("slot:didReceiveAdView"));
    EXPECT_TRUE(banner->isAdRequestDone());
    ASSERT_TRUE(banner->currentAd());
    EXPECT_EQ(banner->currentAd()->titleText, "Orbis Sample");
    EXPECT_EQ(banner->frame().size.width, 320);
    EXPECT_EQ(banner->frame().size.height, 50);
    // The markup went into webView1, which is now shown under the touch cover.
    EXPECT_EQ(banner->webView1()->superviewPointer(), banner);
    EXPECT_EQ(banner->webView2()->superviewPointer(), nullptr);
    ASSERT_FALSE(banner->subviews().empty());
    EXPECT_EQ(banner->subviews().back(), banner->hideWebView());
    EXPECT_FALSE(banner->shouldLoadWebView1());
    EXPECT_TRUE(platform::AnimationLog::shared().recordsFor(*banner, "transition").empty())
        << "the first ad comes without a transition";

    // A second ad curls up over the first in the other web view; the slot heard one outcome.
    banner->loadNewAd();
    clock.advance(OrbisAdManager::kRequestDelaySeconds);
    ASSERT_TRUE(waitFor([&] { return banner->isAdRequestDone() && banner->shouldLoadWebView1(); }));
    EXPECT_EQ(banner->webView2()->superviewPointer(), banner);
    EXPECT_EQ(banner->webView1()->superviewPointer(), nullptr);
    auto transitions = platform::AnimationLog::shared().recordsFor(*banner, "transition");
    ASSERT_EQ(transitions.size(), 1u);
    EXPECT_EQ(transitions.front().transitionType, "curlUp");
    EXPECT_DOUBLE_EQ(transitions.front().duration, OrbisAdManager::kSwapAnimationSeconds);
    EXPECT_EQ(outcomes(), 1u);
    EXPECT_EQ(countOf(*events, "slot:didReceiveAdView"), 1u);
}

TEST_F(OrbisAdapterTest, DeviceFactsAndTheBrowserUserAgentReachTheRequest) {
    using platform::SystemFacts;
    SystemFacts::setSysctlStringForTesting("hw.machine", "iPhone3,1");
    SystemFacts::setSysctlStringForTesting("hw.model", "N90AP");
    SystemFacts::setSysctlIntegerForTesting("hw.cputype", 12);
    SystemFacts::setSysctlIntegerForTesting("hw.cpusubtype", 9);
    SystemFacts::setSysctlIntegerForTesting("hw.cpufrequency", 1000000000);
    SystemFacts::setSysctlIntegerForTesting("hw.cpufrequency_max", std::nullopt);
    SystemFacts::setSysctlIntegerForTesting("hw.memsize", 536870912);
    SystemFacts::setSysctlIntegerForTesting("kern.boottime", 1300000000);
    SystemFacts::setNetworkInterfacesForTesting(std::vector<platform::NetworkInterface>{
        {"en0", platform::NetworkInterface::Family::IPv4, "192.0.2.7", false}});

    auto adapter = makeAdapter();
    adapter->getAd();
    clock.advance(OrbisAdManager::kRequestDelaySeconds);
    ASSERT_TRUE(waitFor([&] { return services.requestCount(services::kOrbisAdPath) == 1; }));
    auto request = services.requestsTo(services::kOrbisAdPath).front();
    const std::pair<const char*, std::optional<std::string>> expectedForm[] = {
        {"d-deviceMachineHW", "iPhone3,1"},
        {"d-deviceModelCodeNoHW", "N90AP"},
        {"d-deviceCpuTHW", "12"},
        {"d-deviceCpuSTHW", "9"},
        {"d-deviceCpuFqHW", "1000000000"},
        {"d-deviceCpuFqMaxHW", std::nullopt}, // not reported: left out
        {"d-deviceRamHW", "536870912"},
        {"d-deviceBTHW", "2011-03-13 07:06:40 +0000"},
        {"d-netType", "wifi"},
    };
    for (const auto& [name, value] : expectedForm)
        EXPECT_EQ(formValue(request, name), value) << name;
    EXPECT_NE(request.header("user-agent").value_or("").find("; HW iPhone3,1)"), std::string::npos);
    EXPECT_EQ(request.header("x-orbis-phone-useragent"), std::string(platform::WebView::kUserAgent))
        << "the browser user agent captured from the hidden web view";
}

TEST_F(OrbisAdapterTest, EveryFailureIsOneFailure) {
    struct Case {
        const char* name;
        services::Fault fault;
    };
    const Case cases[] = {
        {"error status with an ad in the body",
         services::Fault::reply(
             500, R"(<Ad actionType="2" width="1" height="1"><AdURL>http://a/</AdURL></Ad>)", "text/xml")},
        {"malformed XML", services::Fault::reply(200, "<Ad actionType=\"2\" width=", "text/xml")},
        {"connection closed", services::Fault::closeConnection()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        events->clear();
        services.setFault(std::string(services::kOrbisAdPath), c.fault);
        platform::LogCapture log;
        auto adapter = makeAdapter();
        adapter->getAd();
        clock.advance(OrbisAdManager::kRequestDelaySeconds);
        ASSERT_TRUE(waitForEvent("slot:didFailAd"));
        auto* banner = bannerOf(adapter);
        EXPECT_TRUE(banner->isAdRequestDone());
        EXPECT_TRUE(
            log.contains("Orbis:Connection to the server could not be made.Please try after some time."));
        // Asking the same banner again is refused; still one outcome for this request.
        banner->loadNewAd();
        banner->loadNewAd();
        EXPECT_EQ(outcomes(), 1u);
        adapter->stopBeingDelegate();
    }
}

TEST_F(OrbisAdapterTest, RefusedSiteIdIsAFailureAtOnce) {
    const std::pair<std::optional<std::string>, const char*> cases[] = {
        {std::nullopt, "Orbis:Error! site-id must be not-null. Cannot serve Orbis Ads."},
        {"   ", "Orbis:Error! site-id is invalid. Cannot serve Orbis Ads."},
    };
    for (const auto& [pubid, message] : cases) {
        SCOPED_TRACE(message);
        events->clear();
        platform::LogCapture log;
        auto adapter = makeAdapter(pubid);
        adapter->getAd();
        EXPECT_EQ(*events, std::vector<std::string>{"slot:didFailAd"});
        EXPECT_EQ(adapter->adNetworkView(), nullptr);
        EXPECT_TRUE(log.contains(message));
    }
    clock.advance(1);
    EXPECT_EQ(services.requestCount(services::kOrbisAdPath), 0u);
}

TEST_F(OrbisAdapterTest, LandingPageIsTheSlotsModalScreen) {
    host->implemented = {"switchboardWillPresentFullScreenModal", "switchboardDidDismissFullScreenModal"};
    auto adapter = makeAdapter();
    adapter->getAd();
    clock.advance(OrbisAdManager::kRequestDelaySeconds);
    ASSERT_TRUE(waitForEvent("slot:didReceiveAdView"));
    auto banner = std::static_pointer_cast<OrbisAdManager>(adapter->adNetworkView());
    window->addSubview(banner);

    // A tap on the shown ad lands on the cover and reaches the banner: a click.
    platform::Application::shared().simulateTap({160, 25}, window);
    EXPECT_TRUE(banner->touchedDownOnAd());
    ASSERT_TRUE(waitForEvent("slot:modal=YES"));
    auto click = services.requestsTo(services::kOrbisClickPath);
    ASSERT_EQ(click.size(), 1u);
    EXPECT_EQ(click.front().queryValue("ad"), "live-1");
    EXPECT_EQ(click.front().formItems().front().first, "ob-siteid")
        << "a click sends the application part alone";
    EXPECT_EQ(formValue(click.front(), "requestactivity"), "AdClick");
    EXPECT_EQ(countOf(*events, "host:willPresent"), 1u);
    EXPECT_EQ(rootController->presentedViewController(), nullptr) << "the page comes 0.1 s later";

    clock.advance(OrbisAdManager::kLandingPageDelaySeconds);
    auto navigation =
        std::dynamic_pointer_cast<platform::NavigationController>(rootController->presentedViewController());
    ASSERT_NE(navigation, nullptr);
    auto page = std::dynamic_pointer_cast<orbis::EmbededWebViewController>(navigation->topViewController());
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->requestUrl(), services.url(services::kOrbisLandingPath));
    EXPECT_EQ(page->titleText(), "Orbis Sample");
    EXPECT_FALSE(banner->touchedDownOnAd());
    clock.advance(platform::kModalTransitionDuration);

    // Closing the page ends the modal mark 0.2 s after the page has gone.
    page->backButtonClicked();
    EXPECT_TRUE(page->backTapped());
    clock.advance(platform::kModalTransitionDuration);
    EXPECT_EQ(countOf(*events, "slot:modal=NO"), 0u);
    clock.advance(OrbisAdManager::kDismissNoticeDelaySeconds);
    EXPECT_EQ(countOf(*events, "slot:modal=NO"), 1u);
    EXPECT_EQ(countOf(*events, "host:didDismiss"), 1u);
    EXPECT_EQ(banner->ewvController(), nullptr);
    EXPECT_EQ(outcomes(), 1u);
    banner->removeFromSuperview();
}

TEST_F(OrbisAdapterTest, StopBeingDelegateDetachesTheBanner) {
    // The reply is held until the adapter has let go, so it cannot reach the banner first.
    auto gate = std::make_shared<fwtest::ReplyGate>();
    services.handle("POST", std::string(services::kOrbisAdPath),
                    gate->holdingFile(services.host(), "/orbis/ad-live.xml", "text/xml"));
    auto adapter = makeAdapter();
    adapter->getAd();
    clock.advance(OrbisAdManager::kRequestDelaySeconds);
    ASSERT_TRUE(waitFor([&] { return services.requestCount(services::kOrbisAdPath) == 1; }));
    auto* banner = bannerOf(adapter);
    adapter->stopBeingDelegate();
    adapter->stopBeingDelegate(); // safe twice
    EXPECT_EQ(banner->getDelegate(), nullptr);
    EXPECT_EQ(banner->webView1()->delegate(), nullptr);
    EXPECT_EQ(banner->webView2()->delegate(), nullptr);
    EXPECT_FALSE(banner->hasLocationRefreshTimer());
    ASSERT_NE(banner->adRequest(), nullptr);
    EXPECT_EQ(banner->adRequest()->delegate.lock(), nullptr);
    // The reply still arrives, and reaches nobody.
    gate->open();
    ASSERT_TRUE(waitFor([&] { return banner->adRequest()->urlConnection == nullptr; }));
    clock.advance(OrbisAdManager::kLoadWatchdogSeconds);
    EXPECT_EQ(outcomes(), 0u);
}

TEST_F(OrbisAdapterTest, AnswersFromAHostThatImplementsNothing) {
    auto adapter = makeAdapter("pub-1");
    EXPECT_EQ(adapter->siteId(), "pub-1");
    EXPECT_EQ(adapter->rootViewControllerForAd(), rootController);
    EXPECT_EQ(adapter->testMode(), false);
    EXPECT_EQ(adapter->isLocationInquiryAllowed(), false);
    for (const char* hidden : {"currentLocation", "postalCode", "areaCode", "dateOfBirth", "gender",
                               "keywords", "income", "education", "ethnicity", "age", "interests"})
        EXPECT_FALSE(adapter->responds(hidden)) << hidden;
    for (const char* shown : {"siteId", "rootViewControllerForAd", "testMode", "isLocationInquiryAllowed",
                              "adReceivedNotification:", "adFailedNotification:"})
        EXPECT_TRUE(adapter->responds(shown)) << shown;
    for (const char* never : {"searchString", "applicationWillTerminateFromAd:", "testModeAdActionType"})
        EXPECT_FALSE(adapter->responds(never)) << never;

    // The banner's UserInfo keeps its defaults: nothing demographic goes out.
    orbis::UserInfo info;
    std::shared_ptr<orbis::OrbisAdDelegate> asDelegate(adapter,
                                                       static_cast<orbis::OrbisAdDelegate*>(adapter.get()));
    info.adDelegate = asDelegate;
    info.updateUserInfo();
    EXPECT_EQ(info.siteId, "pub-1");
    EXPECT_EQ(orbis::APIRequest::getSDKDelegatePostBodyString(info), "");
}

TEST_F(OrbisAdapterTest, AnswersFromAHostThatImplementsThem) {
    host->implemented = {"orbisAppID", "gender", "dateOfBirth", "switchboardTestMode", "incomeLevel"};
    host->appID = "app-site";
    host->testMode = true;
    host->income = 40000;
    auto adapter = makeAdapter("pub-1");
    EXPECT_EQ(adapter->siteId(), "app-site");
    EXPECT_EQ(adapter->testMode(), true);
    EXPECT_EQ(adapter->income(), 40000u);
    const std::pair<std::optional<std::string>, int> genders[] = {
        {"f", 2}, {"m", 1}, {"F", 0}, {"female", 0}, {std::nullopt, 0}};
    for (const auto& [answer, number] : genders) {
        host->genderAnswer = answer;
        EXPECT_EQ(adapter->gender(), number) << answer.value_or("nil");
    }
    EXPECT_EQ(adapter->age(), -1) << "a birth date answered nil";
    clock.clock().setNow(1700000000);        // 2023-11-14
    host->birth = platform::Date{636638400}; // 1990-03-05
    EXPECT_EQ(adapter->age(), 33);
}

TEST(OrbisAdapterRegistration, RegisteredForType18WhenTheProgramLoads) {
    auto wrapper = mediation::SwitchboardAdNetworkRegistry::sharedRegistry().adapterClassFor(18);
    ASSERT_NE(wrapper, nullptr);
    EXPECT_EQ(wrapper->theClass()->name, "orbis::SwitchboardAdapterOrbis");
    EXPECT_EQ(orbis::OrbisAdView::orbisSDKVersion(), "2.0.0");
}
