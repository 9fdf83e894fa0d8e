// What a command of `ferrowick` started is on screen when the next command is read: `tap Ad`
// shows the network's page to the very next `screen`, on the phone and on the tablet, for
// every network the slot can show. `wait N` moves the clock by N exactly, whatever arrives
// meanwhile. A service that accepts and never answers costs a command one settle's budget
// of real time at most.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "RunnerTestSupport.h"
#include "app/AppFixture.h"
#include "mediation/SwitchboardAdNetworkAdapter.h"
#include "mediation/SwitchboardAdNetworkConfig.h"
#include "mediation/SwitchboardView.h"
#include "platform/foundation/Services.h"
#include "platform/net/URLConnection.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/TextRenderer.h"
#include "promo/AdViewController.h"
#include "runner/CommandInterpreter.h"
#include "runner/Runner.h"
#include "support/LoopbackServices.h"

namespace {

struct TapAdCase {
    const char* name;
    const char* ration; // the configuration's one entry
    int type;
    // What the next `screen` shows of the network's page; for a link that leaves the
    // application, what the application opened instead.
    const char* pageText;
    const char* openedURL;
    const char* closeLabel; // closes the page again
};

const TapAdCase kTapAdCases[] = {
    {"Lumen", R"({"type":1,"nid":"tap-lumen","nname":"lumen","weight":100,"priority":1,"key":"fw-lumen"})", 1,
     "Thanks for visiting.", nullptr, "Done"},
    {"Meridian",
     R"({"type":6,"nid":"tap-meridian","nname":"meridian","weight":100,"priority":1,"key":"fw-e2e"})", 6,
     nullptr, "http://example.invalid/landing", nullptr},
    {"Cobalt",
     R"({"type":7,"nid":"tap-cobalt","nname":"cobalt","weight":100,"priority":1,"key":"fw-cobalt"})", 7,
     "Thanks for looking.", nullptr, "Done"},
    {"Custom", R"({"type":9,"nid":"tap-custom","nname":"custom","weight":100,"priority":1})", 9, "next mail",
     nullptr, "Done"},
    {"Nimbus",
     R"({"type":12,"nid":"tap-nimbus","nname":"nimbus","weight":100,"priority":1,"key":"nimbus-app"})", 12,
     "next mail", nullptr, "Done"},
    {"Tangent",
     R"({"type":2,"nid":"tap-tangent","nname":"tangent","weight":100,"priority":1,)"
     R"("key":{"publisherID":"fw-tangent","siteID":"fw-site","spotID":"fw-spot"}})",
     2, "Carry every file you need", nullptr, "Back"},
    {"Orbis", R"({"type":18,"nid":"tap-orbis","nname":"orbis","weight":100,"priority":1,"key":"fw-orbis"})",
     18, "Thanks for visiting", nullptr, "Done"},
};

struct TapAdParam {
    TapAdCase network;
    platform::DeviceProfile device;
};

std::vector<TapAdParam> tapAdParams() {
    std::vector<TapAdParam> out;
    for (auto device : {platform::DeviceProfile::Phone, platform::DeviceProfile::Tablet})
        for (const auto& network : kTapAdCases)
            out.push_back({network, device});
    return out;
}

class TapAdShowsThePage : public apptest::AppTest, public ::testing::WithParamInterface<TapAdParam> {
protected:
    void SetUp() override {
        platform::Device::setProfile(GetParam().device);
        runnertest::startAsOnAFreshDevice(services_);
        runnertest::serveCustomAd(services_);
        runnertest::serveNetworks(services_, GetParam().network.ration);
        services_.setFault("/applications/newNews/newNewsPhone.php", services::Fault::errorStatus(404));
        services_.setFault("/applications/newNews/newNewsPad.php", services::Fault::errorStatus(404));
    }

    std::string run(const std::string& command) {
        auto result = runner::runCommand(interpreter_, command);
        EXPECT_TRUE(result.ok) << command << ": " << result.output;
        return result.output;
    }

    bool showsTheNetworksAd() {
        auto slot = app::adView ? app::adView->mediationView() : nullptr;
        return slot && slot->adExists() && slot->currAdapter() &&
               slot->currAdapter()->networkConfig()->networkType() == GetParam().network.type;
    }

