// Movies a page asks for: played over the ad from the ad's folder or the web, ended by the
// Done button or by the movie's own end; files outside the ad's folder are refused.
#include <gtest/gtest.h>

#include "AdDisplayFixture.h"
#include "platform/media/MoviePlayerView.h"

namespace richmediatest {
namespace {

class MovieTest : public ShownBannerFixture {
protected:
    void SetUp() override {
        storeBanner("ad-1");
        std::filesystem::copy_file(std::filesystem::path(FW_FIXTURES_DIR) / "meridian" / "videos" / "spot.avi",
                                   cacheFolder() / "ad-1" / "clip.avi");
        showBanner();
    }
};

TEST_F(MovieTest, PageMoviePlaysOverTheAdUntilDone) {
    EXPECT_FALSE(command("mrbridge:playVideo?videoURL=clip.avi&videoKey=intro"));
    EXPECT_EQ(number(*c->event(), "MRPlayVideo_intro"), 1);
    auto player = c->embeddedMoviePlayer();
    ASSERT_TRUE(player);
    EXPECT_EQ(player->contentURL()->absoluteString(),
              platform::URL::fileURL(cacheFolder() / "ad-1" / "clip.avi").absoluteString());
    EXPECT_TRUE(player->view()->isDescendantOf(c->view().get()));
    ASSERT_TRUE(c->navBar());
    EXPECT_TRUE(c->navBar()->isDescendantOf(c->view().get()));
    // The spinner turns on the black background behind the movie until it ends.
    auto spinner = c->activityInd();
    ASSERT_TRUE(spinner);
    EXPECT_TRUE(spinner->isAnimating());
    EXPECT_FALSE(spinner->isHidden());
    EXPECT_EQ(spinner->activityIndicatorViewStyle(), platform::ActivityIndicatorViewStyle::WhiteLarge);
    EXPECT_EQ(spinner->center(), spinner->superview()->center());
    c->doneButtonAction();
    EXPECT_FALSE(spinner->isAnimating());
    EXPECT_FALSE(c->activityInd());
    EXPECT_FALSE(c->embeddedMoviePlayer());
    EXPECT_FALSE(player->view()->superview());
    EXPECT_FALSE(c->navBar());
}

TEST_F(MovieTest, MovieEndTakesThePlayerAway) {
    EXPECT_FALSE(command("mrbridge:playVideo?videoURL=clip.avi"));
    EXPECT_EQ(number(*c->event(), "MRPlayVideo_clip.avi"), 1);
    auto player = c->embeddedMoviePlayer();
    ASSERT_TRUE(player);
    for (int i = 0; i < 600 && c->embeddedMoviePlayer(); ++i) {
        clock.runUntil([] { return false; }, 0.01);
        clock.advance(0.1);
    }
    EXPECT_FALSE(c->embeddedMoviePlayer());
    EXPECT_FALSE(player->view()->superview());
}

TEST_F(MovieTest, MoviesOutsideTheAdFolderAreRefused) {
    for (const char* url : {"mrbridge:playVideo?videoURL=..%2F..%2Fsecret.avi",
                            "mrbridge:playVideo?videoURL=file%3A%2F%2F%2Fetc%2Fpasswd"}) {
        SCOPED_TRACE(url);
        EXPECT_FALSE(command(url));
        EXPECT_FALSE(c->embeddedMoviePlayer());
    }
}

TEST_F(MovieTest, MovieInterstitialPlaysTheAdsMovie) {
    storeAd("movie", {{"mainFile", "clip.avi"}, {"width", 480}, {"height", 320}, {"adSlotType", 7},
                      {"avcClassName", kControllerClass}});
    std::filesystem::copy_file(cacheFolder() / "ad-1" / "clip.avi", cacheFolder() / "movie" / "clip.avi");
    auto movie = std::make_shared<vellum::VellumAdView>();
    movie->setAdSlotType(7);
    window->addSubview(movie);
    ASSERT_TRUE(movie->loadAdWithID("movie", std::nullopt));
    movie->displayInterstitial();
    auto player = movie->adVC()->embeddedMoviePlayer();
    ASSERT_TRUE(player);
    EXPECT_EQ(player->contentURL()->absoluteString(),
              platform::URL::fileURL(cacheFolder() / "movie" / "clip.avi").absoluteString());
    movie->adVC()->doneButtonAction();
}

} // namespace
} // namespace richmediatest
