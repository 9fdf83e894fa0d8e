// The script library's loading against real images from the loopback services: the page's
// load waits for the page's images and for those the ad lists in its setup options, the load
// functions run then, and the ad's own load handler waits for the display.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "TangentTestSupport.h"
#include "services/ServiceHost.h"
#include "support/LoopbackServices.h"
#include "support/ManualClockScope.h"
#include "support/TemporaryHome.h"
#include "tangent/TGAdView.h"
#include "tangent/TGDelegateAdaptor.h"

using namespace tangent;

namespace {

struct NullListener : TGStateListener {
    void tgAdViewDidUpdateSyncState(TGAdView&, int) override {}
    void tgAdViewDidTransitionFromViewState(TGAdView&, int, int, const std::optional<platform::Error>&) override {}
};

std::string picture() {
    std::ifstream in(services::ServiceHost::defaultFixturesDir() + "/meridian/images/ad.png", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(TangentLantern, LoadWaitsForThePagesAndTheListedImagesAndTheAdsOwnOnloadForTheDisplay) {
    fwtest::TemporaryHome home;
    fwtest::ManualClockScope clock;
    fwtest::LoopbackServices services;
    const std::string png = picture();
    ASSERT_FALSE(png.empty());
    // The page's image and the listed one are each held on the server until the test lets
    // them go; the listed one then fails, which ends its wait as well.
    tangenttest::Gate pageImage;
    tangenttest::Gate listedImage;
    services.handle("GET", "/img/page.png", [&](const services::LoggedRequest&) {
        pageImage.wait();
        return services::ServiceReply{200, png, "image/png", {}};
    });
    services.handle("GET", "/img/listed.png", [&](const services::LoggedRequest&) {
        listedImage.wait();
        return services::ServiceReply{404, "", "text/plain", {}};
    });
    const std::string markup =
        "<img id='pic' src='" + services.url("/img/page.png") +
        "'><script>"
        "Lantern.adSetupOptions = {preloadImages: ['" + services.url("/img/listed.png") + "']};"
        "window.onload = function () { window.ownLoad = (window.ownLoad || 0) + 1; };"
        "Lantern.doOnLoad(function () { window.loadFunction = 'ran'; });"
        "</script>";
    auto listener = std::make_shared<NullListener>();
    auto ad = TGAdView::create({0, 0, 320, 50}, std::make_shared<TGDelegateAdaptorImmutable>(), listener);
    ASSERT_TRUE(ad->loadAdContent(markup));
    auto step = [&](const std::function<bool()>& done) {
        return clock.runUntil([&] {
            clock.advance(0.02);
            return done();
        });
    };
    ASSERT_TRUE(step([&] { return pageImage.arrived() >= 1 && listedImage.arrived() >= 1; }));
    ASSERT_TRUE(step([&] { return ad->actualViewState() == loadingState; })); // "preload" arrived

    // Well past the library's 100 ms fallback: nothing has loaded while both images are out.
    clock.advance(1.0);
    EXPECT_EQ(ad->actualViewState(), loadingState);
    EXPECT_EQ(ad->evalJS("String(window.loadFunction)"), "undefined");
    EXPECT_EQ(ad->evalJS("String(Lantern.pendingImages)"), "2");

    pageImage.release();
    ASSERT_TRUE(step([&] { return ad->evalJS("String(Lantern.pendingImages)") == "1"; }));
    clock.advance(1.0);
    EXPECT_EQ(ad->actualViewState(), loadingState);
    EXPECT_EQ(ad->evalJS("String(window.loadFunction)"), "undefined");

    listedImage.release();
    ASSERT_TRUE(step([&] { return ad->actualViewState() == loadedState; }));
    EXPECT_EQ(ad->evalJS("window.loadFunction"), "ran");
    // A load function given after the load runs at once.
    EXPECT_EQ(ad->evalJS("Lantern.doOnLoad(function () { window.late = 'ran'; }); window.late"), "ran");
    // The ad's own load handler waits for the display, and runs once.
    EXPECT_EQ(ad->evalJS("String(window.ownLoad)"), "undefined");
    ad->evalJS("Lantern.beginDisplay();");
    EXPECT_EQ(ad->evalJS("String(window.ownLoad)"), "1");
    ad->evalJS("Lantern.beginDisplay();");
    EXPECT_EQ(ad->evalJS("String(window.ownLoad)"), "1");
    ad->endDisplay();
}
