// JSON ads: the reply parsed into the ad model, the container's cross-fades, the image
// download with its failures, and an image ad shown and tapped through the ad view, against
// the loopback services.
#include "MeridianTestSupport.h"

#include "meridian/MRJSONAd.h"
#include "meridian/MRJSONAdView.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/ui/Image.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"

using namespace meridiantest;
using meridian::MRJSONAd;
using meridian::MRJSONAdView;

namespace {

constexpr std::string_view kImagePath = "/meridian/image.png";
constexpr std::string_view kLandingPath = "/meridian/landing";

platform::Data bytesOf(std::string_view text) {
    return platform::Data(text.begin(), text.end());
}

std::string pngBytes(int width, int height, std::uint8_t red) {
    auto png = platform::Image::solid(width, height, red, 0, 0)->pngRepresentation();
    return std::string(png.begin(), png.end());
}

class RecordingJSONDelegate : public meridian::MRJSONAdViewDelegate {
public:
    explicit RecordingJSONDelegate(Events events) : events_(std::move(events)) {}
    void jsonAdViewTransitionAnimationWillBegin(MRJSONAdView&) override { events_->push_back("begin"); }
    void jsonAdViewTransitionAnimationDidEnd(MRJSONAdView&) override { events_->push_back("end"); }
    void jsonAdViewWasTapped(MRJSONAdView&, const platform::URLRequest& r) override {
        events_->push_back("tapped:" + r.url().absoluteString());
    }
    void jsonAdViewWantsToMoveToTheFront(MRJSONAdView&) override { events_->push_back("front"); }
    void jsonAdViewRequestSucceeded(MRJSONAdView&) override { events_->push_back("succeeded"); }
    void jsonAdViewRequestFailed(MRJSONAdView&) override { events_->push_back("failed"); }

private:
    Events events_;
};

class MeridianJSONAd : public MeridianFixture {
protected:
    MeridianJSONAd() {
        serveImage(200, pngBytes(4, 3, 255));
        services.handle("GET", std::string(kLandingPath), [](const services::LoggedRequest&) {
            return services::ServiceReply{200, "<p>landing</p>", "text/html", {}};
        });
    }
    void serveImage(int status, std::string body) {
        services.handle("GET", std::string(kImagePath), [status, body](const services::LoggedRequest&) {
            return services::ServiceReply{status, body, "image/png", {}};
        });
    }
    std::string imageReply() {
        return R"({"type":"image","meta-data":{"k":"v"},"image":{"content-url":")" +
               services.url(kImagePath) + R"(","tap-through":")" + services.url(kLandingPath) + R"("}})";
    }
    std::shared_ptr<MRJSONAdView> container() {
        recorder = std::make_shared<RecordingJSONDelegate>(events);
        return MRJSONAdView::create(platform::Rect(0, 0, 320, 50), recorder);
    }
    bool settled(std::size_t outcomes) {
        return waitFor([&] {
            return countOf(*events, "succeeded") + countOf(*events, "failed") >= outcomes &&
                   platform::URLConnection::runningCount() == 0;
        });
    }

    std::shared_ptr<RecordingJSONDelegate> recorder;
};

} // namespace

