// Hostile replies through the Meridian banner's real request over loopback: names that try to
// leave the cache folder or take the SDK's own files, local and unknown schemes, oversized
// numbers and strings, and malformed replies. After each, nothing outside the client's folder
// changed, the SDK's own files are intact, the main run loop still answers, and the next ad
// shows.
#include "MeridianTestSupport.h"
#include "MeridianVideoSupport.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <filesystem>
#include <future>
#include <map>

#include "meridian/MRJSONAdView.h"
#include "meridian/MRJSONVideoAdView.h"
#include "meridian/MRJSONVideoButton.h"
#include "meridian/MROverlayView.h"
#include "meridian/MRURLDownload.h"
#include "meridian/MRVideoCache.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/PropertyList.h"
#include "platform/net/URLConnection.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Image.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"
#include "support/ReplyGate.h"

using namespace meridiantest;
using meridian::MRURLDownload;
using meridian::MRVideoCache;

namespace {

namespace fs = std::filesystem;

// How long a held request waits for a turn of the main run loop before it counts it as
// blocked: far beyond any turn of a free loop, well short of the platform's request time-out.
constexpr int kMainTurnLimitSeconds = 20;
enum { kNoVerdict, kMainAnswered, kMainBlocked };

// Every file under the home with its size, except the client's own folder and the files the
// platform keeps for every program (preferences, logs).
std::map<std::string, std::uintmax_t> filesOutsideTheClient(const fs::path& root) {
    const fs::path own = fs::path("Library") / "mrsdk";
    const fs::path preferences = fs::path("Library") / "Preferences";
    const fs::path logs = fs::path("Library") / "Logs";
    std::map<std::string, std::uintmax_t> files;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        auto relative = it->path().lexically_relative(root);
        if (relative == own || relative == preferences || relative == logs) {
            it.disable_recursion_pending();
            continue;
        }
        std::error_code ec;
        files[relative.string()] = it->is_regular_file() ? it->file_size(ec) : 0;
    }
    return files;
}

class MeridianHostileContent : public MeridianFixture {
protected:
    MeridianHostileContent() {
        waitForHandshake();
        fs::create_directories(platform::DeviceHome::documents());
        writeFile(platform::DeviceHome::documents() / "notes.txt", "the user's own file");
    }
    ~MeridianHostileContent() override { MRURLDownload::cancelAllForTesting(); }

    void serve(services::ServiceReply reply) {
        services.handle("GET", std::string(services::kMeridianAdPath),
                        [reply](const services::LoggedRequest&) { return reply; });
    }
    static services::ServiceReply json(std::string body) { return {200, std::move(body), "application/json", {}}; }
    std::string video(const std::string& id, const std::string& address, const std::string& extra = {}) {
        return R"({"type":"video","video":{"id":")" + id + R"(","content-url":")" + address + R"(")" + extra + "}}";
    }
};

} // namespace

