// The push-news panel: the reply, the seen list, the button and the panel's contents.
#include "PromoTestSupport.h"

#include <filesystem>

#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"

namespace promotest {
namespace {

constexpr const char* kPushNewsPath = "/pushNews/newPushNews.php";

struct PanelHost : promo::PushNewsDelegate {
    int shown = 0, hidden = 0, buttonRemoved = 0;
    void showNews(promo::PushNewsView&) override { ++shown; }
    void hideNews(promo::PushNewsView&) override { ++hidden; }
    void hideNewsButton() override { ++buttonRemoved; }
};

std::string reply(const char* index, bool active) {
    return std::string(R"({"pushImage":[{"imageLink":"{{base}}/promo/images/push-news.png"}],
        "pushTable":[{"promoAppLink":"904217601","index":")") +
           index + R"(","active":)" + (active ? "true" : "false") + "}]}";
}

class PushNews : public PromoTest {
protected:
    std::shared_ptr<promo::PushNewsView> makePanel() {
        panel_ = std::make_shared<promo::PushNewsView>();
        panel_->setDelegate(host_);
        panel_->setAppStoreIdentifier("904217356");
        panel_->getNewsData();
        panel_->newsButtonFrame(platform::Rect(0, 0, 40, 30));
        return panel_;
    }
    std::vector<std::string> seenList() {
        auto value = platform::readPropertyListFile(promo::PushNewsView::dataFilePath());
        std::vector<std::string> items;
        if (value && value->array())
            for (const auto& v : *value->array())
                items.push_back(v.stringOr("?"));
        return items;
    }
    bool replied() { return platform::UserDefaults::standard().stringForKey("seenLink").has_value(); }
    // Kinds of the panel's subviews, in order: "image", "label", "button".
    std::vector<std::string> contents() {
        std::vector<std::string> kinds;
        for (const auto& v : panel_->subviews())
            kinds.push_back(std::dynamic_pointer_cast<platform::ImageView>(v) ? "image"
                            : std::dynamic_pointer_cast<platform::Label>(v)   ? "label"
                            : std::dynamic_pointer_cast<platform::Button>(v)  ? "button"
                                                                              : "view");
        return kinds;
    }

    std::shared_ptr<PanelHost> host_ = std::make_shared<PanelHost>();
    std::shared_ptr<promo::PushNewsView> panel_;
};

TEST_F(PushNews, UnseenItemBadgesTheButtonAndStoresTheReply) {
    struct Case {
        const char* name;
        std::vector<std::string> seenBefore;
        bool badge;
    };
    const Case cases[] = {
        {"new item", {}, true},
        {"seen item", {"3", "7"}, false},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(promo::PushNewsView::dataFilePath());
        platform::UserDefaults::standard().removeObjectForKey("seenLink");
        if (!c.seenBefore.empty()) {
            platform::Array items(c.seenBefore.begin(), c.seenBefore.end());
            ASSERT_TRUE(platform::writePropertyListFile(promo::PushNewsView::dataFilePath(), platform::Value(items)));
        }
        serve(kPushNewsPath, reply("7", true));
        makePanel();
        ASSERT_TRUE(waitFor([&] { return replied(); })) << c.name;
        EXPECT_EQ(panel_->isBadge(), c.badge) << c.name;
        EXPECT_EQ(platform::UserDefaults::standard().stringForKey("promoAppLink"), "904217601");
        EXPECT_EQ(seenList(), c.seenBefore) << c.name << ": not launched by push, nothing recorded yet";
        EXPECT_EQ(host_->buttonRemoved, 0);
        if (c.badge) {
            auto before = panel_->newsButton()->transform();
            clock_.advance(promo::PushNewsView::kShakeInterval);
            EXPECT_NE(panel_->newsButton()->transform(), before) << "the badged button shakes";
        }
        waitFor([&] { return panel_->newsImage() != nullptr; });
    }
    EXPECT_EQ(services_.requestsTo(kPushNewsPath).back().queryValue("pushAppLink"), "904217356");
}

