// The client scripts: which installed folder a launch runs (only whole ones, never one cut
// short, links repaired), the sync over a compressed reply, and the ads the driver script
// fetches living an hour from their download.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <set>

#include "EngineHarness.h"

namespace {

using namespace cobalt;
namespace fs = std::filesystem;

// The head of the reply to a plain HTTP/1.1 GET of `target` with `extraHeader`, as sent on the
// wire (before any decoding).
std::string rawReplyHead(int port, const std::string& target, const std::string& extraHeader) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request =
            "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeader + "Connection: close\r\n\r\n";
        if (::send(fd, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size())) {
            char buffer[4096];
            ssize_t n = 0;
            while (reply.find("\r\n\r\n") == std::string::npos &&
                   (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
                reply.append(buffer, static_cast<std::size_t>(n));
        }
    }
    if (fd >= 0)
        ::close(fd);
    return reply.substr(0, reply.find("\r\n\r\n"));
}

class ClientScriptsTest : public cobalttest::EngineHarness {
public:
    fs::path config() const { return store() / "Config"; }
    void installFolder(const std::string& name, bool withDriver = true) {
        write(config() / name / "display.js", "// display " + name);
        if (withDriver)
            write(config() / name / "driver.js", "// driver " + name);
    }
    void link(const std::string& component, const std::string& folder) {
        fs::create_directories(config());
        fs::create_symlink(fs::path(folder) / (component + ".js"), config() / (component + ".js"));
    }
    std::set<std::string> entries() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(config()))
            names.insert(e.path().filename().string());
        return names;
    }
    std::string linkOf(const std::string& component) const {
        std::error_code ec;
        return fs::read_symlink(config() / (component + ".js"), ec).string();
    }
};

