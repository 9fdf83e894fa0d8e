#pragma once
// The wallpaper promotion: a full-screen (320 by 480) house promotion chosen at random among
// the publisher's applications that are not installed, with twelve entry animations, reported
// like the other promotions. No screen of this application creates it; a host makes it,
// starts it with showAdForPremiumApp, and shows and hides it with showView/hideView on its
// delegate's cues.
//
// Threads: main thread; the image download runs on a background thread and hands the display
// back to the main thread. The delegate is held weakly; delayed work holds the view weakly.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"
#include "platform/ui/Image.h"
#include "platform/ui/Event.h"
#include "platform/ui/View.h"

namespace promo {

class AsyncAdData;
class WallpaperPromotion;

// Every method is optional.
class WallpaperPromotionDelegate {
public:
    virtual ~WallpaperPromotionDelegate() = default;
    virtual void hideAd(WallpaperPromotion&) {}
    virtual void showAd(WallpaperPromotion&) {}
    // isAllDataLoaded: — the chosen entry's "appLink".
    virtual void isAllDataLoaded(const std::string& appLink) { (void)appLink; }
};

class WallpaperPromotion : public platform::View {
public:
    static constexpr int kAnimationCount = 12;
    static constexpr double kClickOpenDelay = 0.5;

    WallpaperPromotion();
    ~WallpaperPromotion() override;

    std::shared_ptr<WallpaperPromotionDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<WallpaperPromotionDelegate> delegate) { delegate_ = std::move(delegate); }

    void showAdForPremiumApp();
    void getPromotionDataForAppId(const std::string& ignored);
    void getAdAgain() { getPromotionDataForAppId({}); }
    void jsonDataReturn(const std::optional<platform::Value>& json);
    void imageLoad(const std::string& url);
    void showPromotionalAd();
    void showView(const std::shared_ptr<platform::View>& view, platform::View& onView, int animation);
    void hideView(platform::View& view, platform::View& onView);
    void showAdNow();
    void hideAdImmediately();
    void getItNow();
    void gotoItune();
    void impressionUpdate();
    // NO for the first generations ("1G", "2G", "2.5G", "3G", "3CB"), else YES; a machine
    // name without a generation ("Unknown") counts as a newer device.
    static bool appGenerationisNot3G();

    const platform::Array& appArray() const { return appArray_; }
    const platform::Array& promotionDataArray() const { return promotionDataArray_; }
    const std::string& ownAppId() const { return ownAppId_; }
    void setOwnAppId(std::string id) { ownAppId_ = std::move(id); }
    const std::shared_ptr<platform::Image>& promotionalImage() const { return promotionalImage_; }
    int animationID() const { return animationID_; }
    bool isAdLoaded() const { return isAdLoaded_; }

private:
    std::weak_ptr<WallpaperPromotion> weakSelf();
    std::string entryMember(std::string_view key) const;

    std::weak_ptr<WallpaperPromotionDelegate> delegate_;
    platform::Array appArray_;
    platform::Array promotionDataArray_;
    std::string ownAppId_;
    std::shared_ptr<platform::Image> promotionalImage_;
    int animationID_ = 0;
    bool isAdLoaded_ = false;
    std::shared_ptr<AsyncAdData> fetcher_;
};

// An upgrade button whose image is crossed by a moving shine: the image "upgradeButton.png"
// on a black, grey-bordered view, with a shine strip that slides across it once, 7 to 20 s
// after creation (a layer animation "slideAnim" of "position.x" by the image width). A touch
// calls the callback. Main thread only.
class SlideView : public platform::View {
public:
    static constexpr double kFirstShineDelay = 7.0;
    static constexpr int kShineDelaySpread = 14; // whole seconds 0 to 13
    static constexpr double kLaterShineDelay = 5.0;
    static constexpr double kShineDuration = 1.0;

    // initWithFrame:callback:delegate:
    SlideView(const platform::Rect& frame, std::function<void()> callback);

    void loadShineEffect();
    const std::shared_ptr<platform::View>& maskLayer() const { return maskLayer_; }
    static double textWidth();

    void touchesBegan(const platform::TouchSet& touches, const platform::Event& event) override;

private:
    void addShine(double delay);

    std::function<void()> callback_;
    std::shared_ptr<platform::View> imageLayer_;
    std::shared_ptr<platform::View> maskLayer_;
};

} // namespace promo
