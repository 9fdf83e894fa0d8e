#pragma once
// A small floating box for short notices over an ad ("Loading" while an interstitial's
// content loads): a rounded, translucent dark panel with a white border that stacks its
// content views (an activity indicator, a bold title, a message) from the top, each centred,
// grows or shrinks to fit them up to kMaximumHeight (longer content scrolls inside), pops in
// with a short scale-and-fade animation and disappears at once on hide().
//
// CBMessageBox is the controller callers use; its view is a CBMessageBoxView, the panel that
// pre-draws its background into a drawing layer and stacks the content in a scroll view.
// The owner keeps the box (shared_ptr) while it shows; the box owns its view and labels.
// Main thread only. A hide's late animation stop never takes away a box shown again since.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Event.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"

namespace platform {
class DrawingLayer;
class Label;
class ScrollView;
} // namespace platform

namespace cobalt {

class CBMessageBoxView : public platform::View {
public:
    static constexpr double kMaximumHeight = 320.0;
    static constexpr double kBorderWidth = 4.0;
    // The corner radius is the main screen's width divided by this.
    static constexpr double kCornerRadiusDivisor = 20.0;

    explicit CBMessageBoxView(const platform::Rect& frame);
    ~CBMessageBoxView() override;

    // Adds `view` below the stacked content, centred on the box's width.
    void addView(const std::shared_ptr<platform::View>& view);
    // Takes a content view out; the ones below move up by its height. Others: nothing.
    void removeView(const platform::View* view);
    // Restacks every content view from the top, centred on the content area's width.
    void layoutViews();
    // Fits the box to its content (see the class comment), keeping its centre; nothing
    // without content. Hides View::sizeToFit, which would keep the origin and not restack.
    void sizeToFit();
    void updateBackgroundLayerForSize(platform::Size size);
    void drawRect(const platform::Rect& rect) override;

    double cornerRadius() const { return cornerRadius_; }
    // A stored size, not used by the layout.
    platform::Size contentSize() const { return contentSize_; }
    void setContentSize(platform::Size size) { contentSize_ = size; }
    const std::shared_ptr<platform::ScrollView>& contentView() const { return contentView_; }
    const std::shared_ptr<platform::DrawingLayer>& bgLayer() const { return bgLayer_; }

private:
    void initialize();

    std::shared_ptr<platform::DrawingLayer> bgLayer_;
    double cornerRadius_ = 0;
    platform::Size contentSize_;
    std::shared_ptr<platform::ScrollView> contentView_;
};

class CBMessageBox : public platform::ViewController {
public:
    static constexpr double kInitialSize = 256.0;
    static constexpr double kTitleMinimumFontSize = 5.0;
    static constexpr int kTitleLines = 2;
    static constexpr double kAnimationDuration = 0.5;
    static constexpr double kShowScale = 1.25;
    static constexpr const char* kAnimationName = "CBMessageBox";

    static std::shared_ptr<CBMessageBox> messageBox();
    CBMessageBox();

    void loadView() override;
    std::shared_ptr<CBMessageBoxView> boxView();

    const std::shared_ptr<platform::Label>& titleView() const { return titleView_; }
    const std::shared_ptr<platform::Label>& messageView() const { return messageView_; }
    void setMessage(const std::string& message);
    void setTitle(const std::string& title);
    void addView(const std::shared_ptr<platform::View>& view);
    void removeView(const platform::View* view);
    void setTransform(const platform::AffineTransform& transform);

    void showInView(platform::View& container);
    void hide();
    void animationFinished(const std::string& animationID, bool finished, std::uint64_t shownCount);

    // Touches on the box go no further.
    void touchesEnded(const platform::TouchSet& touches, const platform::Event& event) override;

private:
    std::shared_ptr<platform::Label> makeLabel(const std::string& text, const platform::Font& font);

    std::shared_ptr<platform::Label> titleView_;
    std::shared_ptr<platform::Label> messageView_;
    std::uint64_t shownCount_ = 0; // shows so far; a hide's stop acts only if none followed
};

} // namespace cobalt
