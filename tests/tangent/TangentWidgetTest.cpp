// The Tangent widget and its mediation adapter against the loopback Tangent service: a banner
// requested, loaded in the background and shown when the host agrees; the host's refusal and
// the render timer; the network's empty-ad marker; interaction with its protection; and the
// adapter's answers, outcome reports and registration.
#include <gtest/gtest.h>

#include "TangentWidgetFixture.h"
#include "mediation/MediationTestSupport.h"
#include "mediation/SwitchboardAdNetworkConfig.h"
#include "mediation/SwitchboardAdNetworkRegistry.h"
#include "platform/net/URLConnection.h"
#include "platform/runloop/Clock.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/Window.h"
#include "services/TangentEndpoints.h"
#include "support/LoopbackServices.h"
#include "support/ManualClockScope.h"
#include "support/TemporaryHome.h"
#include "tangent/SwitchboardAdapterTangent.h"
#include "tangent/TGAdWidget.h"
#include "tangent/TGAdWidgetDelegate.h"
#include "tangent/TGDelegateAdaptor.h"
#include "tangent/TGEventManager.h"
#include "tangent/TGTimer.h"

using namespace tangent;

namespace {

class TestHost : public TGAdWidgetDelegate {
public:
    std::optional<std::string> publisherId(TGAdWidgetWorker&) override { return publisher; }
    std::optional<std::string> site(TGAdWidgetWorker&) override { return siteAnswer; }
    std::optional<int> adultContent(TGAdWidgetWorker&) override { return adult; }
    std::optional<bool> shouldRenderAd(TGAdWidgetWorker&) override {
        events.push_back("shouldRenderAd");
        return render;
    }
    void beginAdInteraction(TGAdWidgetWorker&) override { events.push_back("begin"); }
    void endAdInteraction(TGAdWidgetWorker&) override { events.push_back("end"); }
    void adWidgetDidFailToRequestAd(TGAdWidgetWorker&, const std::optional<platform::Error>& error) override {
        events.push_back(error ? "failed:error" : "failed");
    }
    void adWidgetDidFailToShowAd(TGAdWidgetWorker&, const std::optional<platform::Error>&) override {
        events.push_back("failedToShow");
    }
    std::vector<std::string> quietSelectorNames() const override { return quiet; }
    int renderInterval(TGAdWidgetWorker&) override { return 5; }

    std::optional<std::string> publisher = "pub-1";
    std::optional<std::string> siteAnswer;
    std::optional<int> adult;
    bool render = true;
    std::vector<std::string> quiet;
    std::vector<std::string> events;
};

using WidgetFixture = tangenttest::WidgetFixture<TestHost>;

} // namespace

