// Runs the real `ferrowick` binary on a temporary device home with a script, as a user or an
// automation would, and checks what it shows, what it leaves on disk and what the services saw.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "platform/foundation/PropertyList.h"
#include "platform/ui/Image.h"
#include "services/MediationEndpoints.h"
#include "services/StandardEndpoints.h"
#include "support/LoopbackServices.h"

namespace fs = std::filesystem;

namespace {

class FerrowickScript : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "fw-runner-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        home_ = pattern;
        fs::create_directories(home_ / "Documents");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(home_, ec);
    }

    void writeFile(const std::string& name, std::size_t bytes) {
        std::ofstream(home_ / "Documents" / name, std::ios::binary) << std::string(bytes, 'x');
    }

    // Runs ferrowick with `script` on standard input; answers what it printed on standard output.
    // With `withStandardError`, what it wrote there follows in the same text.
    // With `workingFolder`, it runs there (where a snapshot without a folder is written).
    std::string run(const std::string& script, const std::string& extraOptions = {}, bool withStandardError = false,
                    const fs::path& workingFolder = {}) {
        fs::path scriptFile = home_ / "script.txt";
        std::ofstream(scriptFile) << script;
        std::string command = (workingFolder.empty() ? std::string() : "cd '" + workingFolder.string() + "' && ") +
                              std::string(FERROWICK_BINARY) + " --home '" + home_.string() +
                              "' --manual-clock --script '" + scriptFile.string() + "' " + extraOptions +
                              (withStandardError ? " 2>&1" : " 2>/dev/null");
        std::string output;
        FILE* pipe = ::popen(command.c_str(), "r");
        if (!pipe)
            return output;
        std::array<char, 4096> buffer;
        while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe))
            output.append(buffer.data(), n);
        status_ = ::pclose(pipe);
        return output;
    }

    platform::Dictionary preferences() {
        for (const auto& entry : fs::directory_iterator(home_ / "Library" / "Preferences"))
            if (entry.path().extension() == ".plist")
                if (auto v = platform::readPropertyListFile(entry.path()); v && v->dictionary())
                    return *v->dictionary();
        return {};
    }

    fs::path home_;
    int status_ = -1;
};

} // namespace

TEST_F(FerrowickScript, ListsDeletesAndLocks) {
    writeFile("notes.txt", 6);
    writeFile("song.mp3", 5000);

    // The launch pop-up covers the list until the promotion service has answered.
    std::string shown = run("wait 1\n"
                            "screen\n"
                            "delete notes.txt\n"
                            "screen\n"
                            "tap Settings\n"
                            "toggle Enable passkey lock\n"
                            "tap Pass key\n"
                            "type 2468\n"
                            "tap Confirm\n"
                            "type 2468\n"
                            "tap Done\n"
                            "quit\n");
    EXPECT_EQ(status_, 0);
    auto second = shown.find("notes.txt", shown.find("notes.txt") + 1);
    EXPECT_NE(shown.find("notes.txt"), std::string::npos) << shown;
    EXPECT_NE(shown.find("MP3 File"), std::string::npos) << shown;
    EXPECT_NE(shown.find("4.9 KB"), std::string::npos) << shown;
    EXPECT_EQ(second, std::string::npos) << "the deleted row is gone from the second screen\n" << shown;
    EXPECT_FALSE(fs::exists(home_ / "Documents" / "notes.txt"));
    EXPECT_TRUE(fs::exists(home_ / "Documents" / "song.mp3"));
    EXPECT_EQ(preferences()["passKey"].stringOr(""), "2468");

    // The next launch hides the list until the key is typed, and asks for the key on the very
    // first screen (the launch's check for the key comes a second after it, and settles). Its
    // services offer Lumen's banners only: a video ad that the first run may have cached would
    // play over the whole screen.
    fwtest::LoopbackServices services;
    services::installStandardEndpoints(services.host());
    const std::string config = R"({"extra":{"refresh_interval":30,"transition":0},"rations":[)"
                               R"({"type":1,"nid":"lock-lumen","nname":"lumen","weight":100,"priority":1,)"
                               R"("key":"fw-lumen"}]})";
    services.handle("GET", "/switchboard/getInfo.php", [config](const services::LoggedRequest&) {
        return services::ServiceReply{200, config, "application/json", {}};
    });
    std::string locked = run("screen\nquit\n", "--services " + services.baseURL());
    EXPECT_EQ(locked.find("song.mp3"), std::string::npos) << locked;
    EXPECT_NE(locked.find("Enter pass key"), std::string::npos) << locked;
}

