// The help pages, the invitation e-mail, the news panel's host side and the banner host's
// moves around them.
#include "AppFixture.h"

#include "app/HelpPage.h"
#include "platform/foundation/Strings.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/ImageView.h"
#include "promo/MoreApps.h"
#include "promo/StorePage.h"

namespace apptest {
namespace {

class Extras : public AppTest {
protected:
    void SetUp() override {
        launch();
        clock_.drain();
    }
    std::shared_ptr<platform::ViewController> presentedTop() {
        auto presented = navigation()->presentedViewController();
        if (auto nav = std::dynamic_pointer_cast<platform::NavigationController>(presented))
            return nav->topViewController();
        return presented;
    }
    std::shared_ptr<app::HelpPage> openHelp() {
        root()->help();
        clock_.advance(0.3);
        return std::dynamic_pointer_cast<app::HelpPage>(presentedTop());
    }
    static bool shown(const platform::ImageView& arrow, app::HelpPage& help) {
        return arrow.superview() == help.view() && arrow.alpha() > 0;
    }
};

TEST_F(Extras, HelpStacksThreePagesAndMovesTheBannerHostAside) {
    makeBannerHost();
    auto help = openHelp();
    ASSERT_NE(help, nullptr);
    EXPECT_DOUBLE_EQ(app::adView->frame().y(), 427);
    EXPECT_TRUE(help->contentView->isPagingEnabled());
    EXPECT_FALSE(help->contentView->showsVerticalScrollIndicator());
    for (int n = 1; n <= 3; ++n) {
        auto page = std::dynamic_pointer_cast<platform::ImageView>(help->contentView->viewWithTag(n));
        ASSERT_NE(page, nullptr) << n;
        EXPECT_EQ(page->frame(), platform::Rect(0, (n - 1) * 416.0, 320, 416));
        ASSERT_NE(page->image(), nullptr) << "the bundle has Help_Page_" << n;
    }
    EXPECT_EQ(help->contentView->contentSize(), (platform::Size{320, 1248}));
    EXPECT_TRUE(help->shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation::Portrait));
    EXPECT_TRUE(
        help->shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation::PortraitUpsideDown));
    EXPECT_FALSE(help->shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation::LandscapeLeft));
    EXPECT_FALSE(
        help->shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation::LandscapeRight));

    help->navigationItem().leftBarButtonItem()->press();
    EXPECT_DOUBLE_EQ(app::adView->frame().y(), 383);
    clock_.advance(0.3);
    EXPECT_EQ(navigation()->presentedViewController(), nullptr);
}

TEST_F(Extras, HelpArrowsFlashForThePageComeToRest) {
    auto help = openHelp();
    ASSERT_NE(help, nullptr);
    // The first hint comes 0.5 s after load: the down arrow only.
    clock_.advance(0.5);
    EXPECT_TRUE(shown(*help->downImage, *help));
    EXPECT_EQ(help->upImage->superview(), nullptr);
    clock_.advance(0.5 + 0.3 + 0.5);
    EXPECT_EQ(help->downImage->superview(), nullptr) << "removed after its fade-out";

    struct Case {
        double offset;
        bool up, down;
    };
    const Case pages[] = {{416, true, true}, {832, true, false}, {0, false, true}};
    for (const auto& page : pages) {
        help->contentView->setContentOffset({0, page.offset}, true);
        clock_.advance(0.3);
        EXPECT_EQ(shown(*help->upImage, *help), page.up) << page.offset;
        EXPECT_EQ(shown(*help->downImage, *help), page.down) << page.offset;
        auto fades = animations("", page.up ? *help->upImage : *help->downImage, "alpha");
        ASSERT_FALSE(fades.empty());
        EXPECT_DOUBLE_EQ(fades.back().duration, 0.5);
        clock_.advance(0.5);
        clock_.advance(0.3 + 0.5);
        EXPECT_EQ(help->upImage->superview(), nullptr) << page.offset;
        EXPECT_EQ(help->downImage->superview(), nullptr) << page.offset;
    }
}

