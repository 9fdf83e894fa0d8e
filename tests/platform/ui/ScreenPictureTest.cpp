#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "UiTestSupport.h"
#include "platform/foundation/FileManager.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/ScreenPicture.h"
#include "platform/ui/Screen.h"

using namespace platform;
namespace fs = std::filesystem;

namespace {

using RGBA = Bitmap::RGBA;
constexpr RGBA kWhite{255, 255, 255, 255};
constexpr RGBA kRed{255, 0, 0, 255};
constexpr RGBA kGreen{0, 255, 0, 255};
constexpr RGBA kBlue{0, 0, 255, 255};
constexpr RGBA kBlack{0, 0, 0, 255};
constexpr RGBA kClear{0, 0, 0, 0};

// A view that draws a green triangle with its drawRect.
class TriangleView : public View {
public:
    using View::View;
    void drawRect(const Rect& r) override {
        auto* g = GraphicsContext::current();
        g->setFillColor(Color::greenColor());
        g->beginPath();
        g->moveToPoint(0, 0);
        g->addLineToPoint(r.width(), 0);
        g->addLineToPoint(0, r.height());
        g->closePath();
        g->fillPath();
    }
};

class ScreenPictures : public uitest::UiTest {
protected:
    // The known tree of the reference picture, 120 × 80 on white:
    //  - red box (10, 10, 30, 20) with a half-transparent blue box over its right half;
    //  - a black box with rounded corners (radius 8) and a 2-point green border at (50, 10);
    //  - a clipping box (10, 40, 20, 20) whose red child sticks out to the right (cut off);
    //  - a drawn triangle at (50, 45), a scaled 2 × 2 image at (90, 45) as 20 × 20;
    //  - a hidden box and a box of alpha 0 that show nothing.
    std::shared_ptr<View> knownTree() {
        auto root = std::make_shared<View>(Rect(0, 0, 120, 80));
        root->setBackgroundColor(Color::whiteColor());
        auto red = std::make_shared<View>(Rect(10, 10, 30, 20));
        red->setBackgroundColor(Color::redColor());
        root->addSubview(red);
        auto blue = std::make_shared<View>(Rect(25, 10, 15, 20));
        blue->setBackgroundColor(Color::blueColor());
        blue->setAlpha(0.5);
        root->addSubview(blue);
        auto rounded = std::make_shared<View>(Rect(50, 10, 40, 24));
        rounded->setBackgroundColor(Color::blackColor());
        rounded->layer().setCornerRadius(8);
        rounded->layer().setBorderWidth(2);
        rounded->layer().setBorderColor(Color::greenColor());
        root->addSubview(rounded);
        auto clipper = std::make_shared<View>(Rect(10, 40, 20, 20));
        clipper->setClipsToBounds(true);
        auto outside = std::make_shared<View>(Rect(5, 5, 40, 10));
        outside->setBackgroundColor(Color::redColor());
        clipper->addSubview(outside);
        root->addSubview(clipper);
        root->addSubview(std::make_shared<TriangleView>(Rect(50, 45, 20, 20)));
        std::vector<std::uint8_t> px = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 0, 0, 0, 255};
        auto image = std::make_shared<Image>(2, 2, px, "quad.png");
        auto imageView = std::make_shared<ImageView>(Rect(90, 45, 20, 20));
        imageView->setImage(image);
        root->addSubview(imageView);
        auto hidden = std::make_shared<View>(Rect(0, 70, 120, 10));
        hidden->setBackgroundColor(Color::blackColor());
        hidden->setHidden(true);
        root->addSubview(hidden);
        auto invisible = std::make_shared<View>(Rect(0, 70, 120, 10));
        invisible->setBackgroundColor(Color::blackColor());
        invisible->setAlpha(0);
        root->addSubview(invisible);
        return root;
    }

    // Checked in beside this test; FW_WRITE_REFERENCE_PICTURES=1 writes it anew (look at it
    // before checking it in).
    static fs::path referencePicture() {
        const char* source = std::getenv("FW_SOURCE_DIR");
        return fs::path(source ? source : ".") / "tests" / "platform" / "ui" / "fixtures" / "known-tree.png";
    }
};

