// The drive's frames on the phone and on the tablet, reached as a person of `ferrowick` reaches
// them: the toolbar, the list, the row of action buttons, the storage and pass-code panels and
// the banner host with its house banner. On the phone they keep the drive's fixed figures; on
// the tablet the same relations fill the screen: everything lies inside it, and the list and
// the toolbars span its width. The house banner stays inside the screen while Settings and
// Help open and close. The news panel and the more-apps page lie on the tablet's screen,
// placed for it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RunnerTestSupport.h"
#include "app/AppFixture.h"
#include "app/HelpPage.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TextRenderer.h"
#include "promo/AdViewController.h"
#include "runner/CommandInterpreter.h"
#include "runner/Runner.h"
#include "support/LoopbackServices.h"

namespace {

using platform::Rect;

// Ads off and no refresh: the banner host shows the house banner and keeps its own frame.
constexpr const char* kAdsOff = R"({"extra":{"refresh_interval":0},"rations":[]})";

// The frames each device gives the drive (root view coordinates; the banner host's are the
// navigation view's).
struct DeviceFrames {
    const char* name;
    platform::DeviceProfile profile;
    Rect toolbar, fileTable, memoryPanel, passCodePanel;
    double actionRowY;
    Rect bannerHost;
    double bannerAsideY;
    Rect helpPages;    // in the help page's view
    Rect newsPanel;    // shown
    Rect moreAppsPage; // the page's picture, in its view
    // The panels lie wholly on the screen (the phone keeps its figures, which reach past it).
    bool panelsWhollyOnScreen;
};

constexpr DeviceFrames kDevices[] = {
    {"Phone",
     platform::DeviceProfile::Phone,
     {0, 0, 320, 44},
     {0, 44, 320, 295},
     {0, -56, 320, 100},
     {0, -76, 320, 120},
     392,
     {0, 383, 320, 53},
     427,
     {0, 0, 320, 416},
     {0, 160, 320, 300},
     {0, 0, 320, 480},
     false},
    {"Tablet",
     platform::DeviceProfile::Tablet,
     {0, 0, 768, 44},
     {0, 44, 768, 802},
     {0, -56, 768, 100},
     {0, -76, 768, 120},
     936,
     {20, 890, 728, 90},
     934,
     {224, 272, 320, 416},
     {224, 636, 320, 300},
     {224, 262, 320, 480},
     true},
};

class DriveLayout : public apptest::AppTest, public ::testing::WithParamInterface<DeviceFrames> {
protected:
    DriveLayout() {
        runnertest::startAsOnAFreshDevice(services_);
        services_.handle("GET", "/switchboard/getInfo.php", [](const services::LoggedRequest&) {
            return services::ServiceReply{200, kAdsOff, "application/json", {}};
        });
        platform::Device::setProfile(GetParam().profile);
    }

    bool run(const std::string& line) { return runner::runCommand(commands_, line).ok; }

    static Rect onScreen(const platform::View& view) { return view.convertRectTo(view.bounds(), nullptr); }
    static Rect screen() { return platform::Screen::main().bounds(); }
    // Within a rounding error: the row of buttons divides the width in sixths.
    static bool inside(const Rect& r, const Rect& outer) {
        constexpr double e = 1e-9;
        return r.minX() >= outer.minX() - e && r.minY() >= outer.minY() - e && r.maxX() <= outer.maxX() + e &&
               r.maxY() <= outer.maxY() + e;
    }
    static std::string describe(const Rect& r) {
        return "(" + std::to_string(r.x()) + ", " + std::to_string(r.y()) + ", " + std::to_string(r.width()) +
               ", " + std::to_string(r.height()) + ")";
    }
    // The view lies wholly inside the screen.
    static void expectOnScreen(const platform::View& view, const std::string& what) {
        EXPECT_TRUE(inside(onScreen(view), screen())) << what << " at " << describe(onScreen(view)) << "\n"
                                                      << platform::TextRenderer::renderScreen();
    }
    // The view lies inside the screen and spans its width.
    static void expectAcrossTheScreen(const platform::View& view, const std::string& what) {
        expectOnScreen(view, what);
        EXPECT_EQ(onScreen(view).width(), screen().width()) << what;
    }

