#pragma once
// A push button with a title, an image and a background image for each control state
// (normal, highlighted, selected, disabled). A state without its own value shows the normal
// state's. The text renderer shows the current title in brackets, "[OK]", or the current
// image's name, "[<upgrade1.png>]", when there is no title. Its accessibility label (what
// `tap` finds it by) is its own, else the title, else the name of its image, else the name of
// its background picture. Owned by its superview; main thread only.
#include <map>
#include <memory>
#include <string>

#include "platform/ui/Control.h"
#include "platform/ui/Image.h"
#include "platform/ui/Label.h"

namespace platform {

enum class ButtonType {
    Custom = 0,
    RoundedRect = 1,
    DetailDisclosure = 2,
    InfoLight = 3,
    InfoDark = 4,
    ContactAdd = 5
};

class Button : public Control {
public:
    explicit Button(const Rect& frame = {}, ButtonType type = ButtonType::Custom);
    static std::shared_ptr<Button> buttonWithType(ButtonType type);

    ButtonType buttonType() const { return type_; }

    void setTitle(std::string title, unsigned state = ControlState::Normal);
    // The title set for exactly `state`, else the normal one.
    std::string titleForState(unsigned state) const;
    std::string currentTitle() const { return titleForState(state()); }
    void setTitleColor(const Color& color, unsigned state = ControlState::Normal);
    Color titleColorForState(unsigned state) const;
    void setImage(std::shared_ptr<Image> image, unsigned state = ControlState::Normal);
    std::shared_ptr<Image> imageForState(unsigned state) const;
    std::shared_ptr<Image> currentImage() const { return imageForState(state()); }
    void setBackgroundImage(std::shared_ptr<Image> image, unsigned state = ControlState::Normal);
    std::shared_ptr<Image> backgroundImageForState(unsigned state) const;
    std::shared_ptr<Image> currentBackgroundImage() const { return backgroundImageForState(state()); }

    // The label that styles the title (font, alignment); its text follows the current title.
    Label& titleLabel() { return *titleLabel_; }
    const Label& titleLabel() const { return *titleLabel_; }
    bool showsTouchWhenHighlighted() const { return showsTouch_; }
    void setShowsTouchWhenHighlighted(bool on) { showsTouch_ = on; }
    bool adjustsImageWhenHighlighted() const { return adjustsImage_; }
    void setAdjustsImageWhenHighlighted(bool on) { adjustsImage_ = on; }

    std::string accessibilityLabel() const override;
    Size sizeThatFits(Size size) const override;
    void drawText(TextCanvas& canvas, const Rect& rect) const override;
    void drawPicture(GraphicsContext& context) const override;

private:
    ButtonType type_;
    std::map<unsigned, std::string> titles_;
    std::map<unsigned, Color> titleColors_;
    std::map<unsigned, std::shared_ptr<Image>> images_;
    std::map<unsigned, std::shared_ptr<Image>> backgroundImages_;
    std::shared_ptr<Label> titleLabel_;
    bool showsTouch_ = false;
    bool adjustsImage_ = true;
};

} // namespace platform
