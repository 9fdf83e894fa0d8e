// Pictures of the screens a person reaches, on the phone and on the tablet, checked for what a
// person sees in them rather than pixel by pixel: a page's text (every network's landing page
// and full-screen ad), each of its blocks on its own, stands out from what lies behind it (a
// contrast ratio of at least 3) and stays inside its view, and the way out of the page or ad
// lies on the screen, is seen there and brings the drive back; an alert and a switch draw
// nothing outside the screen or their row, and a switch's two states look different; the
// composer shows its HTML body without markup; every character of a name in another script,
// emoji and symbols among them, is set in a face that has it (asked of fontconfig, not read
// from the pixels).
//
// With FW_PICTURES_DIR set, every picture checked is also written there as a PNG to look at.
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "RunnerTestSupport.h"
#include "app/AppFixture.h"
#include "app/FerrowickMain.h"
#include "app/RootViewController.h"
#include "app/SettingsView.h"
#include "cobalt/CBAdEngine.h"
#include "cobalt/CBFullScreenAdController.h"
#include "mediation/SwitchboardAdNetworkAdapter.h"
#include "mediation/SwitchboardAdNetworkConfig.h"
#include "meridian/MRJSONVideoOverlayControlView.h"
#include "meridian/MRURLDownload.h"
#include "meridian/MRVideoCache.h"
#include "platform/foundation/FileManager.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ScreenPicture.h"
#include "platform/ui/Switch.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TableViewCell.h"
#include "platform/ui/TextField.h"
#include "platform/ui/TextRenderer.h"
#include "platform/ui/Window.h"
#include "platform/web/Dom.h"
#include "platform/web/WebView.h"
#include "promo/AdViewController.h"
#include "runner/CommandInterpreter.h"
#include "runner/Runner.h"
#include "support/LoopbackServices.h"
#include "support/PictureContrast.h"
#include "tangent/TGAdWidget.h"
#include "tangent/TGAdWidgetDelegate.h"