TEST(TangentWidget, ShowsALoadedBannerWhenTheHostAgrees) {
    WidgetFixture f;
    auto widget = TGAdWidget::create(f.host, true);
    f.window->addSubview(widget);
    ASSERT_TRUE(widget->request());
    ASSERT_TRUE(f.waitFor([&] { return widget->currentAdView() != nullptr; }));
    auto current = widget->currentAdView();
    EXPECT_EQ(current->currentViewState(), inactiveState);
    EXPECT_FALSE(widget->futureAdView());
    EXPECT_FALSE(widget->request());
    EXPECT_EQ(f.host->events, std::vector<std::string>{"shouldRenderAd"});
    EXPECT_EQ(current->delegateAdaptor()->requestId(), std::string(services::kTangentResponseId));
    // The ad's web view is on screen inside the widget.
    ASSERT_TRUE(current->adWebView());
    EXPECT_TRUE(current->adWebView()->window());
    auto logged = f.services.requestsTo(services::kTangentAdPath);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].queryValue("pub"), "pub-1");
    EXPECT_EQ(logged[0].queryValue("mt-width"), "320");
    EXPECT_EQ(logged[0].queryValue("mt-height"), "50");

    // Interaction from the page: the host hears begin and end, and the protection keeps the
    // widget alive after its owner lets go.
    current->bridgeUrl(*platform::URL::parse("tgc://tangent/beginAdInteraction:"));
    EXPECT_EQ(current->currentViewState(), activeState);
    EXPECT_EQ(widget->syncStateDepth(), 1);
    std::weak_ptr<TGAdWidgetWorker> weakWidget = widget;
    widget->removeFromSuperview();
    widget.reset();
    f.clock.drain();
    ASSERT_FALSE(weakWidget.expired());
    current->bridgeUrl(*platform::URL::parse("tgc://tangent/endAdInteraction:"));
    EXPECT_EQ(f.host->events, (std::vector<std::string>{"shouldRenderAd", "begin", "end"}));
    f.clock.drain();
    EXPECT_TRUE(weakWidget.expired());

    // Once the ad and its adaptor are gone, its records reach the report endpoint.
    f.clock.advance(2);
    current.reset();
    f.clock.drain();
    TGEventManager::instance().operationQueue().waitUntilAllOperationsAreFinished();
    std::map<std::string, services::LoggedRequest> reports;
    for (const auto& report : f.services.requestsTo(services::kTangentReportPath))
        reports.emplace(report.queryValue("event").value_or("?"), report);
    ASSERT_EQ(reports.size(), 3u);
    for (const auto* kind : {"request", "impression", "interact"}) {
        ASSERT_TRUE(reports.count(kind)) << kind;
        EXPECT_EQ(reports.at(kind).queryValue("tgreqid"), std::string(services::kTangentResponseId)) << kind;
        EXPECT_EQ(reports.at(kind).queryValue("pub"), "pub-1") << kind;
    }
    EXPECT_EQ(reports.at("interact").queryValue("units"), "1");
    EXPECT_TRUE(reports.at("impression").queryValue("duration"));
}

TEST(TangentWidget, RefusedRenderWaitsForTheRenderTimer) {
    WidgetFixture f;
    f.host->render = false;
    f.host->quiet = {"renderInterval:"};
    auto widget = TGAdWidget::create(f.host, true);
    f.window->addSubview(widget);
    ASSERT_TRUE(f.waitFor([&] { return widget->futureAdView() && widget->renderTimer()->isActive(); }));
    EXPECT_EQ(widget->renderTimer()->interval(), 5);
    EXPECT_FALSE(widget->currentAdView());
    f.clock.advance(5);
    ASSERT_TRUE(widget->currentAdView());
    EXPECT_EQ(widget->currentAdView()->currentViewState(), inactiveState);
}