TEST_F(FerrowickScript, UploadsTheDeviceTokenAndTakesPushPayloads) {
    fwtest::LoopbackServices services;
    services::installStandardEndpoints(services.host());
    std::string shown = run("wait 1\npush {\"applink\":\"987654\"}\nwait 1\nquit\n",
                            "--services " + services.baseURL());
    EXPECT_EQ(status_, 0);
    auto registrations = services.host().requestsTo("/pushNotification/commonPhp/getDevicedata.php");
    ASSERT_EQ(registrations.size(), 1u);
    EXPECT_EQ(registrations[0].queryValue("appName"), "Ferro Wick");
    auto token = registrations[0].queryValue("deviceToken").value_or("");
    EXPECT_EQ(token.size(), 64u);
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos) << token;
    EXPECT_EQ(preferences()["promoAppLink"].stringOr(""), "987654");
}

TEST_F(FerrowickScript, ALaunchByPushCreatesTheBannerHostWhoseSlotFetchesItsConfiguration) {
    fwtest::LoopbackServices services;
    services::installStandardEndpoints(services.host());
    run("wait 2\nquit\n", "--launch-push --services " + services.baseURL());
    EXPECT_EQ(status_, 0);
    auto fetches = services.host().requestsTo("/switchboard/getInfo.php");
    ASSERT_EQ(fetches.size(), 1u);
    EXPECT_EQ(fetches[0].queryValue("appid"), "4c1e9b07d2a85f36e0b47a9c13d6f285");
}

TEST_F(FerrowickScript, EveryBuiltAdapterIsRegisteredInTheBinary) {
    std::string shown = run("adapters\nquit\n");
    // Lumen (1), Tangent (2), Meridian (6), Cobalt (7) and Orbis (18) come with their clients; custom (9), Nimbus (12),
    // generic (16) and event (17) with the mediation layer; Halo (19) registers only where the
    // platform has its banner class, which this one has not.
    EXPECT_NE(shown.find("adapters: 1 2 6 7 9 12 16 17 18\n"), std::string::npos) << shown;
}

TEST_F(FerrowickScript, BadCommandsAnswerAnErrorAndTheRunGoesOn) {
    std::string shown = run("fly away\ntap Nothing Here\nwait -1\nadapters\nquit\n");
    EXPECT_EQ(status_, 0);
    EXPECT_NE(shown.find("error: unknown command \"fly\""), std::string::npos) << shown;
    EXPECT_NE(shown.find("error: nothing labelled \"Nothing Here\""), std::string::npos) << shown;
    EXPECT_NE(shown.find("error: wait needs"), std::string::npos) << shown;
    EXPECT_NE(shown.find("adapters:"), std::string::npos) << shown;
}

TEST_F(FerrowickScript, ShakeAndInstalledSchemes) {
    std::string shown = run("shake 0\nshake many\nshake\nquit\n", "--installed-schemes=otherapp");
    EXPECT_EQ(status_, 0);
    EXPECT_NE(shown.find("error: shake takes a number of readings between 1 and 1000"), std::string::npos) << shown;
    // At launch nothing on the drive's screens listens to the accelerometer.
    EXPECT_NE(shown.find("shake: nothing on screen listens to the accelerometer"), std::string::npos) << shown;

    run("quit\n", "--installed-schemes=not/a/scheme");
    EXPECT_EQ(WEXITSTATUS(status_), 2);
}

