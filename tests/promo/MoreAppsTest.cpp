// The more-apps page and the wallpaper promotion, as the loopback service receives them.
#include "PromoTestSupport.h"

#include "platform/ui/Button.h"
#include "platform/ui/TableViewCell.h"
#include "promo/PromotionService.h"
#include "promo/WallpaperPromotion.h"

namespace promotest {
namespace {

constexpr const char* kListPath = "/applications/moreAppsNew/moreAppsPhone.php";
constexpr const char* kImpressionPath = "/applications/moreAppsNew/updateImpressionPhone.php";

std::string entry(int serial, const char* scheme, const char* image) {
    return "{\"appIdentity\":\"" + std::string(scheme) + "://\",\"appId\":\"" + std::to_string(serial) +
           "\",\"appName\":\"App " + std::to_string(serial) + "\",\"imageLink\":\"{{base}}/promo/images/" + image +
           "\",\"appLink\":\"http://store.example/" + std::to_string(serial) + "\",\"serial\":" +
           std::to_string(serial) + "}";
}

class MoreAppsPage : public PromoTest {
protected:
    std::shared_ptr<promo::MoreApps> open() {
        page_ = std::make_shared<promo::MoreApps>();
        page_->view();
        return page_;
    }
    std::vector<std::string> names() {
        std::vector<std::string> found;
        for (const auto& e : page_->listOfGameName())
            found.push_back(e.find("appName") ? e.find("appName")->stringOr("") : "");
        return found;
    }
    std::shared_ptr<promo::MoreApps> page_;
};

TEST_F(MoreAppsPage, ListsTheApplicationsThatAreNotInstalledFirst) {
    platform::Application::shared().setInstalledSchemes({"b", "d"});
    struct Case {
        const char* name;
        std::string reply;
        std::vector<std::string> rows;
        bool unableAfterEightSeconds;
    };
    const Case cases[] = {
        {"six, two installed",
         "{\"moreApps\":[" + entry(1, "a", "more-1.png") + "," + entry(2, "b", "more-2.png") + "," +
             entry(3, "c", "more-3.png") + "," + entry(4, "d", "more-4.png") + "," + entry(5, "e", "more-1.png") + "," +
             entry(6, "f", "more-2.png") + "]}",
         {"App 1", "App 3", "App 5", "App 6"},
         false},
        {"three, one installed",
         "{\"moreApps\":[" + entry(1, "a", "more-1.png") + "," + entry(2, "b", "more-2.png") + "," +
             entry(3, "c", "more-3.png") + "]}",
         {"App 1", "App 3", "App 2"},
         true},
    };
    for (const auto& c : cases) {
        serve(kListPath, c.reply);
        open();
        EXPECT_EQ(names(), std::vector<std::string>(4, "Loading...")) << c.name;
        ASSERT_TRUE(waitFor([&] { return names() != std::vector<std::string>(4, "Loading..."); })) << c.name;
        EXPECT_EQ(names(), c.rows) << c.name;
        clock_.advance(8.0);
        EXPECT_EQ(names() == std::vector<std::string>(4, "Unable to Load"), c.unableAfterEightSeconds) << c.name;
        page_->back();
    }
}

TEST_F(MoreAppsPage, ImpressionCarriesTheFourSerialsWithZeroForFailedImages) {
    services_.setFault("/promo/images/missing.png", services::Fault::errorStatus(404));
    serve(kListPath, "{\"moreApps\":[" + entry(11, "a", "more-1.png") + "," + entry(12, "b", "missing.png") + "," +
                         entry(13, "c", "more-3.png") + "," + entry(14, "d", "more-4.png") + "]}");
    open();
    ASSERT_TRUE(waitFor([&] { return page_->listOfGameName().size() == 4 && names()[0] == "App 11"; }));
    page_->myTable()->layoutIfNeeded();
    ASSERT_TRUE(waitFor([&] { return services_.requestCount(kImpressionPath) >= 1; }));
    auto report = services_.requestsTo(kImpressionPath)[0];
    EXPECT_EQ(report.queryValue("appId1"), "11");
    EXPECT_EQ(report.queryValue("appId2"), "0");
    EXPECT_EQ(report.queryValue("appId3"), "13");
    EXPECT_EQ(report.queryValue("appId4"), "14");

    // A tap on a loaded row reports its serial and opens its link half a second later.
    auto cell = page_->myTable()->cellForRowAtIndexPath({0, 2});
    ASSERT_NE(cell, nullptr);
    auto button = std::dynamic_pointer_cast<platform::Button>(cell->contentView().viewWithTag(3));
    ASSERT_NE(button, nullptr);
    button->sendActionsForControlEvents(platform::ControlEvent::TouchUpInside);
    ASSERT_TRUE(waitFor([&] { return services_.requestCount("/applications/moreAppsNew/moreAppsClickPhone.php") == 1; }));
    EXPECT_EQ(services_.requestsTo("/applications/moreAppsNew/moreAppsClickPhone.php")[0].queryValue("serial"), "13");
    clock_.advance(0.51);
    EXPECT_EQ(platform::Application::shared().openedURLs(), std::vector<std::string>{"http://store.example/13"});
}

TEST_F(MoreAppsPage, ClosingCancelsRequestsAndNoReplyChangesThePageAfterwards) {
    serve(kListPath, "{\"moreApps\":[" + entry(1, "a", "more-1.png") + "]}");
    services_.setFault(kListPath, services::Fault::delay(0.3));
    open();
    page_->back();
    EXPECT_TRUE(promo::isBack);
    waitFor([&] { return false; }, 0.5);
    clock_.advance(10);
    EXPECT_EQ(names(), std::vector<std::string>(4, "Loading...")) << "neither the reply nor the fallback";
}

TEST_F(MoreAppsPage, CloseButtonOnPhonesOnly) {
    struct Case {
        platform::DeviceProfile profile;
        bool close;
    };
    for (const auto& c : {Case{platform::DeviceProfile::Phone, true}, Case{platform::DeviceProfile::Tablet, false}}) {
        platform::Device::setProfile(c.profile);
        open();
        bool hasClose = false;
        for (const auto& v : page_->view()->subviews())
            hasClose |= v->accessibilityLabel() == "Close";
        EXPECT_EQ(hasClose, c.close);
        if (c.profile == platform::DeviceProfile::Phone)
            page_->back();
    }
    EXPECT_TRUE(waitFor([&] { return services_.requestCount("/applications/moreAppsNew/moreAppsPad.php") > 0; }))
        << "the tablet form of the list request";
}

TEST(WallpaperPromotion, RequestNamesTheGenerationAndAnimationsFollowTheTable) {
    struct Case {
        const char* identifier;
        bool newer;
    };
    const Case cases[] = {{"iPhone2,1", false}, {"iPhone3,1", true}, {"iPod2,2", false}, {"x86_64", true}};
    for (const auto& c : cases) {
        promo::setMachineIdentifierForTesting(c.identifier);
        EXPECT_EQ(promo::WallpaperPromotion::appGenerationisNot3G(), c.newer) << c.identifier;
    }
    promo::setMachineIdentifierForTesting({});

    fwtest::ManualClockScope clock;
    platform::AnimationLog::resetForTesting();
    auto promotion = std::make_shared<promo::WallpaperPromotion>();
    auto host = std::make_shared<platform::View>(platform::Rect(0, 0, 320, 480));
    auto shown = std::make_shared<platform::View>(platform::Rect(0, 0, 320, 480));
    promotion->showView(shown, *host, 3);
    auto moves = platform::AnimationLog::shared().recordsFor(*shown, "frame");
    ASSERT_FALSE(moves.empty());
    EXPECT_EQ(std::get<platform::Rect>(moves.back().from), platform::Rect(640, 0, 320, 480));
    EXPECT_EQ(shown->frame(), platform::Rect(0, 0, 320, 480));

    promotion->showView(shown, *host, 7);
    promotion->hideView(*shown, *host);
    EXPECT_DOUBLE_EQ(shown->alpha(), 0);
    auto fades = platform::AnimationLog::shared().recordsFor(*shown, "alpha");
    ASSERT_FALSE(fades.empty());
    EXPECT_DOUBLE_EQ(fades.back().duration, 1.0);
}

} // namespace
} // namespace promotest