TEST_F(MeridianJSONAd, RepliesParseIntoTheModel) {
    struct Case {
        std::string name;
        std::string json;
        std::function<void(const MRJSONAd&)> check;
    };
    const Case cases[] = {
        {"image",
         R"({"type":"image","meta-data":{"a":1},"image":{"content-url":"http://img.test/a.png",
             "tap-through":"http://land.test/?q=1","will-open":"browser","expands":true,"interstitial":false}})",
         [](const MRJSONAd& ad) {
             EXPECT_EQ(ad.adType(), MRJSONAd::kImageAd);
             ASSERT_TRUE(ad.imageContentURL());
             EXPECT_EQ(ad.imageContentURL()->absoluteString(), "http://img.test/a.png");
             ASSERT_TRUE(ad.imageTapThroughURL());
             EXPECT_EQ(ad.imageTapThroughURL()->absoluteString(), "http://land.test/?q=1");
             EXPECT_EQ(ad.imageWillOpenApp(), "browser");
             EXPECT_TRUE(ad.doesImageExpand());
             EXPECT_FALSE(ad.isImageInterstitial());
             EXPECT_EQ(ad.logMetaData(), (platform::Dictionary{{"a", 1}}));
         }},
        {"image-without-object", R"({"type":"image"})",
         [](const MRJSONAd& ad) {
             EXPECT_EQ(ad.adType(), MRJSONAd::kImageAd);
             EXPECT_FALSE(ad.imageContentURL());
             EXPECT_FALSE(ad.imageTapThroughURL());
             EXPECT_TRUE(ad.logMetaData().empty());
         }},
        {"wrong-kinds", R"({"type":"image","meta-data":"x","image":{"content-url":5,"expands":"yes"}})",
         [](const MRJSONAd& ad) {
             EXPECT_EQ(ad.adType(), MRJSONAd::kImageAd);
             EXPECT_FALSE(ad.imageContentURL());
             EXPECT_FALSE(ad.doesImageExpand());
             EXPECT_TRUE(ad.logMetaData().empty());
         }},
        {"video",
         R"({"type":"video","video":{"id":"v1","content-url":"http://vid.test/v.mp4","showVideoPlayerControls":true,
             "showCountdownHUD":true,"height":240,"width":320,"duration":15.5,"startActivity":"http://t.test/s",
             "endActivity":["http://t.test/e"],"log":[{"time":"1","urls":["http://t.test/l"]}],
             "onCompletion":{"stayInPlayer":true}}})",
         [](const MRJSONAd& ad) {
             EXPECT_EQ(ad.adType(), MRJSONAd::kVideoAd);
             EXPECT_EQ(ad.videoId(), "v1");
             EXPECT_TRUE(ad.showControls());
             EXPECT_TRUE(ad.showCountdownHUD());
             EXPECT_DOUBLE_EQ(ad.videoHeight(), 240);
             EXPECT_DOUBLE_EQ(ad.videoDuration(), 15.5);
             // A string where a list belongs is no list.
             EXPECT_FALSE(ad.startActivity());
             ASSERT_TRUE(ad.endActivity());
             EXPECT_EQ(ad.endActivity()->size(), 1u);
             ASSERT_TRUE(ad.onCompletion());
             EXPECT_EQ(ad.controlStyle(), 0);
         }},
        {"unknown-type", R"({"type":"banner","image":{"content-url":"http://img.test/a.png"}})",
         [](const MRJSONAd& ad) {
             EXPECT_EQ(ad.adType(), MRJSONAd::kNoAd);
             EXPECT_FALSE(ad.imageContentURL());
         }},
        {"missing-type", R"({"image":{"content-url":"http://img.test/a.png"}})",
         [](const MRJSONAd& ad) { EXPECT_EQ(ad.adType(), MRJSONAd::kNoAd); }},
        {"type-not-text", R"({"type":1})",
         [](const MRJSONAd& ad) { EXPECT_EQ(ad.adType(), MRJSONAd::kNoAd); }},
        {"malformed", R"({"type":"image",)",
         [](const MRJSONAd& ad) { EXPECT_EQ(ad.adType(), MRJSONAd::kNoAd); }},
        {"not-an-object", R"(["image"])",
         [](const MRJSONAd& ad) { EXPECT_EQ(ad.adType(), MRJSONAd::kNoAd); }},
        {"not-utf8", "\xff\xfe", [](const MRJSONAd& ad) { EXPECT_EQ(ad.adType(), MRJSONAd::kNoAd); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MRJSONAd ad(bytesOf(c.json), {});
        c.check(ad);
    }
}

TEST_F(MeridianJSONAd, ArchivedAdsKeepTheKindOfEveryValue) {
    // Each value of the reply's meta-data, lists and completion comes back from the archive
    // as the same kind: booleans are no integers and whole reals no integers.
    const std::string reply = R"({"type":"video","meta-data":{"flag":true,"off":false,"ratio":1.0,"minus":-2.0,
        "count":1,"zero":0,"half":2.5,"text":"1","nested":{"list":[true,0,0.0,"x"]}},
        "video":{"id":"v1","log":[{"time":1.0,"urls":[]},{"time":2}],"endActivity":[false,3.0],
        "onCompletion":{"stayInPlayer":true,"delay":4.0}}})";
    MRJSONAd ad(bytesOf(reply), {});
    ASSERT_EQ(ad.logMetaData().at("flag"), platform::Value(true));
    ASSERT_EQ(ad.logMetaData().at("ratio"), platform::Value(1.0));

    const auto written = platform::KeyedArchiver::archivedDataWithRootObject(ad);
    auto again = platform::KeyedUnarchiver::unarchiveObjectWithData(written, MRJSONAd::codingClasses());
    auto copy = std::dynamic_pointer_cast<const MRJSONAd>(again);
    ASSERT_NE(copy, nullptr);
    for (const auto& [key, value] : ad.logMetaData()) {
        SCOPED_TRACE(key);
        ASSERT_TRUE(copy->logMetaData().contains(key));
        EXPECT_EQ(copy->logMetaData().at(key).type(), value.type());
        EXPECT_EQ(copy->logMetaData().at(key), value);
    }
    EXPECT_EQ(copy->logMetaData(), ad.logMetaData());
    EXPECT_EQ(copy->logs(), ad.logs());
    EXPECT_EQ(copy->endActivity(), ad.endActivity());
    EXPECT_EQ(copy->onCompletion(), ad.onCompletion());
    // Written again, the copy gives the same archive.
    EXPECT_EQ(platform::KeyedArchiver::archivedDataWithRootObject(*copy), written);
}