// A reply keeps the user defaults it carries nothing for: without "pushTable" the store
// identifier a push has set and the item last seen stay.
TEST_F(PushNews, ReplyWithoutTableKeepsTheStoredLinks) {
    auto& defaults = platform::UserDefaults::standard();
    defaults.setString("promoAppLink", "904217999"); // from a push payload
    defaults.setString("seenLink", "4");
    serve(kPushNewsPath, R"({"pushImage":[{"imageLink":"{{base}}/promo/images/push-news.png"}]})");
    makePanel();
    ASSERT_TRUE(waitFor([&] { return defaults.stringForKey("imageLink").has_value(); }));
    EXPECT_EQ(defaults.stringForKey("imageLink"), services_.baseURL() + "/promo/images/push-news.png");
    EXPECT_EQ(defaults.stringForKey("promoAppLink"), "904217999");
    EXPECT_EQ(defaults.stringForKey("seenLink"), "4");
    waitFor([&] { return panel_->newsImage() != nullptr; });
}

TEST_F(PushNews, LaunchByPushRecordsTheItemShowsLoadingThenTheImageByItself) {
    promo::isPush = true;
    serve(kPushNewsPath, reply("9", true));
    services_.setFault("/promo/images/push-news.png", services::Fault::delay(0.3).onlyTimes(1));
    makePanel();
    panel_->showNews();
    EXPECT_EQ(contents(), (std::vector<std::string>{"label", "button"}));
    auto label = std::dynamic_pointer_cast<platform::Label>(panel_->subviews()[0]);
    EXPECT_EQ(label->text(), "Pushed news loading...");

    ASSERT_TRUE(waitFor([&] { return replied(); }));
    EXPECT_EQ(seenList(), std::vector<std::string>{"9"});
    ASSERT_TRUE(waitFor([&] { return panel_->newsImage() != nullptr; }));
    EXPECT_EQ(contents(), (std::vector<std::string>{"image", "button", "button"}));
    EXPECT_EQ(seenList(), std::vector<std::string>{"9"}) << "recorded once";
    EXPECT_FALSE(panel_->isBadge());

    panel_->showNews();
    EXPECT_EQ(contents(), (std::vector<std::string>{"image", "button", "button"})) << "opening twice";
    EXPECT_EQ(host_->shown, 3);

    // The tap area reports a click and opens the promoted application's store page.
    auto tap = std::dynamic_pointer_cast<platform::Button>(panel_->subviews()[1]);
    tap->sendActionsForControlEvents(platform::ControlEvent::TouchDown);
    ASSERT_TRUE(waitFor([&] { return services_.requestCount("/pushNews/countClick.php") == 1; }));
    clock_.advance(0.51);
    ASSERT_EQ(platform::Application::shared().openedURLs().size(), 1u);
    EXPECT_NE(platform::Application::shared().openedURLs()[0].find("id=904217601&mt=8"), std::string::npos);
}

TEST_F(PushNews, ClosedWhileLoadingStaysClosedWhenTheImageArrives) {
    serve(kPushNewsPath, reply("5", true));
    services_.setFault("/promo/images/push-news.png", services::Fault::delay(0.3).onlyTimes(1));
    makePanel();
    panel_->showNews();
    EXPECT_TRUE(promo::isPush);
    std::dynamic_pointer_cast<platform::Button>(panel_->subviews()[1])
        ->sendActionsForControlEvents(platform::ControlEvent::TouchUpInside);
    EXPECT_EQ(host_->hidden, 1);
    EXPECT_FALSE(promo::isPush);
    ASSERT_TRUE(waitFor([&] { return panel_->newsImage() != nullptr; }));
    EXPECT_EQ(contents(), (std::vector<std::string>{"label", "button"})) << "not refreshed";
    EXPECT_EQ(host_->shown, 1);
}

TEST_F(PushNews, InactiveItemRemovesTheButtonAndOfflineSendsNothing) {
    serve(kPushNewsPath, reply("5", false));
    makePanel();
    ASSERT_TRUE(waitFor([&] { return host_->buttonRemoved == 1; }));

    platform::Reachability::setTestFlagsForAllHosts(0);
    makePanel();
    EXPECT_TRUE(panel_->newsButton()->isHidden());
    waitFor([&] { return false; }, 0.2);
    EXPECT_EQ(services_.requestCount(kPushNewsPath), 1u);
}

} // namespace
} // namespace promotest
