#pragma once
// Base class of every network adapter: the small object that the mediation slot creates for
// one ad request, that asks its network's client for one ad and reports the outcome back to
// the slot. This header is the whole contract an adapter is written against.
//
// Writing an adapter:
//
//     class SwitchboardAdapterOrbis final : public mediation::SwitchboardAdNetworkAdapter {
//     public:
//         using SwitchboardAdNetworkAdapter::SwitchboardAdNetworkAdapter;
//         static int networkType() { return 18; }      // the class operation
//         void getAd() override;                        // start exactly one ad request
//         void stopBeingDelegate() override;            // detach from the network client
//     };
//     // In the .cpp: registers the class while the program loads.
//     const mediation::SwitchboardAdapterRegistrar<SwitchboardAdapterOrbis> kRegistrar;
//
// A class that must decide whether to register (the Halo adapter) gives itself a
// `static void load()` that calls SwitchboardAdNetworkRegistry::sharedRegistry()
// .registerClass(switchboardAdapterClass<T>()) when it wants to; the registrar then runs that
// instead of registering unconditionally.
//
// Life of an adapter, as the slot drives it:
// 1. The slot makes it through the entry's adapter class (always through create<T>() or the
//    class's factory, never make_shared: the teardown below depends on it).
// 2. The slot sends getAd() once, on the main thread. The adapter builds its client's view or
//    request from networkConfig() (pubId, credentials), from the delegate's optional answers
//    (each probed with responds() first; a delegate answer overrides the configuration's
//    value where both exist) and from the helpers; it keeps the client view with
//    setAdNetworkView() and makes itself the client's delegate.
// 3. The client answers; the adapter calls exactly one of the slot's callbacks (see
//    SwitchboardViewInterface.h), passing *this. If the network opens a full-screen or modal
//    screen later, the adapter calls helperNotifyDelegateOfFullScreenModal() when it opens and
//    helperNotifyDelegateOfFullScreenModalDismissal() when it closes.
// 4. When a later request goes to an adapter of the same network type, the slot sends this
//    one stopBeingDelegate(): both would otherwise answer the same client callbacks.
// 5. After the next ad is in place the slot clears this adapter's delegate and view and lets
//    it go. Teardown (when the last owner lets go) sends stopBeingDelegate() once more, ends a
//    modal mark this adapter left open, and clears every field, so stopBeingDelegate() must be
//    safe to call twice, must not use shared_from_this() (the adapter is being destroyed), and
//    an adapter must never call its slot once switchboardView() is null.
//
// Ownership: the delegate (host) and the slot are held weakly, the two configurations and
// the ad view strongly. Everything happens on the main thread.
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <typeinfo>

#include "mediation/SwitchboardAdNetworkRegistry.h"
#include "mediation/SwitchboardForward.h"
#include "platform/ui/Color.h"

namespace mediation {

class SwitchboardAdNetworkAdapter : public std::enable_shared_from_this<SwitchboardAdNetworkAdapter> {
public:
    // The designated initializer (initWithSwitchboardDelegate:view:config:networkConfig:): stores
    // the four values through their setters.
    SwitchboardAdNetworkAdapter(std::weak_ptr<SwitchboardDelegate> switchboardDelegate,
                                std::weak_ptr<SwitchboardViewInterface> switchboardView,
                                std::shared_ptr<SwitchboardConfig> switchboardConfig,
                                std::shared_ptr<SwitchboardAdNetworkConfig> networkConfig);
    virtual ~SwitchboardAdNetworkAdapter();
    SwitchboardAdNetworkAdapter(const SwitchboardAdNetworkAdapter&) = delete;
    SwitchboardAdNetworkAdapter& operator=(const SwitchboardAdNetworkAdapter&) = delete;

    // Makes an adapter of class T whose teardown runs while the object is still whole.
    template <typename T>
    static std::shared_ptr<T> create(std::weak_ptr<SwitchboardDelegate> switchboardDelegate,
                                     std::weak_ptr<SwitchboardViewInterface> switchboardView,
                                     std::shared_ptr<SwitchboardConfig> switchboardConfig,
                                     std::shared_ptr<SwitchboardAdNetworkConfig> networkConfig) {
        static_assert(std::is_base_of_v<SwitchboardAdNetworkAdapter, T>, "T must be an adapter");
        return std::shared_ptr<T>(new T(std::move(switchboardDelegate), std::move(switchboardView),
                                        std::move(switchboardConfig), std::move(networkConfig)),
                                  [](T* adapter) {
                                      adapter->teardown();
                                      delete adapter;
                                  });
    }

    // --- What every subclass provides (and `static int networkType()`) ---

    // Starts exactly one ad request. Called once per adapter, right after creation.
    virtual void getAd() = 0;
    // Detaches from the network client so that it no longer calls this adapter. Called by the
    // slot when the next adapter is of the same network type, and by the teardown.
    virtual void stopBeingDelegate() = 0;

    // --- What a subclass may override ---