TEST_F(MeridianJSONAd, OverlayAnswersAreFixed) {
    MRJSONAd ad(bytesOf(R"({"type":"image"})"), {});
    EXPECT_EQ(ad.overlayTitle(), "Advertisement");
    EXPECT_FALSE(ad.shouldShowModal());
    EXPECT_EQ(ad.modalBorderColor(), platform::Color::blackColor());
    EXPECT_DOUBLE_EQ(ad.alphaForModalBorder(), 1.0);
    EXPECT_FALSE(ad.showTitlebar());
    EXPECT_EQ(ad.titlebarColor(), platform::Color::blackColor());
    EXPECT_EQ(ad.overlayTransition(), std::optional<std::string>("SlideUp"));
    EXPECT_TRUE(ad.showBottomBar());
    EXPECT_TRUE(ad.isBottomBarEnabled());
    EXPECT_DOUBLE_EQ(ad.transitionDuration(), 0.6);
    EXPECT_EQ(ad.openURL(), std::nullopt);
    EXPECT_EQ(ad.description(), R"(MRJSONAd: {"type":"image"})");
}

TEST_F(MeridianJSONAd, FirstTwoImageRepliesCrossfadeThenTheyMoveToTheFront) {
    auto view = container();
    const std::vector<std::vector<std::string>> expected = {
        {"begin", "succeeded", "end"}, {"begin", "succeeded", "end"}, {"front", "succeeded"}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        events->clear();
        view->loadWithAdContents(bytesOf(imageReply()));
        ASSERT_TRUE(settled(1));
        clock.advance(MRJSONAd::kTransitionDuration);
        clock.drain();
        EXPECT_EQ(*events, expected[i]);
        EXPECT_FALSE(view->imageAdView()->isHidden());
        EXPECT_TRUE(view->videoAdView()->isHidden());
        ASSERT_NE(view->getAd(), nullptr);
        EXPECT_EQ(view->getAd()->adType(), MRJSONAd::kImageAd);
    }
    // A reply without a usable ad is reported and cross-fades (it is another type).
    events->clear();
    view->loadWithAdContents(bytesOf(R"({"type":"video","video":{}})"));
    clock.advance(MRJSONAd::kTransitionDuration);
    EXPECT_EQ(*events, (std::vector<std::string>{"failed", "begin", "end"}));
}

TEST_F(MeridianJSONAd, BadImagesFailAndKeepThePictureOnScreen) {
    struct Case {
        std::string name;
        std::function<void()> serve;
        bool noAddress;
    };
    const Case cases[] = {
        {"not-found", [&] { serveImage(404, pngBytes(2, 2, 9)); }, false},
        {"server-error", [&] { serveImage(500, pngBytes(2, 2, 9)); }, false},
        {"empty", [&] { serveImage(200, ""); }, false},
        {"not-a-picture", [&] { serveImage(200, "<html>no picture</html>"); }, false},
        {"too-large", [&] { serveImage(200, std::string(3 * 1024 * 1024, 'x')); }, false},
        {"closed",
         [&] { services.setFault(std::string(kImagePath), services::Fault::closeConnection().onlyTimes(1)); },
         false},
        {"no-address", [] {}, true},
    };
    auto view = container();
    view->loadWithAdContents(bytesOf(imageReply()));
    ASSERT_TRUE(settled(1));
    ASSERT_EQ(countOf(*events, "succeeded"), 1u);
    auto shown = view->imageAdView()->imageView()->image();
    ASSERT_NE(shown, nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        events->clear();
        c.serve();
        view->loadWithAdContents(bytesOf(c.noAddress ? std::string(R"({"type":"image"})") : imageReply()));
        ASSERT_TRUE(settled(1));
        clock.drain();
        EXPECT_EQ(countOf(*events, "failed"), 1u);
        EXPECT_EQ(countOf(*events, "succeeded"), 0u);
        EXPECT_EQ(view->imageAdView()->imageView()->image(), shown);
    }
}

TEST_F(MeridianJSONAd, ALaterPictureFadesInOverTheFirst) {
    auto view = container();
    view->loadWithAdContents(bytesOf(imageReply()));
    ASSERT_TRUE(settled(1));
    auto first = view->imageAdView()->imageView()->image();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->size(), (platform::Size{4, 3}));
    EXPECT_EQ(view->imageAdView()->imageView()->layer().animationForKey("animateContents"), nullptr);

    serveImage(200, pngBytes(8, 6, 10));
    view->loadWithAdContents(bytesOf(imageReply()));
    ASSERT_TRUE(settled(2));
    auto fade = view->imageAdView()->imageView()->layer().animationForKey("animateContents");
    ASSERT_NE(fade, nullptr);
    EXPECT_DOUBLE_EQ(fade->duration, 0.75);
    EXPECT_EQ(fade->keyPath, "contents");
    EXPECT_EQ(view->imageAdView()->imageView()->image(), first);
    clock.advance(0.75);
    clock.drain();
    EXPECT_EQ(view->imageAdView()->imageView()->image()->size(), (platform::Size{8, 6}));
}

