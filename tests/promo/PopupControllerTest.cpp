// The launch pop-up: its call-backs on the manual clock, the promotion and its reports.
#include "PromoTestSupport.h"

#include "platform/foundation/Services.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "support/ReplyGate.h"

namespace promotest {
namespace {

struct Recorder : promo::PopupControllerDelegate {
    std::vector<bool> calls;
    void removeSplashPage(const std::shared_ptr<platform::View>&, bool enabled) override { calls.push_back(enabled); }
};

constexpr const char* kPopUpPath = "/applications/popupAds/iPhonePopupAdsNew.php";

class Popup : public PromoTest {
protected:
    std::shared_ptr<promo::PopupController> start() {
        popUp_ = std::make_shared<promo::PopupController>();
        popUp_->initPopUp();
        popUp_->setDelegate(recorder_);
        popUp_->setFrame(platform::Rect(0, 0, 320, 460));
        popUp_->setCenter({160, 240});
        popUp_->popUpId(270, "QZ", "Default.png", false);
        return popUp_;
    }
    std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();
    std::shared_ptr<promo::PopupController> popUp_;
};

TEST_F(Popup, ReplyWithoutPromotionCallsBackAtOnceThenTheTimeOutWithYes) {
    struct Case {
        const char* name;
        const char* reply;
        std::vector<bool> atOnce;
    };
    const Case cases[] = {
        {"ads on, no promotion", R"({"calledApp":[{"adStatus":false,"adNetStatus":true}]})", {true}},
        {"ads off, no promotion", R"({"calledApp":[{"adStatus":false,"adNetStatus":false}]})", {false}},
        {"every promoted application installed",
         R"({"calledApp":[{"adStatus":true,"adNetStatus":true}],
             "adsData":[{"appIdentity":"ferrowickdocs://","imageLink":"{{base}}/promo/images/popup-1.png","id":"4"}]})",
         {true}},
        {"not an object", "[1,2]", {false}},
        {"no calledApp", R"({"adsData":[]})", {false}},
    };
    platform::Application::shared().setInstalledSchemes({"ferrowickdocs"});
    for (const auto& c : cases) {
        promo::isPaid = false;
        recorder_->calls.clear();
        serve(kPopUpPath, c.reply);
        start();
        EXPECT_EQ(popUp_->popStatus(), promo::PopupController::kWaitingForReply);
        ASSERT_TRUE(waitFor([&] { return !recorder_->calls.empty(); })) << c.name;
        EXPECT_EQ(recorder_->calls, c.atOnce) << c.name;

        clock_.advance(15.0);
        EXPECT_EQ(recorder_->calls.size(), 1u) << c.name << ": not before 15.01 s";
        clock_.advance(0.02);
        std::vector<bool> expected = c.atOnce;
        expected.push_back(true);
        EXPECT_EQ(recorder_->calls, expected) << c.name;
        EXPECT_EQ(popUp_->popStatus(), promo::PopupController::kTimedOut);
        clock_.advance(30);
        EXPECT_EQ(recorder_->calls, expected) << c.name << ": the ticks have stopped";
    }
    EXPECT_EQ(services_.requestsTo(kPopUpPath).back().queryValue("adID"), "270");
    EXPECT_EQ(services_.requestsTo(kPopUpPath).back().queryValue("companyCode"), "QZ");
}

TEST_F(Popup, NoServiceCallsBackNoAtOnceAndYesAtTheTimeOut) {
    platform::setServicesBaseURL(fwtest::LoopbackServices::closedPortURL());
    start();
    ASSERT_TRUE(waitFor([&] { return !recorder_->calls.empty(); }));
    EXPECT_EQ(recorder_->calls, std::vector<bool>{false});
    clock_.advance(15.01 + 0.001);
    EXPECT_EQ(recorder_->calls, (std::vector<bool>{false, true}));
}

TEST_F(Popup, LateReplyCallsBackAgainWithTheUnchangedSwitch) {
    auto gate = std::make_shared<fwtest::ReplyGate>();
    services_.handle("GET", kPopUpPath,
                     gate->holding({200, R"({"calledApp":[{"adStatus":false,"adNetStatus":true}]})",
                                    "application/json", {}}));
    start();
    clock_.advance(15.02);
    EXPECT_EQ(recorder_->calls, std::vector<bool>{true});
    gate->open();
    ASSERT_TRUE(waitFor([&] { return recorder_->calls.size() == 2; }));
    EXPECT_EQ(recorder_->calls, (std::vector<bool>{true, false})) << "isPaid was never set";
    EXPECT_FALSE(promo::isPaid) << "a late reply is not read";
}