TEST_F(FerrowickScript, TheFirstScreenIsTheSettledDriveAndConsoleLinesGoToTheLog) {
    writeFile("first.txt", 10);
    std::string shown = run("screen\nquit\n", {}, true);
    EXPECT_EQ(status_, 0);
    // No `wait` needed: the launch has settled before the first command is read.
    EXPECT_NE(shown.find("first.txt"), std::string::npos) << shown;
    EXPECT_NE(shown.find("[Settings]"), std::string::npos) << shown;
    // The system's lines are in the device's console log, not between the screens.
    EXPECT_EQ(shown.find("embedded services at"), std::string::npos) << shown;
    std::ifstream log(home_ / "Library" / "Logs" / "console.log");
    std::string logged((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(logged.find("embedded services at"), std::string::npos) << logged;

    std::string console = run("quit\n", "--console", true);
    EXPECT_NE(console.find("embedded services at"), std::string::npos) << console;
}

TEST_F(FerrowickScript, ImageButtonsShowTheirLabelsAndLongListsScroll) {
    for (int i = 1; i <= 40; ++i)
        writeFile("file" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".txt", 1);
    // The list shows the newest first, then by name from the end: file40 on top, file01 last.
    std::string shown = run("screen\n"
                            "scroll down file01.txt\n"
                            "screen\n"
                            "scroll up\nscroll up\nscroll up\nscroll up\nscroll up\nscroll up\n"
                            "scroll up\nscroll up\nscroll up\nscroll up\nscroll up\nscroll up\n"
                            "screen\n"
                            "scroll sideways\n"
                            "tap Storage\n"
                            "screen\n"
                            "quit\n");
    EXPECT_EQ(status_, 0);
    // Each screen starts with the title row (an ad's text may name the application too).
    std::vector<std::string> screens;
    for (std::size_t at = shown.find("Ferro Wick\n"), next; at != std::string::npos; at = next) {
        next = shown.find("Ferro Wick\n", at + 1);
        screens.push_back(shown.substr(at, next == std::string::npos ? std::string::npos : next - at));
    }
    ASSERT_EQ(screens.size(), 4u) << shown;
    // The image-only storage button shows the label it is tapped by.
    EXPECT_NE(screens[0].find("Storage"), std::string::npos) << screens[0];
    EXPECT_NE(screens[0].find("file40.txt"), std::string::npos) << screens[0];
    EXPECT_EQ(screens[0].find("file01.txt"), std::string::npos) << screens[0];
    EXPECT_NE(screens[1].find("file01.txt"), std::string::npos) << screens[1];
    EXPECT_EQ(screens[1].find("file40.txt"), std::string::npos) << screens[1];
    EXPECT_NE(screens[2].find("file40.txt"), std::string::npos) << screens[2];
    EXPECT_NE(shown.find("error: scroll needs up or down"), std::string::npos) << shown;
    EXPECT_NE(screens[3].find("Free Memory"), std::string::npos) << screens[3];
}

TEST_F(FerrowickScript, SnapshotWritesAPictureOfTheScreen) {
    writeFile("notes.txt", 6);
    fs::path picture = home_ / "screen.png";
    std::string shown = run("wait 1\nsnapshot " + picture.string() + "\nsnapshot screen.txt\nsnapshot " +
                            (home_ / "no-such-folder" / "x.png").string() + "\nquit\n");
    EXPECT_EQ(status_, 0);
    EXPECT_NE(shown.find("snapshot written to " + picture.string()), std::string::npos) << shown;
    EXPECT_NE(shown.find("error: snapshot needs a file name ending in .png"), std::string::npos) << shown;
    EXPECT_NE(shown.find("error: Cannot write the picture"), std::string::npos) << shown;
    auto image = platform::Image::fromFile(picture);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->pixelWidth(), 320);
    EXPECT_EQ(image->pixelHeight(), 480);
    // Not a blank page: the list, its bars and the banner put many colours on it.
    std::set<std::uint32_t> colours;
    const auto& px = image->pixels();
    for (std::size_t i = 0; i + 3 < px.size(); i += 4)
        colours.insert(std::uint32_t(px[i]) << 16 | std::uint32_t(px[i + 1]) << 8 | px[i + 2]);
    EXPECT_GT(colours.size(), 8u);
}

TEST_F(FerrowickScript, TheBannerHostShowsATangentAdThroughTheMediationView) {
    fwtest::LoopbackServices services;
    services::installStandardEndpoints(services.host());
    // A configuration whose only network is Tangent (type 2), so the first ad is Tangent's.
    services.handle("GET", std::string(services::kMediationConfigPath), [](const services::LoggedRequest&) {
        return services::ServiceReply{
            200,
            R"({"extra": {"refresh_interval": 30, "location_on": 0, "transition": 1},)"
            R"( "rations": [{"type": 2, "nid": "ferrowick-tangent", "nname": "tangent", "weight": 100,)"
            R"( "priority": 1, "key": {"publisherID": "fw-tangent", "siteID": "fw-site", "spotID": "fw-spot"}}]})",
            "application/json",
            {}};
    });
    std::string shown = run("wait 2\nwait 2\nwait 2\nscreen\nquit\n", "--services " + services.baseURL());
    EXPECT_NE(shown.find("Ferro Wick Pro: carry every file, no ads"), std::string::npos) << shown;
    auto requests = services.host().requestsTo("/tangent/a/ads");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].queryValue("pub"), "fw-tangent");
    EXPECT_EQ(requests[0].queryValue("site"), "fw-site");
    EXPECT_EQ(requests[0].queryValue("spot"), "fw-spot");
}