TEST_F(MeridianJSONAd, TheServicesFullScreenAdShowsItsPicture) {
    auto view = std::static_pointer_cast<meridian::MRGenericAdView>(
        meridian::MRAdView::interstitialWithType(4, std::string("apid-1"), delegate, true));
    ASSERT_TRUE(waitFor([&] { return countOf(*events, "succeeded") + countOf(*events, "failed") > 0; }));
    EXPECT_EQ(*events, std::vector<std::string>{"succeeded"});
    auto ad = view->jsonAdView()->getAd();
    ASSERT_NE(ad, nullptr);
    EXPECT_TRUE(ad->isImageInterstitial());
    ASSERT_TRUE(ad->imageContentURL());
    EXPECT_EQ(ad->imageContentURL()->absoluteString(), services.url("/meridian/images/ad.png"));
    auto picture = view->jsonAdView()->imageAdView()->imageView()->image();
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->size(), (platform::Size{320, 480}));
}

TEST_F(MeridianJSONAd, ImageAdIsShownAndItsTapOpensTheLandingPage) {
    auto window = std::make_shared<platform::Window>(platform::Screen::main().bounds());
    auto root = std::make_shared<platform::View>(window->bounds());
    window->addSubview(root);
    window->makeKeyAndVisible();
    services.handle("GET", std::string(services::kMeridianAdPath), [this](const services::LoggedRequest&) {
        return services::ServiceReply{200, imageReply(), "application/json", {}};
    });
    auto view = banner();
    root->addSubview(view);
    ASSERT_TRUE(waitForEvent("succeeded"));
    ASSERT_TRUE(waitFor([] { return platform::URLConnection::runningCount() == 0; }));
    clock.advance(1);
    EXPECT_TRUE(view->htmlAdView()->isHidden());
    EXPECT_FALSE(view->jsonAdView()->isHidden());
    ASSERT_NE(view->jsonAdView()->imageAdView()->imageView()->image(), nullptr);

    events->clear();
    auto hit = platform::Application::shared().simulateTap({10, 10}, window);
    EXPECT_EQ(hit, view->jsonAdView()->imageAdView());
    EXPECT_EQ(*events, (std::vector<std::string>{"tapped", "modalWillAppear", "modalDidAppear"}));
    auto overlay = view->overlayView();
    ASSERT_NE(overlay, nullptr);
    EXPECT_TRUE(overlay->showBottomBar());
    EXPECT_FALSE(overlay->showTitlebar());
    EXPECT_EQ(overlay->transition(), std::optional<std::string>("SlideUp"));
    EXPECT_DOUBLE_EQ(overlay->transitionDuration(), 0.6);
    ASSERT_TRUE(waitFor(
        [&] { return services.requestCount(kLandingPath) == 1 && !overlay->webView()->isLoading(); }));
    overlay->close();
    EXPECT_EQ(events->back(), "modalDismissed");
    window->setHidden(true);
}

TEST_F(MeridianJSONAd, PictureBytesShowAsADownloadWouldWithoutAReport) {
    auto view = container();
    auto image = view->imageAdView();
    auto data = [](std::string bytes) { return platform::Data(bytes.begin(), bytes.end()); };
    // Bytes that are no picture change nothing.
    EXPECT_FALSE(image->loadWithData(data("not a picture")));
    EXPECT_EQ(image->imageView()->image(), nullptr);
    // The first picture shows at once; a later one fades in over it.
    ASSERT_TRUE(image->loadWithData(data(pngBytes(4, 3, 255))));
    ASSERT_NE(image->imageView()->image(), nullptr);
    EXPECT_EQ(image->imageView()->image()->size(), (platform::Size{4, 3}));
    EXPECT_EQ(image->imageView()->layer().animationForKey("animateContents"), nullptr);
    ASSERT_TRUE(image->loadWithData(data(pngBytes(8, 6, 10))));
    ASSERT_NE(image->imageView()->layer().animationForKey("animateContents"), nullptr);
    clock.advance(0.75);
    clock.drain();
    EXPECT_EQ(image->imageView()->image()->size(), (platform::Size{8, 6}));
    EXPECT_FALSE(image->loadWithData(data("")));
    EXPECT_EQ(image->imageView()->image()->size(), (platform::Size{8, 6}));
    EXPECT_TRUE(events->empty());
}