TEST(TangentWidget, FailedRequestsTellTheHostOnce) {
    struct Case {
        const char* name;
        std::optional<std::string> publisher;
        bool traffic;
    };
    const Case cases[] = {
        {"empty-ad marker", std::string(services::kTangentEmptyPublisher), true},
        {"no publisher", std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WidgetFixture f;
        f.host->publisher = c.publisher;
        auto widget = TGAdWidget::create(f.host, true);
        ASSERT_TRUE(f.waitFor([&] { return !f.host->events.empty(); }));
        f.clock.drain();
        EXPECT_EQ(f.host->events, std::vector<std::string>{"failed"});
        EXPECT_FALSE(widget->futureAdView());
        EXPECT_FALSE(widget->request());
        EXPECT_EQ(f.services.requestCount(services::kTangentAdPath), c.traffic ? 1u : 0u);
        widget->refreshAd(); // still works with refresh interval 0
        EXPECT_TRUE(widget->request() || !c.traffic);
    }
}

TEST(TangentWidget, TransitionAndImmutableAdaptor) {
    WidgetFixture f;
    auto widget = TGAdWidget::create(f.host, false);
    const std::pair<int, int> transitions[] = {{0, 4}, {1, 4}, {-2, 4}, {2, 2}, {6, 6}};
    for (const auto& [given, stored] : transitions) {
        widget->setTransition(given);
        EXPECT_EQ(widget->transition(), stored);
    }

    auto adaptor = std::make_shared<TGDelegateAdaptorImmutable>();
    adaptor->setAdWidget(widget);
    f.host->adult = 0;
    adaptor->setDelegate(f.host);
    adaptor->setDelegate(f.host); // the same host again: accepted
    EXPECT_THROW(adaptor->setDelegate(std::make_shared<TestHost>()), std::logic_error);
    f.host->adult = 2;
    EXPECT_EQ(adaptor->adultContent(), 0); // the snapshot keeps the first answer
    EXPECT_EQ(adaptor->renderInterval(), 30); // renderInterval: not among the host's own methods
    EXPECT_FALSE(adaptor->site());
    f.host->siteAnswer = "later";
    EXPECT_EQ(adaptor->site(), "later"); // nil was not kept
    f.host->siteAnswer = "changed";
    EXPECT_EQ(adaptor->site(), "later");
}

// ---- The mediation adapter ----

namespace {

class TangentHost : public mediationtest::ConfigurableHost {
public:
    using ConfigurableHost::ConfigurableHost;
    std::optional<std::string> gender() override { return genderAnswer; }
    std::optional<std::uint64_t> incomeLevel() override { return income; }
    std::optional<std::string> tangentSiteId() override { return siteId; }
    std::optional<std::uint64_t> tangentTransitionType() override { return transitionType; }
    std::optional<std::string> genderAnswer;
    std::optional<std::uint64_t> income;
    std::optional<std::string> siteId;
    std::optional<std::uint64_t> transitionType;
};

struct AdapterFixture : WidgetFixture {
    AdapterFixture() { mediationtest::registerProgramTypes(registry); }
    std::shared_ptr<SwitchboardAdapterTangent> makeAdapter(platform::Dictionary credentials) {
        platform::Dictionary ration{{"type", 2}, {"nid", "n2"}, {"nname", "tangent"}, {"weight", 1}, {"priority", 1}};
        ration["key"] = platform::Value(std::move(credentials));
        auto entry = mediation::SwitchboardAdNetworkConfig::create(platform::Value(ration), &registry, nullptr);
        return mediation::SwitchboardAdNetworkAdapter::create<SwitchboardAdapterTangent>(tangentHost, slot, nullptr,
                                                                                         entry);
    }
    mediationtest::Events events = mediationtest::makeEvents();
    mediation::SwitchboardAdNetworkRegistry registry;
    std::shared_ptr<TangentHost> tangentHost = std::make_shared<TangentHost>(events);
    std::shared_ptr<mediationtest::RecordingSlot> slot = std::make_shared<mediationtest::RecordingSlot>(events);
};

TGAdWidgetWorker& widgetOf(const std::shared_ptr<SwitchboardAdapterTangent>& adapter) {
    return *dynamic_cast<TGAdWidgetWorker*>(adapter->adNetworkView().get());
}

} // namespace

TEST(TangentAdapter, IncomeBands) {
    const std::pair<std::uint64_t, const char*> cases[] = {
        {0, "000_015"},      {14999, "000_015"},  {15000, "015_020"},  {29999, "020_030"},
        {49999, "040_050"},  {50000, "050_075"},  {99999, "075_100"},  {124999, "100_125"},
        {149999, "125_150"}, {150000, "150_OVER"}, {UINT64_MAX, "150_OVER"},
    };
    for (const auto& [income, band] : cases)
        EXPECT_EQ(SwitchboardAdapterTangent::incomeBand(income), band) << income;
}

TEST(TangentAdapter, ShowsTheBannerAndReportsOneSuccess) {
    AdapterFixture f;
    f.tangentHost->implemented = {"switchboardWillPresentFullScreenModal", "switchboardDidDismissFullScreenModal"};
    auto adapter = f.makeAdapter({{"publisherID", "fw-tangent"}, {"siteID", "fw-site"}, {"spotID", "fw-spot"}});
    adapter->getAd();
    auto& widget = widgetOf(adapter);
    EXPECT_EQ(widget.frame(), (platform::Rect{0, 0, 320, 53}));
    EXPECT_EQ(widget.refreshInterval(), 0);
    EXPECT_EQ(widget.transition(), 4);
    ASSERT_TRUE(f.waitFor([&] { return !f.events->empty(); }));
    EXPECT_EQ(*f.events, std::vector<std::string>{"slot:didReceiveAdView"});
    f.window->addSubview(adapter->adNetworkView());
    ASSERT_TRUE(widget.currentAdView());
    EXPECT_EQ(widget.currentAdView()->currentViewState(), inactiveState);

    auto logged = f.services.requestsTo(services::kTangentAdPath);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].queryValue("pub"), "fw-tangent");
    EXPECT_EQ(logged[0].queryValue("site"), "fw-site");
    EXPECT_EQ(logged[0].queryValue("spot"), "fw-spot");
    EXPECT_EQ(logged[0].queryValue("a"), "notallowed");
    EXPECT_EQ(logged[0].queryValue("mt-height"), "50"); // the first request leaves at the initial size
    for (const char* absent : {"q", "ll", "mt-age", "mt-gender", "mt-hhi"})
        EXPECT_FALSE(logged[0].queryValue(absent)) << absent;

    // The page's interaction is the slot's modal screen.
    widget.currentAdView()->bridgeUrl(*platform::URL::parse("tgc://tangent/beginAdInteraction:"));
    widget.currentAdView()->bridgeUrl(*platform::URL::parse("tgc://tangent/endAdInteraction:"));
    EXPECT_EQ(*f.events, (std::vector<std::string>{"slot:didReceiveAdView", "slot:modal=YES",
                                                   "host:willPresentFullScreenModal",
                                                   "host:didDismissFullScreenModal", "slot:modal=NO"}));

    adapter->stopBeingDelegate();
    EXPECT_FALSE(widget.delegate());
}

