// Hostile house-news lists for the banner host, through its real entry point over loopback:
// each row serves one list, then checks that nothing on disk changed outside the promotions'
// own files, that the main thread keeps answering, and that the next (good) list still shows.
#include "PromoTestSupport.h"

#include <string>
#include <vector>

#include "mediation/SwitchboardConfigStore.h"
#include "mediation/SwitchboardView.h"
#include "platform/foundation/Log.h"
#include "promo/AdViewController.h"
#include "support/FolderSnapshot.h"

namespace promotest {
namespace {

constexpr const char* kNewsPath = "/applications/newNews/newNewsPhone.php";
constexpr const char* kConfigPath = "/switchboard/getInfo.php";
constexpr const char* kAdsOff = R"({"extra":{"refresh_interval":0},"rations":[]})";
constexpr const char* kGoodList = R"({"newsData":[
  {"appIdentity":"ferrowickdocs://","imageLink":"{{base}}/promo/images/news-1.png","appId":"301","appLink":"http://store.example/1"}]})";

class PromoHostileContent : public PromoTest {
protected:
    PromoHostileContent() { mediation::SwitchboardConfigStore::resetStore(); }
    ~PromoHostileContent() override { mediation::SwitchboardConfigStore::resetStore(); }
};

TEST_F(PromoHostileContent, HostileListsStayInTheirBox) {
    services_.setFault("/promo/images/slow.png", services::Fault::delay(3));
    const std::string huge(1024 * 1024, 'x');
    struct Row {
        const char* name;
        std::string list;
    };
    const std::vector<Row> rows = {
        {"pictures and links that are local files",
         R"({"newsData":[{"appIdentity":"x://","imageLink":"file:///etc/passwd","appId":"1","appLink":"file:///etc/passwd"}]})"},
        {"unknown schemes",
         R"({"newsData":[{"appIdentity":"x://","imageLink":"gopher://h/p.png","appId":"1","appLink":"javascript:void 0"}]})"},
        {"path escapes in every name",
         R"({"newsData":[{"appIdentity":"../../Documents/x://","imageLink":"{{base}}/promo/images/../../../etc/passwd","appId":"../../Documents/evil","appLink":"http://store.example/../x"}]})"},
        {"numbers past every integer and values of the wrong type",
         R"({"newsData":[{"appIdentity":1e300,"imageLink":-1e300,"appId":1e300,"appLink":[1]},{"appId":-9223372036854775809}]})"},
        {"oversized strings",
         R"({"newsData":[{"appIdentity":"x://","imageLink":"{{base}}/promo/images/news-1.png","appId":")" +
             huge + R"(","appLink":")" + huge + R"("}]})"},
        {"a slow picture",
         R"({"newsData":[{"appIdentity":"x://","imageLink":"{{base}}/promo/images/slow.png","appId":"1","appLink":"http://store.example/1"}]})"},
        {"a malformed reply", R"({"newsData":[{"appIdentity":)"},
        {"lists of the wrong shape", R"({"newsData":"x","more":[1,null,"x",[]]})"},
        {"entries of the wrong shape", R"({"newsData":[1,null,"x",[],{}]})"},
    };

    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        mediation::SwitchboardConfigStore::resetStore();
        const auto before = fwtest::FolderSnapshot::of(home_.root());
        const std::size_t lists = services_.requestCount(kNewsPath);
        serve(kNewsPath, row.list);
        serve(kConfigPath, kAdsOff);
        auto host = std::make_shared<promo::AdViewController>(platform::Rect(0, 383, 320, 53));
        host->getAdFromNetwork();
        ASSERT_TRUE(waitFor([&] { return services_.requestCount(kNewsPath) > lists; }));
        EXPECT_TRUE(fwtest::mainThreadAnswers());
        waitFor([] { return promo::backgroundImageDownloadsInFlight() == 0; });
        clock_.drain();
        clock_.advance(60);
        EXPECT_TRUE(fwtest::mainThreadAnswers());
        EXPECT_EQ(fwtest::FolderSnapshot::of(home_.root())
                      .changesOutside(before, {"Library/Preferences", "Library/Caches"}),
                  std::vector<std::string>{});
        host.reset();

        // The next list is a good one, and its picture shows.
        mediation::SwitchboardConfigStore::resetStore();
        serve(kNewsPath, kGoodList);
        auto next = std::make_shared<promo::AdViewController>(platform::Rect(0, 383, 320, 53));
        next->getAdFromNetwork();
        ASSERT_TRUE(waitFor([&] { return next->newsView() && next->newsView()->currentBackgroundImage(); }));
        waitFor([] { return promo::backgroundImageDownloadsInFlight() == 0; });
        clock_.drain();
    }
}

} // namespace
} // namespace promotest