    fwtest::LoopbackServices services_;
    runner::CommandInterpreter interpreter_{[](double seconds) { runner::waitFor(seconds, true); }};
};

TEST_P(TapAdShowsThePage, ToTheNextScreenCommand) {
    const TapAdCase& network = GetParam().network;
    auto marks = runner::commandMarks();
    launch();
    runner::settle(marks);
    for (int i = 0; i < 20 && !showsTheNetworksAd(); ++i)
        run("wait 1");
    ASSERT_TRUE(showsTheNetworksAd()) << platform::TextRenderer::renderScreen();

    run("tap Ad");
    std::string screen = run("screen");
    if (network.pageText) {
        EXPECT_NE(screen.find(network.pageText), std::string::npos) << screen;
        EXPECT_EQ(screen.find("[Settings]"), std::string::npos) << "the drive still shows\n" << screen;
    } else {
        const auto& opened = platform::Application::shared().openedURLs();
        EXPECT_NE(std::find(opened.begin(), opened.end(), std::string(network.openedURL)), opened.end())
            << ::testing::PrintToString(opened);
    }
    // And the page's way out brings the drive back to the next `screen`.
    if (network.closeLabel) {
        run(std::string("tap ") + network.closeLabel);
        screen = run("screen");
        EXPECT_NE(screen.find("[Settings]"), std::string::npos) << screen;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Networks, TapAdShowsThePage, ::testing::ValuesIn(tapAdParams()), [](const auto& info) {
        return std::string(info.param.device == platform::DeviceProfile::Phone ? "Phone" : "Tablet") +
               info.param.network.name;
    });

} // namespace

namespace {

// The drive with Lumen ads every 30 s, each brought in by the fixtures' transition, and the
// house ads off, on the phone or the tablet.
class ExactWaits : public apptest::AppTest, public ::testing::WithParamInterface<platform::DeviceProfile> {
protected:
    void SetUp() override {
        platform::Device::setProfile(GetParam());
        runnertest::startAsOnAFreshDevice(services_);
        runnertest::serveNetworks(services_, kTapAdCases[0].ration, 1);
        services_.setFault("/applications/newNews/newNewsPhone.php", services::Fault::errorStatus(404));
        services_.setFault("/applications/newNews/newNewsPad.php", services::Fault::errorStatus(404));
    }

    double now() const { return platform::Clock::current().monotonic(); }

    fwtest::LoopbackServices services_;
    runner::CommandInterpreter interpreter_{[](double seconds) { runner::waitFor(seconds, true); }};
};

TEST_P(ExactWaits, WaitMovesTheClockByExactlyWhatItSays) {
    auto marks = runner::commandMarks();
    launch();
    runner::settle(marks);
    // Waits as a script makes them: short ones in a row (together past the launch pop-up's
    // 15 s time-out), a long one, and one across the ads' refresh. The drive blinks its
    // upgrade button every second meanwhile, and ads arrive and flip in.
    const std::vector<double> waits = {1, 1, 1, 1, 1, 1, 1, 1, 0.3, 13, 35};
    const std::size_t adsBefore = services_.requestCount("/lumen/ad");
    for (double seconds : waits) {
        // A timer due half a second after the wait's end has not fired when it ends.
        bool fired = false;
        platform::RunLoop::main().performAfter(seconds + 0.5, [&fired] { fired = true; });
        const double before = now();
        auto result = runner::runCommand(interpreter_, "wait " + std::to_string(seconds));
        ASSERT_TRUE(result.ok) << result.output;
        EXPECT_NEAR(now() - before, seconds, 1e-6) << "wait " << seconds;
        EXPECT_FALSE(fired) << "wait " << seconds;
        platform::RunLoop::main().advance(0.5);
        EXPECT_TRUE(fired) << "wait " << seconds;
    }
    EXPECT_GT(services_.requestCount("/lumen/ad"), adsBefore) << "an ad arrived during the waits";
}

INSTANTIATE_TEST_SUITE_P(Devices, ExactWaits,
                         ::testing::Values(platform::DeviceProfile::Phone, platform::DeviceProfile::Tablet),
                         [](const auto& info) {
                             return std::string(info.param == platform::DeviceProfile::Phone ? "Phone"
                                                                                             : "Tablet");
                         });

// A loopback server that accepts every connection and never answers: each is held open, unread,
// until the server goes.
class SilentServer {
public:
    SilentServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, SOMAXCONN) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        url_ = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
        acceptor_ = std::thread([this] {
            for (;;) {
                int connection = ::accept(listener_, nullptr, nullptr);
                if (connection < 0)
                    return; // shut down
                std::lock_guard lock(mutex_);
                held_.push_back(connection);
            }
        });
    }
    ~SilentServer() {
        if (listener_ >= 0)
            ::shutdown(listener_, SHUT_RDWR); // wakes the acceptor
        if (acceptor_.joinable())
            acceptor_.join();
        for (int connection : held_)
            ::close(connection);
        if (listener_ >= 0)
            ::close(listener_);
    }
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;