TEST_F(ClientScriptsTest, ALaunchRunsOnlyWholeClientsAndRepairsTheirLinks) {
    struct Case {
        const char* what;
        std::function<void(ClientScriptsTest&)> arrange;
        const char* version;
        const char* linkedFolder; // nullptr: no links
        std::set<std::string> left;
    };
    const Case cases[] = {
        {"a newer folder without driver.js is not taken",
         [](ClientScriptsTest& t) {
             t.installFolder("1000_1.0");
             t.installFolder("2000_1.1", false);
             t.link("display", "1000_1.0");
             t.link("driver", "1000_1.0");
         },
         "1.0",
         "1000_1.0",
         {"1000_1.0", "2000_1.1", "display.js", "driver.js"}},
        {"a folder cut short while written is swept",
         [](ClientScriptsTest& t) {
             t.installFolder("1000_1.0");
             t.installFolder("partial-2000_1.1");
             t.installFolder("partial-1700000000000_1.2", false);
             t.link("display", "1000_1.0");
             t.link("driver", "1000_1.0");
         },
         "1.0",
         "1000_1.0",
         {"1000_1.0", "display.js", "driver.js"}},
        {"a first install cut short between its links gets the missing one",
         [](ClientScriptsTest& t) {
             t.installFolder("1000_1.0");
             t.link("display", "1000_1.0");
         },
         "1.0",
         "1000_1.0",
         {"1000_1.0", "display.js", "driver.js"}},
        {"a link to another folder is set right",
         [](ClientScriptsTest& t) {
             t.installFolder("1000_1.0");
             t.link("display", "1000_1.0");
             t.link("driver", "999_0.9");
         },
         "1.0",
         "1000_1.0",
         {"1000_1.0", "display.js", "driver.js"}},
        {"a current folder that lost a script gives way to an older whole one",
         [](ClientScriptsTest& t) {
             t.installFolder("500_0.9");
             t.installFolder("1000_1.0", false);
             t.link("display", "1000_1.0");
             t.link("driver", "1000_1.0");
         },
         "0.9",
         "500_0.9",
         {"500_0.9", "display.js", "driver.js"}},
        {"with nothing whole left, no client is installed",
         [](ClientScriptsTest& t) {
             t.installFolder("1000_1.0", false);
             t.link("display", "1000_1.0");
             t.link("driver", "1000_1.0");
         },
         "0.0",
         nullptr,
         {"1000_1.0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(config());
        c.arrange(*this);
        auto manager = CBClientManager::create();
        EXPECT_EQ(manager->clientVersion(), c.version);
        EXPECT_EQ(entries(), c.left);
        for (const std::string component : {"display", "driver"}) {
            if (c.linkedFolder) {
                EXPECT_EQ(linkOf(component), (fs::path(c.linkedFolder) / (component + ".js")).string());
                EXPECT_TRUE(fs::is_regular_file(config() / (component + ".js")));
            } else {
                EXPECT_FALSE(fs::is_symlink(config() / (component + ".js")));
            }
        }
    }
}

TEST_F(ClientScriptsTest, TheSyncAsksForACompressedReplyAndTheScriptsArriveWhole) {
    // A driver large enough that the compressed reply is much smaller than the script.
    std::string driver = read(fs::path(services::ServiceHost::defaultFixturesDir()) / "cobalt" / "driver.js");
    for (int i = 0; i < 200; ++i)
        driver += "\n// padding line " + std::to_string(i) + " \"quoted\" \\ and more";
    cobaltService.setClient("1.0", driver);
    auto listener = launch();
    ASSERT_TRUE(waitFor([&] { return listener->ready.size() == 1; }));
    const auto syncs = services.requestsTo(services::kCobaltSyncPath);
    ASSERT_EQ(syncs.size(), 1u);
    EXPECT_EQ(syncs[0].header("Accept-Encoding"), "gzip");
    EXPECT_EQ(read(config() / "driver.js"), driver);
    EXPECT_EQ(read(config() / "display.js"),
              read(fs::path(services::ServiceHost::defaultFixturesDir()) / "cobalt" / "display.js"));
    // The service compresses the reply for a client that accepts it, and only then.
    const std::string target = syncs[0].target;
    EXPECT_NE(rawReplyHead(services.host().port(), target, "Accept-Encoding: gzip\r\n")
                  .find("Content-Encoding: gzip"),
              std::string::npos);
    EXPECT_EQ(rawReplyHead(services.host().port(), target, "").find("Content-Encoding"), std::string::npos);
}

TEST_F(ClientScriptsTest, AdsLiveAnHourFromTheirDownloadLongAfterTheLaunch) {
    auto listener = launch();
    ASSERT_TRUE(waitFor([&] { return listener->ready.size() == 1; }));
    auto expirationOf = [](std::int64_t dlTime) -> std::optional<std::int64_t> {
        const auto rows = CBController::existing()->database()->sqlExecute(
            "SELECT expiration FROM ads WHERE dlTime=?", {platform::Value(static_cast<long long>(dlTime))});
        if (rows.empty())
            return std::nullopt;
        return rows[0].at(0)->intOr(0);
    };
    // Each hour the unshown ad expires and a fresh one comes; each fresh one lives an hour
    // from the moment it arrived, however long ago the launch was.
    for (int hour = 1; hour <= 3; ++hour) {
        SCOPED_TRACE(hour);
        const auto ad = nextAd();
        ASSERT_NE(ad, 0);
        ASSERT_TRUE(waitFor([&] { return expirationOf(ad).has_value(); }));
        const double downloaded = platform::Clock::current().now();
        EXPECT_NEAR(static_cast<double>(*expirationOf(ad)) / 1000.0, downloaded + 3600.0, 60.0);
        time.advance(1800);
        EXPECT_EQ(nextAd(), ad) << "still within its hour";
        const auto served = cobaltService.adsServed();
        time.advance(1801);
        ASSERT_TRUE(waitFor([&] { return nextAd() != 0 && nextAd() != ad; }));
        EXPECT_EQ(cobaltService.adsServed(), served + 1);
    }
}

} // namespace