namespace {

// The commands of the README's first walk, in order: each line of the walk's block that does
// not start with a blank, up to the first run of two blanks (the explanation follows).
std::vector<std::string> readmeWalk() {
    std::ifstream in(FERROWICK_README);
    std::vector<std::string> commands;
    std::string line;
    bool inWalk = false, inBlock = false;
    while (std::getline(in, line)) {
        if (!inWalk) {
            inWalk = line.find("A first walk") != std::string::npos;
            continue;
        }
        if (line.rfind("```", 0) == 0) {
            if (inBlock)
                break;
            inBlock = true;
            continue;
        }
        if (!inBlock || line.empty() || line.front() == ' ')
            continue;
        commands.push_back(line.substr(0, line.find("  ")));
    }
    return commands;
}

struct WalkNetwork {
    const char* name;
    const char* ration;  // the configuration's one entry
    const char* landing; // requested after the tap on the ad
    const char* close;   // what closes the landing page; none when the link left the application
};

// The network types of the default configuration.
const WalkNetwork kWalkNetworks[] = {
    {"Lumen", R"({"type":1,"nid":"walk-lumen","nname":"lumen","weight":100,"priority":1,"key":"fw-lumen"})",
     "/lumen/landing.html", "Done"},
    // The placement of the fixtures' banner (the default configuration's gets a video ad).
    {"Meridian", R"({"type":6,"nid":"walk-meridian","nname":"meridian","weight":100,"priority":1,"key":"fw-e2e"})",
     nullptr, nullptr},
    {"Cobalt", R"({"type":7,"nid":"walk-cobalt","nname":"cobalt","weight":100,"priority":1,"key":"fw-cobalt"})",
     "/cobalt/AdBridgeServer/v2/landing", "Done"},
    {"Orbis", R"({"type":18,"nid":"walk-orbis","nname":"orbis","weight":100,"priority":1,"key":"fw-orbis"})",
     "/orbis/landing.html", "Done"},
    {"Tangent",
     R"({"type":2,"nid":"walk-tangent","nname":"tangent","weight":100,"priority":1,)"
     R"("key":{"publisherID":"fw-tangent","siteID":"fw-site","spotID":"fw-spot"}})",
     "/tangent/landing.html", "Back"},
};

} // namespace