    const std::string& url() const { return url_; }
    std::size_t accepted() {
        std::lock_guard lock(mutex_);
        return held_.size();
    }

private:
    int listener_ = -1;
    std::string url_;
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<int> held_;
};

class SilentServices : public apptest::AppTest {
protected:
    SilentServices() : previousServices_(platform::servicesBaseURL()) {
        platform::setServicesBaseURL(server_.url());
    }
    ~SilentServices() override {
        platform::URLConnection::cancelAllForTesting();
        platform::setServicesBaseURL(previousServices_);
    }

    // Runs a command as `ferrowick` does; answers how long it took in real time.
    double timed(const std::string& command) {
        auto start = std::chrono::steady_clock::now();
        runner::runCommand(interpreter_, command);
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

    SilentServer server_;
    std::string previousServices_;
    runner::CommandInterpreter interpreter_{[](double seconds) { runner::waitFor(seconds, true); }};
};

TEST_F(SilentServices, ACommandWaitsForThemOneBudgetAtMost) {
    ASSERT_FALSE(server_.url().empty());
    auto marks = runner::commandMarks();
    launch();
    runner::settle(marks);
    ASSERT_GT(server_.accepted(), 0u) << "the launch asked the services";
    ASSERT_GT(platform::URLConnection::runningCount(), 0u) << "and heard nothing back";
    // Each of these settled once per step or look (a wait every half second, a tap every
    // quarter), and waited out a whole budget for the same silent requests each time. Now the
    // launch's requests are not waited for again; requests that a command starts (the wait
    // reaches the launch pop-up's time-out, which asks for house ads and the slot's
    // configuration) cost it one budget.
    const double oneBudget = runner::kSettleLimitSeconds * 1.5;
    for (const char* command : {"wait 2", "tap Nowhere", "wait 20", "screen", "wait 2"})
        EXPECT_LT(timed(command), oneBudget) << command;
    EXPECT_LT(timed("screen"), runner::kSettleLimitSeconds / 2) << "nothing new to wait for";
}

// The services answer, but the picture of the launch pop-up comes from a server that never
// does: the download on its background thread costs one settle its budget, no more.
TEST_F(SilentServices, ABackgroundDownloadFromThemCostsOneBudgetAtMost) {
    fwtest::LoopbackServices services;
    runnertest::startAsOnAFreshDevice(services);
    const std::string reply = R"({"calledApp":[{"adStatus":true,"adNetStatus":true}],"adsData":[)"
                              R"({"appIdentity":"promoted://","imageLink":")" +
                              server_.url() +
                              R"(/popup.png","id":"41","adFullLink":"http://store.example/a"}]})";
    for (const char* path :
         {"/applications/popupAds/iPhonePopupAdsNew.php", "/applications/popupAds/iPadPopupAdsNew.php"})
        services.handle("GET", path, [reply](const services::LoggedRequest&) {
            return services::ServiceReply{200, reply, "application/json", {}};
        });
    auto marks = runner::commandMarks();
    launch();
    runner::settle(marks);
    ASSERT_GT(server_.accepted(), 0u) << "the picture was asked for";
    for (const char* command : {"screen", "wait 2", "tap Nowhere"})
        EXPECT_LT(timed(command), runner::kSettleLimitSeconds / 2) << command;
}

} // namespace