namespace {

using platform::Bitmap;
using platform::DeviceProfile;
using platform::Rect;
using platform::ScreenPicture;

constexpr double kLeastContrast = 3.0;
// A page's text shows when at least this many of its pixels stand out from what is behind.
constexpr int kLeastTextPixels = 20;

const char* deviceName(DeviceProfile d) {
    return d == DeviceProfile::Phone ? "phone" : "tablet";
}

// Writes `bitmap` to FW_PICTURES_DIR when it is set, for a person to look at.
void keepPicture(const Bitmap& bitmap, const std::string& name) {
    if (const char* dir = std::getenv("FW_PICTURES_DIR"))
        ScreenPicture::writePNG(bitmap, std::filesystem::path(dir) / (name + ".png"));
}

using fwtest::contrast;

// Where two pictures of one size differ: how many pixels, how many of them stand out from the
// other picture by kLeastContrast, and the box around them.
struct Difference {
    int pixels = 0;
    int contrasting = 0;
    int minX = INT32_MAX, minY = INT32_MAX, maxX = -1, maxY = -1;
    bool inside(const Rect& r) const {
        return pixels == 0 || (minX >= std::floor(r.minX()) && minY >= std::floor(r.minY()) &&
                               maxX < std::ceil(r.maxX()) && maxY < std::ceil(r.maxY()));
    }
    std::string describe() const {
        return std::to_string(pixels) + " pixels differ (" + std::to_string(contrasting) +
               " by a contrast of 3 or more), from (" + std::to_string(minX) + ", " + std::to_string(minY) +
               ") to (" + std::to_string(maxX) + ", " + std::to_string(maxY) + ")";
    }
};

Difference difference(const Bitmap& with, const Bitmap& without) {
    Difference d;
    for (int y = 0; y < with.height; ++y)
        for (int x = 0; x < with.width; ++x) {
            auto a = with.pixel(x, y), b = without.pixel(x, y);
            if (a == b)
                continue;
            ++d.pixels;
            if (contrast(a, b) >= kLeastContrast)
                ++d.contrasting;
            d.minX = std::min(d.minX, x);
            d.minY = std::min(d.minY, y);
            d.maxX = std::max(d.maxX, x);
            d.maxY = std::max(d.maxY, y);
        }
    return d;
}

Rect onScreen(const platform::View& v) {
    return v.convertRectTo(v.bounds(), nullptr);
}

void visitShown(const platform::View& view, const std::function<void(const platform::View&)>& visit) {
    if (view.isHidden() || view.alpha() < 0.01)
        return;
    visit(view);
    for (const auto& child : view.subviews())
        visitShown(*child, visit);
}

// The largest web view shown in a window on screen: the page a person is reading.
std::shared_ptr<platform::WebView> frontPage() {
    std::shared_ptr<platform::WebView> best;
    double bestArea = 0;
    for (const auto& window : platform::Application::shared().windows()) {
        if (window->isHidden())
            continue;
        visitShown(*window, [&](const platform::View& v) {
            auto page =
                std::dynamic_pointer_cast<platform::WebView>(const_cast<platform::View&>(v).sharedView());
            if (!page || !page->document())
                return;
            Rect r = onScreen(v).intersection(platform::Screen::main().bounds());
            if (r.width() * r.height() > bestArea) {
                bestArea = r.width() * r.height();
                best = page;
            }
        });
    }
    return best;
}

// Where two pictures differ within `area` (screen points).
Difference differenceIn(const Bitmap& with, const Bitmap& without, const Rect& area) {
    Difference d;
    for (int y = std::max(0, int(std::floor(area.minY())));
         y < std::min(with.height, int(std::ceil(area.maxY()))); ++y)
        for (int x = std::max(0, int(std::floor(area.minX())));
             x < std::min(with.width, int(std::ceil(area.maxX()))); ++x) {
            auto a = with.pixel(x, y), b = without.pixel(x, y);
            if (a == b)
                continue;
            ++d.pixels;
            if (contrast(a, b) >= kLeastContrast)
                ++d.contrasting;
            d.minX = std::min(d.minX, x);
            d.minY = std::min(d.minY, y);
            d.maxX = std::max(d.maxX, x);
            d.maxY = std::max(d.maxY, y);
        }
    return d;
}

// The text blocks `view` draws (a page's heading, paragraphs, links), each with the box it is
// set in on the screen.
std::vector<std::pair<platform::DrawOp, Rect>> textBlocksOnScreen(platform::View& view) {
    std::vector<std::pair<platform::DrawOp, Rect>> out;
    std::vector<platform::AffineTransform> saved;
    platform::AffineTransform ctm;
    const platform::DisplayList list = ScreenPicture::compose(view);
    for (const auto& op : list.ops()) {
        using Kind = platform::DrawOp::Kind;
        if (op.kind == Kind::SaveGState) {
            saved.push_back(ctm);
        } else if (op.kind == Kind::RestoreGState && !saved.empty()) {
            ctm = saved.back();
            saved.pop_back();
        } else if (op.kind == Kind::ConcatCTM) {
            ctm = platform::AffineTransform::concat(op.transform, ctm);
        } else if (op.kind == Kind::Text) {
            out.emplace_back(op, ctm.apply(op.rect));
        }
    }
    return out;
}

// What the page's text adds to the screen: the screen with the page's text, and without it
// (the body's content taken out for the moment). `all` is the whole of it; `blocks` each text
// block the page sets (its heading, its body text) within the view, so a readable heading
// cannot stand in for an unreadable body.
struct PageText {
    Difference all;
    std::vector<std::pair<std::string, Difference>> blocks;
};
PageText pageTextOnScreen(platform::WebView& page, const std::string& name) {
    Bitmap with = ScreenPicture::renderScreen();
    keepPicture(with, name);
    const Rect view = onScreen(page).intersection(platform::Screen::main().bounds());
    auto blocks = textBlocksOnScreen(page);
    auto body = page.document()->body();
    auto content = body->children();
    for (const auto& child : content)
        body->removeChild(child.get());
    Bitmap without = ScreenPicture::renderScreen();
    for (const auto& child : content)
        body->appendChild(child);
    PageText out{difference(with, without), {}};
    for (const auto& [op, box] : blocks) {
        Rect shown = box.intersection(view);
        // A block the view's bottom cuts to less than a line is not one a person reads.
        if (shown.height() < op.font.pointSize)
            continue;
        out.blocks.emplace_back(op.text, differenceIn(with, without, shown));
    }
    return out;
}

// Each of the page's text blocks stands out from what lies behind it.
void expectEveryBlockReads(const PageText& text, const std::string& name) {
    EXPECT_FALSE(text.blocks.empty()) << name << ": the page sets no text in its view";
    for (const auto& [block, drawn] : text.blocks)
        EXPECT_GE(drawn.contrasting, kLeastTextPixels)
            << name << ": \"" << block.substr(0, 60) << "\" does not stand out: " << drawn.describe();
}

// ---- Every network's landing page and full-screen ad ----

struct PageCase {
    const char* name;
    int type;
    const char* ration; // the configuration's one entry
    enum class Opens { ByTap, ByLearnMore };
    Opens opens;
    // The labels a person touches to leave, in order: the page's way out, and the way out of
    // what it opened over (Meridian's landing page lies over its video).
    const char* wayOut[2];
};

void PrintTo(const PageCase& c, std::ostream* os) {
    *os << c.name;
}

const PageCase kPages[] = {
    {"Lumen",
     1,
     R"({"type":1,"nid":"p-lumen","nname":"lumen","weight":100,"priority":1,"key":"fw-lumen"})",
     PageCase::Opens::ByTap,
     {"Done", nullptr}},
    {"Meridian",
     6,
     R"({"type":6,"nid":"p-meridian","nname":"meridian","weight":100,"priority":1,"key":"fw-meridian"})",
     PageCase::Opens::ByLearnMore,
     {"Close", "close"}},
    {"Cobalt",
     7,
     R"({"type":7,"nid":"p-cobalt","nname":"cobalt","weight":100,"priority":1,"key":"fw-cobalt"})",
     PageCase::Opens::ByTap,
     {"Done", nullptr}},
    {"Orbis",
     18,
     R"({"type":18,"nid":"p-orbis","nname":"orbis","weight":100,"priority":1,"key":"fw-orbis"})",
     PageCase::Opens::ByTap,
     {"Done", nullptr}},
    {"Tangent",
     2,
     R"({"type":2,"nid":"p-tangent","nname":"tangent","weight":100,"priority":1,)"
     R"("key":{"publisherID":"fw-tangent","siteID":"fw-site","spotID":"fw-spot"}})",
     PageCase::Opens::ByTap,
     {"Back", nullptr}},
};

// The mediation slot of the banner host.
std::shared_ptr<mediation::SwitchboardView> slot() {
    return app::adView ? app::adView->mediationView() : nullptr;
}

// The network of `type` shows its own ad in the slot: its adapter is the slot's and its view
// is in the slot, not a house ad shown while it loads.
bool networkAdShown(int type) {
    auto s = slot();
    auto adapter = s ? s->currAdapter() : nullptr;
    if (!adapter || !s->adExists() || adapter->networkConfig()->networkType() != type)
        return false;
    auto view = adapter->adNetworkView();
    return view && view->window() && view->isDescendantOf(s.get());
}

// Lets the clock run, a second at a time, until `done` holds or `seconds` have passed.
bool runUntil(const std::function<bool()>& done, int seconds) {
    for (int i = 0; i < seconds && !done(); ++i)
        runner::waitFor(1, true);
    return done();
}

bool textOnScreen(std::string_view text) {
    return platform::TextRenderer::renderScreen().find(text) != std::string::npos;
}

// A page larger than a banner is up.
bool pageIsUp() {
    auto page = frontPage();
    return page && onScreen(*page).height() > 100;
}

// Touches the network's ad in the slot where a touch reaches it (no other view lies over it).
::testing::AssertionResult touchTheAd() {
    auto adapter = slot() ? slot()->currAdapter() : nullptr;
    auto shown = adapter ? adapter->adNetworkView() : nullptr;
    if (!shown || !shown->window())
        return ::testing::AssertionFailure() << "no ad in the slot";
    Rect r = onScreen(*shown).intersection(platform::Screen::main().bounds());
    auto window = shown->window();
    for (double x = r.minX() + 1; x < r.maxX(); x += 8) {
        platform::Point p{x, r.midY()};
        auto hit = window->hitTest(window->convertPointFrom(p, nullptr), nullptr);
        if (hit && hit->isDescendantOf(shown.get())) {
            platform::Application::shared().simulateTap(p);
            return ::testing::AssertionSuccess();
        }
    }
    return ::testing::AssertionFailure() << "the ad cannot be touched";
}

// Turned frames (a quarter turn in floats) are exact to a small fraction of a point only.
constexpr double kTurnError = 0.01;

bool insideTheScreen(const Rect& r) {
    const Rect s = platform::Screen::main().bounds();
    return r.minX() >= s.minX() - kTurnError && r.minY() >= s.minY() - kTurnError &&
           r.maxX() <= s.maxX() + kTurnError && r.maxY() <= s.maxY() + kTurnError;
}

// The drive is back in front: its Settings button takes a touch (nothing lies over it).
bool driveIsBack() {
    return platform::TextRenderer::findTappable("Settings").has_value();
}

// The way out of a full-screen screen, found by the label a person reads on it (a sequence
// for a menu: "Menu", then "Skip"): each step shows within `seconds`, lies inside the screen,
// is drawn there (the picture changes when it is taken away) and takes the touch; after the
// last, the drive is back.
void leaveBy(const std::vector<std::string>& steps, const std::string& name, int seconds) {
    for (std::size_t step = 0; step < steps.size(); ++step) {
        const std::string& label = steps[step];
        SCOPED_TRACE(name + ", way out \"" + label + "\"");
        ASSERT_TRUE(
            runUntil([&] { return platform::TextRenderer::findTappable(label).has_value(); }, seconds))
            << "no way out to touch:\n"
            << platform::TextRenderer::renderScreen();
        auto element = platform::TextRenderer::findTappable(label);
        Rect where = onScreen(*element->view);
        EXPECT_TRUE(insideTheScreen(where))
            << "the way out lies off the screen at " << platform::toString(where);
        Bitmap shown = ScreenPicture::renderScreen();
        keepPicture(shown, name + "-out" + std::to_string(step + 1));
        element->view->setHidden(true);
        Difference drawn = difference(shown, ScreenPicture::renderScreen());
        element->view->setHidden(false);
        EXPECT_GE(drawn.contrasting, kLeastTextPixels)
            << "the way out is not to be seen: " << drawn.describe();
        ASSERT_TRUE(platform::TextRenderer::tap(label)) << "the way out does not take the touch";
        runner::waitFor(1, true);
    }
    EXPECT_TRUE(runUntil(driveIsBack, 5)) << name << ": the drive is not back:\n"
                                          << platform::TextRenderer::renderScreen();
}

std::vector<std::string> labels(const char* const (&list)[2]) {
    std::vector<std::string> out;
    for (const char* label : list)
        if (label)
            out.emplace_back(label);
    return out;
}

class NetworkPagePicture : public apptest::AppTest,
                           public ::testing::WithParamInterface<std::tuple<PageCase, DeviceProfile>> {
protected:
    NetworkPagePicture() {
        platform::Device::setProfile(std::get<1>(GetParam()));
        runnertest::startAsOnAFreshDevice(services_);
        runnertest::serveNetworks(services_, std::get<0>(GetParam()).ration);
        services_.setFault("/applications/newNews/newNewsPhone.php", services::Fault::errorStatus(404));
    }
    ~NetworkPagePicture() override { meridian::MRURLDownload::cancelAllForTesting(); }

    fwtest::LoopbackServices services_;
};

TEST_P(NetworkPagePicture, ThePageReadsAndStaysInItsView) {
    const auto& [c, device] = GetParam();
    launch();
    runner::settle();
    const std::size_t openedBefore = platform::Application::shared().openedURLs().size();
    if (c.opens == PageCase::Opens::ByLearnMore) {
        // The first request caches the video; the next pick plays it, with its "Learn more".
        ASSERT_TRUE(runUntil(
            [] { return platform::FileManager::fileExists(meridian::MRVideoCache::markerPath()); }, 30));
        ASSERT_TRUE(runUntil([] { return textOnScreen("Learn mo"); }, 90))
            << platform::TextRenderer::renderScreen();
        ASSERT_TRUE(platform::TextRenderer::tap("Learn more"));
    } else {
        ASSERT_TRUE(runUntil([type = c.type] { return networkAdShown(type); }, 20))
            << platform::TextRenderer::renderScreen();
        runner::waitFor(2, true);
        ASSERT_TRUE(touchTheAd());
    }
    // A tap that leaves the application (an ad linking to a store) opens no page here: the ad's
    // own page in the banner is then the page a person reads.
    bool up = runUntil(pageIsUp, 10);
    bool leftTheApplication = platform::Application::shared().openedURLs().size() > openedBefore;
    ASSERT_TRUE(up || leftTheApplication) << platform::TextRenderer::renderScreen();
    runner::waitFor(2, true); // the page's own load and any slide-in end
    auto page = frontPage();
    ASSERT_TRUE(page);
    std::string name = std::string(c.name) + (up ? "-page-" : "-ad-") + deviceName(device);
    // The page's controls (a browser's arrows, disabled at first) read as `tap` treats them.
    EXPECT_TRUE(runnertest::tapsMatchTheTextScreen()) << name;
    PageText text = pageTextOnScreen(*page, name);
    EXPECT_GE(text.all.contrasting, kLeastTextPixels)
        << name << ": the page's text does not stand out: " << text.all.describe();
    expectEveryBlockReads(text, name);
    Rect view = ::onScreen(*page).intersection(platform::Screen::main().bounds());
    EXPECT_TRUE(text.all.inside(view))
        << name << ": the text leaves its view " << platform::toString(view) << ": " << text.all.describe();
    // The person closes the page by its way out, inside the screen, and is back on the drive.
    if (up)
        leaveBy(labels(c.wayOut), name, 5);
}

INSTANTIATE_TEST_SUITE_P(Pictures, NetworkPagePicture,
                         ::testing::Combine(::testing::ValuesIn(kPages),
                                            ::testing::Values(DeviceProfile::Phone, DeviceProfile::Tablet)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    deviceName(std::get<1>(info.param));
                         });

// ---- Every network's full-screen ad ----
//
// What each network shows over the whole screen, reached as in the application: Lumen's web
// app (an ad whose touch opens it), Meridian's cached video with its buttons, Cobalt's
// full-screen slot (the engine the adapter starts holds one on the phone; the tablet's engine
// has none) and Tangent's interstitial. The application's adapters ask for banners only, so the
// last two are asked for by a host of their own while the application runs, as a host of the
// clients would. Orbis shows nothing full screen but its landing page (the table above).

// A Tangent host asking for an interstitial with the application's keys.
class InterstitialHost : public tangent::TGAdWidgetDelegate {
public:
    std::optional<std::string> publisherId(tangent::TGAdWidgetWorker&) override { return "fw-tangent"; }
    std::optional<std::string> site(tangent::TGAdWidgetWorker&) override { return "fw-site"; }
    std::optional<std::string> adSpot(tangent::TGAdWidgetWorker&) override { return "fw-spot"; }
    std::optional<bool> isInterstitial(tangent::TGAdWidgetWorker&) override { return true; }
};

// A Cobalt host of the engine's full-screen slot.
class FullScreenSlotHost : public cobalt::CobaltDelegate {};

struct FullScreenCase {
    const char* name;
    const char* ration; // the configuration's one entry
    enum class Shows { LumenWebApp, MeridianVideo, CobaltFullScreenSlot, TangentInterstitial };
    Shows shows;
    // The text a person reads: a page's, or the titles and labels over a video.
    enum class Text { OfThePage, OverTheVideo };
    Text text;
    const char* wayOut[2]; // the labels a person touches to leave, in order
    bool phoneOnly;
};

const FullScreenCase kFullScreens[] = {
    {"LumenWebApp",
     R"({"type":1,"nid":"f-lumen","nname":"lumen","weight":100,"priority":1,"key":"webapp"})",
     FullScreenCase::Shows::LumenWebApp,
     FullScreenCase::Text::OfThePage,
     {"Close", nullptr},
     false},
    {"MeridianVideo",
     R"({"type":6,"nid":"f-meridian","nname":"meridian","weight":100,"priority":1,"key":"fw-meridian"})",
     FullScreenCase::Shows::MeridianVideo,
     FullScreenCase::Text::OverTheVideo,
     {"close", nullptr},
     false},
    {"CobaltFullScreenSlot",
     R"({"type":7,"nid":"f-cobalt","nname":"cobalt","weight":100,"priority":1,"key":"fw-cobalt"})",
     FullScreenCase::Shows::CobaltFullScreenSlot,
     FullScreenCase::Text::OfThePage,
     {"Menu", "Skip"},
     true},
    {"TangentInterstitial",
     R"({"type":2,"nid":"f-tangent","nname":"tangent","weight":100,"priority":1,)"
     R"("key":{"publisherID":"fw-tangent","siteID":"fw-site","spotID":"fw-spot"}})",
     FullScreenCase::Shows::TangentInterstitial,
     FullScreenCase::Text::OfThePage,
     {"Dismiss", nullptr},
     false},
};

void PrintTo(const FullScreenCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<std::tuple<FullScreenCase, DeviceProfile>> fullScreenCases() {
    std::vector<std::tuple<FullScreenCase, DeviceProfile>> out;
    for (const auto& c : kFullScreens)
        for (auto device : {DeviceProfile::Phone, DeviceProfile::Tablet})
            if (device == DeviceProfile::Phone || !c.phoneOnly)
                out.emplace_back(c, device);
    return out;
}

template <typename T> std::shared_ptr<T> shownViewOf() {
    std::shared_ptr<T> found;
    for (const auto& window : platform::Application::shared().windows())
        if (!window->isHidden())
            visitShown(*window, [&](const platform::View& v) {
                if (auto t = std::dynamic_pointer_cast<T>(const_cast<platform::View&>(v).sharedView()))
                    found = t;
            });
    return found;
}

class FullScreenAdPicture : public apptest::AppTest,
                            public ::testing::WithParamInterface<std::tuple<FullScreenCase, DeviceProfile>> {
protected:
    FullScreenAdPicture() {
        platform::Device::setProfile(std::get<1>(GetParam()));
        runnertest::startAsOnAFreshDevice(services_);
        runnertest::serveNetworks(services_, std::get<0>(GetParam()).ration);
        services_.setFault("/applications/newNews/newNewsPhone.php", services::Fault::errorStatus(404));
        services_.setFault("/applications/newNews/newNewsPad.php", services::Fault::errorStatus(404));
    }
    ~FullScreenAdPicture() override {
        if (interstitial_)
            interstitial_->removeFromSuperview();
        meridian::MRURLDownload::cancelAllForTesting();
    }

    // Brings the case's full-screen ad up as the application would show it.
    void bringUp(FullScreenCase::Shows shows) {
        using Shows = FullScreenCase::Shows;
        switch (shows) {
        case Shows::LumenWebApp:
            // The ad's touch opens its full-screen page.
            ASSERT_TRUE(runUntil([] { return networkAdShown(1); }, 20))
                << platform::TextRenderer::renderScreen();
            runner::waitFor(2, true);
            ASSERT_TRUE(touchTheAd());
            ASSERT_TRUE(runUntil(pageIsUp, 10)) << platform::TextRenderer::renderScreen();
            break;
        case Shows::MeridianVideo:
            // The first request caches the video; the next pick plays it over the screen.
            ASSERT_TRUE(runUntil(
                [] { return platform::FileManager::fileExists(meridian::MRVideoCache::markerPath()); }, 30));
            ASSERT_TRUE(runUntil([] { return textOnScreen("Learn mo"); }, 90))
                << platform::TextRenderer::renderScreen();
            break;
        case Shows::CobaltFullScreenSlot: {
            // The banner shows once the engine runs; then its full-screen slot's ad.
            ASSERT_TRUE(runUntil([] { return networkAdShown(7); }, 20))
                << platform::TextRenderer::renderScreen();
            const std::string slotName = cobalt::SwitchboardAdapterCobalt::kFullScreenSlotName;
            cobalt::CBAdEngine::setFullScreenDelegate(fullScreenHost_, slotName);
            ASSERT_TRUE(runUntil([&] { return cobalt::CBAdEngine::isAdReadyForSlotNamed(slotName); }, 30));
            ASSERT_TRUE(cobalt::CBAdEngine::displayFullScreenAdForSlotNamed(slotName));
            ASSERT_TRUE(runUntil(
                [] {
                    auto window = cobalt::CBFullScreenAdWindow::existingWindow();
                    auto content = window ? std::dynamic_pointer_cast<cobalt::CBFullScreenAdController>(
                                                window->contentController())
                                          : nullptr;
                    return content && window->isKeyWindow() && !content->adLoadingIndicator();
                },
                10))
                << platform::TextRenderer::renderScreen();
            break;
        }
        case Shows::TangentInterstitial:
            // The host's interstitial widget, in the application's window.
            ASSERT_TRUE(runUntil([] { return networkAdShown(2); }, 20))
                << platform::TextRenderer::renderScreen();
            interstitial_ = tangent::TGAdWidget::create(interstitialHost_, false);
            interstitial_->setFrame(Rect{0, 0, 320, 50});
            platform::Application::shared().keyWindow()->addSubview(interstitial_);
            interstitial_->loadRequest();
            ASSERT_TRUE(runUntil(pageIsUp, 10)) << platform::TextRenderer::renderScreen();
            break;
        }
        runner::waitFor(2, true); // the page's own load and any slide-in end
    }

    fwtest::LoopbackServices services_;
    std::shared_ptr<InterstitialHost> interstitialHost_ = std::make_shared<InterstitialHost>();
    std::shared_ptr<FullScreenSlotHost> fullScreenHost_ = std::make_shared<FullScreenSlotHost>();
    std::shared_ptr<tangent::TGAdWidgetWorker> interstitial_;
};

// Each label and button title shown under `root`: the screen with its text, and without it.
std::vector<std::pair<std::string, Difference>> textsOver(platform::View& root) {
    std::vector<std::shared_ptr<platform::View>> views;
    visitShown(root, [&](const platform::View& v) {
        auto shared = const_cast<platform::View&>(v).sharedView();
        if (auto label = std::dynamic_pointer_cast<platform::Label>(shared); label && !label->text().empty())
            views.push_back(shared);
        else if (auto button = std::dynamic_pointer_cast<platform::Button>(shared);
                 button && !button->currentTitle().empty())
            views.push_back(shared);
    });
    std::vector<std::pair<std::string, Difference>> out;
    for (const auto& v : views) {
        Bitmap with = ScreenPicture::renderScreen();
        if (auto label = std::dynamic_pointer_cast<platform::Label>(v)) {
            std::string text = label->text();
            label->setText("");
            out.emplace_back(text, difference(with, ScreenPicture::renderScreen()));
            label->setText(text);
        } else if (auto button = std::dynamic_pointer_cast<platform::Button>(v)) {
            unsigned state = button->state();
            std::string title = button->currentTitle();
            button->setTitle("", state);
            out.emplace_back(title, difference(with, ScreenPicture::renderScreen()));
            button->setTitle(title, state);
        }
    }
    return out;
}

// Each text and control shown under `root` (labels with text, buttons with a title or a
// picture), by its name, with what of the screen it draws: the screen with it, and without it.
std::vector<std::pair<std::string, Difference>> partsDrawnOver(platform::View& root) {
    std::vector<std::shared_ptr<platform::View>> views;
    visitShown(root, [&](const platform::View& v) {
        auto shared = const_cast<platform::View&>(v).sharedView();
        if (auto label = std::dynamic_pointer_cast<platform::Label>(shared); label && !label->text().empty())
            views.push_back(shared);
        else if (std::dynamic_pointer_cast<platform::Button>(shared))
            views.push_back(shared);
    });
    std::vector<std::pair<std::string, Difference>> out;
    for (const auto& v : views) {
        std::string name;
        if (auto label = std::dynamic_pointer_cast<platform::Label>(v))
            name = label->text();
        else if (auto button = std::dynamic_pointer_cast<platform::Button>(v))
            name = button->currentTitle().empty() ? button->accessibilityLabel() : button->currentTitle();
        Bitmap with = ScreenPicture::renderScreen();
        v->setHidden(true);
        out.emplace_back(name, difference(with, ScreenPicture::renderScreen()));
        v->setHidden(false);
    }
    return out;
}

bool overlap(const Difference& a, const Difference& b) {
    return a.pixels > 0 && b.pixels > 0 && a.minX <= b.maxX && b.minX <= a.maxX && a.minY <= b.maxY &&
           b.minY <= a.maxY;
}

// The texts and controls over a video as a person sees them: none draws over another, and
// together they are spread over the picture, laid out for this screen rather than gathered in
// a corner of it the size of another device's.
void expectControlsLaidOutApart(platform::View& controls, const std::string& name) {
    auto parts = partsDrawnOver(controls);
    ASSERT_GE(parts.size(), 2u) << name << ": the countdown and the buttons are not all shown";
    Difference all;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const auto& [what, drawn] = parts[i];
        EXPECT_GT(drawn.pixels, 0) << name << ": \"" << what << "\" draws nothing";
        for (std::size_t j = i + 1; j < parts.size(); ++j)
            EXPECT_FALSE(overlap(drawn, parts[j].second))
                << name << ": \"" << what << "\" and \"" << parts[j].first
                << "\" draw over each other: " << drawn.describe() << "; " << parts[j].second.describe();
        if (drawn.pixels > 0) {
            all.minX = std::min(all.minX, drawn.minX);
            all.minY = std::min(all.minY, drawn.minY);
            all.maxX = std::max(all.maxX, drawn.maxX);
            all.maxY = std::max(all.maxY, drawn.maxY);
        }
    }
    const Rect screen = platform::Screen::main().bounds();
    EXPECT_GE(all.maxX - all.minX, 0.75 * screen.width())
        << name << ": the controls are gathered in x " << all.minX << " to " << all.maxX;
    EXPECT_GE(all.maxY - all.minY, 0.75 * screen.height())
        << name << ": the controls are gathered in y " << all.minY << " to " << all.maxY;
}

TEST_P(FullScreenAdPicture, TheAdReadsCoversTheScreenAndHasAWayOutInsideIt) {
    const auto& [c, device] = GetParam();
    const std::string name = std::string(c.name) + "-" + deviceName(device);
    launch();
    runner::settle();
    bringUp(c.shows);
    if (HasFatalFailure())
        return;
    if (c.text == FullScreenCase::Text::OfThePage) {
        auto page = frontPage();
        ASSERT_TRUE(page);
        Rect view = onScreen(*page).intersection(platform::Screen::main().bounds());
        const Rect screen = platform::Screen::main().bounds();
        // Full screen: the page takes most of the screen (a bar of the ad's own may stand above).
        EXPECT_GE(view.width() * view.height(), 0.75 * screen.width() * screen.height())
            << name << ": the page takes " << platform::toString(view);
        PageText text = pageTextOnScreen(*page, name);
        EXPECT_GE(text.all.contrasting, kLeastTextPixels)
            << name << ": the page's text does not stand out: " << text.all.describe();
        expectEveryBlockReads(text, name);
        EXPECT_TRUE(text.all.inside(view)) << name << ": the text leaves its view "
                                           << platform::toString(view) << ": " << text.all.describe();
    } else {
        auto controls = shownViewOf<meridian::MRJSONVideoOverlayControlView>();
        ASSERT_TRUE(controls);
        keepPicture(ScreenPicture::renderScreen(), name);
        auto texts = textsOver(*controls);
        EXPECT_FALSE(texts.empty()) << name << ": nothing to read over the video";
        for (const auto& [text, drawn] : texts) {
            EXPECT_GE(drawn.contrasting, kLeastTextPixels)
                << name << ": \"" << text << "\" does not stand out: " << drawn.describe();
            EXPECT_TRUE(drawn.inside(platform::Screen::main().bounds()))
                << name << ": \"" << text << "\" leaves the screen: " << drawn.describe();
        }
        expectControlsLaidOutApart(*controls, name);
    }
    // A menu may come some seconds after the ad.
    leaveBy(labels(c.wayOut), name, 15);
}

INSTANTIATE_TEST_SUITE_P(Pictures, FullScreenAdPicture, ::testing::ValuesIn(fullScreenCases()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    deviceName(std::get<1>(info.param));
                         });

// ---- Tangent's expanded banner ----
//
// A Tangent banner that grows over the application dims everything around it from the status
// bar's lower edge down: no undimmed band is left across the navigation bar and its title.

class ExpandedBannerPicture : public apptest::AppTest, public ::testing::WithParamInterface<DeviceProfile> {
protected:
    ExpandedBannerPicture() {
        platform::Device::setProfile(GetParam());
        runnertest::startAsOnAFreshDevice(services_);
        runnertest::serveNetworks(
            services_, R"({"type":2,"nid":"x-tangent","nname":"tangent","weight":100,"priority":1,)"
                       R"("key":{"publisherID":"expanding","siteID":"fw-site","spotID":"fw-spot"}})");
        services_.setFault("/applications/newNews/newNewsPhone.php", services::Fault::errorStatus(404));
        services_.setFault("/applications/newNews/newNewsPad.php", services::Fault::errorStatus(404));
    }
    fwtest::LoopbackServices services_;
};

TEST_P(ExpandedBannerPicture, TheBackdropDimsTheWholeScreenBelowTheStatusBar) {
    const std::string name = std::string("tangent-expanded-") + deviceName(GetParam());
    launch();
    runner::settle();
    ASSERT_TRUE(runUntil([] { return networkAdShown(2); }, 20)) << platform::TextRenderer::renderScreen();
    runner::waitFor(2, true);
    Bitmap before = ScreenPicture::renderScreen();
    ASSERT_TRUE(touchTheAd());
    ASSERT_TRUE(runUntil(pageIsUp, 5)) << platform::TextRenderer::renderScreen();
    Bitmap after = ScreenPicture::renderScreen();
    keepPicture(after, name);
    const Rect ad = onScreen(*frontPage());
    const int barBottom = int(platform::Application::shared().statusBarFrame().maxY());
    ASSERT_GT(barBottom, 0) << "the status bar shows over the drive";
    // Every row from the bar's lower edge down is dimmed beside the ad: most of its pixels
    // there turn darker (what was black already, as the buttons' titles, stays so).
    std::vector<int> undimmedRows;
    for (int y = barBottom; y < after.height; ++y) {
        int outside = 0, dimmed = 0;
        for (int x = 0; x < after.width; ++x) {
            if (ad.contains(platform::Point{x + 0.5, y + 0.5}))
                continue;
            ++outside;
            if (before.pixel(x, y) != after.pixel(x, y))
                ++dimmed;
        }
        if (outside > 0 && dimmed < 0.5 * outside)
            undimmedRows.push_back(y);
    }
    EXPECT_TRUE(undimmedRows.empty())
        << name << ": " << undimmedRows.size() << " rows are not dimmed, from y " << undimmedRows.front()
        << " to " << undimmedRows.back();
}

INSTANTIATE_TEST_SUITE_P(Pictures, ExpandedBannerPicture,
                         ::testing::Values(DeviceProfile::Phone, DeviceProfile::Tablet),
                         [](const auto& info) { return std::string(deviceName(info.param)); });

// ---- The launch pop-up's promotion ----
//
// A pop-up reply that shows a promotion whose picture is a plain box (as any server's may be):
// the close button draws its own mark over it, seen on the screen after a trip to the
// background and back, and it leads to the drive.

class LaunchPopUpPicture : public apptest::AppTest, public ::testing::WithParamInterface<DeviceProfile> {
protected:
    LaunchPopUpPicture() {
        platform::Device::setProfile(GetParam());
        runnertest::startAsOnAFreshDevice(services_);
        runnertest::servePopUpPromotion(services_);
    }

