#include <gtest/gtest.h>

#include <fstream>

#include "UiTestSupport.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/ui/Image.h"

using namespace platform;

namespace {
class Images : public uitest::UiTest {
protected:
    void writeResource(const std::string& name, const Data& bytes) {
        std::ofstream out(home_ / "Resources" / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
};
} // namespace

TEST_F(Images, PngDataDecodesBackToTheSamePixels) {
    auto original = Image::solid(3, 2, 10, 20, 30, 255);
    Data png = original->pngRepresentation();
    ASSERT_FALSE(png.empty());
    auto decoded = Image::fromData(png);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->pixelWidth(), 3);
    EXPECT_EQ(decoded->pixelHeight(), 2);
    EXPECT_EQ(decoded->size(), (Size{3, 2}));
    EXPECT_EQ(decoded->pixels(), original->pixels());
    EXPECT_FALSE(original->jpegRepresentation(0.8).empty());
}

TEST_F(Images, DataThatIsNoPictureGivesNoImage) {
    Data png = Image::solid(4, 4, 0, 0, 0)->pngRepresentation();
    struct Case {
        const char* name;
        Data bytes;
    };
    const Case cases[] = {
        {"empty", {}},
        {"text", Data{'h', 'e', 'l', 'l', 'o'}},
        {"cut short", Data(png.begin(), png.begin() + 20)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Image::fromData(c.bytes), nullptr) << c.name;
}

TEST_F(Images, NamedImagesComeFromTheBundleOnceAndAreShared) {
    std::filesystem::create_directories(home_ / "Resources");
    Bundle::main().setResourceDirectory(home_ / "Resources");
    writeResource("Default.png", Image::solid(320, 480, 0, 0, 0)->pngRepresentation());
    writeResource("Help_Page_1.png", Image::solid(2, 2, 0, 0, 0)->pngRepresentation());
    writeResource("Broken.png", Data{'x'});

    auto launch = Image::named("Default.png");
    ASSERT_TRUE(launch);
    EXPECT_EQ(launch->size(), (Size{320, 480}));
    EXPECT_EQ(launch->name(), "Default.png");
    EXPECT_EQ(Image::named("Default.png"), launch); // cached
    EXPECT_TRUE(Image::named("Help_Page_1"));       // ".png" is assumed
    EXPECT_EQ(Image::named("Broken.png"), nullptr);
    EXPECT_EQ(Image::named("Missing.png"), nullptr);
    EXPECT_EQ(Image::named("../Default.png"), nullptr);
}

TEST_F(Images, NamedImagesDecodeTheirPixelsWhenFirstAskedAndADamagedBodyStaysTransparent) {
    std::filesystem::create_directories(home_ / "Resources");
    Bundle::main().setResourceDirectory(home_ / "Resources");
    auto original = Image::solid(5, 3, 200, 100, 50, 255);
    Data png = original->pngRepresentation();
    writeResource("Good.png", png);
    // The header (signature and size) is whole; the compressed picture after it is not.
    Data damaged(png.begin(), png.begin() + 33);
    damaged.resize(png.size(), 0xAB);
    writeResource("Damaged.png", damaged);

    auto good = Image::named("Good");
    ASSERT_TRUE(good);
    EXPECT_EQ(good->size(), (Size{5, 3}));
    EXPECT_EQ(good->pixels(), original->pixels());
    EXPECT_EQ(Image::fromData(good->pngRepresentation())->pixels(), original->pixels());

    LogCapture log;
    auto broken = Image::named("Damaged");
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->size(), (Size{5, 3}));
    EXPECT_EQ(broken->pixels(), std::vector<std::uint8_t>(5 * 3 * 4, 0));
    EXPECT_EQ(broken->pixels().size(), 60u);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Image: cannot decode the resource Damaged.png"});
    EXPECT_EQ(Image::fromData(damaged), nullptr);
}