TEST_F(Extras, InvitationMailIsComposedSentAndConfirmed) {
    makeBannerHost();
    root()->email();
    EXPECT_DOUBLE_EQ(app::adView->alpha(), 0);
    clock_.advance(0.3);
    auto composer = std::dynamic_pointer_cast<platform::MailComposeViewController>(
        navigation()->presentedViewController());
    ASSERT_NE(composer, nullptr);
    EXPECT_EQ(composer->subject(), "Ferro Wick");
    EXPECT_EQ(composer->bccRecipients(), (std::vector<std::string>{"invitations@ferrowick.example"}));
    EXPECT_TRUE(composer->toRecipients().empty());
    EXPECT_TRUE(composer->isHTML());
    const std::string& body = composer->messageBody();
    EXPECT_EQ(body.rfind("<p>Hello,</p><p>I have found Ferro Wick at App Store", 0), 0u);
    EXPECT_NE(body.find("-<a href = " + promo::storePageURL("904217356") +
                        " >Ferro Wick</a></p><p>\n\nThanks.</p>"),
              std::string::npos)
        << body;
    ASSERT_EQ(composer->attachments().size(), 1u);
    EXPECT_EQ(composer->attachments()[0].mimeType, "image/png");
    EXPECT_EQ(composer->attachments()[0].fileName, "Default.png");
    const auto& png = composer->attachments()[0].data;
    ASSERT_GE(png.size(), 8u);
    EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG");

    ASSERT_TRUE(composer->send());
    clock_.advance(0.5);
    EXPECT_EQ(alertTitles(), (std::vector<std::string>{"Email"}));
    EXPECT_EQ(platform::Application::shared().visibleAlerts()[0]->message(), "Email sent successfully!");
    EXPECT_DOUBLE_EQ(app::adView->alpha(), 1);
    EXPECT_EQ(navigation()->presentedViewController(), nullptr);
    ASSERT_TRUE(composer->writtenFile());
    EXPECT_TRUE(std::filesystem::exists(*composer->writtenFile()));
}

TEST_F(Extras, CancelledMailShowsNothing) {
    root()->email();
    clock_.advance(0.3);
    auto composer = std::dynamic_pointer_cast<platform::MailComposeViewController>(
        navigation()->presentedViewController());
    ASSERT_NE(composer, nullptr);
    ASSERT_TRUE(composer->cancel());
    clock_.advance(0.5);
    EXPECT_TRUE(alertTitles().empty());
    EXPECT_EQ(navigation()->presentedViewController(), nullptr);
}

TEST_F(Extras, NoMailAccountGetsAnAlertAndTheBannerHostBack) {
    makeBannerHost();
    platform::MailComposeViewController::setCanSendMailForTesting(false);
    root()->email();
    clock_.advance(0.5);
    EXPECT_EQ(navigation()->presentedViewController(), nullptr);
    EXPECT_EQ(alertTitles(), (std::vector<std::string>{"Email"}));
    EXPECT_DOUBLE_EQ(app::adView->alpha(), 1);
}

TEST_F(Extras, NewsPanelSlidesInAndOutOverTheList) {
    makeBannerHost();
    auto r = root();
    auto& panel = *r->pushNews;
    auto button = panel.newsButton();
    ASSERT_NE(button, nullptr);
    std::size_t subviews = r->view()->subviews().size();
    for (int round = 0; round < 2; ++round) {
        r->showNews(panel);
        EXPECT_TRUE(panel.isViewAdded());
        EXPECT_EQ(panel.superview(), r->view());
        EXPECT_EQ(r->view()->subviews().size(), subviews + 1) << "added once";
        EXPECT_EQ(panel.frame(), platform::Rect(0, 160, 320, 300));
        EXPECT_FALSE(button->isEnabled());
        EXPECT_DOUBLE_EQ(app::adView->alpha(), 0);
        auto slide = animations("push", panel, "frame");
        ASSERT_FALSE(slide.empty());
        EXPECT_DOUBLE_EQ(slide.back().duration, 0.5);

        r->hideNews(panel);
        EXPECT_EQ(panel.frame(), platform::Rect(0, 480, 320, 300));
        EXPECT_TRUE(button->isEnabled());
        EXPECT_DOUBLE_EQ(app::adView->alpha(), 1);
    }
    r->hideNewsButton();
    EXPECT_EQ(button->superview(), nullptr);
}

TEST_F(Extras, WithoutBannerHostNothingMoves) {
    root()->help();
    root()->showNews(*root()->pushNews);
    EXPECT_TRUE(platform::AnimationLog::shared().recordsNamed("halo").empty());
}

TEST_F(Extras, MoreAppsPageIsPresented) {
    root()->moreApps();
    auto page = std::dynamic_pointer_cast<promo::MoreApps>(navigation()->presentedViewController());
    ASSERT_NE(page, nullptr);
    clock_.advance(1.0);
    EXPECT_EQ(navigation()->presentedViewController(), page) << "the page stays until it is closed";
    page->back();
    clock_.advance(1.0);
    EXPECT_EQ(navigation()->presentedViewController(), nullptr);
}

} // namespace
} // namespace apptest
