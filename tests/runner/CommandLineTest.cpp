// The command lines of the two programs a person starts: `ferrowick` and `ferrowick-services`,
// run as real processes.
#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "archive/ZipUnpacker.h"
#include "platform/net/URLConnection.h"
#include "platform/foundation/URL.h"
#include "platform/net/URLRequest.h"

namespace fs = std::filesystem;

namespace {

fs::path makeTemporaryFolder(const char* prefix) {
    std::string pattern = (fs::temp_directory_path() / (std::string(prefix) + "XXXXXX")).string();
    if (!::mkdtemp(pattern.data()))
        return {};
    return pattern;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Outcome {
    int exitStatus = -1;
    std::string standardOutput;
    std::string standardError;
};

// Runs `command` through the shell in `folder`; answers its exit status and both outputs.
Outcome runIn(const fs::path& folder, const std::string& command) {
    Outcome outcome;
    const fs::path errors = makeTemporaryFolder("fw-cli-err-") / "stderr.txt";
    FILE* pipe = ::popen(("cd '" + folder.string() + "' && " + command + " 2>'" + errors.string() + "'").c_str(), "r");
    if (!pipe)
        return outcome;
    std::array<char, 4096> buffer;
    while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe))
        outcome.standardOutput.append(buffer.data(), n);
    const int status = ::pclose(pipe);
    outcome.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.standardError = readFile(errors);
    std::error_code ec;
    fs::remove_all(errors.parent_path(), ec);
    return outcome;
}

} // namespace

// Asked for help, each program prints its usage on standard output and ends with status 0,
// without starting anything (no device home, no services).
TEST(CommandLine, HelpPrintsTheUsageAndSucceeds) {
    struct Case {
        const char* program;
        const char* option;
        const char* usage;
    };
    const Case cases[] = {
        {FERROWICK_BINARY, "--help", "usage: ferrowick "},
        {FERROWICK_BINARY, "-h", "usage: ferrowick "},
        {FERROWICK_SERVICES_BINARY, "--help", "usage: ferrowick-services "},
        {FERROWICK_SERVICES_BINARY, "-h", "usage: ferrowick-services "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.program) + " " + c.option);
        const fs::path folder = makeTemporaryFolder("fw-cli-");
        ASSERT_FALSE(folder.empty());
        const Outcome outcome = runIn(folder, std::string("'") + c.program + "' " + c.option);
        EXPECT_EQ(outcome.exitStatus, 0);
        EXPECT_EQ(outcome.standardOutput.rfind(c.usage, 0), 0u) << outcome.standardOutput;
        EXPECT_NE(outcome.standardOutput.find("--help"), std::string::npos) << outcome.standardOutput;
        EXPECT_EQ(outcome.standardError, "");
        EXPECT_TRUE(fs::is_empty(folder)) << "nothing is made in the working folder";
        std::error_code ec;
        fs::remove_all(folder, ec);
    }

    // An unknown option is still refused, with the usage on standard error.
    const fs::path folder = makeTemporaryFolder("fw-cli-");
    for (const char* program : {FERROWICK_BINARY, FERROWICK_SERVICES_BINARY}) {
        SCOPED_TRACE(program);
        const Outcome outcome = runIn(folder, std::string("'") + program + "' --colour");
        EXPECT_EQ(outcome.exitStatus, 2);
        EXPECT_EQ(outcome.standardOutput, "");
        EXPECT_NE(outcome.standardError.find("usage: ferrowick"), std::string::npos) << outcome.standardError;
    }
    std::error_code ec;
    fs::remove_all(folder, ec);
}

namespace {

// `ferrowick-services --fixtures DIR` on a copy of the project's fixtures in which one file of
// every endpoint's folder carries a marker of its own.
class ServicesFixturesFolder : public ::testing::Test {
protected:
    void TearDown() override {
        if (child_ > 0) {
            ::kill(child_, SIGTERM);
            int status = 0;
            ::waitpid(child_, &status, 0);
        }
        std::error_code ec;
        if (!root_.empty())
            fs::remove_all(root_, ec);
    }

