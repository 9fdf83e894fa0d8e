#include "platform/ui/BarButtonItem.h"

#include "platform/foundation/Log.h"
#include "platform/ui/Image.h"
#include "platform/ui/View.h"

namespace platform {

const char* systemItemTitle(BarButtonSystemItem item) {
    switch (item) {
    case BarButtonSystemItem::Done:
        return "Done";
    case BarButtonSystemItem::Cancel:
        return "Cancel";
    case BarButtonSystemItem::Edit:
        return "Edit";
    case BarButtonSystemItem::Save:
        return "Save";
    case BarButtonSystemItem::Add:
        return "+";
    case BarButtonSystemItem::FlexibleSpace:
    case BarButtonSystemItem::FixedSpace:
        return "";
    case BarButtonSystemItem::Compose:
        return "Compose";
    case BarButtonSystemItem::Reply:
        return "Reply";
    case BarButtonSystemItem::Action:
        return "Action";
    case BarButtonSystemItem::Organize:
        return "Organize";
    case BarButtonSystemItem::Bookmarks:
        return "Bookmarks";
    case BarButtonSystemItem::Search:
        return "Search";
    case BarButtonSystemItem::Refresh:
        return "Refresh";
    case BarButtonSystemItem::Stop:
        return "Stop";
    case BarButtonSystemItem::Camera:
        return "Camera";
    case BarButtonSystemItem::Trash:
        return "Trash";
    case BarButtonSystemItem::Play:
        return "Play";
    case BarButtonSystemItem::Pause:
        return "Pause";
    case BarButtonSystemItem::Rewind:
        return "Rewind";
    case BarButtonSystemItem::FastForward:
        return "FastForward";
    }
    return "";
}

std::shared_ptr<BarButtonItem> BarButtonItem::withTitle(std::string title, BarButtonItemStyle style,
                                                        Action action) {
    std::shared_ptr<BarButtonItem> item(new BarButtonItem());
    item->title_ = std::move(title);
    item->style_ = style;
    item->action_ = std::move(action);
    return item;
}

std::shared_ptr<BarButtonItem> BarButtonItem::withImage(std::shared_ptr<Image> image,
                                                        BarButtonItemStyle style, Action action) {
    std::shared_ptr<BarButtonItem> item(new BarButtonItem());
    item->image_ = std::move(image);
    item->style_ = style;
    item->action_ = std::move(action);
    return item;
}

std::shared_ptr<BarButtonItem> BarButtonItem::withSystemItem(BarButtonSystemItem systemItem, Action action) {
    std::shared_ptr<BarButtonItem> item(new BarButtonItem());
    item->systemItem_ = systemItem;
    item->style_ =
        systemItem == BarButtonSystemItem::Done ? BarButtonItemStyle::Done : BarButtonItemStyle::Bordered;
    item->action_ = std::move(action);
    return item;
}

std::shared_ptr<BarButtonItem> BarButtonItem::withCustomView(std::shared_ptr<View> view) {
    std::shared_ptr<BarButtonItem> item(new BarButtonItem());
    item->customView_ = std::move(view);
    return item;
}

std::shared_ptr<BarButtonItem> BarButtonItem::fixedSpace(double width) {
    auto item = withSystemItem(BarButtonSystemItem::FixedSpace);
    item->width_ = width;
    return item;
}

std::shared_ptr<BarButtonItem> BarButtonItem::flexibleSpace() {
    return withSystemItem(BarButtonSystemItem::FlexibleSpace);
}

std::string BarButtonItem::title() const {
    if (!title_.empty() || !systemItem_)
        return title_;
    return systemItemTitle(*systemItem_);
}

void BarButtonItem::setTitle(std::string title) {
    title_ = std::move(title);
    changed();
}

void BarButtonItem::setAccessibilityLabel(std::string label) {
    accessibilityLabel_ = std::move(label);
    changed();
}

void BarButtonItem::setImage(std::shared_ptr<Image> image) {
    image_ = std::move(image);
    changed();
}

void BarButtonItem::setWidth(double width) {
    width_ = width;
    changed();
}

void BarButtonItem::setCustomView(std::shared_ptr<View> view) {
    customView_ = std::move(view);
    changed();
}

void BarButtonItem::setEnabled(bool enabled) {
    enabled_ = enabled;
    changed();
}

bool BarButtonItem::press() {
    if (!enabled_ || !action_)
        return false;
    auto keep = weak_from_this().lock(); // the action may replace this item in its bar
    Action action = action_;
    action(*this);
    return true;
}

void BarButtonItem::changed() {
    if (changed_)
        changed_();
}

} // namespace platform
