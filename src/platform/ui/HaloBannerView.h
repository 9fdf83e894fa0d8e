#pragma once
// The platform's Halo banner: a view that loads and shows banner ads of the platform's own
// ad service, in one of the content sizes named by its size identifiers, and reports to a
// delegate. Code that uses it looks the class up by kHaloBannerViewClassName in the
// ClassTable first, since a platform may lack it: our platform registers none (it has no Halo
// service), so such code stays idle here; tests register a stand-in subclass.
//
// Ownership: whoever creates the banner owns it; the delegate is held weakly. Main thread
// only; the delegate's callbacks arrive on the main run loop.
#include <memory>
#include <set>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/ui/View.h"

namespace platform {

inline constexpr const char* kHaloBannerViewClassName = "HaloBannerView";

// Size identifiers. Newer systems name sizes by orientation; older ones by fixed size
// (320 by 50 portrait, 480 by 32 landscape).
inline constexpr const char* kHaloBannerContentSizeIdentifierPortrait =
    "HaloBannerContentSizeIdentifierPortrait";
inline constexpr const char* kHaloBannerContentSizeIdentifierLandscape =
    "HaloBannerContentSizeIdentifierLandscape";
inline constexpr const char* kHaloBannerContentSizeIdentifier320x50 = "HaloBannerContentSizeIdentifier320x50";
inline constexpr const char* kHaloBannerContentSizeIdentifier480x32 = "HaloBannerContentSizeIdentifier480x32";

class HaloBannerView;

// Every callback is optional.
class HaloBannerViewDelegate {
  public:
    virtual ~HaloBannerViewDelegate() = default;
    virtual void bannerViewDidLoadAd(HaloBannerView& banner) { (void)banner; }
    virtual void bannerViewDidFailToReceiveAdWithError(HaloBannerView& banner, const Error& error) {
        (void)banner;
        (void)error;
    }
    // The user touched the ad; answer whether its action (a full-screen ad, or leaving the
    // application when `willLeaveApplication`) may begin.
    virtual bool bannerViewActionShouldBegin(HaloBannerView& banner, bool willLeaveApplication) {
        (void)banner;
        (void)willLeaveApplication;
        return true;
    }
    virtual void bannerViewActionDidFinish(HaloBannerView& banner) { (void)banner; }
};

class HaloBannerView : public View {
  public:
    explicit HaloBannerView(const Rect& frame = {}) : View(frame) {}

    // Whether the system defines the orientation-named identifiers (else the fixed-size ones).
    virtual bool definesOrientationSizeIdentifiers() const { return true; }

    const std::set<std::string>& requiredContentSizeIdentifiers() const { return required_; }
    virtual void setRequiredContentSizeIdentifiers(std::set<std::string> identifiers) {
        required_ = std::move(identifiers);
    }
    const std::string& currentContentSizeIdentifier() const { return current_; }
    virtual void setCurrentContentSizeIdentifier(std::string identifier) { current_ = std::move(identifier); }

    std::shared_ptr<HaloBannerViewDelegate> delegate() const { return delegate_.lock(); }
    virtual void setDelegate(std::weak_ptr<HaloBannerViewDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

  private:
    std::set<std::string> required_;
    std::string current_;
    std::weak_ptr<HaloBannerViewDelegate> delegate_;
};

} // namespace platform