    fwtest::LoopbackServices services_;
};

TEST_P(LaunchPopUpPicture, ThePromotionShowsItsWayOut) {
    const std::string name = std::string("launch-popup-") + deviceName(GetParam());
    auto marks = runner::commandMarks();
    launch();
    runner::settle(marks);
    ASSERT_TRUE(runUntil([] { return platform::TextRenderer::findTappable("Promotion").has_value(); }, 5))
        << platform::TextRenderer::renderScreen();
    EXPECT_FALSE(driveIsBack()) << "the pop-up covers the drive";
    auto& application = platform::Application::shared();
    application.enterBackground();
    runner::waitFor(1, true);
    application.enterForeground();
    runner::waitFor(1, true);
    leaveBy({"Close"}, name, 5);
}

INSTANTIATE_TEST_SUITE_P(Pictures, LaunchPopUpPicture,
                         ::testing::Values(DeviceProfile::Phone, DeviceProfile::Tablet),
                         [](const auto& info) { return std::string(deviceName(info.param)); });

// ---- The drive's own screens ----

class DrivePicture : public apptest::AppTest, public ::testing::WithParamInterface<DeviceProfile> {
protected:
    DrivePicture() {
        platform::Device::setProfile(GetParam());
        services::installStandardEndpoints(services_.host());
    }
    std::string name(const std::string& screen) const { return screen + "-" + deviceName(GetParam()); }
    std::string run(const std::string& line) { return runner::runCommand(commands_, line).output; }

