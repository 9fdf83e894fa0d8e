// The ad view and its display against the embedded ad service: a banner draws its ad, reports
// its impression and fetches the next one; the refresh rules; a tap opening the landing page
// in the full-screen window and the way back; a banner expanding into the window; the
// full-screen slot's interstitial with its menu and its sound.
#include <algorithm>
#include <cmath>
#include <functional>
#include <tuple>

#include "CobaltTestSupport.h"
#include "cobalt/CBAdManager.h"
#include "cobalt/CBAdView.h"
#include "cobalt/CBAudioEngine.h"
#include "cobalt/CBCodecs.h"
#include "cobalt/CBDatabase.h"
#include "cobalt/CBFullScreenAdController.h"
#include "cobalt/CBFullScreenAdWindow.h"
#include "cobalt/CBJavascriptBridge.h"
#include "cobalt/CBResources.h"
#include "cobalt/CBUtil.h"
#include "platform/foundation/Error.h"
#include "platform/media/AudioPlayer.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Application.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Button.h"
#include "platform/ui/Device.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/Screen.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/TextRenderer.h"
#include "platform/ui/Window.h"
#include "services/CobaltEndpoints.h"
#include "support/LoopbackServices.h"

namespace {

using namespace cobalt;
namespace fs = std::filesystem;

struct RecordingDelegate : CobaltDelegate {
    std::vector<std::string> events;
    void cobaltAdReadyForSlotNamed(const std::string& name) override { events.push_back("ready:" + name); }
    void cobaltFullScreenDisplayWillOpen() override { events.push_back("willOpen"); }
    void cobaltFullScreenDisplayWillClose() override { events.push_back("willClose"); }
    std::size_t count(const std::string& event) const { return std::count(events.begin(), events.end(), event); }
};

class AdViewTest : public cobalttest::CobaltTest {
protected:
    AdViewTest() {
        platform::Application::resetForTesting();
        platform::AnimationLog::resetForTesting();
        hostWindow = std::make_shared<platform::Window>(platform::Screen::main().bounds());
        hostRoot = std::make_shared<platform::View>(platform::Screen::main().bounds());
        hostWindow->addSubview(hostRoot);
        hostWindow->makeKeyAndVisible();
    }
    ~AdViewTest() override {
        CBFullScreenAdWindow::resetForTesting();
        CBController::resetForTesting();
        platform::Application::resetForTesting();
        platform::AnimationLog::resetForTesting();
    }

    void launch(const std::vector<std::pair<int, std::string>>& slots) {
        std::vector<std::shared_ptr<CBAdSlotDescription>> descriptions;
        for (const auto& [size, name] : slots)
            descriptions.push_back(CBAdSlotDescription::descriptionWithSize(size, name));
        CBAdEngine::startupWithAppID(std::string("demoapp"), services.url(std::string(services::kCobaltServerPath)),
                                     descriptions);
    }
    std::shared_ptr<CBAdView> showBanner(double refreshInterval = 0) {
        auto view = CBAdView::adViewForSlotNamed("banner", delegate, refreshInterval);
        view->setFrame({{0, 400}, view->frame().size});
        hostRoot->addSubview(view);
        return view;
    }
    std::shared_ptr<CBAdSlot> slot(const std::string& name) const {
        return CBController::existing()->adManager()->slotForName(name);
    }
    // Waits until the banner has drawn an ad and the next one has been downloaded.
    bool waitForDrawnAndNext(const std::shared_ptr<CBAdView>& view) {
        return waitFor([&] {
            return view->controller()->hasDisplayedCurrentAd() && slot("banner")->dlTime() != 0 &&
                   slot("banner")->nextAdDlTime() != 0 && !view->controller()->isRefreshing();
        });
    }
    std::string pageText(const std::shared_ptr<CBAdViewInternal>& c) {
        return c->webView()->stringByEvaluatingJavaScriptFromString("document.body.innerHTML");
    }
    // Lets animations and the window's delayed mark run out.
    void settle(double seconds = 2.0) {
        for (double t = 0; t < seconds; t += 0.1) {
            platform::RunLoop::main().runOnce(0.002);
            time.advance(0.1);
        }
    }
    static std::size_t animationsNamed(std::string_view name) {
        return platform::AnimationLog::shared().recordsNamed(name).size();
    }