// The README's walk, run as written on the embedded services with one network configured at a
// time; the landing page closes the way the README says for that network. Each command
// settles before the next, so `tap Done` straight after `tap Ad` finds the page's Done.
TEST_F(FerrowickScript, TheReadmeWalkRunsForEveryNetworkOfTheDefaultConfiguration) {
    auto walk = readmeWalk();
    ASSERT_GE(walk.size(), 10u);
    auto tapAd = std::find(walk.begin(), walk.end(), "tap Ad");
    ASSERT_NE(tapAd, walk.end());
    ASSERT_NE(tapAd + 1, walk.end());
    ASSERT_EQ(*(tapAd + 1), "tap Done");
    ASSERT_EQ(walk.back(), "quit");
    struct Leg {
        const WalkNetwork& network;
        bool tablet;
    };
    std::vector<Leg> legs;
    for (const auto& network : kWalkNetworks)
        legs.push_back({network, false});
    // On the tablet, the in-app browser whose toolbar closes with Done.
    legs.push_back({kWalkNetworks[0], true});
    for (const auto& [network, tablet] : legs) {
        SCOPED_TRACE(std::string(network.name) + (tablet ? " on the tablet" : " on the phone"));
        TearDown();
        SetUp();
        writeFile("notes.txt", 6);
        fwtest::LoopbackServices services;
        services::installStandardEndpoints(services.host());
        std::string config = std::string(R"({"extra":{"refresh_interval":30,"transition":1},"rations":[)") +
                             network.ration + "]}";
        services.handle("GET", std::string(services::kMediationConfigPath), [config](const services::LoggedRequest&) {
            return services::ServiceReply{200, config, "application/json", {}};
        });
        std::string script;
        for (auto it = walk.begin(); it != walk.end(); ++it) {
            if (it == tapAd + 1) {
                if (network.close)
                    script += std::string("tap ") + network.close + "\n";
                continue;
            }
            if (*it == "quit")
                script += "screen\n"; // to see where the walk ended
            script += *it + "\n";
        }
        std::string shown =
            run(script, "--services " + services.baseURL() + (tablet ? " --device tablet" : ""), false, home_);
        EXPECT_EQ(status_, 0);
        EXPECT_EQ(shown.find("error:"), std::string::npos) << script << shown;
        EXPECT_EQ(preferences()["passKey"].stringOr(""), "2468");
        EXPECT_EQ(services.requestCount("/switchboard/exclick.php"), 1u) << "one tap on the network's ad";
        if (network.landing) {
            EXPECT_GE(services.requestCount(network.landing), 1u) << network.landing;
        }
        EXPECT_TRUE(fs::exists(home_ / "drive.png"));
        auto title = shown.rfind("Ferro Wick\n");
        auto lastScreen = shown.substr(title == std::string::npos ? 0 : title);
        EXPECT_NE(lastScreen.find("[Settings]"), std::string::npos) << "back on the drive\n" << shown;
    }
}

// `ferrowick-services --fixtures DIR` serves every endpoint from DIR, the mediation
// configuration included: a copy that names one network makes `ferrowick` show only its ads.
TEST_F(FerrowickScript, TheServicesServeTheFixturesFolderTheyAreGiven) {
    fs::path fixtures = home_ / "my-fixtures";
    fs::copy(FERROWICK_FIXTURES, fixtures, fs::copy_options::recursive);
    const std::string onlyOrbis =
        R"({"extra":{"refresh_interval":30,"transition":0},"rations":[)"
        R"({"type":18,"nid":"mine","nname":"orbis","weight":100,"priority":1,"key":"fw-orbis"}]})";
    std::ofstream(fixtures / "switchboard/config/4c1e9b07d2a85f36e0b47a9c13d6f285.json") << onlyOrbis;
    std::ofstream(fixtures / "orbis/ad-live.xml")
        << R"(<?xml version="1.0" encoding="UTF-8"?><Ads><Ad type="banner" actionType="2" width="320" height="50">)"
           R"(<AdURL>{{services}}/orbis/click?ad=mine</AdURL><titleText>Mine</titleText><![CDATA[<html><body>)"
           R"(<a id="ad" href="http://ads.invalid/go">My own fixture ad</a></body></html>]]></Ad></Ads>)";

    // The services in a process of their own; they print their URL on the first line.
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    // Stops the services however the test ends.
    struct Stopper {
        pid_t pid;
        ~Stopper() {
            ::kill(pid, SIGTERM);
            int status = 0;
            ::waitpid(pid, &status, 0);
        }
    };
    if (child == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        ::execl(FERROWICK_SERVICES_BINARY, FERROWICK_SERVICES_BINARY, "--fixtures", fixtures.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    Stopper stopper{child};
    std::string url;
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n')
        url += c;
    ::close(out[0]);
    ASSERT_EQ(url.rfind("http://127.0.0.1:", 0), 0u) << url;

    std::string shown = run("wait 3\nwait 3\nscreen\nquit\n", "--services " + url);
    EXPECT_EQ(status_, 0);
    EXPECT_NE(shown.find("My own fixture ad"), std::string::npos) << shown;
}