    // The row of action buttons, left to right.
    std::vector<std::shared_ptr<platform::Button>> actionButtons() {
        std::vector<std::shared_ptr<platform::Button>> buttons;
        for (const char* title : {"Sort", "Edit", "Invite", "More", "Help", "Settings"})
            for (const auto& sub : root()->view()->subviews())
                if (auto button = std::dynamic_pointer_cast<platform::Button>(sub);
                    button && button->currentTitle() == title)
                    buttons.push_back(button);
        return buttons;
    }

    // Launches, lets the launch pop-up go and waits for the house banner.
    void launchToTheHouseBanner() {
        launch();
        runner::settle();
        for (int i = 0; i < 30 && !(app::adView && app::adView->newsView()); ++i)
            run("wait 1");
        ASSERT_TRUE(app::adView && app::adView->newsView()) << platform::TextRenderer::renderScreen();
    }

    // The banner host is at `y` with the device's banner size, and its house banner lies
    // inside it and inside the screen.
    void expectBannerHostAt(double y, const std::string& when) {
        SCOPED_TRACE(when);
        const DeviceFrames& d = GetParam();
        EXPECT_EQ(app::adView->frame(),
                  Rect(d.bannerHost.x(), y, d.bannerHost.width(), d.bannerHost.height()));
        auto house = app::adView->newsView();
        ASSERT_TRUE(house);
        EXPECT_TRUE(inside(onScreen(*house), onScreen(*app::adView)))
            << "house banner " << describe(onScreen(*house)) << " in host "
            << describe(onScreen(*app::adView));
        if (y == d.bannerHost.y())
            expectOnScreen(*house, "the house banner");
    }