    // Whether the slot sends impression and click pings to the metrics service for this adapter.
    virtual bool shouldSendExMetric() const { return true; }
    // The slot forwards its own rotation here; the base only writes a debug line.
    virtual void rotateToOrientation(int orientation);
    // Asked before the adapter's view is animated in with transition type 1 to 8.
    virtual bool isBannerAnimationOK(int transitionType) const;

    // --- Fields ---

    // The slot's host, asked for keys, colours, demographics and location; null once gone.
    std::shared_ptr<SwitchboardDelegate> switchboardDelegate() const { return switchboardDelegate_.lock(); }
    void setSwitchboardDelegate(std::weak_ptr<SwitchboardDelegate> delegate);
    // The slot that receives this adapter's callbacks; null once cleared or gone.
    std::shared_ptr<SwitchboardViewInterface> switchboardView() const { return switchboardView_.lock(); }
    void setSwitchboardView(std::weak_ptr<SwitchboardViewInterface> view);
    // The whole configuration: colours, locationOn.
    const std::shared_ptr<SwitchboardConfig>& switchboardConfig() const { return switchboardConfig_; }
    void setSwitchboardConfig(std::shared_ptr<SwitchboardConfig> config);
    // This network's entry: networkType, nid, networkName, pubId, credentials.
    const std::shared_ptr<SwitchboardAdNetworkConfig>& networkConfig() const { return networkConfig_; }
    void setNetworkConfig(std::shared_ptr<SwitchboardAdNetworkConfig> networkConfig);
    // The view the adapter shows in the slot; the slot's size is read from its frame.
    const std::shared_ptr<platform::View>& adNetworkView() const { return adNetworkView_; }
    void setAdNetworkView(std::shared_ptr<platform::View> view);

    // The adapter's class name, for logs.
    std::string className() const;

    // --- Helpers ---

    // Whole years from the delegate's dateOfBirth to now, in the Gregorian calendar of the
    // device's time zone; -1 when it answers none. Asks without probing: check
    // responds("dateOfBirth") first.
    int helperCalculateAge() const;
    // The delegate's switchboardTextColor when it responds and answers one; else its textColor
    // likewise; else the configuration's textColor (possibly none).
    std::optional<platform::Color> helperTextColorToUse() const;
    // Likewise with switchboardAdBackgroundColor, backgroundColor, then the configuration's.
    std::optional<platform::Color> helperBackgroundColorToUse() const;
    // The delegate's switchboardSecondaryTextColor when it responds, else none.
    std::optional<platform::Color> helperSecondaryTextColorToUse() const;
    // Marks the slot as showing a modal view, then tells the delegate
    // switchboardWillPresentFullScreenModal when it responds. Call when the ad opens a
    // full-screen or modal screen (landing page, browser, expanded ad).
    void helperNotifyDelegateOfFullScreenModal();
    // Tells the delegate switchboardDidDismissFullScreenModal when it responds, then clears the
    // slot's mark. Call when that screen has closed.
    void helperNotifyDelegateOfFullScreenModalDismissal();

private:
    // Runs before destruction: stopBeingDelegate, ends an open modal mark, clears the fields.
    void teardown();

    std::weak_ptr<SwitchboardDelegate> switchboardDelegate_;
    std::weak_ptr<SwitchboardViewInterface> switchboardView_;
    std::shared_ptr<SwitchboardConfig> switchboardConfig_;
    std::shared_ptr<SwitchboardAdNetworkConfig> networkConfig_;
    std::shared_ptr<platform::View> adNetworkView_;
    // This adapter marked the slot modal and has not cleared the mark yet.
    bool modalShown_ = false;
};

// The name of a class as written in code ("lumen::SwitchboardAdapterLumen").
std::string switchboardClassName(const std::type_info& type);

// The SwitchboardAdapterClass of adapter class T.
template <typename T> SwitchboardAdapterClass switchboardAdapterClass() {
    static_assert(std::is_base_of_v<SwitchboardAdNetworkAdapter, T>, "T must be an adapter");
    return SwitchboardAdapterClass{
        switchboardClassName(typeid(T)), &T::networkType,
        [](std::weak_ptr<SwitchboardDelegate> d, std::weak_ptr<SwitchboardViewInterface> v,
           std::shared_ptr<SwitchboardConfig> c,
           std::shared_ptr<SwitchboardAdNetworkConfig> n) -> std::shared_ptr<SwitchboardAdNetworkAdapter> {
            return SwitchboardAdNetworkAdapter::create<T>(std::move(d), std::move(v), std::move(c),
                                                          std::move(n));
        }};
}

// A static object of this type registers adapter class T when the program loads: through
// T::load() when T has one, else with the shared registry directly.
template <typename T> class SwitchboardAdapterRegistrar {
public:
    SwitchboardAdapterRegistrar() {
        if constexpr (requires { T::load(); })
            T::load();
        else
            SwitchboardAdNetworkRegistry::sharedRegistry().registerClass(switchboardAdapterClass<T>());
    }
};

} // namespace mediation