// Largest difference of one channel between two pixels.
int difference(RGBA a, RGBA b) {
    return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b), std::abs(a.a - b.a)});
}

} // namespace

TEST_F(ScreenPictures, AKnownTreeIsExactOnSolidFills) {
    auto root = knownTree();
    Bitmap picture = ScreenPicture::renderView(*root, root->bounds().size);
    ASSERT_EQ(picture.width, 120);
    ASSERT_EQ(picture.height, 80);
    struct Case {
        const char* what;
        int x, y;
        RGBA expected;
    };
    const Case cases[] = {
        {"background", 2, 2, kWhite},
        {"red box", 15, 20, kRed},
        {"half blue over red", 30, 20, RGBA{128, 0, 127, 255}},
        {"half blue over white", 41, 20, kWhite}, // outside the blue box
        {"rounded box inside", 70, 22, kBlack},
        {"its border", 70, 10, kGreen},
        {"its cut-off corner", 50, 10, kWhite},
        {"clipped child inside", 20, 50, kRed},
        {"clipped child outside", 40, 50, kWhite},
        {"drawn triangle", 52, 47, kGreen},
        {"beyond its diagonal", 68, 63, kWhite},
        {"image top left", 92, 47, kRed},
        {"image top right", 108, 47, kGreen},
        {"image bottom left", 92, 63, kBlue},
        {"image bottom right", 108, 63, kBlack},
        {"hidden and transparent views", 60, 75, kWhite},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RGBA got = picture.pixel(c.x, c.y);
        EXPECT_LE(difference(got, c.expected), 1) << int(got.r) << "," << int(got.g) << "," << int(got.b) << ","
                                                   << int(got.a);
    }
    EXPECT_EQ(picture.pixel(-1, 0), kClear);
    EXPECT_EQ(picture.pixel(120, 0), kClear);
}

TEST_F(ScreenPictures, AKnownTreeMatchesItsReferencePicture) {
    auto root = knownTree();
    Bitmap picture = ScreenPicture::renderView(*root, root->bounds().size);
    if (std::getenv("FW_WRITE_REFERENCE_PICTURES")) {
        ASSERT_TRUE(ScreenPicture::writePNG(picture, referencePicture()));
    }
    auto reference = Image::fromFile(referencePicture());
    ASSERT_NE(reference, nullptr);
    ASSERT_EQ(reference->pixelWidth(), picture.width);
    ASSERT_EQ(reference->pixelHeight(), picture.height);
    // Anti-aliased edges may move by a shade between library versions; everything else is
    // exact.
    int differing = 0;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const std::uint8_t* r = reference->pixels().data() + (std::size_t(y) * 120 + std::size_t(x)) * 4;
            int d = difference(picture.pixel(x, y), RGBA{r[0], r[1], r[2], r[3]});
            EXPECT_LE(d, 48) << "at " << x << "," << y;
            differing += d > 2;
        }
    EXPECT_LE(differing, 40);
}

