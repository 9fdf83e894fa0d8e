#pragma once
// The common machinery of the two adapters that the mediation layer serves itself, the
// custom-ad adapter (SwitchboardAdapterCustom) and the Nimbus adapter
// (SwitchboardAdapterNimbus): download a small JSON description of one ad, download the
// ad's image, show both in a SwitchboardCustomAdView, and on a tap open the landing URL
// outside the application or in the in-app browser (SwitchboardWebBrowserController),
// framed by the two modal helpers so that the slot holds back while it is open.
//
// A subclass gives the request URL, parses the description (parseAdData: it makes the view
// and starts the image download with startImageRequest), and the texts of its messages.
//
// Replies are taken as content: a status outside 200-299 fails the step with error 40, and
// each reply is bounded (kMaximumAdDataBytes, kMaximumImageBytes; larger fails with 40).
//
// Ownership: the adapter owns its connections, its view and its browser. Connections hold
// the adapter weakly and are cancelled when it goes, so no callback outlives it; callbacks
// from a connection, view or browser that is not the adapter's current one are ignored.
// Everything arrives on the main thread. Exactly one outcome reaches the slot per getAd.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "mediation/SwitchboardAdNetworkAdapter.h"
#include "mediation/SwitchboardCustomAdView.h"
#include "mediation/SwitchboardError.h"
#include "mediation/SwitchboardWebBrowserController.h"
#include "platform/foundation/Value.h"
#include "platform/net/URLConnection.h"

namespace mediation::detail {

// A number of the reply that must lie strictly between its two bounds.
struct EnumField {
    const char* name;
    int minVal;
    int maxVal;
};
inline constexpr EnumField kAdTypeField{"ad_type", 0, 6};
inline constexpr EnumField kLaunchTypeField{"launch_type", 0, 4};

// The messages that differ between the two networks.
struct CustomAdTexts {
    std::string_view connectionError;      // error 40, description download
    std::string_view imageConnectionError; // error 40, image download
    std::string_view imageDataError;       // error 70
    std::string_view missingField;         // error 60 "... no '%@' field"
    std::string_view invalidField;         // error 60 "... Invalid value for %@ - %d"
    std::string_view redirectURLNil;       // tap without a landing URL
    std::string_view unsupportedLaunchType;
};

class CustomAdDownloadAdapter : public SwitchboardAdNetworkAdapter,
                                public platform::URLConnectionDelegate,
                                public SwitchboardCustomAdViewDelegate,
                                public SwitchboardWebBrowserControllerDelegate {
public:
    using SwitchboardAdNetworkAdapter::SwitchboardAdNetworkAdapter;
    ~CustomAdDownloadAdapter() override;

    static constexpr std::int64_t kMaximumAdDataBytes = 64 * 1024;
    static constexpr std::int64_t kMaximumImageBytes = 1024 * 1024;

    // Starts the description download unless a request is already under way.
    void getAd() final;
    // Clears the delegate of the adapter's view (safe twice).
    void stopBeingDelegate() override;

    // Parses the description; on success the view exists and the image download runs. On
    // failure `error` (when given) receives the error, or stays empty where none is made.
    virtual bool parseAdData(const platform::Data& data, std::optional<platform::Error>* error) = 0;
    // Reads adInfo[fieldName] as an integer v accepted when minVal < v < maxVal.
    bool parseEnums(int* value, const platform::Value& adInfo, int minVal, int maxVal,
                    std::string_view fieldName, std::optional<platform::Error>* error) const;

    // SwitchboardCustomAdViewDelegate.
    void adTapped(SwitchboardCustomAdView& view) override;
    // SwitchboardWebBrowserControllerDelegate.
    void webBrowserClosed(SwitchboardWebBrowserController& browser) override;

    // URLConnectionDelegate.
    void connectionDidReceiveResponse(platform::URLConnection& connection,
                                      const platform::URLResponse& response) override;
    void connectionDidReceiveData(platform::URLConnection& connection, const platform::Data& data) override;
    void connectionDidFailWithError(platform::URLConnection& connection,
                                    const platform::Error& error) override;
    void connectionDidFinishLoading(platform::URLConnection& connection) override;

    bool isRequesting() const;
    const std::shared_ptr<platform::URLConnection>& adConnection() const { return adConnection_; }
    const std::shared_ptr<platform::URLConnection>& imageConnection() const { return imageConnection_; }
    const std::shared_ptr<SwitchboardCustomAdView>& adView() const { return adView_; }
    const std::shared_ptr<SwitchboardWebBrowserController>& webBrowserController() const {
        return webBrowserController_;
    }

protected:
    // The description request's URL, logging the request; none fails the request with 60.
    virtual std::optional<platform::URL> adRequestURL() = 0;
    virtual const CustomAdTexts& texts() const = 0;
    // Sends the view's click ping, where the network has one.
    virtual void sendClickPing(const SwitchboardCustomAdView& view) { (void)view; }
    // The image's scale (2.0 for a double-resolution banner).
    virtual double imageScale() const { return 1.0; }
    // Logs that the URL is opened outside (before) or could not be (after).
    virtual void willOpenOutside(const platform::URL& url) { (void)url; }
    virtual void couldNotOpenOutside(const platform::URL& url) { (void)url; }

    void setAdView(std::shared_ptr<SwitchboardCustomAdView> view);
    void startImageRequest(const platform::URL& url);
    // This adapter as the delegate the view holds.
    std::weak_ptr<SwitchboardCustomAdViewDelegate> viewDelegate();
    // An error 60 with `description`, when `error` is given.
    static void setInvalid(std::optional<platform::Error>* error, std::string description);

private:
    std::shared_ptr<platform::URLConnection> startConnection(const platform::URL& url, std::int64_t cap);
    void fail(const std::optional<platform::Error>& error);
    void imageFinished();

    mutable std::mutex requestingMutex_;
    bool requesting_ = false;
    std::shared_ptr<platform::URLConnection> adConnection_;
    platform::Data adData_;
    std::shared_ptr<platform::URLConnection> imageConnection_;
    platform::Data imageData_;
    std::shared_ptr<SwitchboardCustomAdView> adView_;
    std::shared_ptr<SwitchboardWebBrowserController> webBrowserController_;
};

// A landing or click URL read from a reply: none when absent (warning `absent`) or not an
// absolute URL (warning `malformed` with the text).
std::optional<platform::URL> readReplyURL(const platform::Value& info, std::string_view key,
                                          std::string_view absent, std::string_view malformed);

} // namespace mediation::detail