    // The marker of `file` (a path under the fixtures folder): a text no fixture holds.
    static std::string markerFor(const std::string& file) {
        std::string marker = "own-fixture-" + file;
        for (char& c : marker)
            if (c == '/' || c == '.')
                c = '-';
        return marker;
    }

    void copyFixtures() {
        root_ = makeTemporaryFolder("fw-own-fixtures-");
        ASSERT_FALSE(root_.empty());
        fixtures_ = root_ / "my-fixtures";
        fs::copy(FERROWICK_FIXTURES, fixtures_, fs::copy_options::recursive);
    }

    // Makes `file` of the copy hold only its marker (made when the copy has no such file).
    void mark(const std::string& file) {
        fs::create_directories((fixtures_ / file).parent_path());
        std::ofstream(fixtures_ / file, std::ios::binary | std::ios::trunc) << markerFor(file);
    }

    // Starts the services on the copy; they print their URL on the first line.
    void startServices() {
        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        child_ = ::fork();
        ASSERT_GE(child_, 0);
        if (child_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            ::execl(FERROWICK_SERVICES_BINARY, FERROWICK_SERVICES_BINARY, "--fixtures", fixtures_.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n')
            url_ += c;
        ::close(out[0]);
        ASSERT_EQ(url_.rfind("http://127.0.0.1:", 0), 0u) << url_;
    }

    platform::URLConnection::SynchronousResponse fetch(const std::string& pathAndQuery, const std::string& form) {
        auto url = platform::URL::parse(url_ + pathAndQuery);
        EXPECT_TRUE(url) << pathAndQuery;
        if (!url)
            return {};
        platform::URLRequest request(*url);
        request.setTimeoutInterval(30);
        if (!form.empty()) {
            request.setHTTPMethod("POST");
            request.setValue("application/x-www-form-urlencoded", "Content-Type");
            request.setHTTPBody(std::string_view(form));
        }
        return platform::URLConnection::sendSynchronousRequest(request, 64 * 1024 * 1024);
    }

    fs::path root_;
    fs::path fixtures_;
    std::string url_;
    pid_t child_ = -1;
};

} // namespace

// Every endpoint that answers with a file reads it from the folder the services were given,
// none from the project's own fixtures.
TEST_F(ServicesFixturesFolder, EveryEndpointServesTheFolderItIsGiven) {
    struct Case {
        std::string request; // path and query
        std::string form;    // POSTed when not empty
        std::vector<std::string> files; // each one's marker must be in the reply
    };
    const std::string nimbusQuery =
        "appver=1&v=1&apikey=k&appkey=marked-app&deviceid=d&width=320&height=50&fmt=json&ua=u&test=0";
    const std::vector<Case> cases = {
        // Mediation configuration and custom ads, by key: a key only the copy has.
        {"/switchboard/getInfo.php?appid=marked-app&appver=1&client=1", "", {"switchboard/config/marked-app.json"}},
        {"/switchboard/custom.php?appver=1&country_code=US&appid=marked-app&nid=1&client=1", "",
         {"switchboard/custom/marked-app.json"}},
        {"/nimbus/ads/feed.php?" + nimbusQuery, "", {"nimbus/feed/marked-app.json"}},
        // House promotions, phone and tablet lists.
        {"/applications/newNews/newNewsPhone.php", "", {"promo/houseNews.json"}},
        {"/applications/newNews/newNewsPad.php", "", {"promo/houseNews.json"}},
        {"/applications/popupAds/iPhonePopupAdsNew.php", "", {"promo/popUp.json"}},
        {"/applications/popupAds/iPadPopupAdsNew.php", "", {"promo/popUp.json"}},
        {"/pushNews/newPushNews.php", "", {"promo/pushNews.json"}},
        {"/applications/moreAppsNew/moreAppsPhone.php", "", {"promo/moreApps.json"}},
        {"/applications/moreAppsNew/moreAppsPad.php", "", {"promo/moreApps.json"}},
        {"/wallPopUp/wallPopUp.php", "", {"promo/wallpaper.json"}},
        // Orbis, live and test.
        {"/orbis/showad.asm", "ob-siteid=1&requestactivity=AdRequest", {"orbis/ad-live.xml"}},
        {"/orbis/test/showad.asm", "ob-siteid=1&requestactivity=AdRequest", {"orbis/ad-test.xml"}},
        // Lumen: the core script, a slot's own page and the default page.
        {"/luma/sdk-core-v40.js", "", {"lumen/sdk-core-v40.js"}},
        {"/lumen/creative?slot=marked", "", {"lumen/ad-marked.html"}},
        {"/lumen/creative?slot=banner", "", {"lumen/ad-banner.html"}},
        // Meridian: the HTML, image and video ads, the handshake and the video file.
        {"/meridian/getAd.php5?sdkapid=fw-any", "", {"meridian/ad.html"}},
        {"/meridian/getAd.php5?sdkapid=fw-any&adtype=MRFullScreenAdLaunch", "", {"meridian/ad.json"}},
        {"/meridian/getAd.php5?sdkapid=fw-meridian&video=true", "", {"meridian/video-ad.json"}},
        {"/meridian/appConfigServlet", "", {"meridian/handshake.json"}},
        {"/meridian/videos/spot.avi", "", {"meridian/videos/spot.avi"}},
        // Cobalt: both client scripts in the sync reply.
        {"/cobalt/AdBridgeServer/v2/req_js.json", "", {"cobalt/driver.js", "cobalt/display.js"}},
        // Tangent: every kind of ad and the landing page.
        {"/tangent/a/ads?pub=fw-any", "", {"tangent/banner.html"}},
        {"/tangent/a/ads?pub=fw-any&mt-interstitial=t", "", {"tangent/interstitial.html"}},
        {"/tangent/a/ads?pub=expanding", "", {"tangent/expanding.html"}},
        {"/tangent/a/ads?pub=vellum", "", {"tangent/vellum.html"}},
        {"/tangent/landing.html", "", {"tangent/landing.html"}},
        // Plain files (landing pages, pictures) under any folder.
        {"/landing/marked.html", "", {"landing/marked.html"}},
    };
    // The Vellum rich-media ad's bundle, an archive made from its two pages.
    const std::vector<std::string> richAdPages = {"vellum/rich-ad/index.html", "vellum/rich-ad/expand.html"};

    copyFixtures();
    for (const auto& c : cases)
        for (const auto& file : c.files)
            mark(file);
    for (const auto& file : richAdPages)
        mark(file);
    startServices();

    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        const auto reply = fetch(c.request, c.form);
        ASSERT_TRUE(reply.response) << (reply.error ? reply.error->description() : "");
        EXPECT_EQ(reply.response->statusCode(), 200);
        const std::string body(reply.data.begin(), reply.data.end());
        for (const auto& file : c.files)
            EXPECT_NE(body.find(markerFor(file)), std::string::npos) << file << "\n" << body.substr(0, 400);
    }

