// The wallpaper promotion against the loopback promotion service: request, reply, choice,
// picture, reports and the host's cues.
#include "PromoTestSupport.h"

#include <cmath>

#include "platform/ui/Animation.h"
#include "platform/ui/Button.h"
#include "platform/ui/Event.h"
#include "promo/PromotionService.h"
#include "promo/WallpaperPromotion.h"

namespace promotest {
namespace {

constexpr const char* kRequestPath = "/wallPopUp/wallPopUp.php";
constexpr const char* kImpressionPath = "/wallPopUp/updateImpression.php";
constexpr const char* kClickPath = "/wallPopUp/c_wallPromotion.php";

std::string entry(const char* id, const char* image) {
    return std::string("{\"appIdentity\":\"") + id + "://\",\"imageLink\":\"{{base}}/promo/images/" + image +
           "\",\"appId\":\"" + id + "\",\"appLink\":\"http://store.example/" + id + "\"}";
}

struct WallpaperHost : promo::WallpaperPromotionDelegate {
    int shown = 0, hidden = 0;
    std::vector<std::string> loaded;
    void showAd(promo::WallpaperPromotion&) override { ++shown; }
    void hideAd(promo::WallpaperPromotion&) override { ++hidden; }
    void isAllDataLoaded(const std::string& appLink) override { loaded.push_back(appLink); }
};

class Wallpaper : public PromoTest {
protected:
    ~Wallpaper() override { promo::setMachineIdentifierForTesting({}); }
    std::shared_ptr<promo::WallpaperPromotion> start() {
        promotion_ = std::make_shared<promo::WallpaperPromotion>();
        promotion_->setDelegate(host_);
        promotion_->showAdForPremiumApp();
        return promotion_;
    }
    std::shared_ptr<platform::Button> subviewButton(std::size_t index) {
        const auto& subs = promotion_->subviews();
        return index < subs.size() ? std::dynamic_pointer_cast<platform::Button>(subs[index]) : nullptr;
    }
    std::shared_ptr<WallpaperHost> host_ = std::make_shared<WallpaperHost>();
    std::shared_ptr<promo::WallpaperPromotion> promotion_;
};

TEST_F(Wallpaper, ShowsTheEntryThatIsNotInstalledAndReportsIt) {
    promo::setMachineIdentifierForTesting("iPhone2,1"); // "iPhone 3CB"
    platform::Application::shared().setInstalledSchemes({"appa", "appc"});
    serve(kRequestPath, "{\"dataTable\":[" + entry("appa", "news-1.png") + "," + entry("appb", "wallpaper-1.png") +
                            "," + entry("appc", "news-2.png") + "]}");
    start();
    ASSERT_TRUE(waitFor([&] { return promotion_->isAdLoaded(); }));
    EXPECT_EQ(services_.requestsTo(kRequestPath).at(0).queryValue("is4G"), "0");
    ASSERT_EQ(promotion_->promotionDataArray().size(), 1u);
    EXPECT_EQ(host_->loaded, std::vector<std::string>{"http://store.example/appb"});
    EXPECT_NE(promotion_->promotionalImage(), nullptr);

    // The picture over the whole view, then the close button.
    auto picture = subviewButton(0), close = subviewButton(1);
    ASSERT_NE(picture, nullptr);
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(picture->frame(), platform::Rect(0, 0, 320, 480));
    EXPECT_EQ(picture->currentBackgroundImage(), promotion_->promotionalImage());
    EXPECT_DOUBLE_EQ(close->frame().x(), 244);
    EXPECT_NEAR(close->frame().y(), 1.6, 1e-6);
    EXPECT_EQ(close->frame().size, (platform::Size{100, 50}));
    EXPECT_NE(close->currentImage(), nullptr) << "Cross.png";

    // The host shows it: one impression for the chosen entry.
    auto screen = std::make_shared<platform::View>(platform::Rect(0, 0, 320, 480));
    promotion_->showView(promotion_, *screen, 0);
    ASSERT_TRUE(waitFor([&] { return services_.requestCount(kImpressionPath) == 1; }));
    EXPECT_EQ(services_.requestsTo(kImpressionPath)[0].queryValue("appId"), "appb");
    EXPECT_EQ(promotion_->superview().get(), screen.get());

    // A touch on the picture reports the click, then opens the link half a second later.
    picture->sendActionsForControlEvents(platform::ControlEvent::TouchDown);
    ASSERT_TRUE(waitFor([&] { return services_.requestCount(kClickPath) == 1; }));
    EXPECT_EQ(services_.requestsTo(kClickPath)[0].queryValue("appId"), "appb");
    clock_.advance(0.49);
    EXPECT_TRUE(platform::Application::shared().openedURLs().empty());
    clock_.advance(0.02);
    EXPECT_EQ(platform::Application::shared().openedURLs(), std::vector<std::string>{"http://store.example/appb"});

    // The close button and showAdNow only cue the host.
    close->sendActionsForControlEvents(platform::ControlEvent::TouchUpInside);
    promotion_->showAdNow();
    EXPECT_EQ(host_->hidden, 1);
    EXPECT_EQ(host_->shown, 1);
}

TEST_F(Wallpaper, NothingToShowLeavesTheViewEmptyAndTheHostUninformed) {
    promo::setMachineIdentifierForTesting("iPhone3,1");
    platform::Application::shared().setInstalledSchemes({"appa"});
    struct Case {
        const char* name;
        std::string reply;
    };
    const Case cases[] = {
        {"every application installed", "{\"dataTable\":[" + entry("appa", "news-1.png") + "]}"},
        {"picture missing", "{\"dataTable\":[" + entry("appb", "missing.png") + "]}"},
        {"picture not an image", "{\"dataTable\":[" + entry("appb", "notapicture.png") + "]}"},
        {"no table", "{\"other\":[]}"},
        {"not JSON", "<html>"},
    };
    serve("/promo/images/notapicture.png", "{}");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        serve(kRequestPath, c.reply);
        std::size_t before = services_.requestCount(kRequestPath);
        start();
        ASSERT_TRUE(waitFor([&] { return services_.requestCount(kRequestPath) > before; }));
        waitFor([] { return promo::backgroundImageDownloadsInFlight() == 0; });
        waitFor([&] { return false; }, 0.3);
        clock_.drain();
        EXPECT_FALSE(promotion_->isAdLoaded());
        EXPECT_TRUE(promotion_->subviews().empty());
        EXPECT_TRUE(host_->loaded.empty());
    }
    EXPECT_EQ(services_.requestsTo(kRequestPath).back().queryValue("is4G"), "1");
    // A tap with no picture reports nothing.
    promotion_->getItNow();
    waitFor([&] { return false; }, 0.2);
    EXPECT_EQ(services_.requestCount(kClickPath), 0u);
}

// The slide view: the upgrade image with a shine strip that slides across it once, 7 to 20 s
// after creation, and again 5 s after loadShineEffect; a touch calls back.
TEST_F(Wallpaper, SlideViewShinesAcrossItsImageAndCallsBackOnTouch) {
    int taps = 0;
    auto slide = std::make_shared<promo::SlideView>(platform::Rect(10, 20, 140, 40), [&] { ++taps; });
    auto image = platform::Image::named("upgradeButton.png");
    ASSERT_NE(image, nullptr);
    double width = image->size().width, height = image->size().height;
    EXPECT_DOUBLE_EQ(promo::SlideView::textWidth(), width);
    auto mask = slide->maskLayer();
    ASSERT_NE(mask, nullptr);
    EXPECT_EQ(mask->frame(), platform::Rect(-10 - width, 0, 2 * width, height));

    auto shine = mask->layer().animationForKey("slideAnim");
    ASSERT_NE(shine, nullptr);
    EXPECT_EQ(shine->keyPath, "position.x");
    EXPECT_TRUE(shine->additive);
    EXPECT_EQ(std::get<double>(shine->by), width);
    EXPECT_DOUBLE_EQ(shine->duration, 1.0);
    EXPECT_DOUBLE_EQ(shine->repeatCount, 1);
    EXPECT_GE(shine->beginTime, 7.0);
    EXPECT_LE(shine->beginTime, 20.0);
    EXPECT_EQ(shine->beginTime, std::floor(shine->beginTime)) << "whole seconds";

    slide->loadShineEffect();
    auto again = mask->layer().animationForKey("slideAnim");
    ASSERT_NE(again, nullptr);
    EXPECT_DOUBLE_EQ(again->beginTime, 5.0);

    platform::Event touch(platform::Event::Type::Touches, 0);
    slide->touchesBegan({}, touch);
    EXPECT_EQ(taps, 1);
}

} // namespace
} // namespace promotest