TEST_F(MeridianHostileContent, RepliesStayInTheirBox) {
    std::string base = services.baseURL();
    std::string spot = base + "/meridian/videos/spot.avi";
    struct Row {
        std::string name;
        services::ServiceReply reply;
    };
    const Row rows[] = {
        {"id escapes", json(video("../../../Documents/evil", spot))},
        {"id is a path", json(video("/tmp/evil", spot))},
        {"id and extension name the handshake", json(video("mrhandshake", base + "/meridian/videos/x.archive"))},
        {"id and extension name the marker", json(video("cachedVideo", base + "/meridian/videos/x.plist"))},
        // The video's file would take the name of its own record's archive.
        {"extension names an archive", json(video("archived", base + "/meridian/videos/x.mrarchive"))},
        {"local file", json(video("local", "file:///etc/hostname"))},
        {"unknown scheme", json(video("gopher", "gopher://127.0.0.1/x.avi"))},
        {"oversized id", json(video(std::string(100000, 'a'), spot))},
        {"id one past the longest", json(video(std::string(MRVideoCache::kMaximumIdLength + 1, 'a'), spot))},
        {"oversized numbers", json(video("spot", spot, R"(,"duration":1e300,"width":-1e300,"expiration":1e300)"))},
        {"truncated JSON", json(R"({"type":"video","video":{"id":)")},
        {"array", json("[]")},
        {"video without its object", json(R"({"type":"video"})")},
        {"video object of the wrong kind", json(R"({"type":"video","video":["a"]})")},
        {"bytes", {200, std::string("\0\xff\xfe{", 4), "application/json", {}}},
    };
    // The addresses that name the SDK's own files serve a body, so a video taken at such a name
    // would be written there.
    for (const char* name : {"x.archive", "x.plist", "x.mrarchive"})
        services.handle("GET", std::string(services::kMeridianVideoPath) + name,
                        [](const services::LoggedRequest&) {
                            return services::ServiceReply{200, std::string(4096, 'v'), "video/x-msvideo", {}};
                        });
    // The stored handshake's settings (per-type settings, kill switch); its time stamps move.
    auto handshakeSettings = [] {
        auto state = platform::readPropertyListFile(meridian::MRHandshake::statePath());
        const auto* response = state ? state->find("handshakeResponse") : nullptr;
        return response ? response->toJSON() : std::string();
    };
    auto settings = handshakeSettings();
    ASSERT_FALSE(settings.empty());
    auto outside = filesOutsideTheClient(home.root());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        events->clear();
        serve(row.reply);
        auto view = banner(1, true, false, std::string("hostile"));
        ASSERT_TRUE(waitFor([&] { return countOf(*events, "failed") + countOf(*events, "succeeded") > 0; }));
        // A caching video is reported failed; nothing else of these is an ad either.
        EXPECT_EQ(countOf(*events, "succeeded"), 0u);
        ASSERT_TRUE(waitFor([] { return MRURLDownload::runningCount() == 0; }));

        // The main run loop answers.
        bool answered = false;
        platform::RunLoop::main().perform([&] { answered = true; });
        EXPECT_TRUE(waitFor([&] { return answered; }));
        // Nothing outside the client's folder changed; the SDK's own files are intact.
        EXPECT_EQ(filesOutsideTheClient(home.root()), outside);
        EXPECT_EQ(handshakeSettings(), settings);
        // Only a video the cache accepts is ever named by the marker.
        if (auto marker = platform::readPropertyListFile(MRVideoCache::markerPath())) {
            const auto* due = marker->find("needToPlayVideo");
            EXPECT_EQ(due ? due->stringOr("") : "", "spot");
        }
        for (const auto& entry : fs::directory_iterator(MRVideoCache::cacheFolder()))
            EXPECT_EQ(entry.path().parent_path(), MRVideoCache::cacheFolder());

        // The next ad shows.
        events->clear();
        serve({200, "<p>next ad</p>", "text/html", {}});
        view->refreshAd();
        EXPECT_TRUE(waitForEvent("succeeded"));
        view->disableAdRefresh();
    }
}

