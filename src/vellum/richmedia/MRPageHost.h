#pragma once
// The two roles the script bridge addresses besides the page itself.
//
// MR_JSBridgeDelegate: the bridge's delegate, the controller of the ad now shown (the ad view
// controller, or the expanded-ad controller while the ad is expanded). Every method is
// optional: the bridge sends one only when `responds` names it.
//
// MRPageHost: the controller that shows the page a command or navigation came from (the web
// view's delegate): the ad view controller, the expanded-ad controller or the mini browser.
// A host that does not do an operation itself hands it to the ad view controller behind its
// page (`adVC()`), so a command never fails because it came from an expanded page or from the
// mini browser; with no ad view controller behind it the operation is dropped.
//
// Both are main-thread interfaces; the bridge receives the host with each call, and each
// command acts on the delegate of that host's ad (bridgeDelegate()), never on another ad's.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace vellum {

class MRCachedAd;
class VellumAdViewController;
class VellumEvent;

class MR_JSBridgeDelegate {
public:
    virtual ~MR_JSBridgeDelegate() = default;
    // Whether the delegate implements the method named by its selector text
    // ("dismissAd", "expandAd", ...).
    virtual bool responds(std::string_view selector) const = 0;
    virtual void incrementContentEventCounterWithKey(const std::string&, const platform::Dictionary&) {}
    virtual void saveContentEventWithDictionary(const platform::Dictionary&) {}
    virtual void dismissAd() {}
    virtual void dismissEmbeddedBrowser() {}
    virtual void audioPlayBackDidStart() {}
    virtual void audioPlayBackDidFinish() {}
    virtual void expandAd() {}
    virtual void expandAdExternal() {}
    virtual void deactivateAppLevelSwipe() {}
    virtual void activateAppLevelSwipe() {}
};

class MRPageHost {
public:
    virtual ~MRPageHost() = default;
    // The ad's event (may be null).
    virtual std::shared_ptr<VellumEvent> event() const = 0;
    // The ad view controller behind the page (itself for the ad view controller; null when
    // there is none).
    virtual std::shared_ptr<VellumAdViewController> adVC() const = 0;
    // Only a host that is an expanded-ad controller answers YES.
    virtual bool isModalAdVC() const { return false; }
    // The controller that acts for this page's ad: the expanded-ad controller while the ad is
    // expanded, else the ad view controller; null when the page has no ad behind it.
    virtual std::shared_ptr<MR_JSBridgeDelegate> bridgeDelegate();

    // The operations below default to the ad view controller behind the page.
    virtual std::shared_ptr<MRCachedAd> ad() const;
    virtual std::string strRequest() const;
    virtual void setTHEStrRequest(const std::string& request);
    virtual void showClickThroughInMiniBrowser(const std::string& url);
    virtual void performClickThrough(const std::string& url);
    virtual void performClickThrough();
    virtual bool launchAnotherApp(const std::string& url, const std::optional<std::string>& parentID);
    virtual bool downloadNewAdIntoBrowser(const std::string& adID, const std::optional<std::string>& parentID);
    virtual void createAndPlayVideo(const std::string& url);
    virtual void screenCapture(const std::string& fileName);
    virtual void deactivateAppLevelSwipe() {}
    virtual void activateAppLevelSwipe() {}
};

} // namespace vellum
