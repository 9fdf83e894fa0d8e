// Bar items drawn as the device shows them: an item with a picture shows the picture alone
// (its title stays for taps and the text screen), a system item with a system picture draws
// that picture, and any other item's title is fitted to the item: shrunk until it fits, and cut
// with "…" when it does not fit even at the smallest size.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "UiTestSupport.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Button.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Image.h"
#include "platform/ui/ScreenPicture.h"
#include "platform/ui/TextRenderer.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/Window.h"

using namespace platform;

namespace {

class BarItemPicture : public uitest::UiTest {};

struct Drawn {
    int images = 0, texts = 0, shapes = 0;
    std::vector<DrawOp> textOps;
};

Drawn drawnBy(View& view) {
    Drawn d;
    const DisplayList list = ScreenPicture::compose(view);
    for (const auto& op : list.ops()) {
        if (op.kind == DrawOp::Kind::Image)
            ++d.images;
        else if (op.kind == DrawOp::Kind::Text) {
            ++d.texts;
            d.textOps.push_back(op);
        } else if (op.kind == DrawOp::Kind::FillPath || op.kind == DrawOp::Kind::StrokePath)
            ++d.shapes;
    }
    return d;
}

TEST_F(BarItemPicture, EachItemShowsWhatTheDeviceShows) {
    auto toolbar = std::make_shared<Toolbar>(Rect(0, 0, 320, 44));
    auto back = BarButtonItem::withImage(Image::solid(20, 20, 40, 40, 40, 255, "back.png"),
                                         BarButtonItemStyle::Plain);
    back->setTitle("Back");
    back->setWidth(40);
    auto refresh = BarButtonItem::withSystemItem(BarButtonSystemItem::Refresh);
    refresh->setWidth(40);
    auto action = BarButtonItem::withSystemItem(BarButtonSystemItem::Action);
    action->setWidth(40);
    action->setEnabled(false);
    auto done = BarButtonItem::withSystemItem(BarButtonSystemItem::Done);
    auto longTitle = BarButtonItem::withTitle("Refresh every file", BarButtonItemStyle::Bordered);
    longTitle->setWidth(80);
    auto tooLong = BarButtonItem::withTitle("Refresh every file now", BarButtonItemStyle::Bordered);
    tooLong->setWidth(40);
    toolbar->setItems({back, refresh, action, done, longTitle, tooLong});
    auto window = makeKeyWindow();
    window->addSubview(toolbar);
    toolbar->layoutIfNeeded();

    struct Row {
        const char* name;
        std::shared_ptr<BarButtonItem> item;
        bool picture;     // draws an image or shapes, and no text
        const char* text; // else the title it draws
        bool whole;       // the title shows whole (else its start and "…")
    };
    const Row rows[] = {
        {"image item", back, true, nullptr, true},
        {"Refresh", refresh, true, nullptr, true},
        {"Action (disabled)", action, true, nullptr, true},
        {"Done", done, false, "Done", true},
        {"long title, fits when shrunk", longTitle, false, "Refresh every file", true},
        {"too long even at the smallest size", tooLong, false, "Refresh every file now", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto view = toolbar->viewForItem(*row.item);
        ASSERT_TRUE(view);
        auto button = std::dynamic_pointer_cast<Button>(view);
        ASSERT_TRUE(button);
        // The label a tap finds stays the item's.
        EXPECT_EQ(button->currentTitle(), row.item->title());
        Drawn d = drawnBy(*view);
        if (row.picture) {
            EXPECT_EQ(d.texts, 0) << "a label drawn over the picture";
            EXPECT_GT(d.images + d.shapes, 0) << "no picture";
        } else {
            ASSERT_EQ(d.texts, 1);
            const DrawOp& text = d.textOps[0];
            EXPECT_EQ(text.text, row.text);
            // Fitted to the item: the line the picture sets, at the size it picks, lies inside
            // the item's button; it is the whole title, or its start and an ellipsis.
            ASSERT_GT(text.minimumFontSize, 0);
            double fitted =
                ScreenPicture::fittedFontSize(text.text, text.font, text.rect.size, 1, text.minimumFontSize);
            Font font = text.font;
            font.pointSize = fitted;
            auto lines = ScreenPicture::shownLines(text);
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_LE(ScreenPicture::textWidth(lines[0], font), view->bounds().width())
                << "\"" << lines[0] << "\" set at " << fitted << " points";
            const std::string ellipsis = "\xE2\x80\xA6";
            if (row.whole) {
                EXPECT_EQ(lines[0], row.text);
            } else {
                ASSERT_TRUE(lines[0].ends_with(ellipsis)) << lines[0];
                EXPECT_EQ(
                    std::string(row.text).rfind(lines[0].substr(0, lines[0].size() - ellipsis.size()), 0), 0u)
                    << lines[0];
            }
        }
    }
    EXPECT_TRUE(TextRenderer::tap("Back"));
}

} // namespace
