// Bar items drawn as the device shows them: an item with a picture shows the picture alone
// (its title stays for taps and the text screen), a system item with a system picture draws
// that picture, and any other item's title is fitted to the item.
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
    auto longTitle = BarButtonItem::withTitle("Refresh every file now", BarButtonItemStyle::Bordered);
    longTitle->setWidth(50);
    toolbar->setItems({back, refresh, action, done, longTitle});
    auto window = makeKeyWindow();
    window->addSubview(toolbar);
    toolbar->layoutIfNeeded();

    struct Row {
        const char* name;
        std::shared_ptr<BarButtonItem> item;
        bool picture;     // draws an image or shapes, and no text
        const char* text; // else the title it draws
    };
    const Row rows[] = {
        {"image item", back, true, nullptr},
        {"Refresh", refresh, true, nullptr},
        {"Action (disabled)", action, true, nullptr},
        {"Done", done, false, "Done"},
        {"long title", longTitle, false, "Refresh every file now"},
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
            // Fitted to the item: set at the size the picture picks, the whole title fits inside
            // the item's button.
            ASSERT_GT(text.minimumFontSize, 0);
            double fitted =
                ScreenPicture::fittedFontSize(text.text, text.font, text.rect.size, 1, text.minimumFontSize);
            Font shown = text.font;
            shown.pointSize = fitted;
            EXPECT_LE(ScreenPicture::textWidth(text.text, shown), view->bounds().width())
                << "set at " << fitted << " points";
            EXPECT_EQ(ScreenPicture::shownLines(text), std::vector<std::string>{row.text});
        }
    }
    EXPECT_TRUE(TextRenderer::tap("Back"));
}

} // namespace