// A video button's picture that the server holds back never holds the app: the main run loop
// answers while it is held, the fetch ends at its bound however the server paces it, and a
// picture that arrives in time is kept in the cache's archive (a button built from it takes the
// picture and its size).
TEST_F(MeridianHostileContent, AHeldBackButtonPictureNeverHoldsTheApp) {
    auto png = platform::Image::solid(20, 10, 0, 0, 200)->pngRepresentation();
    const std::string picture(png.begin(), png.end());
    const std::string spot = services.baseURL() + "/meridian/videos/spot.avi";
    struct Row {
        const char* name;
        double heldFor; // manual-clock seconds before the server answers
        bool kept;
    };
    const Row rows[] = {
        {"held past the fetch's bound", meridian::MRJSONVideoButton::kImageFetchSeconds + 1, false},
        {"held a while, then sent", 1, true},
    };
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string id = "held" + std::to_string(++n);
        const std::string path = "/meridian/images/" + id + ".png";
        auto gate = std::make_shared<fwtest::ReplyGate>();
        auto held = gate->holding({200, picture, "image/png", {}});
        // While the request is held, the server asks the main run loop for a turn: it runs at
        // once unless the app waits on this very request (then it is given up on, late).
        auto verdict = std::make_shared<std::atomic<int>>(kNoVerdict);
        services.handle("GET", path, [held, verdict](const services::LoggedRequest& request) {
            auto turn = std::make_shared<std::promise<void>>();
            auto ran = turn->get_future();
            platform::RunLoop::main().perform([turn] { turn->set_value(); });
            const bool inTime =
                ran.wait_for(std::chrono::seconds(kMainTurnLimitSeconds)) == std::future_status::ready;
            *verdict = inTime ? kMainAnswered : kMainBlocked;
            return held(request);
        });
        // No cached video of an earlier row plays instead of this row's ad.
        fs::remove(MRVideoCache::markerPath());
        serve(json(video(
            id, spot, R"(,"buttons":[{"image":")" + services.url(path) + R"(","url":"mrsdk://endVideo"}])")));
        auto view = banner(1, true, false, std::string("hostile"));
        // The main run loop answers while the picture is held.
        ASSERT_TRUE(waitFor([&] { return *verdict != kNoVerdict; }));
        EXPECT_EQ(*verdict, kMainAnswered) << "the main run loop waited on the picture";
        ASSERT_TRUE(waitFor([] { return MRURLDownload::runningCount() == 0; }));
        clock.advance(row.heldFor);
        if (!row.kept) {
            // Ended at its bound: nothing is still asking for the picture.
            EXPECT_TRUE(waitFor([] { return platform::URLConnection::runningCount() == 0; }, 1.0));
        }
        gate->open();
        if (row.kept) {
            ASSERT_TRUE(waitFor([&] {
                auto record = MRVideoCache::loadFromArchive(id);
                if (!record || !record->ad() || !record->ad()->videoButtons())
                    return false;
                const auto& buttons = *record->ad()->videoButtons();
                return buttons.size() == 1 && buttons.front()->imageData().has_value();
            }));
            auto button = MRVideoCache::loadFromArchive(id)->ad()->videoButtons()->front();
            EXPECT_EQ(*button->imageData(), platform::Data(picture.begin(), picture.end()));
            EXPECT_EQ(button->button()->frame().size, (platform::Size{20, 10}));
        }
        view->disableAdRefresh();
        MRURLDownload::cancelAllForTesting();
    }
}

// A video button's picture is taken only up to its byte cap: one at the cap is kept in the
// cache's archive, one a byte past it is not taken (its fetch fails), and the video still runs.
TEST_F(MeridianHostileContent, AButtonPicturePastItsByteCapIsNotTaken) {
    auto png = platform::Image::solid(20, 10, 0, 0, 200)->pngRepresentation();
    const std::string spot = services.baseURL() + "/meridian/videos/spot.avi";
    const auto cap = static_cast<std::size_t>(meridian::MRJSONVideoButton::kMaximumImageBytes);
    struct Row {
        const char* name;
        std::size_t bytes;
        bool kept;
    };
    const Row rows[] = {{"at the cap", cap, true}, {"a byte past the cap", cap + 1, false}};
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string id = "capped" + std::to_string(++n);
        const std::string path = "/meridian/images/" + id + ".png";
        // A whole picture, then bytes the decoder never reads, to the row's size.
        std::string picture(png.begin(), png.end());
        picture.resize(row.bytes, '\0');
        services.handle("GET", path, [picture](const services::LoggedRequest&) {
            return services::ServiceReply{200, picture, "image/png", {}};
        });
        fs::remove(MRVideoCache::markerPath());
        serve(json(video(
            id, spot, R"(,"buttons":[{"image":")" + services.url(path) + R"(","url":"mrsdk://endVideo"}])")));
        auto view = banner(1, true, false, std::string("hostile"));
        ASSERT_TRUE(waitFor([&] {
            return services.requestCount(path) == 1 && platform::URLConnection::runningCount() == 0 &&
                   MRURLDownload::runningCount() == 0;
        }));
        auto buttonOf = [&]() -> std::shared_ptr<meridian::MRJSONVideoButton> {
            auto record = MRVideoCache::loadFromArchive(id);
            if (!record || !record->ad() || !record->ad()->videoButtons() ||
                record->ad()->videoButtons()->size() != 1)
                return nullptr;
            return record->ad()->videoButtons()->front();
        };
        if (row.kept) {
            ASSERT_TRUE(waitFor([&] { return buttonOf() && buttonOf()->imageData().has_value(); }));
            EXPECT_EQ(buttonOf()->imageData()->size(), row.bytes);
        } else {
            ASSERT_TRUE(buttonOf());
            EXPECT_FALSE(buttonOf()->imageData().has_value());
        }
        view->disableAdRefresh();
        MRURLDownload::cancelAllForTesting();
    }
}

TEST_F(MeridianHostileContent, OversizedNumbersSaturate) {
    // A handshake whose refresh period and video duration do not fit an int.
    services.handle("GET", std::string(services::kMeridianHandshakePath), [](const services::LoggedRequest&) {
        return services::ServiceReply{
            200, R"({"mrishake":{"deferredviewtimeout":1e12,"kill":false,"handshakecallback":1e12,)"
                 R"("adtypes":{"MRBannerAdTop":{"adrefresh":1e12,"videointerval":1e300}}}})",
            "application/json", {}};
    });
    // A fresh start, so the handshake is asked again rather than read back.
    meridian::MRHandshake::resetForTesting();
    std::filesystem::remove(meridian::MRHandshake::statePath());
    waitForHandshake();
    ASSERT_EQ(services.requestCount(services::kMeridianHandshakePath), 2u);
    std::string spot = services.baseURL() + "/meridian/videos/spot.avi";
    serve(json(video("huge", spot, R"(,"duration":1e12,"showCountdownHUD":true)")));
    auto view = banner(1, true, true, std::string("hostile"));
    EXPECT_EQ(view->refreshAdTime(), INT_MAX);
    ASSERT_TRUE(waitForEvent("caching"));
    ASSERT_TRUE(waitFor([] { return platform::FileManager::fileExists(MRVideoCache::markerPath()); }));
    ASSERT_TRUE(waitFor([&] { return view->enableManualAdRefresh(); }));

    // The cached video plays with a countdown of the whole duration, saturated.
    events->clear();
    view->refreshAd();
    ASSERT_EQ(countOf(*events, "succeeded"), 1u);
    auto video = view->jsonAdView()->videoAdView();
    ASSERT_NE(video->videoControlOverlay(), nullptr);
    ASSERT_NE(video->videoControlOverlay()->countdownLabel(), nullptr);
    EXPECT_EQ(video->videoControlOverlay()->countdownLabel()->text(),
              std::to_string(INT_MAX) + " seconds remaining...");
    clock.drain();
    clock.advance(2);
    EXPECT_EQ(video->videoControlOverlay()->countdownLabel()->text(),
              std::to_string(INT_MAX - 2) + " seconds remaining...");
    view->disableAdRefresh();
}

// A landing page that an ad points at one of the person's files never shows it, whichever field
// of the ad names the file: an HTML ad's shouldOpen(), an image ad's tap-through, a video
// button's address. The overlay opens, its load fails, and it closes.
TEST_F(MeridianHostileContent, NoLandingPageShowsThePersonsFile) {
    const fs::path secret = platform::DeviceHome::documents() / "secret.txt";
    writeFile(secret, "the person's secret");
    const std::string fileURL = platform::URL::fileURL(secret).absoluteString();
    const std::string picturePath = "/meridian/hostile/picture.png";
    services.handle("GET", picturePath, [](const services::LoggedRequest&) {
        auto png = platform::Image::solid(4, 3, 255, 0, 0)->pngRepresentation();
        return services::ServiceReply{200, std::string(png.begin(), png.end()), "image/png", {}};
    });
    auto window = std::make_shared<platform::Window>(platform::Screen::main().bounds());
    auto root = std::make_shared<platform::View>(window->bounds());
    window->addSubview(root);
    window->makeKeyAndVisible();
    struct Row {
        const char* name;
        services::ServiceReply reply;
        // Opens the landing page once the ad has loaded (nullptr: the ad opens it itself).
        std::function<void(meridian::MRGenericAdView&)> open;
    };
    const Row rows[] = {
        {"an HTML ad's shouldOpen()",
         {200, "<script>function shouldOpen() { return '" + fileURL + "'; }</script><p>ad</p>", "text/html", {}},
         nullptr},
        {"an image ad's tap-through",
         json(R"({"type":"image","image":{"content-url":")" + services.url(picturePath) + R"(","tap-through":")" +
              fileURL + R"("}})"),
         [&](meridian::MRGenericAdView&) { platform::Application::shared().simulateTap({10, 10}, window); }},
        {"a video button's address",
         {200, "<p>ad</p>", "text/html", {}},
         [&](meridian::MRGenericAdView& view) {
             auto video = meridian::MRJSONVideoAdView::create(platform::Rect(0, 0, 320, 50), {});
             auto button = meridian::MRJSONVideoButton::initWithJSONButton(
                 platform::Dictionary{{"url", fileURL}, {"title", "go"}});
             view.jsonAdView()->videoButtonWasPressed(*video, *button);
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        events->clear();
        serve(row.reply);
        auto view = banner(1, true, false, std::string("hostile"));
        root->addSubview(view);
        ASSERT_TRUE(waitForEvent("succeeded"));
        ASSERT_TRUE(waitFor([] { return platform::URLConnection::runningCount() == 0; }));
        clock.advance(1);
        if (row.open)
            row.open(*view);
        // A video's landing page opens at once and tells the host nothing.
        ASSERT_TRUE(waitFor([&] { return countOf(*events, "modalDidAppear") > 0 || view->overlayView(); }))
            << "the landing page never opened";
        ASSERT_TRUE(waitFor([&] {
            auto overlay = view->overlayView();
            return !overlay || !overlay->isShowing() || !overlay->webView()->isLoading();
        }));
        if (auto overlay = view->overlayView(); overlay && overlay->isShowing()) {
            EXPECT_EQ(overlay->webView()->stringByEvaluatingJavaScriptFromString("document.body.textContent")
                          .find("secret"),
                      std::string::npos);
            ADD_FAILURE() << "the landing page stays open on the person's file";
            view->closeOverlay();
        }
        view->disableAdRefresh();
        view->removeFromSuperview();
    }
    window->setHidden(true);
}