TEST_F(ScreenPictures, TransformsMasksAndLabelShadowsShowInThePicture) {
    auto root = std::make_shared<View>(Rect(0, 0, 100, 100));
    root->setBackgroundColor(Color::whiteColor());
    // A 40 × 10 bar turned a quarter turn about its centre stands 10 × 40.
    auto bar = std::make_shared<View>(Rect(10, 30, 40, 10));
    bar->setBackgroundColor(Color::blueColor());
    bar->setTransform(AffineTransform::makeRotation(M_PI / 2));
    root->addSubview(bar);
    // A red box masked by a view that is opaque on its left half only.
    auto masked = std::make_shared<View>(Rect(60, 10, 30, 30));
    masked->setBackgroundColor(Color::redColor());
    auto mask = std::make_shared<View>(Rect(0, 0, 15, 30));
    mask->setBackgroundColor(Color::blackColor());
    masked->layer().setMask(mask);
    root->addSubview(masked);
    // White text on white, with a black shadow 3 points down: only the shadow shows.
    auto label = std::make_shared<Label>(Rect(0, 60, 100, 30));
    label->setText("MMMM");
    label->setFont(Font::boldSystemFont(20));
    label->setTextColor(Color::whiteColor());
    label->setShadowColor(Color::blackColor());
    label->setShadowOffset({0, 3});
    root->addSubview(label);

    Bitmap picture = ScreenPicture::renderView(*root, root->bounds().size);
    EXPECT_EQ(picture.pixel(30, 20), kBlue); // inside the upright bar
    EXPECT_EQ(picture.pixel(15, 35), kWhite); // where the unturned bar would be
    EXPECT_EQ(picture.pixel(65, 25), kRed);
    EXPECT_EQ(picture.pixel(85, 25), kWhite);
    int dark = 0;
    for (int y = 60; y < 90; ++y)
        for (int x = 0; x < 100; ++x)
            dark += picture.pixel(x, y).r < 64;
    EXPECT_GT(dark, 20);
    label->setShadowColor(Color::clearColor());
    picture = ScreenPicture::renderView(*root, root->bounds().size);
    for (int y = 60; y < 90; ++y)
        for (int x = 0; x < 100; ++x)
            ASSERT_EQ(picture.pixel(x, y), kWhite) << x << "," << y;
}

TEST_F(ScreenPictures, ImagesAreReadOnlyWithinTheirPixels) {
    // An image whose pixel buffer is shorter than its size claims draws nothing.
    auto broken = std::make_shared<Image>(64, 64, std::vector<std::uint8_t>(16, 0), "broken.png");
    GraphicsContext g({10, 10});
    g.setFillColor(Color::whiteColor());
    g.fillRect(Rect(0, 0, 10, 10));
    g.drawImage(Rect(0, 0, 10, 10), broken);
    g.drawImage(Rect(0, 0, 10, 10), broken);
    Bitmap picture = ScreenPicture::render(g.displayList(), {10, 10});
    EXPECT_EQ(picture.pixel(5, 5), kWhite);
    // Flattened transforms, empty and non-finite shapes paint nothing and stop nothing.
    GraphicsContext odd({10, 10});
    odd.saveGState();
    odd.scaleCTM(0, 1);
    odd.fillRect(Rect(0, 0, 10, 10));
    odd.restoreGState();
    odd.fillEllipseInRect(Rect(0, 0, 0, 5));
    odd.fillRect(Rect(NAN, 0, 5, 5));
    odd.setFillColor(Color::redColor());
    odd.fillRect(Rect(0, 0, 2, 2));
    picture = ScreenPicture::render(odd.displayList(), {10, 10});
    EXPECT_EQ(picture.pixel(1, 1), kRed);
    EXPECT_EQ(picture.pixel(5, 5), kClear);
}

