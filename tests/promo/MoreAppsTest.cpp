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

// Phones and tablets both get a close button that leaves the page, or hands it to the close
// callback when one is set.
TEST_F(MoreAppsPage, CloseButtonOnPhonesAndTablets) {
    for (auto profile : {platform::DeviceProfile::Phone, platform::DeviceProfile::Tablet}) {
        platform::Device::setProfile(profile);
        promo::isBack = false;
        open();
        std::shared_ptr<platform::Button> close;
        for (const auto& v : page_->view()->subviews())
            if (v->accessibilityLabel() == "Close")
                close = std::dynamic_pointer_cast<platform::Button>(v);
        ASSERT_NE(close, nullptr);
        // The phone's corner of the page; on the tablet the page is centred in its 768 × 1004 view.
        EXPECT_EQ(close->frame(), profile == platform::DeviceProfile::Phone ? platform::Rect(275, 3, 40, 40)
                                                                            : platform::Rect(499, 265, 40, 40));
        if (profile == platform::DeviceProfile::Tablet) {
            EXPECT_TRUE(waitFor([&] { return services_.requestCount("/applications/moreAppsNew/moreAppsPad.php") > 0; }))
                << "the tablet form of the list request";
        }
        auto closer = std::make_shared<int>(0);
        page_->callbackSelector([closer](promo::MoreApps&) { ++*closer; }, closer);
        close->sendActionsForControlEvents(platform::ControlEvent::TouchUpInside);
        EXPECT_TRUE(promo::isBack);
        EXPECT_EQ(*closer, 1);
    }
}

// The row's button after a failure: "Unable to Load" rows start the page over, a failed
// picture loads again.
TEST_F(MoreAppsPage, FailedRowsRetryWhenTapped) {
    // The first list request answers only after its 5 s time-out and the 8 s fallback.
    services_.setFault(kListPath, services::Fault::delay(1.0).onlyTimes(1));
    serve(kListPath, "{\"moreApps\":[" + entry(21, "a", "more-1.png") + "," + entry(22, "b", "flaky.png") + "," +
                         entry(23, "c", "more-3.png") + "," + entry(24, "d", "more-4.png") + "]}");
    open();
    auto table = page_->myTable();
    auto rowButton = [&](int row) -> std::shared_ptr<platform::Button> {
        table->layoutIfNeeded();
        auto cell = table->cellForRowAtIndexPath({0, row});
        return cell ? std::dynamic_pointer_cast<platform::Button>(cell->contentView().viewWithTag(row + 1)) : nullptr;
    };
    // "Loading..." rows fetch nothing: no button, no result counted.
    EXPECT_EQ(rowButton(0), nullptr);
    clock_.drain();
    EXPECT_EQ(rowButton(0), nullptr);
    EXPECT_EQ(promo::counter, 0);

    clock_.advance(8.0);
    ASSERT_EQ(names(), std::vector<std::string>(4, "Unable to Load"));
    ASSERT_TRUE(waitFor([&] { return rowButton(1) != nullptr; })) << "an unable row has its button";
    EXPECT_NE(rowButton(1)->currentBackgroundImage(), nullptr) << "showing unload.png";

    // A tap starts over: "Loading..." rows and a second list request, which answers now.
    services_.setFault("/promo/images/flaky.png", services::Fault::errorStatus(500));
    std::size_t listRequests = services_.requestCount(kListPath);
    rowButton(1)->sendActionsForControlEvents(platform::ControlEvent::TouchUpInside);
    EXPECT_EQ(names(), std::vector<std::string>(4, "Loading..."));
    ASSERT_TRUE(waitFor([&] { return services_.requestCount(kListPath) > listRequests && names()[0] == "App 21"; }));
    ASSERT_TRUE(waitFor([&] { return services_.requestCount("/promo/images/flaky.png") == 1 && rowButton(1); }));
    EXPECT_EQ(promo::appId2, 0) << "its picture failed";

    // A tap on the failed picture loads it again, and reports no click.
    rowButton(1)->sendActionsForControlEvents(platform::ControlEvent::TouchUpInside);
    ASSERT_TRUE(waitFor([&] { return services_.requestCount("/promo/images/flaky.png") == 2; }));
    EXPECT_EQ(services_.requestCount("/applications/moreAppsNew/moreAppsClickPhone.php"), 0u);
    page_->back();
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
