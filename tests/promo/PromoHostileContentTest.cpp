// Hostile house-news lists for the banner host, through its real entry point over loopback:
// each row serves one list, then checks that nothing on disk changed outside the promotions'
// own files, that the main thread keeps answering, and that the next (good) list still shows.
#include "PromoTestSupport.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mediation/SwitchboardConfigStore.h"
#include "mediation/SwitchboardView.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/URL.h"
#include "platform/net/URLConnection.h"
#include "promo/AdViewController.h"
#include "support/FolderSnapshot.h"
#include "support/ReplyGate.h"

namespace promotest {
namespace {

constexpr const char* kNewsPath = "/applications/newNews/newNewsPhone.php";
constexpr const char* kConfigPath = "/switchboard/getInfo.php";
constexpr const char* kImpressionPath = "/applications/newNews/updateImpressionPhone.php";
constexpr const char* kAdsOff = R"({"extra":{"refresh_interval":0},"rations":[]})";
constexpr const char* kGoodList = R"({"newsData":[
  {"appIdentity":"ferrowickdocs://","imageLink":"{{base}}/promo/images/news-1.png","appId":"301","appLink":"http://store.example/1"}]})";

class PromoHostileContent : public PromoTest {
protected:
    PromoHostileContent() { mediation::SwitchboardConfigStore::resetStore(); }
    ~PromoHostileContent() override { mediation::SwitchboardConfigStore::resetStore(); }
};

TEST_F(PromoHostileContent, HostileListsStayInTheirBox) {
    // The slow picture comes only when the row lets it.
    constexpr const char* kSlowPicture = "/promo/images/slow.png";
    auto slowPicture = std::make_shared<fwtest::ReplyGate>();
    services_.handle("GET", kSlowPicture,
                     slowPicture->holdingFile(services_.host(), "/promo/images/news-1.png", "image/png"));
    // A picture among the person's files.
    const auto photo = home_.root() / "Documents" / "photo.png";
    std::filesystem::copy_file(services_.host().fixturesDir() + "/promo/images/news-1.png", photo);
    const std::string photoURL = platform::URL::fileURL(photo).absoluteString();
    const std::string huge(1024 * 1024, 'x');
    auto showsNothing = [](promo::AdViewController& host) {
        EXPECT_FALSE(host.newsView()) << "the list put a house ad up";
    };
    struct Row {
        const char* name;
        std::string list;
        // Once the list has been asked for, while its pictures may still be on their way.
        std::function<void()> whileLoading = nullptr;
        // Once everything the list started has ended.
        std::function<void(promo::AdViewController&)> check = nullptr;
    };
    const std::vector<Row> rows = {
        {"pictures and links that are local files",
         R"({"newsData":[{"appIdentity":"x://","imageLink":")" + photoURL +
             R"(","appId":"1","appLink":"file:///etc/passwd"}]})",
         nullptr, showsNothing},
        {"unknown schemes",
         R"({"newsData":[{"appIdentity":"x://","imageLink":"gopher://h/p.png","appId":"1","appLink":"javascript:void 0"}]})"},
        {"path escapes in every name",
         R"({"newsData":[{"appIdentity":"../../Documents/x://","imageLink":"{{base}}/promo/images/../../../etc/passwd","appId":"../../Documents/evil","appLink":"http://store.example/../x"}]})"},
        {"numbers past every integer and values of the wrong type",
         R"({"newsData":[{"appIdentity":1e300,"imageLink":-1e300,"appId":1e300,"appLink":[1]},{"appId":-9223372036854775809},
           {"appIdentity":"x://","imageLink":"{{base}}/promo/images/news-1.png","appId":1e300}]})",
         nullptr,
         [&](promo::AdViewController&) {
             // The entry shown is reported with its number saturated.
             EXPECT_TRUE(waitFor([&] {
                 for (const auto& report : services_.requestsTo(kImpressionPath))
                     if (report.queryValue("appId") == "9223372036854775807")
                         return true;
                 return false;
             }));
         }},
        {"oversized strings, past the size cap of a list",
         R"({"newsData":[{"appIdentity":"x://","imageLink":"{{base}}/promo/images/news-1.png","appId":")" +
             huge + R"(","appLink":")" + huge + R"("}]})",
         nullptr, showsNothing},
        {"a slow picture",
         R"({"newsData":[{"appIdentity":"x://","imageLink":"{{base}}/promo/images/slow.png","appId":"1","appLink":"http://store.example/1"}]})",
         [&] {
             // The server holds the picture: the main thread answers, and the download is
             // still on its way.
             EXPECT_TRUE(waitFor([&] { return services_.requestCount(kSlowPicture) > 0; }));
             EXPECT_TRUE(fwtest::mainThreadAnswers());
             EXPECT_GT(promo::backgroundImageDownloadsInFlight(), 0u);
             slowPicture->open();
         }},
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
        if (row.whileLoading)
            row.whileLoading();
        // The list's fetch ends (with the list, or refused) before time moves on.
        EXPECT_TRUE(waitFor([] { return platform::URLConnection::runningCount() == 0; }));
        waitFor([] { return promo::backgroundImageDownloadsInFlight() == 0; });
        clock_.drain();
        clock_.advance(60);
        EXPECT_TRUE(fwtest::mainThreadAnswers());
        if (row.check)
            row.check(*host);
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