TEST_F(ScreenPictures, SnapshotsAreWrittenWholeAsPNG) {
    auto window = makeKeyWindow();
    auto view = std::make_shared<View>(Rect(0, 100, 320, 50));
    view->setBackgroundColor(Color::redColor());
    window->addSubview(view);
    fs::path file = home_ / "screen.png";
    Error error;
    ASSERT_TRUE(ScreenPicture::snapshot(file, &error)) << error.localizedDescription;
    auto written = Image::fromFile(file);
    ASSERT_NE(written, nullptr);
    Size screen = Screen::main().bounds().size;
    EXPECT_EQ(written->pixelWidth(), int(screen.width));
    EXPECT_EQ(written->pixelHeight(), int(screen.height));
    const std::uint8_t* p = written->pixels().data() + (std::size_t(120) * std::size_t(screen.width) + 10) * 4;
    EXPECT_EQ((RGBA{p[0], p[1], p[2], p[3]}), kRed);
    // The status bar shows black across the top until its window is faded.
    p = written->pixels().data() + (std::size_t(5) * std::size_t(screen.width) + 10) * 4;
    EXPECT_EQ((RGBA{p[0], p[1], p[2], p[3]}), kBlack);
    auto barWindow = std::any_cast<std::shared_ptr<Window>>(Application::shared().valueForKey("statusBarWindow"));
    barWindow->setAlpha(0);
    EXPECT_EQ(ScreenPicture::renderScreen().pixel(10, 5), kWhite);
    // The next snapshot draws the screen as it is now, not over the ops of the last one.
    view->removeFromSuperview();
    ASSERT_TRUE(ScreenPicture::snapshot(file, &error)) << error.localizedDescription;
    written = Image::fromFile(file);
    ASSERT_NE(written, nullptr);
    p = written->pixels().data() + (std::size_t(120) * std::size_t(screen.width) + 10) * 4;
    EXPECT_EQ((RGBA{p[0], p[1], p[2], p[3]}), kWhite);

    fs::path nowhere = home_ / "missing-folder" / "screen.png";
    EXPECT_FALSE(ScreenPicture::snapshot(nowhere, &error));
    EXPECT_NE(error.localizedDescription.find("missing-folder"), std::string::npos);
    EXPECT_FALSE(fs::exists(nowhere.string() + ".partial"));
    EXPECT_FALSE(fs::exists(file.string() + ".partial"));
}

TEST_F(ScreenPictures, TheApplicationAnswersItsPropertiesByName) {
    auto& app = Application::shared();
    app.setApplicationIconBadgeNumber(3);
    auto window = makeKeyWindow();
    EXPECT_EQ(std::any_cast<std::shared_ptr<Window>>(app.valueForKey("keyWindow")), window);
    EXPECT_EQ(std::any_cast<Value>(app.valueForKey("applicationIconBadgeNumber")), Value(3));
    auto bar = std::any_cast<std::shared_ptr<Window>>(app.valueForKey("statusBarWindow"));
    EXPECT_EQ(bar, app.statusBarWindow());
    EXPECT_EQ(bar->frame().size.height, 20);
    // The status bar's window is not one of the application's windows.
    EXPECT_EQ(app.windows().size(), 1u);
    try {
        app.valueForKey("noSuchProperty");
        FAIL() << "an unknown key must raise";
    } catch (const NamedException& e) {
        EXPECT_EQ(e.name(), "NSUnknownKeyException");
    }
}

TEST_F(ScreenPictures, ImageViewShowsItsFramesOnTheRunLoopClock) {
    std::vector<std::shared_ptr<Image>> frames;
    for (int i = 1; i <= 19; ++i)
        frames.push_back(Image::solid(161, 16, std::uint8_t(i), 0, 0, 255, "ProgressBar" + std::to_string(i) + ".png"));
    auto still = Image::solid(161, 16, 0, 0, 0, 255, "still.png");
    auto strip = std::make_shared<ImageView>(Rect(0, 320, 161, 16));
    strip->setImage(still);
    strip->setAnimationImages(frames);
    strip->setAnimationDuration(15.0);
    strip->setAnimationRepeatCount(1);
    strip->startAnimating();
    EXPECT_TRUE(strip->isAnimating());
    EXPECT_EQ(strip->displayedImage(), frames[0]);
    const double perFrame = 15.0 / 19;
    clock_.advance(perFrame * 0.5);
    EXPECT_EQ(strip->displayedImage(), frames[0]);
    clock_.advance(perFrame);
    EXPECT_EQ(strip->displayedImage(), frames[1]);
    clock_.advance(perFrame * 16);
    EXPECT_EQ(strip->displayedImage(), frames[17]);
    EXPECT_EQ(ScreenPicture::renderView(*strip, {161, 16}).pixel(5, 5).r, 18);
    // Once round, then it stops by itself and shows its image again.
    clock_.advance(perFrame * 1.5);
    EXPECT_FALSE(strip->isAnimating());
    EXPECT_EQ(strip->displayedImage(), still);

    // Repeating until stopped; a view that goes away takes its timer with it.
    strip->setAnimationRepeatCount(0);
    strip->startAnimating();
    clock_.advance(60);
    EXPECT_TRUE(strip->isAnimating());
    strip->stopAnimating();
    EXPECT_EQ(strip->displayedImage(), still);
    strip->startAnimating();
    std::weak_ptr<ImageView> weak = strip;
    strip.reset();
    clock_.advance(1);
    EXPECT_TRUE(weak.expired());
}