    fwtest::LoopbackServices services_;
    runner::CommandInterpreter commands_{[](double seconds) { runner::waitFor(seconds, true); }};
};

// The cell that holds `view`.
std::shared_ptr<platform::TableViewCell> cellOf(const platform::View& view) {
    for (auto v = view.superview(); v; v = v->superview())
        if (auto cell = std::dynamic_pointer_cast<platform::TableViewCell>(v))
            return cell;
    return nullptr;
}

TEST_P(DrivePicture, SwitchesDrawBothStatesInsideTheirRows) {
    launch();
    runner::settle();
    run("tap Settings");
    bool sawOn = false, sawOff = false;
    for (bool flipped : {false, true}) {
        if (flipped)
            for (const char* row : {"Show file size", "Enable passkey lock"})
                run(std::string("toggle ") + row);
        // The picture lays the screen out, cells and their switches included.
        Bitmap screen = ScreenPicture::renderScreen();
        keepPicture(screen, name(flipped ? "settings-flipped" : "settings"));
        std::vector<std::shared_ptr<platform::Switch>> switches;
        for (const auto& window : platform::Application::shared().windows())
            visitShown(*window, [&](const platform::View& v) {
                if (auto s = std::dynamic_pointer_cast<platform::Switch>(
                        const_cast<platform::View&>(v).sharedView()))
                    switches.push_back(s);
            });
        ASSERT_EQ(switches.size(), 4u) << platform::TextRenderer::renderScreen();
        for (const auto& s : switches) {
            auto cell = cellOf(*s);
            ASSERT_TRUE(cell);
            Rect row = onScreen(*cell).intersection(platform::Screen::main().bounds());
            s->setHidden(true);
            Difference drawn = difference(screen, ScreenPicture::renderScreen());
            s->setHidden(false);
            // Drawn as a switch: its track covers most of its frame, not a word in a corner.
            Rect frame = onScreen(*s);
            EXPECT_GE(drawn.pixels, 0.5 * frame.width() * frame.height())
                << "a switch is not drawn as one: " << drawn.describe();
            EXPECT_TRUE(drawn.inside(row))
                << "a switch leaves its row " << platform::toString(row) << ": " << drawn.describe();
            // Its other state looks different.
            bool wasOn = s->isOn();
            (wasOn ? sawOn : sawOff) = true;
            s->setOn(!wasOn);
            Difference flippedLook = difference(screen, ScreenPicture::renderScreen());
            s->setOn(wasOn);
            EXPECT_GT(flippedLook.contrasting, kLeastTextPixels) << "on and off look alike";
            EXPECT_TRUE(flippedLook.inside(row)) << flippedLook.describe();
        }
    }
    EXPECT_TRUE(sawOn && sawOff) << "both states were drawn in place";
}

TEST_P(DrivePicture, TheMismatchAlertIsAPanelInsideTheScreen) {
    launch();
    runner::settle();
    run("tap Settings");
    run("toggle Enable passkey lock");
    auto presented =
        std::dynamic_pointer_cast<platform::NavigationController>(navigation()->presentedViewController());
    ASSERT_TRUE(presented);
    auto settings = std::dynamic_pointer_cast<app::SettingsView>(presented->topViewController());
    ASSERT_TRUE(settings);
    settings->setTable->layoutIfNeeded();
    auto key = std::dynamic_pointer_cast<platform::TextField>(settings->controlWithTag(22));
    auto confirm = std::dynamic_pointer_cast<platform::TextField>(settings->controlWithTag(23));
    ASSERT_TRUE(key && confirm);
    ASSERT_TRUE(key->becomeFirstResponder());
    key->typeText("1111");
    ASSERT_TRUE(confirm->becomeFirstResponder());
    confirm->typeText("2222");
    settings->editDone();
    runner::settle();
    auto alerts = platform::Application::shared().visibleAlerts();
    ASSERT_EQ(alerts.size(), 1u);
    auto& alert = *alerts[0];
    ASSERT_EQ(alert.title(), "Pass key does not match");
    Bitmap screen = ScreenPicture::renderScreen();
    keepPicture(screen, name("mismatch-alert"));

    // The alert alone, with room all round the screen: nothing of it lands outside the screen.
    constexpr double kRoom = 200;
    platform::Size screenSize = platform::Screen::main().bounds().size;
    platform::Size canvas{screenSize.width + 2 * kRoom, screenSize.height + 2 * kRoom};
    platform::GraphicsContext g(canvas);
    g.translateCTM(kRoom, kRoom);
    g.replay(ScreenPicture::compose(alert));
    Bitmap alone = ScreenPicture::render(g.takeDisplayList(), canvas);
    Bitmap empty = ScreenPicture::render(platform::DisplayList{}, canvas);
    Difference drawn = difference(alone, empty);
    EXPECT_GT(drawn.pixels, 0);
    EXPECT_TRUE(drawn.inside(Rect(kRoom, kRoom, screenSize.width, screenSize.height))) << drawn.describe();

    // Title above, button below, all in the panel; the title's text is drawn in its rows.
    Rect panel = onScreen(alert);
    ASSERT_EQ(alert.buttons().size(), 1u);
    Rect button = onScreen(*alert.buttons()[0]);
    EXPECT_EQ(panel.intersection(button), button);
    Rect titleRows(panel.minX(), panel.minY() + platform::kCellHeight, panel.width(), platform::kCellHeight);
    EXPECT_LE(titleRows.maxY(), button.minY());
    // The title is drawn whole inside the panel: its ink keeps clear of the panel's sides (a
    // title cut at the edge, or a frame of characters, runs into them). The panel's own edge
    // line is left out of the count.
    constexpr double kEdgeLine = 3;
    int ink = 0, inkLeft = INT32_MAX, inkRight = -1;
    for (int y = int(titleRows.minY()); y < int(titleRows.maxY()); ++y)
        for (int x = int(titleRows.minX() + kEdgeLine); x < int(titleRows.maxX() - kEdgeLine); ++x)
            if (contrast(screen.pixel(x, y), {255, 255, 255, 255}) >= kLeastContrast) {
                ++ink;
                inkLeft = std::min(inkLeft, x);
                inkRight = std::max(inkRight, x);
            }
    EXPECT_GE(ink, kLeastTextPixels) << "the title is not drawn in its rows";
    EXPECT_GE(inkLeft, panel.minX() + platform::kTextAdvance) << "the title runs into the panel's left side";
    EXPECT_LE(inkRight, panel.maxX() - platform::kTextAdvance)
        << "the title runs into the panel's right side";
    alert.pressButton(0);
}

TEST_P(DrivePicture, TheComposerShowsItsBodyWithoutMarkup) {
    launch();
    runner::settle();
    run("tap Invite");
    std::string text = platform::TextRenderer::renderScreen();
    keepPicture(ScreenPicture::renderScreen(), name("composer"));
    EXPECT_NE(text.find("Hello,"), std::string::npos) << text;
    EXPECT_NE(text.find("Ferro Wick"), std::string::npos) << text;
    for (const char* markup : {"<p>", "</p>", "<a ", "</a>", "href"})
        EXPECT_EQ(text.find(markup), std::string::npos) << markup << " on the text screen:\n" << text;
    // The picture sets the same text: the body label holds no markup either.
    bool found = false;
    for (const auto& window : platform::Application::shared().windows())
        visitShown(*window, [&](const platform::View& v) {
            if (auto label = dynamic_cast<const platform::Label*>(&v);
                label && label->text().find("Hello,") == 0) {
                found = true;
                EXPECT_EQ(label->text().find('<'), std::string::npos) << label->text();
                EXPECT_NE(label->text().find("\n\nThanks."), std::string::npos) << label->text();
            }
        });
    EXPECT_TRUE(found);
    run("tap Cancel");
}

// Whether the face in `file` (face `index`) has every character of `text`, as fontconfig reads it.
std::string missingCharacters(const std::string& text, const std::string& file, int index) {
    int count = 0;
    FcPattern* pattern =
        FcFreeTypeQuery(reinterpret_cast<const FcChar8*>(file.c_str()), unsigned(index), nullptr, &count);
    if (!pattern)
        return "no face in " + file;
    FcCharSet* charset = nullptr;
    std::string missing;
    if (FcPatternGetCharSet(pattern, FC_CHARSET, 0, &charset) != FcResultMatch) {
        missing = "no character set for " + file;
    } else {
        const auto* bytes = reinterpret_cast<const FcChar8*>(text.data());
        int left = int(text.size());
        while (left > 0) {
            FcChar32 c = 0;
            int used = FcUtf8ToUcs4(bytes, &c, left);
            if (used <= 0)
                break;
            if (!FcCharSetHasChar(charset, c)) {
                char code[16];
                std::snprintf(code, sizeof code, "U+%04X ", unsigned(c));
                missing += code;
            }
            bytes += used;
            left -= used;
        }
    }
    FcPatternDestroy(pattern);
    return missing;
}

TEST_P(DrivePicture, NamesInOtherScriptsAreSetInFacesThatHaveThem) {
    const std::vector<std::string> names = {"日本語のファイル.txt", "中文文档.pdf", "한국어 노트.txt",
                                            "🎉 party 📁 👍🚀✅.txt", "two\nlines.txt"};
    for (const auto& n : names)
        addFile(n, 10);
    launch();
    runner::settle();
    keepPicture(ScreenPicture::renderScreen(), name("cjk-list"));
    std::string screen = platform::TextRenderer::renderScreen();
    EXPECT_NE(screen.find("two lines.txt"), std::string::npos) << screen;
    // Each name's label, as the list shows it.
    for (const auto& n : names) {
        std::shared_ptr<platform::Label> shown;
        for (const auto& window : platform::Application::shared().windows())
            visitShown(*window, [&](const platform::View& v) {
                if (auto label = dynamic_cast<const platform::Label*>(&v); label && label->text() == n)
                    shown = std::static_pointer_cast<platform::Label>(
                        const_cast<platform::View&>(v).sharedView());
            });
        ASSERT_TRUE(shown) << n << " is not in the list:\n" << screen;
        auto runs = ScreenPicture::fontRuns(shown->text(), shown->font());
        ASSERT_FALSE(runs.empty());
        std::string set;
        for (const auto& run : runs) {
            set += run.text;
            EXPECT_EQ(missingCharacters(run.text, run.file, run.faceIndex), "")
                << n << ": \"" << run.text << "\" set in " << run.family << " (" << run.file << ")";
        }
        // A line break in a name is set as a space, as the text screen shows it.
        std::string expected = n;
        std::replace(expected.begin(), expected.end(), '\n', ' ');
        EXPECT_EQ(set, expected);
    }
}

// The shown label (in a table row) whose text is `text`.
std::shared_ptr<platform::Label> shownLabel(const std::string& text) {
    std::shared_ptr<platform::Label> shown;
    for (const auto& window : platform::Application::shared().windows())
        visitShown(*window, [&](const platform::View& v) {
            if (auto label = dynamic_cast<const platform::Label*>(&v); label && label->text() == text)
                shown =
                    std::static_pointer_cast<platform::Label>(const_cast<platform::View&>(v).sharedView());
        });
    return shown;
}

TEST_P(DrivePicture, EditModeDrawsTheDeleteControlOnEveryRow) {
    for (const char* n : {"alpha.txt", "beta.pdf", "gamma.doc", "delta.zip"})
        addFile(n, 100);
    launch();
    runner::settle();
    run("tap Edit");
    auto table = app::currentRootViewController()->fileTable;
    ASSERT_TRUE(table->isEditing());
    Bitmap screen = ScreenPicture::renderScreen();
    keepPicture(screen, name("edit-mode"));
    int rows = 0;
    for (const char* n : {"alpha.txt", "beta.pdf", "gamma.doc", "delta.zip"}) {
        SCOPED_TRACE(n);
        auto label = shownLabel(n);
        ASSERT_TRUE(label) << platform::TextRenderer::renderScreen();
        auto cell = cellOf(*label);
        ASSERT_TRUE(cell);
        auto control = cell->editingControl();
        ASSERT_TRUE(control) << "no delete control in the row";
        ++rows;
        // The control's column of the row, on the screen.
        Rect row = onScreen(*cell).intersection(platform::Screen::main().bounds());
        Rect column(row.minX(), row.minY(), platform::kEditingControlWidth, row.height());
        control->setHidden(true);
        Difference drawn = difference(screen, ScreenPicture::renderScreen());
        control->setHidden(false);
        // Drawn as a control: a solid mark that stands out, inside its column, not a few pixels.
        EXPECT_GE(drawn.contrasting, 0.1 * column.width() * column.height())
            << "the delete control is not drawn: " << drawn.describe();
        EXPECT_TRUE(drawn.inside(column))
            << "it leaves its column " << platform::toString(column) << ": " << drawn.describe();
    }
    EXPECT_EQ(rows, 4);
    // The text screen marks the same rows.
    std::string text = platform::TextRenderer::renderScreen();
    std::size_t marks = 0;
    for (std::size_t at = text.find("(-)"); at != std::string::npos; at = text.find("(-)", at + 1))
        ++marks;
    EXPECT_EQ(marks, 4u) << text;
    run("tap Edit");
}

// A name longer than its row's name line ends in "…" with no letter cut; the tablet's line
// takes the width its row has (the phone's keeps its 250 points).
TEST_P(DrivePicture, LongNamesEndInAnEllipsisAndUseTheRowsWidth) {
    const std::string longName = "A very long file name that goes on and on and on.txt";
    addFile(longName, 100);
    launch();
    runner::settle();
    Bitmap screen = ScreenPicture::renderScreen();
    keepPicture(screen, name("long-name"));
    auto label = shownLabel(longName);
    ASSERT_TRUE(label) << platform::TextRenderer::renderScreen();
    auto cell = cellOf(*label);
    ASSERT_TRUE(cell);
    const double rowWidth = cell->bounds().width();
    const bool phone = GetParam() == DeviceProfile::Phone;
    if (phone)
        EXPECT_EQ(label->frame().width(), 250);
    else
        EXPECT_EQ(label->frame().maxX(), rowWidth - 62) << "the name line keeps the phone's width";

    auto ops = ScreenPicture::compose(*label).paintOps();
    ASSERT_FALSE(ops.empty());
    auto lines = ScreenPicture::shownLines(ops.back());
    ASSERT_EQ(lines.size(), 1u);
    const std::string ellipsis = "\xE2\x80\xA6";
    if (phone) {
        ASSERT_TRUE(lines[0].ends_with(ellipsis)) << lines[0];
        EXPECT_EQ(longName.rfind(lines[0].substr(0, lines[0].size() - ellipsis.size()), 0), 0u) << lines[0];
    } else {
        EXPECT_EQ(lines[0], longName) << "the tablet's row has room for the whole name";
    }
    // In the picture the name's ink stays clear of its line's right edge: no letter is cut.
    std::string text = label->text();
    label->setText("");
    Difference drawn = difference(screen, ScreenPicture::renderScreen());
    label->setText(text);
    Rect line = onScreen(*label);
    EXPECT_GE(drawn.contrasting, kLeastTextPixels);
    EXPECT_LT(drawn.maxX, int(line.maxX()) - 1) << "the name is cut at its line's edge: " << drawn.describe();
}

// An alert too tall for the screen stays on it over the dimmed drive: its title shows, its
// button lies inside the screen and takes the tap, and nothing of it is drawn off the screen.
TEST_P(DrivePicture, AnAlertTallerThanTheScreenStaysOnItOverADimmedDrive) {
    launch();
    runner::settle();
    const Bitmap before = ScreenPicture::renderScreen();
    std::string message;
    for (int i = 1; i <= 120; ++i)
        message += "\"report-" + std::to_string(i) + ".txt\" could not be deleted.\n";
    platform::AlertView::create("Could not delete", message, {}, std::string("OK"))->show();
    auto alerts = platform::Application::shared().visibleAlerts();
    ASSERT_EQ(alerts.size(), 1u);
    auto& alert = *alerts[0];
    Bitmap screen = ScreenPicture::renderScreen();
    keepPicture(screen, name("tall-alert"));

    // Nothing of the alert lands outside the screen.
    constexpr double kRoom = 200;
    platform::Size screenSize = platform::Screen::main().bounds().size;
    platform::Size canvas{screenSize.width + 2 * kRoom, screenSize.height + 2 * kRoom};
    platform::GraphicsContext g(canvas);
    g.translateCTM(kRoom, kRoom);
    g.replay(ScreenPicture::compose(alert));
    Difference drawn = difference(ScreenPicture::render(g.takeDisplayList(), canvas),
                                  ScreenPicture::render(platform::DisplayList{}, canvas));
    EXPECT_TRUE(drawn.inside(Rect(kRoom, kRoom, screenSize.width, screenSize.height))) << drawn.describe();

    // The title is drawn in its row at the panel's top, the button inside the screen.
    Rect panel = onScreen(alert);
    Rect titleRow(panel.minX() + platform::kTextAdvance, panel.minY() + platform::kCellHeight,
                  panel.width() - 2 * platform::kTextAdvance, platform::kCellHeight);
    int ink = 0;
    for (int y = int(titleRow.minY()); y < int(titleRow.maxY()); ++y)
        for (int x = int(titleRow.minX()); x < int(titleRow.maxX()); ++x)
            ink += contrast(screen.pixel(x, y), {255, 255, 255, 255}) >= kLeastContrast;
    EXPECT_GE(ink, kLeastTextPixels) << "the title is not drawn in its row";
    ASSERT_EQ(alert.buttons().size(), 1u);
    EXPECT_TRUE(insideTheScreen(onScreen(*alert.buttons()[0])))
        << platform::toString(onScreen(*alert.buttons()[0]));

    // The drive behind is dimmed: its white list stands back from the white panel.
    int dimmed = 0, white = 0;
    for (int y = 0; y < screen.height; y += 7)
        for (int x = 0; x < screen.width; x += 7) {
            if (panel.contains(platform::Point{double(x), double(y)}))
                continue;
            auto was = before.pixel(x, y);
            if (was.r < 250 || was.g < 250 || was.b < 250)
                continue;
            ++white;
            auto now = screen.pixel(x, y);
            dimmed += now.r < 200 && now.g < 200 && now.b < 200;
        }
    ASSERT_GT(white, 0);
    EXPECT_EQ(dimmed, white) << "white parts of the drive show undimmed behind the alert";

    run("tap OK");
    EXPECT_TRUE(platform::Application::shared().visibleAlerts().empty());
}

INSTANTIATE_TEST_SUITE_P(Pictures, DrivePicture,
                         ::testing::Values(DeviceProfile::Phone, DeviceProfile::Tablet),
                         [](const auto& info) { return std::string(deviceName(info.param)); });

} // namespace