TEST(TangentAdapter, AnswersFromTheHostAndTheCredentials) {
    AdapterFixture f;
    f.tangentHost->implemented = {"gender", "incomeLevel", "dateOfBirth", "tangentSiteId", "tangentTransitionType"};
    f.tangentHost->genderAnswer = "f";
    f.tangentHost->income = 15000;
    f.tangentHost->birth = platform::Date{platform::Clock::current().date().secondsSince1970 + 3 * 365 * 86400.0}; // in the future: no age
    f.tangentHost->transitionType = 1;
    auto adapter = f.makeAdapter({{"pubid", "p-1"}, {"publisherID", "unused"}, {"siteID", "cred-site"}});
    adapter->getAd();
    auto& widget = widgetOf(adapter);
    EXPECT_EQ(widget.transition(), 4);
    EXPECT_EQ(adapter->publisherId(widget), "p-1");
    EXPECT_EQ(adapter->site(widget), "cred-site"); // the host's nil falls back to the credentials
    f.tangentHost->siteId = "host-site";
    EXPECT_EQ(adapter->site(widget), "host-site");
    EXPECT_FALSE(adapter->adultContent(widget));
    EXPECT_FALSE(adapter->query(widget));
    EXPECT_EQ(adapter->extraParameters(widget),
              (std::map<std::string, std::string>{{"mt-gender", "f"}, {"mt-hhi", "015_020"}}));
}

TEST(TangentAdapter, NoPublisherIsOneFailure) {
    AdapterFixture f;
    auto adapter = f.makeAdapter({{"siteID", "fw-site"}});
    adapter->getAd();
    f.clock.drain();
    EXPECT_EQ(*f.events, std::vector<std::string>{"slot:didFailAd"});
    EXPECT_EQ(f.services.requestCount(services::kTangentAdPath), 0u);
}

TEST(TangentAdapterRegistration, RegisteredForType2WhenTheProgramLoads) {
    auto wrapper = mediation::SwitchboardAdNetworkRegistry::sharedRegistry().adapterClassFor(2);
    ASSERT_TRUE(wrapper);
    EXPECT_EQ(wrapper->theClass()->name, "tangent::SwitchboardAdapterTangent");
}