namespace {
// Draws a red-to-blue gradient along x from 10 to 30 with the given options, over 40 × 10.
class GradientView : public View {
public:
    GradientView(const Rect& frame, unsigned options) : View(frame), options_(options) {}
    void drawRect(const Rect&) override {
        GraphicsContext::current()->drawLinearGradient({{Color::redColor(), Color::blueColor()}, {0, 1}},
                                                       Point{10, 0}, Point{30, 0}, options_);
    }

private:
    unsigned options_;
};
} // namespace

TEST_F(ScreenPictures, GradientsExtendOnlyOnTheSidesAsked) {
    constexpr unsigned kBefore = GradientDrawing::DrawsBeforeStartLocation;
    constexpr unsigned kAfter = GradientDrawing::DrawsAfterEndLocation;
    struct Case {
        const char* what;
        unsigned options;
        RGBA beforeStart, afterEnd;
    } cases[] = {
        {"neither", 0, kClear, kClear},
        {"before only", kBefore, kRed, kClear},
        {"after only", kAfter, kClear, kBlue},
        {"both", kBefore | kAfter, kRed, kBlue},
    };
    for (const auto& c : cases) {
        auto view = std::make_shared<GradientView>(Rect(0, 0, 40, 10), c.options);
        view->setBackgroundColor(Color::clearColor());
        Bitmap picture = ScreenPicture::renderView(*view, {40, 10});
        EXPECT_EQ(picture.pixel(3, 5), c.beforeStart) << c.what;
        EXPECT_EQ(picture.pixel(36, 5), c.afterEnd) << c.what;
        EXPECT_EQ(picture.pixel(20, 5).a, 255) << c.what; // the band itself always shows
    }
}

TEST_F(ScreenPictures, LayerShadowsAreBlurredByTheirRadius) {
    auto root = std::make_shared<View>(Rect(0, 0, 100, 100));
    root->setBackgroundColor(Color::whiteColor());
    auto card = std::make_shared<View>(Rect(30, 30, 40, 40));
    card->setBackgroundColor(Color::whiteColor());
    card->layer().setShadowColor(Color::blackColor());
    card->layer().setShadowOpacity(1);
    card->layer().setShadowOffset({0, 0});
    root->addSubview(card);
    auto darkness = [](const Bitmap& p, int x, int y) { return 255 - p.pixel(x, y).r; };

    card->layer().setShadowRadius(0);
    Bitmap sharp = ScreenPicture::renderView(*root, root->bounds().size);
    // A sharp shadow right under the card is hidden by it.
    for (int x = 20; x < 30; ++x)
        EXPECT_EQ(darkness(sharp, x, 50), 0) << x;

    card->layer().setShadowRadius(8);
    Bitmap soft = ScreenPicture::renderView(*root, root->bounds().size);
    // Outside the card the shadow fades with distance and is gone well past its radius.
    EXPECT_GT(darkness(soft, 29, 50), darkness(soft, 25, 50));
    EXPECT_GT(darkness(soft, 25, 50), darkness(soft, 21, 50));
    EXPECT_GT(darkness(soft, 29, 50), 40);
    EXPECT_EQ(darkness(soft, 5, 50), 0);
    EXPECT_EQ(soft.pixel(50, 50), kWhite); // the card itself
    // The fade is the same on every side.
    EXPECT_NEAR(darkness(soft, 27, 50), darkness(soft, 72, 50), 2);
    EXPECT_NEAR(darkness(soft, 50, 27), darkness(soft, 50, 72), 2);
}