TEST_F(Popup, ShownPromotionDisarmsTheTimeOutAndItsTapReportsAndOpens) {
    serve(kPopUpPath, R"({"calledApp":[{"adStatus":true,"adNetStatus":true}],
        "adsData":[{"appIdentity":"ferrowickdocs://","imageLink":"{{base}}/promo/images/popup-1.png","id":"41",
                    "adFullLink":"http://store.example/app?id=1"}],
        "email":[{"email":"bcc@example.com"}]})");
    start();
    ASSERT_TRUE(waitFor([&] { return popUp_->popStatus() == promo::PopupController::kPromotionShown; }));
    EXPECT_EQ(promo::imageStatus, 0);
    EXPECT_TRUE(recorder_->calls.empty());
    EXPECT_EQ(platform::UserDefaults::standard().stringForKey("bccEmail"), "bcc@example.com");
    auto button = std::dynamic_pointer_cast<platform::Button>(popUp_->viewWithTag(promo::PopupController::kPromotionButtonTag));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(popUp_->viewWithTag(promo::PopupController::kProgressStripTag), nullptr);
    EXPECT_EQ(popUp_->viewWithTag(promo::PopupController::kSpinnerTag), nullptr);
    clock_.drain();
    EXPECT_TRUE(waitFor([&] { return services_.requestCount("/applications/popupAds/updateImpressionPhone.php") == 1; }));
    EXPECT_EQ(services_.requestsTo("/applications/popupAds/updateImpressionPhone.php")[0].queryValue("id"), "41");

    clock_.advance(20);
    EXPECT_TRUE(recorder_->calls.empty()) << "no time-out once the promotion shows";

    button->sendActionsForControlEvents(platform::ControlEvent::TouchUpInside);
    EXPECT_TRUE(waitFor([&] { return services_.requestCount("/applications/popupAds/c_iPhonePopupAdsNew.php") == 1; }));
    clock_.advance(0.49);
    EXPECT_TRUE(recorder_->calls.empty());
    clock_.advance(0.02);
    EXPECT_EQ(recorder_->calls, std::vector<bool>{true});
    EXPECT_EQ(platform::Application::shared().openedURLs(), std::vector<std::string>{"http://store.example/app?id=1"});
}

// While the reply is awaited: a turning white spinner and the 19-frame strip played once over
// 15 s.
TEST_F(Popup, SpinnerAndProgressStripWhileWaiting) {
    serve(kPopUpPath, "{}");
    services_.setFault(kPopUpPath, services::Fault::delay(0.5));
    start();
    auto spinner = std::dynamic_pointer_cast<platform::ActivityIndicatorView>(popUp_->viewWithTag(5005));
    ASSERT_NE(spinner, nullptr);
    EXPECT_TRUE(spinner->isAnimating());
    EXPECT_EQ(spinner->activityIndicatorViewStyle(), platform::ActivityIndicatorViewStyle::White);
    auto strip = std::dynamic_pointer_cast<platform::ImageView>(popUp_->viewWithTag(3003));
    ASSERT_NE(strip, nullptr);
    ASSERT_EQ(strip->animationImages().size(), 19u);
    EXPECT_EQ(strip->animationImages().front(), platform::Image::named("ProgressBar1.png"));
    EXPECT_EQ(strip->animationImages().back(), platform::Image::named("ProgressBar19.png"));
    EXPECT_DOUBLE_EQ(strip->animationDuration(), 15.0);
    EXPECT_EQ(strip->animationRepeatCount(), 1);
    EXPECT_TRUE(strip->isAnimating());
    EXPECT_EQ(strip->frame().size, (platform::Size{161, 16}));
}

TEST_F(Popup, PhonePortraitLayoutAndCloseButton) {
    serve(kPopUpPath, R"({"calledApp":[{"adStatus":true,"adNetStatus":false}],
        "adsData":[{"appIdentity":"x://","imageLink":"{{base}}/promo/images/popup-1.png","id":"41"}]})");
    start();
    ASSERT_TRUE(waitFor([&] { return popUp_->popStatus() == promo::PopupController::kPromotionShown; }));
    auto button = popUp_->viewWithTag(promo::PopupController::kPromotionButtonTag);
    ASSERT_NE(button, nullptr);
    platform::Button* close = nullptr;
    for (const auto& v : popUp_->subviews())
        if (auto b = std::dynamic_pointer_cast<platform::Button>(v); b && b != button)
            close = b.get();
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->frame(), platform::Rect(244, 96, 76, 75));
    EXPECT_EQ(button->frame().size, (platform::Size{310, 260}));
    close->sendActionsForControlEvents(platform::ControlEvent::TouchUpInside);
    EXPECT_EQ(recorder_->calls, std::vector<bool>{false});
}

} // namespace
} // namespace promotest