    const auto bundle = fetch("/vellum/bundles/vellum-rich-ad.zip", "");
    ASSERT_TRUE(bundle.response);
    ASSERT_EQ(bundle.response->statusCode(), 200);
    const fs::path archive = root_ / "rich-ad.zip";
    std::ofstream(archive, std::ios::binary).write(reinterpret_cast<const char*>(bundle.data.data()),
                                                    static_cast<std::streamsize>(bundle.data.size()));
    const fs::path unpacked = root_ / "rich-ad";
    const auto result = archive::unpackZip(archive.string(), unpacked.string());
    ASSERT_TRUE(result.ok) << result.error;
    for (const auto& file : richAdPages) {
        SCOPED_TRACE(file);
        EXPECT_EQ(readFile(unpacked / "vellum-rich-ad" / fs::path(file).filename()), markerFor(file));
    }
}

namespace {

struct ServicesStart {
    std::string firstLine; // the URL, when the services started
    bool started = false;  // a first line came: the services ran (and were then stopped)
    int exitStatus = -1;   // when they ended on their own
    std::string standardError;
};

// Starts `ferrowick-services --fixtures folder` and reads its first line. Services that start
// print their URL and keep running: they are stopped at once. Services that refuse to start
// close their output without a line and end with their own status.
ServicesStart startServicesOn(const fs::path& folder) {
    ServicesStart outcome;
    const fs::path errorsFolder = makeTemporaryFolder("fw-cli-err-");
    const fs::path errors = errorsFolder / "stderr.txt";
    int out[2];
    if (::pipe(out) != 0)
        return outcome;
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        if (!std::freopen(errors.c_str(), "w", stderr))
            ::_exit(126);
        ::execl(FERROWICK_SERVICES_BINARY, FERROWICK_SERVICES_BINARY, "--fixtures", folder.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    if (child < 0) {
        ::close(out[0]);
        return outcome;
    }
    char c;
    while (::read(out[0], &c, 1) == 1) {
        if (c == '\n') {
            outcome.started = true;
            break;
        }
        outcome.firstLine += c;
    }
    ::close(out[0]);
    if (outcome.started)
        ::kill(child, SIGTERM);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!outcome.started && WIFEXITED(status))
        outcome.exitStatus = WEXITSTATUS(status);
    outcome.standardError = readFile(errors);
    std::error_code ec;
    fs::remove_all(errorsFolder, ec);
    return outcome;
}

} // namespace

// A fixtures folder the services cannot serve from is refused at start, with a message naming
// it and a failing status, rather than a server that answers 404 to everything.
TEST(CommandLine, ServicesRefuseAFixturesFolderWithNothingToServe) {
    const fs::path root = makeTemporaryFolder("fw-cli-fixtures-");
    ASSERT_FALSE(root.empty());
    fs::create_directories(root / "empty");
    fs::create_directories(root / "only-folders" / "promo" / "deeper");
    fs::create_directories(root / "switchboard");
    std::ofstream(root / "a-file.json") << "{}";
    std::ofstream(root / "switchboard" / "config.json") << "{}";
    fs::create_directories(root / "dangling-link");
    fs::create_symlink(root / "nowhere.json", root / "dangling-link" / "config.json");
    struct Case {
        const char* name;
        fs::path folder;
        const char* says;
    };
    const Case cases[] = {
        {"missing", root / "nonexistent", "there is no fixtures folder"},
        {"a file", root / "a-file.json", "is not a folder"},
        {"empty", root / "empty", "holds no fixture files"},
        {"only empty folders", root / "only-folders", "holds no fixture files"},
        {"only a link to nothing", root / "dangling-link", "holds no fixture files"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ServicesStart outcome = startServicesOn(c.folder);
        EXPECT_FALSE(outcome.started) << "serving " << outcome.firstLine;
        EXPECT_EQ(outcome.exitStatus, 1);
        EXPECT_EQ(outcome.firstLine, "");
        EXPECT_NE(outcome.standardError.find("ferrowick-services: "), std::string::npos)
            << outcome.standardError;
        EXPECT_NE(outcome.standardError.find(c.says), std::string::npos) << outcome.standardError;
        EXPECT_NE(outcome.standardError.find("\"" + c.folder.string() + "\""), std::string::npos)
            << outcome.standardError;
    }

    // A folder with one file somewhere below it is served.
    const ServicesStart served = startServicesOn(root / "switchboard");
    EXPECT_TRUE(served.started) << served.standardError;
    EXPECT_EQ(served.firstLine.rfind("http://127.0.0.1:", 0), 0u) << served.firstLine;
    std::error_code ec;
    fs::remove_all(root, ec);
}
