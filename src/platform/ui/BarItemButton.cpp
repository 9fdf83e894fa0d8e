#include "platform/ui/BarItemButton.h"

namespace platform::detail {

std::shared_ptr<Button> makeBarItemButton(const std::shared_ptr<BarButtonItem>& item) {
    auto button = std::make_shared<Button>(Rect(), ButtonType::Custom);
    std::string title = item->title();
    if (!title.empty())
        button->setTitle(title);
    if (item->image())
        button->setImage(item->image());
    button->setEnabled(item->isEnabled());
    button->setTag(item->tag());
    std::weak_ptr<BarButtonItem> weak = item;
    button->addAction(
        [weak](Control&) {
            if (auto i = weak.lock())
                i->press();
        },
        ControlEvent::TouchUpInside);
    Size fit = button->sizeThatFits({});
    button->setFrame(Rect(0, 0, item->width() > 0 ? item->width() : fit.width, kBarItemButtonHeight));
    return button;
}

} // namespace platform::detail