    fwtest::LoopbackServices services;
    services::CobaltService cobaltService{services.host()};
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<platform::Window> hostWindow;
    std::shared_ptr<platform::View> hostRoot;
};

TEST_F(AdViewTest, ABannerDrawsItsAdReportsTheImpressionAndFetchesTheNext) {
    launch({{1, "banner"}});
    auto view = showBanner();
    ASSERT_TRUE(waitForDrawnAndNext(view));
    auto c = view->controller();

    // The ad is in the page, touchable, and the host was told it is ready.
    EXPECT_NE(pageText(c).find("cobalt-ad"), std::string::npos) << pageText(c);
    EXPECT_TRUE(c->view()->isUserInteractionEnabled());
    EXPECT_EQ(delegate->count("ready:banner"), 1u);

    // The impression tracker stored with the ad reached the service.
    ASSERT_TRUE(waitFor([&] { return services.requestCount(services::kCobaltImpressionPath) == 1; }));
    EXPECT_EQ(services.requestsTo(services::kCobaltImpressionPath)[0].queryValue("slot"), "banner");

    // A mere redraw neither counts as a new display nor deletes the ad on screen.
    const auto shown = slot("banner")->dlTime();
    const auto next = slot("banner")->nextAdDlTime();
    const fs::path shownFolder = store() / "Content" / "banner" / std::to_string(shown);
    ASSERT_TRUE(fs::exists(shownFolder));
    view->setNeedsDisplay();
    settle(1.0);
    EXPECT_EQ(slot("banner")->dlTime(), shown);
    EXPECT_EQ(slot("banner")->nextAdDlTime(), next);
    EXPECT_TRUE(fs::exists(shownFolder));
    EXPECT_EQ(services.requestCount(services::kCobaltImpressionPath), 1u);
}

TEST_F(AdViewTest, RefreshRules) {
    launch({{1, "banner"}});
    auto view = showBanner();
    ASSERT_TRUE(waitForDrawnAndNext(view));
    auto c = view->controller();
    const auto first = slot("banner")->dlTime();

    // Intervals: under 5 s is refused, none or negative means no automatic refresh.
    struct IntervalCase {
        double given;
        bool throws;
        double stored;
    };
    for (const IntervalCase& row : {IntervalCase{4.9, true, 0}, IntervalCase{0, false, 0},
                                    IntervalCase{-1, false, 0}, IntervalCase{5.0, false, 5.0}}) {
        c->setRefreshInterval(0);
        if (row.throws) {
            EXPECT_THROW(view->setRefreshInterval(row.given), platform::NamedException) << row.given;
        } else {
            view->setRefreshInterval(row.given);
            EXPECT_EQ(c->refreshInterval(), row.stored) << row.given;
        }
    }

    // A refresh 3 s after the drawing shows nothing.
    c->setRefreshInterval(0);
    time.clock().setNow(c->lastDisplayTime() + 3);
    view->refresh();
    EXPECT_FALSE(c->isRefreshing());
    EXPECT_EQ(slot("banner")->dlTime(), first);

    // With a 30 s interval, a download 10 s after the drawing is shown 20 s later.
    view->setRefreshInterval(30);
    const double drawn = c->lastDisplayTime();
    time.clock().setNow(drawn + 10);
    c->adDownloadedForSlotNamed("banner");
    c->adDownloadedForSlotNamed("banner"); // a second notice replaces the pending request
    time.advance(19.9);
    EXPECT_EQ(slot("banner")->dlTime(), first);
    EXPECT_FALSE(c->isRefreshing());
    time.advance(0.2);
    EXPECT_TRUE(c->isRefreshing());
    ASSERT_TRUE(waitFor([&] { return slot("banner")->dlTime() != first && !c->isRefreshing(); }));
    // The old ad's folder goes once the new one is drawn.
    EXPECT_TRUE(waitFor([&] { return !fs::exists(store() / "Content" / "banner" / std::to_string(first)); }));

    // While the full-screen window shows something, a banner does not start a display. When
    // the window closes within 5 s of the drawing the banner waits; later, the closing itself
    // starts the display.
    ASSERT_TRUE(waitFor([&] { return slot("banner")->nextAdDlTime() != 0; }));
    CBFullScreenAdWindow::shared()->setIsDisplaying(true);
    EXPECT_FALSE(c->display());
    time.clock().setNow(c->lastDisplayTime() + 1);
    CBFullScreenAdWindow::shared()->setIsDisplaying(false);
    EXPECT_FALSE(c->isRefreshing());
    EXPECT_TRUE(c->display());
    ASSERT_TRUE(waitFor([&] { return slot("banner")->nextAdDlTime() != 0 && !c->isRefreshing(); }));

    CBFullScreenAdWindow::shared()->setIsDisplaying(true);
    time.clock().setNow(c->lastDisplayTime() + kCBMinimumRefreshInterval + 1);
    CBFullScreenAdWindow::shared()->setIsDisplaying(false);
    EXPECT_TRUE(c->isRefreshing());
    EXPECT_FALSE(c->display());
}

TEST_F(AdViewTest, ATapOpensTheLandingPageInTheWindowAndDoneBringsTheBannerBack) {
    launch({{1, "banner"}});
    auto view = showBanner();
    ASSERT_TRUE(waitForDrawnAndNext(view));
    auto c = view->controller();
    const auto oldSuperview = c->view()->superview();
    ASSERT_EQ(oldSuperview.get(), view.get());

    const platform::Rect r = view->convertRectTo(view->bounds(), nullptr);
    platform::Application::shared().simulateTap({r.midX(), r.midY()});
    auto window = CBFullScreenAdWindow::shared();
    ASSERT_TRUE(waitFor([&] {
        return services.requestCount(services::kCobaltLandingPath) == 1 && window->isKeyWindow() &&
               !c->isLoading() && animationsNamed(CBFullScreenAdWindow::kExpand) > 0 && window->isUserInteractionEnabled();
    }));

    // The banner's view is in the window, in browser mode with its bar, over a hidden host.
    EXPECT_TRUE(window->isDisplaying());
    EXPECT_EQ(window->contentController(), c);
    EXPECT_EQ(c->view()->superview().get(), window.get());
    EXPECT_TRUE(c->isBrowserMode());
    EXPECT_TRUE(c->isExpanded());
    EXPECT_FALSE(c->navigationBar()->isHidden());
    EXPECT_EQ(c->webView()->frame().origin.y, CBAdViewInternal::kBrowserBarHeight);
    EXPECT_TRUE(hostWindow->isHidden());
    EXPECT_TRUE(platform::Application::shared().isStatusBarHidden());
    EXPECT_EQ(delegate->count("willOpen"), 1u);
    EXPECT_NE(pageText(c).find("Thanks for looking"), std::string::npos);
    // The first landing page has nowhere to go back to.
    EXPECT_FALSE(c->navigationControls()->isEnabledForSegmentAtIndex(0));
    EXPECT_FALSE(c->navigationControls()->isEnabledForSegmentAtIndex(1));
    // The segments are pictures that go by their names: after a link, `tap Back` takes the
    // page back, `tap Forward` on again.
    EXPECT_FALSE(platform::TextRenderer::tap("Back"));
    const std::string first = pageText(c);
    c->webView()->stringByEvaluatingJavaScriptFromString(
        "var more = document.createElement('a'); more.id = 'more'; more.setAttribute('href', '" +
        std::string(services::kCobaltLandingPath) + "?ad=1'); document.body.appendChild(more);");
    ASSERT_TRUE(c->webView()->clickLinkWithId("more"));
    ASSERT_TRUE(
        waitFor([&] { return !c->isLoading() && c->navigationControls()->isEnabledForSegmentAtIndex(0); }));
    const std::string second = pageText(c);
    ASSERT_NE(second, first);
    ASSERT_TRUE(platform::TextRenderer::tap("Back")) << platform::TextRenderer::renderScreen();
    ASSERT_TRUE(
        waitFor([&] { return !c->isLoading() && c->navigationControls()->isEnabledForSegmentAtIndex(1); }));
    EXPECT_EQ(pageText(c), first);
    ASSERT_TRUE(platform::TextRenderer::tap("Forward")) << platform::TextRenderer::renderScreen();
    ASSERT_TRUE(waitFor([&] { return !c->isLoading() && pageText(c) == second; }));

    // A second click-through cannot start while the window is up.
    EXPECT_FALSE(window->markDisplayingIfIdle());

    // Done takes the window down and puts the banner back where it was, transparent until its
    // next ad is drawn.
    auto done = c->navigationItem()->leftBarButtonItem();
    ASSERT_TRUE(done);
    ASSERT_TRUE(done->press());
    settle(1.5);
    EXPECT_EQ(c->view()->superview(), oldSuperview);
    EXPECT_TRUE(c->view()->transform() == platform::AffineTransform::identity());
    EXPECT_EQ(view->alpha(), 0.0);
    EXPECT_FALSE(hostWindow->isHidden());
    EXPECT_TRUE(hostWindow->isKeyWindow());
    EXPECT_FALSE(platform::Application::shared().isStatusBarHidden());
    EXPECT_FALSE(c->isExpanded());
    EXPECT_FALSE(c->isBrowserMode());
    EXPECT_EQ(delegate->count("willClose"), 1u);
    EXPECT_FALSE(window->isDisplaying());

    // The next ad is drawn 3 s after the animated dismissal and the banner shows again.
    ASSERT_TRUE(waitFor([&] { return view->alpha() == 1.0 && c->hasDisplayedCurrentAd() && !c->isRefreshing(); }));
    EXPECT_NE(pageText(c).find("cobalt-ad"), std::string::npos);
}

TEST_F(AdViewTest, ABannerExpandsWithItsContentAndCollapsesBack) {
    launch({{1, "banner"}});
    auto view = showBanner();
    ASSERT_TRUE(waitForDrawnAndNext(view));
    auto c = view->controller();
    c->webView()->stringByEvaluatingJavaScriptFromString(
        "RichAd.adViewWillExpand = function(){window.expanded = (window.expanded || 0) + 1;};"
        "RichAd.adViewDidCollapse = function(){window.collapsed = 1;};");
    const auto transform = platform::AffineTransform::makeScale(0.5, 0.5);
    c->view()->setTransform(transform);

    auto window = CBFullScreenAdWindow::shared();
    c->expand();
    // Expanding marks the window displaying, whoever asked for it.
    EXPECT_TRUE(window->isDisplaying());
    EXPECT_FALSE(window->markDisplayingIfIdle());
    // The content fades out first; the window slides up over 0.8 s.
    auto fade = platform::AnimationLog::shared().recordsNamed(CBFullScreenAdWindow::kContentFadeOut);
    ASSERT_EQ(fade.size(), 1u);
    EXPECT_EQ(fade[0].duration, CBFullScreenAdWindow::kAnimationDuration);
    EXPECT_EQ(animationsNamed(CBFullScreenAdWindow::kExpand), 0u);
    settle(1.0);
    auto slide = platform::AnimationLog::shared().recordsNamed(CBFullScreenAdWindow::kExpand);
    ASSERT_FALSE(slide.empty());
    EXPECT_EQ(slide[0].duration, CBFullScreenAdWindow::kAnimationDuration);
    EXPECT_TRUE(window->isKeyWindow());
    EXPECT_EQ(window->frame(), platform::Screen::main().bounds());
    settle(0.5);
    EXPECT_EQ(c->webView()->stringByEvaluatingJavaScriptFromString("String(window.expanded)"), "1");
    EXPECT_EQ(c->execMode(), 1);

    c->dismissAnimated(true);
    settle(2.0);
    EXPECT_EQ(c->view()->superview().get(), view.get());
    EXPECT_TRUE(c->view()->transform() == transform);
    EXPECT_EQ(animationsNamed(CBFullScreenAdWindow::kContentFadeIn), 1u);
    EXPECT_EQ(view->alpha(), 1.0);
    EXPECT_EQ(c->execMode(), 0);
    EXPECT_EQ(c->webView()->stringByEvaluatingJavaScriptFromString("String(window.collapsed)"), "1");
    EXPECT_FALSE(window->isDisplaying());
}

TEST_F(AdViewTest, TheInterstitialShowsWithItsMenuAndSkipClosesIt) {
    launch({{1, "banner"}, {2, "interstitial"}});
    CBAdEngine::setFullScreenDelegate(delegate, "interstitial");
    ASSERT_TRUE(waitFor([&] { return delegate->count("ready:interstitial") == 1; }));
    const std::size_t servedBefore = cobaltService.adsServed();

    ASSERT_TRUE(CBAdEngine::displayFullScreenAdForSlotNamed("interstitial"));
    auto window = CBFullScreenAdWindow::shared();
    ASSERT_TRUE(waitFor([&] {
        auto content = std::dynamic_pointer_cast<CBFullScreenAdController>(window->contentController());
        return content && window->isKeyWindow() && !content->adLoadingIndicator() && window->isUserInteractionEnabled();
    }));
    auto c = std::dynamic_pointer_cast<CBFullScreenAdController>(window->contentController());
    EXPECT_TRUE(slot("interstitial")->isDisplayed());
    EXPECT_NE(slot("interstitial")->dlTime(), 0);
    EXPECT_TRUE(platform::Application::shared().isStatusBarHidden());
    EXPECT_EQ(delegate->count("willOpen"), 1u);
    EXPECT_NE(pageText(c).find("cobalt-ad"), std::string::npos);
    // Another full-screen display is refused while this one is up.
    EXPECT_FALSE(CBAdEngine::displayFullScreenAdForSlotNamed("interstitial"));

    // The script's menu: its buttons in order, "Skip" last, the button after the menu time.
    c->webView()->stringByEvaluatingJavaScriptFromString(
        "BridgeDisplay.prepareActionSheet();"
        "BridgeDisplay.addButtonToActionSheetCallback('Share', 'window.shared = 1;');"
        "BridgeDisplay.addButtonToActionSheetCallback('Info', 'window.info = 1;');");
    settle(1.0);
    ASSERT_EQ(c->actionSheetButtons().size(), 2u);
    EXPECT_FALSE(c->menuButton() && !c->menuButton()->isHidden());
    settle(CBController::kDefaultMenuDisplayTime);
    ASSERT_TRUE(c->menuButton());
    EXPECT_FALSE(c->menuButton()->isHidden());
    EXPECT_EQ(c->menuButton()->currentTitle(), "Menu");

    ASSERT_TRUE(c->menuButton()->simulateTap());
    auto sheet = c->actionSheet();
    ASSERT_TRUE(sheet);
    ASSERT_EQ(sheet->numberOfButtons(), 3);
    EXPECT_EQ(sheet->buttonTitleAtIndex(0), "Share");
    EXPECT_EQ(sheet->buttonTitleAtIndex(1), "Info");
    EXPECT_EQ(sheet->buttonTitleAtIndex(2), "Skip");

    // "Info" runs its script; the sheet field is cleared as the sheet goes.
    ASSERT_TRUE(sheet->pressButton(1));
    settle(0.5);
    EXPECT_EQ(c->webView()->stringByEvaluatingJavaScriptFromString("String(window.info)"), "1");
    EXPECT_FALSE(c->actionSheet());

    // "Skip": the script agrees and the interstitial closes; its next ad is fetched.
    c->displayActionSheet();
    ASSERT_TRUE(c->actionSheet()->pressButton(2));
    settle(2.0);
    EXPECT_FALSE(window->isDisplaying());
    EXPECT_FALSE(window->contentController());
    EXPECT_FALSE(slot("interstitial")->isDisplayed());
    EXPECT_FALSE(platform::Application::shared().isStatusBarHidden());
    EXPECT_TRUE(hostWindow->isKeyWindow());
    EXPECT_EQ(delegate->count("willClose"), 1u);
    EXPECT_TRUE(waitFor([&] { return cobaltService.adsServed() > servedBefore; }));

    // A menu time of 0 shows the button at once; a negative one never.
    CBController::existing()->setValueForKey("menuDisplayTime", platform::Value(0));
    c->prepareActionSheet();
    ASSERT_TRUE(c->menuButton());
    EXPECT_FALSE(c->menuButton()->isHidden());
    CBController::existing()->setValueForKey("menuDisplayTime", platform::Value(-1));
    c->prepareActionSheet();
    settle(CBController::kDefaultMenuDisplayTime + 1);
    EXPECT_TRUE(c->menuButton()->isHidden());
}

TEST_F(AdViewTest, TheInterstitialPlaysItsSoundFromItsFolderUntilItCloses) {
    launch({{1, "banner"}, {2, "interstitial"}});
    CBAdEngine::setFullScreenDelegate(delegate, "interstitial");
    auto view = showBanner();
    ASSERT_TRUE(waitForDrawnAndNext(view));
    ASSERT_TRUE(waitFor([&] { return delegate->count("ready:interstitial") == 1; }));
    // The banner's page starts the sound engine but stays silent.
    auto engine = CBAudioEngine::sharedAudioEngine();
    ASSERT_TRUE(engine);
    EXPECT_TRUE(engine->currentSoundEffects().empty());

    ASSERT_TRUE(CBAdEngine::displayFullScreenAdForSlotNamed("interstitial"));
    ASSERT_TRUE(waitFor([&] { return !engine->currentSoundEffects().empty(); }));
    // The chime of the ad on screen, in that ad's own folder.
    const fs::path chime = fs::path(CBAdManager::adRootDir()) / "interstitial" /
                           std::to_string(slot("interstitial")->dlTime()) / "chime.wav";
    ASSERT_TRUE(engine->audioCache().contains(chime.string()));
    auto player = engine->audioCache().at(chime.string()).player;
    ASSERT_TRUE(player);
    EXPECT_EQ(engine->currentSoundEffects(), std::vector{player});
    EXPECT_DOUBLE_EQ(player->duration(), 0.25);
    EXPECT_EQ(player->numberOfLoops(), 0);

    // Closing the full-screen display tears the sound engine down.
    auto window = CBFullScreenAdWindow::shared();
    ASSERT_TRUE(waitFor([&] { return window->isUserInteractionEnabled(); }));
    auto c = std::dynamic_pointer_cast<CBFullScreenAdController>(window->contentController());
    ASSERT_TRUE(c);
    c->displayActionSheet();
    ASSERT_TRUE(c->actionSheet()->pressButton(c->actionSheet()->numberOfButtons() - 1)); // "Skip"
    settle(2.0);
    EXPECT_FALSE(window->isDisplaying());
    EXPECT_FALSE(CBAudioEngine::sharedAudioEngine());
    EXPECT_FALSE(player->isPlaying());
}

TEST_F(AdViewTest, AClickThroughThatLeavesTheApplicationEndsWhenItGoesOrFails) {
    launch({{1, "banner"}});
    auto view = showBanner();
    ASSERT_TRUE(waitForDrawnAndNext(view));
    auto c = view->controller();
    auto window = CBFullScreenAdWindow::shared();
    auto& app = platform::Application::shared();
    const auto mail = *platform::URL::parse("mailto:someone@example.com");

    // No application takes the address: the click-through ends at once.
    app.setInstalledSchemes({});
    ASSERT_TRUE(window->markDisplayingIfIdle());
    c->requestPage(mail);
    EXPECT_EQ(app.openedURLs().back(), mail.absoluteString());
    EXPECT_FALSE(window->isDisplaying());
    EXPECT_FALSE(c->isExpanded());

    // One does: the mark stays until the application goes to the background, and the banner
    // is shown afresh on return.
    app.setInstalledSchemes({"mailto"});
    ASSERT_TRUE(window->markDisplayingIfIdle());
    c->requestPage(mail);
    EXPECT_TRUE(window->isDisplaying());
    app.enterBackground();
    EXPECT_FALSE(window->isDisplaying());
    EXPECT_EQ(c->lastDisplayTime(), 0);

    // A page address the engine cannot use ends the click-through too.
    ASSERT_TRUE(window->markDisplayingIfIdle());
    c->bridge()->executeCocoaCommand("bridge_requestURL:\"not a url\"");
    EXPECT_FALSE(window->isDisplaying());
}

TEST_F(AdViewTest, TheWindowHandlesTheStatusBarAndFollowsTheDevice) {
    auto& app = platform::Application::shared();
    auto start = [&](const std::string& statusBarName) {
        CBFullScreenAdWindow::resetForTesting();
        CBController::resetForTesting();
        delegate->events.clear();
        launch({{1, "banner"}, {2, "interstitial"}});
        CBController::existing()->setSbwPropName(statusBarName);
        CBAdEngine::setFullScreenDelegate(delegate, "interstitial");
        return waitFor([&] { return delegate->count("ready:interstitial") == 1; });
    };
    auto show = [&] {
        EXPECT_TRUE(CBAdEngine::displayFullScreenAdForSlotNamed("interstitial"));
        auto window = CBFullScreenAdWindow::shared();
        return waitFor([&] { return window->contentController() && window->isUserInteractionEnabled(); });
    };
    auto close = [&] {
        CBFullScreenAdWindow::shared()->contentController()->dismissAnimated(false);
        settle(0.5);
        return waitFor([&] { return CBAdEngine::isNextAdDownloadedForSlotNamed("interstitial"); });
    };

    // A name the application does not have falls back to the platform's status-bar calls.
    ASSERT_TRUE(start("noSuchWindow"));
    ASSERT_TRUE(show());
    auto window = CBFullScreenAdWindow::shared();
    EXPECT_TRUE(app.isStatusBarHidden());
    EXPECT_FALSE(window->prevStatusBarHidden());
    // Face up keeps the host's current turn; a landscape turn rotates the ad over 0.3 s.
    const auto hostTurn = platform::AffineTransform::makeRotation(0.25);
    hostRoot->setTransform(hostTurn);
    platform::Device::current().setOrientation(platform::DeviceOrientation::FaceUp);
    window->layoutInterfaceWithAnimation(false);
    EXPECT_TRUE(window->contentController()->view()->transform() == hostTurn);
    platform::Device::current().setOrientation(platform::DeviceOrientation::LandscapeLeft);
    EXPECT_TRUE(window->contentController()->view()->transform() == CBUtil::transformForOrientation(3));
    auto turn = platform::AnimationLog::shared().recordsFor(*window->contentController()->view(), "transform");
    ASSERT_FALSE(turn.empty());
    EXPECT_EQ(turn.back().duration, CBFullScreenAdWindow::kRotationDuration);
    ASSERT_TRUE(close());
    EXPECT_FALSE(app.isStatusBarHidden());
    EXPECT_FALSE(platform::Device::current().isGeneratingDeviceOrientationNotifications());
    // A bar hidden before the ad stays hidden after it.
    app.setStatusBarHidden(true);
    ASSERT_TRUE(show());
    ASSERT_TRUE(close());
    EXPECT_TRUE(app.isStatusBarHidden());
    app.setStatusBarHidden(false);
    // The name is kept in the store for later launches: this launch's goes.
    CBController::existing()->database()->sqlExecute("DELETE FROM settings WHERE id=?", {platform::Value("sbw")});

    // The status-bar window the scripts name fades; the platform's bar is left alone.
    ASSERT_TRUE(start("statusBarWindow"));
    ASSERT_TRUE(show());
    EXPECT_EQ(app.statusBarWindow()->alpha(), 0.0);
    EXPECT_FALSE(app.isStatusBarHidden());
    ASSERT_TRUE(close());
    EXPECT_EQ(app.statusBarWindow()->alpha(), 1.0);
}

TEST_F(AdViewTest, UnknownSlotsAndSizesAreRefused) {
    launch({{1, "banner"}});
    EXPECT_THROW(CBAdView::adViewForSlotNamed("nosuchslot", delegate), platform::NamedException);
    for (int size : {0, 6, -1})
        EXPECT_THROW(CBAdView::sizeForCBAdSize(size), platform::NamedException) << size;
    // The registered view is returned again with the new delegate.
    auto first = CBAdView::adViewForSlotNamed("banner", delegate);
    auto other = std::make_shared<RecordingDelegate>();
    EXPECT_EQ(CBAdView::adViewForSlotNamed("banner", other), first);
}

// The way back after the application went to the background and came back, with a landing
// page or an interstitial up: the ad stays up and touchable, the banners leave the window
// alone, and the status bar comes back when the ad goes.
class ForegroundTest : public AdViewTest {
protected:
    // A fresh engine on `profile`, with the adapter's two slots of that device.
    void start(platform::DeviceProfile profile) {
        CBFullScreenAdWindow::resetForTesting();
        CBController::resetForTesting();
        fs::remove_all(store()); // each device starts without stored ads
        platform::Application::resetForTesting();
        platform::Device::setProfile(profile);
        hostWindow = std::make_shared<platform::Window>(platform::Screen::main().bounds());
        hostRoot = std::make_shared<platform::View>(platform::Screen::main().bounds());
        hostWindow->addSubview(hostRoot);
        hostWindow->makeKeyAndVisible();
        delegate->events.clear();
        if (profile == platform::DeviceProfile::Tablet)
            launch({{1, "banner"}, {4, "skyscraper"}});
        else
            launch({{1, "banner"}, {2, "interstitial"}});
    }
    void backgroundAndForeground() {
        auto& app = platform::Application::shared();
        app.enterBackground();
        settle(1.0);
        app.enterForeground();
        settle(1.0);
    }
    void expectWindowShowing(const std::shared_ptr<CBAdViewInternal>& content) {
        auto window = CBFullScreenAdWindow::shared();
        EXPECT_TRUE(window->isDisplaying());
        EXPECT_EQ(window->contentController(), content);
        EXPECT_TRUE(window->isKeyWindow());
        EXPECT_FALSE(window->isHidden());
        EXPECT_EQ(window->alpha(), 1.0);
        EXPECT_TRUE(hostWindow->isHidden());
        EXPECT_TRUE(platform::Application::shared().isStatusBarHidden());
    }
    void expectHostBack() {
        auto window = CBFullScreenAdWindow::shared();
        EXPECT_FALSE(window->isDisplaying());
        EXPECT_FALSE(hostWindow->isHidden());
        EXPECT_TRUE(hostWindow->isKeyWindow());
        EXPECT_FALSE(platform::Application::shared().isStatusBarHidden());
    }
};

TEST_F(ForegroundTest, ALandingPageSurvivesTheBackgroundOnPhoneAndTablet) {
    for (auto profile : {platform::DeviceProfile::Phone, platform::DeviceProfile::Tablet}) {
        SCOPED_TRACE(profile == platform::DeviceProfile::Phone ? "phone" : "tablet");
        start(profile);
        auto view = showBanner();
        ASSERT_TRUE(waitForDrawnAndNext(view));
        auto c = view->controller();
        const platform::Rect r = view->convertRectTo(view->bounds(), nullptr);
        platform::Application::shared().simulateTap({r.midX(), r.midY()});
        auto window = CBFullScreenAdWindow::shared();
        ASSERT_TRUE(waitFor([&] {
            return c->navigationItem()->leftBarButtonItem() && window->isKeyWindow() && !c->isLoading() &&
                   window->isUserInteractionEnabled();
        }));

        backgroundAndForeground();
        expectWindowShowing(c);
        EXPECT_TRUE(c->isBrowserMode());
        EXPECT_EQ(c->view()->superview().get(), window.get());
        EXPECT_EQ(c->view()->alpha(), 1.0);
        EXPECT_NE(pageText(c).find("Thanks for looking"), std::string::npos);

        // Done still leads home, and the bar the ad hid comes back.
        auto done = c->navigationItem()->leftBarButtonItem();
        ASSERT_TRUE(done);
        ASSERT_TRUE(done->press());
        settle(1.5);
        expectHostBack();
        EXPECT_EQ(c->view()->superview().get(), view.get());
        EXPECT_TRUE(waitFor([&] { return view->alpha() == 1.0 && c->hasDisplayedCurrentAd() && !c->isRefreshing(); }));
    }
}

TEST_F(ForegroundTest, AnInterstitialSurvivesTheBackgroundAndTheBannerWaits) {
    start(platform::DeviceProfile::Phone);
    auto view = showBanner();
    ASSERT_TRUE(waitForDrawnAndNext(view));
    CBAdEngine::setFullScreenDelegate(delegate, "interstitial");
    ASSERT_TRUE(waitFor([&] { return delegate->count("ready:interstitial") == 1; }));
    ASSERT_TRUE(CBAdEngine::displayFullScreenAdForSlotNamed("interstitial"));
    auto window = CBFullScreenAdWindow::shared();
    ASSERT_TRUE(waitFor([&] {
        auto content = std::dynamic_pointer_cast<CBFullScreenAdController>(window->contentController());
        return content && window->isKeyWindow() && !content->adLoadingIndicator() && window->isUserInteractionEnabled();
    }));
    auto c = std::dynamic_pointer_cast<CBFullScreenAdController>(window->contentController());
    const auto bannerAd = slot("banner")->dlTime();

    backgroundAndForeground();
    expectWindowShowing(c);
    // The banner under the window was left alone.
    EXPECT_EQ(view->alpha(), 1.0);
    EXPECT_FALSE(view->controller()->isRefreshing());
    EXPECT_EQ(slot("banner")->dlTime(), bannerAd);

    c->displayActionSheet();
    ASSERT_TRUE(c->actionSheet()->pressButton(c->actionSheet()->numberOfButtons() - 1)); // "Skip"
    settle(2.0);
    expectHostBack();
    EXPECT_FALSE(window->contentController());
}

TEST_F(ForegroundTest, WithNoAdUpTheBannersAreToldAndTheBarIsLeftAlone) {
    for (bool barHidden : {false, true}) {
        SCOPED_TRACE(barHidden ? "bar hidden by the host" : "bar shown");
        start(platform::DeviceProfile::Phone);
        auto& app = platform::Application::shared();
        app.setStatusBarHidden(barHidden);
        auto view = showBanner(30);
        ASSERT_TRUE(waitForDrawnAndNext(view));
        auto c = view->controller();
        // With automatic refresh and 40 s since the drawing, the return shows the next ad.
        time.clock().setNow(c->lastDisplayTime() + 40);
        app.enterBackground();
        app.enterForeground();
        EXPECT_TRUE(c->isRefreshing());
        EXPECT_EQ(app.isStatusBarHidden(), barHidden);
        EXPECT_TRUE(hostWindow->isKeyWindow());
    }
}

TEST_F(AdViewTest, ABannerWhoseNextAdCannotBeShownShowsItsAdAgainAndFetchesAnother) {
    launch({{1, "banner"}});
    auto view = showBanner();
    ASSERT_TRUE(waitForDrawnAndNext(view));
    auto c = view->controller();
    const auto shown = slot("banner")->dlTime();
    const auto broken = slot("banner")->nextAdDlTime();
    const fs::path brokenFolder = store() / "Content" / "banner" / std::to_string(broken);
    fs::remove(brokenFolder / "index.html");
    const std::size_t impressions = services.requestCount(services::kCobaltImpressionPath);

    time.clock().setNow(c->lastDisplayTime() + 10);
    view->refresh();
    ASSERT_TRUE(c->isRefreshing());
    EXPECT_EQ(view->alpha(), 0.0);
    ASSERT_TRUE(waitFor([&] { return !c->isRefreshing(); }));

    // The ad shown before is visible and touchable again; the broken one is gone and another
    // is on its way.
    EXPECT_EQ(view->alpha(), 1.0);
    EXPECT_TRUE(c->view()->isUserInteractionEnabled());
    EXPECT_NE(pageText(c).find("cobalt-ad"), std::string::npos);
    EXPECT_EQ(slot("banner")->dlTime(), shown);
    EXPECT_TRUE(waitFor([&] { return !fs::exists(brokenFolder); }));
    ASSERT_TRUE(waitFor([&] {
        const auto next = slot("banner")->nextAdDlTime();
        return next != 0 && next != broken;
    }));
    EXPECT_EQ(services.requestCount(services::kCobaltImpressionPath), impressions);

    // The new ad is drawn at the next refresh.
    const auto fresh = slot("banner")->nextAdDlTime();
    time.clock().setNow(c->lastDisplayTime() + 10);
    view->refresh();
    ASSERT_TRUE(waitFor([&] { return slot("banner")->dlTime() == fresh && !c->isRefreshing(); }));
    EXPECT_EQ(view->alpha(), 1.0);
    EXPECT_TRUE(waitFor([&] { return services.requestCount(services::kCobaltImpressionPath) == impressions + 1; }));
}

TEST_F(AdViewTest, AnInterstitialThatCannotBeShownTakesTheWindowDownAndFetchesAnother) {
    launch({{1, "banner"}, {2, "interstitial"}});
    CBAdEngine::setFullScreenDelegate(delegate, "interstitial");
    ASSERT_TRUE(waitFor([&] { return delegate->count("ready:interstitial") == 1; }));
    const auto broken = slot("interstitial")->nextAdDlTime();
    const fs::path brokenFolder = store() / "Content" / "interstitial" / std::to_string(broken);
    fs::remove(brokenFolder / "index.html");

    ASSERT_TRUE(CBAdEngine::displayFullScreenAdForSlotNamed("interstitial"));
    auto window = CBFullScreenAdWindow::shared();
    ASSERT_TRUE(waitFor([&] { return delegate->count("willClose") == 1 && !window->isDisplaying(); }));
    EXPECT_EQ(delegate->count("willOpen"), 1u);
    EXPECT_FALSE(window->contentController());
    EXPECT_TRUE(window->isHidden());
    EXPECT_TRUE(hostWindow->isKeyWindow());
    EXPECT_FALSE(hostWindow->isHidden());
    EXPECT_FALSE(platform::Application::shared().isStatusBarHidden());
    EXPECT_FALSE(slot("interstitial")->isDisplayed());
    EXPECT_TRUE(waitFor([&] { return !fs::exists(brokenFolder); }));

    // Another ad comes and shows.
    ASSERT_TRUE(waitFor([&] { return delegate->count("ready:interstitial") == 2; }));
    EXPECT_NE(slot("interstitial")->nextAdDlTime(), broken);
    ASSERT_TRUE(CBAdEngine::displayFullScreenAdForSlotNamed("interstitial"));
    ASSERT_TRUE(waitFor([&] {
        auto content = std::dynamic_pointer_cast<CBFullScreenAdController>(window->contentController());
        return content && window->isKeyWindow() && !content->adLoadingIndicator() && window->isUserInteractionEnabled();
    }));
    auto c = std::dynamic_pointer_cast<CBFullScreenAdController>(window->contentController());
    EXPECT_NE(pageText(c).find("cobalt-ad"), std::string::npos);

    // Dismissal takes the "Loading" box away too.
    c->showAdLoadingIndicator();
    ASSERT_TRUE(c->adLoadingIndicator());
    c->dismissAnimated(true);
    EXPECT_FALSE(c->adLoadingIndicator());
    EXPECT_TRUE(c->view()->isUserInteractionEnabled());
    settle(2.0);
    EXPECT_FALSE(window->isDisplaying());
}

TEST_F(AdViewTest, HoweverABannerExpandsTheWindowIsMarkedAndNoInterstitialGoesOverIt) {
    launch({{1, "banner"}, {2, "interstitial"}});
    CBAdEngine::setFullScreenDelegate(delegate, "interstitial");
    auto view = showBanner();
    ASSERT_TRUE(waitForDrawnAndNext(view));
    ASSERT_TRUE(waitFor([&] { return delegate->count("ready:interstitial") == 1; }));
    auto c = view->controller();
    auto window = CBFullScreenAdWindow::shared();
    const auto landing = *platform::URL::parse(services.url(std::string(services::kCobaltLandingPath) + "?ad=1"));

    struct Way {
        const char* name;
        std::function<void()> expand;
    };
    const Way ways[] = {
        {"the script's expand", [&] { ASSERT_TRUE(c->bridge()->executeCocoaCommand("bridge_expand")); }},
        {"a plain link",
         [&] {
             EXPECT_FALSE(c->webViewShouldStartLoadWithRequestNavigationType(
                 *c->webView(), platform::URLRequest(landing), platform::WebViewNavigationType::LinkClicked));
         }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.name);
        ASSERT_FALSE(window->isDisplaying());
        way.expand();
        EXPECT_TRUE(c->isExpanded());
        EXPECT_TRUE(window->isDisplaying());
        settle(2.0);
        EXPECT_TRUE(window->isKeyWindow());
        EXPECT_FALSE(CBAdEngine::displayFullScreenAdForSlotNamed("interstitial"));
        EXPECT_FALSE(slot("interstitial")->isDisplayed());

        // The way back returns the banner's view to its place and frees the window.
        c->dismissAnimated(true);
        settle(2.0);
        EXPECT_EQ(c->view()->superview().get(), view.get());
        EXPECT_FALSE(window->isDisplaying());
        EXPECT_TRUE(hostWindow->isKeyWindow());
        ASSERT_TRUE(waitFor([&] { return !c->isRefreshing() && c->hasDisplayedCurrentAd(); }));
    }
}

// Where a navigation in the ad page goes, by scheme, navigation type and browser mode.
TEST_F(AdViewTest, TapRulesOfTheAdPage) {
    launch({{1, "banner"}});
    auto view = showBanner();
    ASSERT_TRUE(waitForDrawnAndNext(view));
    auto c = view->controller();
    auto& app = platform::Application::shared();
    app.setInstalledSchemes({"sms", "mailto"});
    c->webView()->stringByEvaluatingJavaScriptFromString(
        "handleClickthrough = function(u){ window.clicked = u; };");
    const std::string landing = services.url(std::string(services::kCobaltLandingPath) + "?ad=2");
    using Nav = platform::WebViewNavigationType;

    struct Case {
        const char* url;
        Nav type;
        bool browserMode;
        bool answer;
        bool opensLandingPage;
        const char* openedOutside; // handed to the application, or null
        bool clickthrough;         // handed to the page's handleClickthrough
    };
    const std::string ct = "cobalt://ct/?url=" + platform::percentEncode(landing);
    // The landing page row comes last: the page it opens replaces the ad page.
    const Case cases[] = {
        {"file:///tmp/ad.html", Nav::LinkClicked, false, true, false, nullptr, false},
        {"about:blank", Nav::Other, false, false, false, nullptr, false},
        {landing.c_str(), Nav::Other, false, true, false, nullptr, false},
        {landing.c_str(), Nav::LinkClicked, true, true, false, nullptr, false},
        {"http://apps.platform.test/app/1", Nav::LinkClicked, false, false, false, "http://apps.platform.test/app/1",
         false},
        {ct.c_str(), Nav::LinkClicked, false, false, false, nullptr, true},
        {"cobalt://other/x", Nav::LinkClicked, false, false, false, nullptr, false},
        {"sms:12345", Nav::LinkClicked, false, false, false, "sms:12345", false},
        {"mailto:a@b.test", Nav::Other, false, false, false, "mailto:a@b.test", false},
        {landing.c_str(), Nav::LinkClicked, false, false, true, nullptr, false},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(std::string(row.url) + " type " + std::to_string(static_cast<int>(row.type)) +
                     (row.browserMode ? " in browser mode" : ""));
        c->webView()->stringByEvaluatingJavaScriptFromString("window.clicked = '';");
        const std::size_t opened = app.openedURLs().size();
        if (row.browserMode)
            c->prepareAdViewBrowserMode(true);
        const auto url = platform::URL::parse(row.url);
        ASSERT_TRUE(url);
        EXPECT_EQ(c->webViewShouldStartLoadWithRequestNavigationType(*c->webView(), platform::URLRequest(*url), row.type),
                  row.answer);
        EXPECT_EQ(c->isExpanded(), row.opensLandingPage);
        EXPECT_EQ(c->isBrowserMode(), row.browserMode || row.opensLandingPage);
        if (row.openedOutside) {
            ASSERT_EQ(app.openedURLs().size(), opened + 1);
            EXPECT_EQ(app.openedURLs().back(), row.openedOutside);
        } else {
            EXPECT_EQ(app.openedURLs().size(), opened);
        }
        if (!row.opensLandingPage) {
            EXPECT_EQ(c->webView()->stringByEvaluatingJavaScriptFromString("window.clicked"),
                      row.clickthrough ? url->absoluteString() : "");
        }
        if (row.browserMode)
            c->prepareAdViewBrowserMode(false);
    }
    ASSERT_TRUE(waitFor([&] { return services.requestCount(services::kCobaltLandingPath) == 1 && !c->isLoading(); }));
    c->dismissAnimated(false);
    EXPECT_FALSE(CBFullScreenAdWindow::shared()->isDisplaying());
}

// Trackers: each row's Base64 addresses joined by "$$CBURL$$" are fetched once; rows that are
// not one non-empty text, and pieces that are not web addresses, fetch nothing.
TEST_F(AdViewTest, TrackerRowsFetchEachAddressOnce) {
    launch({{1, "banner"}});
    auto view = showBanner();
    ASSERT_TRUE(waitForDrawnAndNext(view));
    auto c = view->controller();
    ASSERT_TRUE(waitFor([&] { return c->pendingFetchCount() == 0; }));
    services.host().clearRequestLog();
    auto b64 = [](const std::string& text) { return CBBase64::base64StringWithString(text); };
    const std::string one = services.url("/trackers/one");
    const std::string two = services.url("/trackers/two");
    const std::string three = services.url("/trackers/three");
    const std::string joined = b64(one) + CBAdViewInternal::kTrackerSeparator + b64(two);
    using platform::Array;
    using platform::Value;
    const Value rows(Array{
        Value(Array{Value(joined)}),
        Value(Array{Value(CBAdViewInternal::kTrackerSeparator + b64(three) + CBAdViewInternal::kTrackerSeparator)}),
        Value(Array{Value("")}),
        Value(Array{}),
        Value(Array{Value(b64(services.url("/trackers/two-columns"))), Value("x")}),
        Value(Array{Value(42)}),
        Value("not a row"),
        Value(Array{Value(b64("file:///etc/passwd") + CBAdViewInternal::kTrackerSeparator + b64("not a url"))}),
    });
    c->fetchUrlsStashedInDB(rows);
    EXPECT_EQ(c->pendingFetchCount(), 3u);
    ASSERT_TRUE(waitFor([&] { return c->pendingFetchCount() == 0; }));
    EXPECT_EQ(services.requestCount("/trackers/one"), 1u);
    EXPECT_EQ(services.requestCount("/trackers/two"), 1u);
    EXPECT_EQ(services.requestCount("/trackers/three"), 1u);
    EXPECT_EQ(services.requestCount("/trackers/two-columns"), 0u);

    // Not an array at all: nothing.
    c->fetchUrlsStashedInDB(Value("[]"));
    EXPECT_EQ(c->pendingFetchCount(), 0u);
}

// The script's pings: the callback is filled with 1 for a success and 0 for a failure, a
// refusal or a time-out.
TEST_F(AdViewTest, PingsCallBackWithTheirOutcome) {
    launch({{1, "banner"}});
    auto view = showBanner();
    ASSERT_TRUE(waitForDrawnAndNext(view));
    auto c = view->controller();
    services.setFault("/ping/slow", services::Fault::delay(30));
    struct Case {
        const char* name;
        std::string url;
        const char* timeout;
        const char* result;
    };
    const Case cases[] = {
        {"answered", services.url(std::string(services::kCobaltImpressionPath) + "?ad=1"), "0", "1"},
        {"not found", services.url("/ping/missing"), "0", "0"},
        {"not a web address", "file:///etc/passwd", "5", "0"},
        {"too slow", services.url("/ping/slow"), "2", "0"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        c->webView()->stringByEvaluatingJavaScriptFromString("window.ping = '';");
        c->webView()->stringByEvaluatingJavaScriptFromString("BridgeDisplay.pingURLTimeoutCallback(" +
                                                             scriptStringLiteral(row.url) + ", '" +
                                                             row.timeout + "', 'window.ping = \"%d\";');");
        ASSERT_TRUE(waitFor([&] { return c->webView()->stringByEvaluatingJavaScriptFromString("window.ping") != ""; }));
        EXPECT_EQ(c->webView()->stringByEvaluatingJavaScriptFromString("window.ping"), row.result);
        EXPECT_EQ(c->pendingFetchCount(), 0u);
    }
    // A ping without a callback is sent all the same.
    c->webView()->stringByEvaluatingJavaScriptFromString("BridgeDisplay.pingURL(" +
                                                         scriptStringLiteral(services.url("/ping/plain")) + ");");
    EXPECT_TRUE(waitFor([&] { return services.requestCount("/ping/plain") == 1; }));
}

// The browser bar's arrows show on the bar's grey control, enabled or not.
TEST_F(AdViewTest, TheArrowsShowOnTheControl) {
    launch({{1, "banner"}});
    auto view = showBanner();
    const platform::Color tint = view->controller()->navigationControls()->tintColor();
    // The grey level of the image's most opaque pixel laid over the tint.
    auto shownGrey = [&](const std::shared_ptr<platform::Image>& image) {
        const auto& px = image->pixels();
        std::size_t best = 0;
        for (std::size_t i = 0; i + 3 < px.size(); i += 4)
            if (px[i + 3] > px[best + 3])
                best = i;
        const double a = px[best + 3] / 255.0;
        const double grey = (px[best] + px[best + 1] + px[best + 2]) / (3 * 255.0);
        const double tintGrey = (tint.red + tint.green + tint.blue) / 3;
        return a * grey + (1 - a) * tintGrey;
    };
    const double tintGrey = (tint.red + tint.green + tint.blue) / 3;
    for (const auto& [name, enabled, disabled] :
         {std::tuple{"back", CBResources::backButton(), CBResources::backButtonDisabled()},
          std::tuple{"forward", CBResources::forwardButton(), CBResources::forwardButtonDisabled()}}) {
        SCOPED_TRACE(name);
        EXPECT_GT(std::abs(shownGrey(enabled) - tintGrey), 0.25);
        EXPECT_GT(std::abs(shownGrey(disabled) - tintGrey), 0.25);
        EXPECT_GT(std::abs(shownGrey(enabled) - shownGrey(disabled)), 0.25);
    }
}

// As the mediation adapter does at a refresh, the banner is moved into a new wrapper of its own
// size before the wrapper is on screen, so the refresh fades the wrapper out; then the wrapper
// is placed in a host of the same size. Whether the new ad loads or cannot be shown, the
// wrapper that was faded out is faded back in, and every view up to the window is drawn.
struct RefadeCase {
    const char* name;
    bool nextAdBroken;
    bool viaForeground; // the refresh comes with the return to the foreground
};

class BannerMovedDuringRefresh : public AdViewTest, public ::testing::WithParamInterface<RefadeCase> {};

TEST_P(BannerMovedDuringRefresh, TheViewFadedOutIsFadedBackIn) {
    launch({{1, "banner"}});
    auto view = showBanner(GetParam().viaForeground ? 30 : 0);
    ASSERT_TRUE(waitForDrawnAndNext(view));
    auto c = view->controller();
    const auto shown = slot("banner")->dlTime();
    const auto next = slot("banner")->nextAdDlTime();
    if (GetParam().nextAdBroken)
        fs::remove(store() / "Content" / "banner" / std::to_string(next) / "index.html");

    const platform::Size size = view->frame().size;
    auto wrapper = std::make_shared<platform::View>(platform::Rect({0, 0}, size));
    view->setFrame(platform::Rect({0, 0}, size));
    wrapper->addSubview(view);
    if (GetParam().viaForeground) {
        // Back after 40 s with automatic refresh: the return shows the next ad.
        time.clock().setNow(c->lastDisplayTime() + 40);
        platform::Application::shared().enterBackground();
        platform::Application::shared().enterForeground();
    } else {
        time.clock().setNow(c->lastDisplayTime() + 10);
        view->refresh();
    }
    ASSERT_TRUE(c->isRefreshing());
    EXPECT_EQ(wrapper->alpha(), 0.0);

    auto host = std::make_shared<platform::View>(platform::Rect({0, 400}, size));
    hostRoot->addSubview(host);
    host->addSubview(wrapper);
    // The new ad is drawn, or the one shown before stays.
    const auto expected = GetParam().nextAdBroken ? shown : next;
    EXPECT_TRUE(waitFor([&] { return !c->isRefreshing() && slot("banner")->dlTime() == expected; }));
    settle();
    for (std::shared_ptr<platform::View> v = c->webView(); v; v = v->superview())
        EXPECT_EQ(v->alpha(), 1.0) << (v == wrapper ? "the wrapper" : "a view between the page and the window");
    EXPECT_EQ(wrapper->alpha(), 1.0);
    EXPECT_TRUE(c->view()->isUserInteractionEnabled());
}

INSTANTIATE_TEST_SUITE_P(Refresh, BannerMovedDuringRefresh,
                         ::testing::Values(RefadeCase{"NewAdLoads", false, false},
                                           RefadeCase{"NewAdCannotBeShown", true, false},
                                           RefadeCase{"BackFromTheBackground", false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