    fwtest::LoopbackServices services_;
    runner::CommandInterpreter commands_{[](double seconds) { runner::waitFor(seconds, true); }};
};

TEST_P(DriveLayout, TheDriveFillsTheScreenAndTheBannerStaysOnIt) {
    const DeviceFrames& d = GetParam();
    addFile("holiday-photos.zip", 123'456'789);
    addFile("a.txt", 3);
    launchToTheHouseBanner();
    auto r = root();

    EXPECT_EQ(r->toolBar->frame(), d.toolbar);
    EXPECT_EQ(r->fileTable->frame(), d.fileTable);
    EXPECT_EQ(r->memoryView->frame(), d.memoryPanel);
    EXPECT_EQ(r->passCodeView->frame(), d.passCodePanel);
    expectAcrossTheScreen(*r->toolBar, "the toolbar");
    expectAcrossTheScreen(*r->fileTable, "the list");
    auto buttons = actionButtons();
    ASSERT_EQ(buttons.size(), 6u);
    double x = 0;
    for (const auto& button : buttons) {
        SCOPED_TRACE(button->currentTitle());
        expectOnScreen(*button, button->currentTitle());
        EXPECT_EQ(button->frame().y(), d.actionRowY);
        EXPECT_DOUBLE_EQ(button->frame().x(), x) << "the row leaves no gap";
        x = button->frame().maxX();
    }
    EXPECT_DOUBLE_EQ(x, screen().width()) << "the row spans the screen";
    // The list ends where the banner host begins, and the host sits on the row of buttons.
    EXPECT_EQ(onScreen(*r->fileTable).maxY(), onScreen(*app::adView).minY());
    EXPECT_EQ(onScreen(*app::adView).maxY(), onScreen(*buttons.front()).minY());
    expectBannerHostAt(d.bannerHost.y(), "after the launch");

    // The storage panel slides down its 100 points to just under the toolbar, and back.
    ASSERT_TRUE(run("tap Storage"));
    EXPECT_EQ(r->memoryView->frame(), d.memoryPanel.offsetBy(0, 100));
    expectAcrossTheScreen(*r->memoryView, "the storage panel");
    ASSERT_TRUE(run("tap Storage"));
    EXPECT_EQ(r->memoryView->frame(), d.memoryPanel);

    // Settings and Help set the banner host aside and bring it back, at the device's banner size.
    for (const char* screenName : {"Settings", "Help"}) {
        ASSERT_TRUE(run(std::string("tap ") + screenName)) << platform::TextRenderer::renderScreen();
        expectBannerHostAt(d.bannerAsideY, std::string(screenName) + " open");
        auto presented = std::dynamic_pointer_cast<platform::NavigationController>(
            navigation()->presentedViewController());
        if (auto help = std::dynamic_pointer_cast<app::HelpPage>(presented ? presented->topViewController()
                                                                           : nullptr)) {
            // The pages' pictures sit whole on the screen, the arrows over them.
            EXPECT_EQ(help->contentView->frame(), d.helpPages);
            expectOnScreen(*help->contentView, "the help pages");
            for (const auto& arrow : {help->upImage, help->downImage}) // in the help page's view
                EXPECT_TRUE(inside(arrow->frame(), help->contentView->frame()))
                    << "an arrow at " << describe(arrow->frame());
        }
        ASSERT_TRUE(run("tap Back")) << platform::TextRenderer::renderScreen();
        ASSERT_TRUE(run("wait 1"));
        expectBannerHostAt(d.bannerHost.y(), std::string(screenName) + " closed");
        EXPECT_NE(platform::TextRenderer::renderScreen().find("[Settings]"), std::string::npos);
    }
}

TEST_P(DriveLayout, ThePassCodePanelSlidesIntoTheScreen) {
    const DeviceFrames& d = GetParam();
    defaults().setObject("passKey", platform::Value("2468"));
    launch();
    runner::settle();
    auto r = root();
    for (int i = 0; i < 30 && r->passCodeView->frame() == d.passCodePanel; ++i)
        run("wait 1");
    // It slides down its 120 points to just under the toolbar.
    EXPECT_EQ(r->passCodeView->frame(), d.passCodePanel.offsetBy(0, 120));
    expectAcrossTheScreen(*r->passCodeView, "the pass-code panel");
    for (const auto& control : r->passCodeView->subviews())
        expectOnScreen(*control, "a control of the pass-code panel");
}

// The news panel a push opens, and the more-apps page: at the device's frames; on a screen with
// room for them, wholly on it, the panel clear of the row of buttons and the page's parts on
// its picture, centred on the screen.
TEST_P(DriveLayout, TheNewsPanelAndTheMoreAppsPageArePlacedForTheScreen) {
    const DeviceFrames& d = GetParam();
    launch();
    runner::settle();
    auto r = root();
    ASSERT_TRUE(run(R"(push {"applink":"904217777","aps":{"alert":"Hello"}})"));
    ASSERT_TRUE(r->pushNews && r->pushNews->superview()) << platform::TextRenderer::renderScreen();
    EXPECT_EQ(r->pushNews->frame(), d.newsPanel);
    auto area = platform::TextRenderer::findTappable("Open news");
    ASSERT_TRUE(area) << platform::TextRenderer::renderScreen();
    if (d.panelsWhollyOnScreen) {
        expectOnScreen(*r->pushNews, "the news panel");
        expectOnScreen(*area->view, "the news panel's \"Open news\"");
        for (const auto& button : actionButtons())
            EXPECT_FALSE(onScreen(*r->pushNews).intersects(onScreen(*button)))
                << "the news panel covers " << button->currentTitle();
    }
    ASSERT_TRUE(run("tap Close news")) << platform::TextRenderer::renderScreen();

    ASSERT_TRUE(run("tap More")) << platform::TextRenderer::renderScreen();
    auto page = navigation()->presentedViewController();
    ASSERT_TRUE(page) << platform::TextRenderer::renderScreen();
    auto picture = std::dynamic_pointer_cast<platform::ImageView>(page->view()->subviews().front());
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->frame(), d.moreAppsPage);
    if (d.panelsWhollyOnScreen) {
        const Rect shown = onScreen(*picture);
        expectOnScreen(*picture, "the more-apps page");
        EXPECT_NEAR(shown.midX(), screen().midX(), 1) << describe(shown);
        EXPECT_NEAR(shown.midY(), onScreen(*page->view()).midY(), 1) << describe(shown);
        for (const auto& part : page->view()->subviews())
            EXPECT_TRUE(inside(onScreen(*part), shown))
                << "a part of the page at " << describe(onScreen(*part)) << " off its picture";
    }
    ASSERT_TRUE(run("tap Close")) << platform::TextRenderer::renderScreen();
}

INSTANTIATE_TEST_SUITE_P(Devices, DriveLayout, ::testing::ValuesIn(kDevices),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
