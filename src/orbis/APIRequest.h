#pragma once
// APIRequest: one request to the Orbis ad service. It builds the form-encoded POST (the
// delegate's targeting values, the device facts and the application's identity, every value
// escaped on its own), its headers, sends it and hands the reply to its delegate, the banner
// manager. It also chooses the ad server (live, test, or a server that an earlier reply named
// for a while, kept in the user defaults) and performs the fire-and-forget device-information
// upload. ClickRequest (a subclass) carries clicks.
//
// Ownership: the manager owns its ad request for its whole life and reuses it; the running
// connection holds the request weakly, so a request that is dropped stops silently. The
// delegate (the manager) is held weakly; clearing it (detaching) silences both callbacks.
// Callbacks arrive on the main run loop. After cancel() no callback arrives.
//
// A reply is taken as content: a status outside 200-299 and a body over kMaximumReplyBytes
// are failures.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"
#include "platform/net/URLConnection.h"

namespace orbis {

class OrbisAdManager;
class UserInfo;

// User-defaults keys of the cached server.
inline constexpr std::string_view kOrbisCachedServerKey = "Orbiscachedserver";
inline constexpr std::string_view kOrbisCachedLifeKey = "Orbiscachedlife";
inline constexpr std::string_view kOrbisCachedTimestampKey = "Orbis_cached_timestamp";

class APIRequest : public platform::URLConnectionDelegate, public std::enable_shared_from_this<APIRequest> {
public:
    enum ServerRequestType { AdRequest = 0, DeviceInfoUpload = 1, AdClick = 2 };

    static constexpr double kTimeoutSeconds = 30.0;
    static constexpr std::int64_t kMaximumReplyBytes = 256 * 1024;
    // How long a cached server stays in use when its reply gave no life, in seconds.
    static constexpr std::int64_t kDefaultCachedLifeSeconds = 43200;
    // The ad endpoint's path on the live and on the test-mode host, query mark included.
    static constexpr std::string_view kLiveAdPath = "/orbis/showad.asm?";
    static constexpr std::string_view kTestAdPath = "/orbis/test/showad.asm?";

    explicit APIRequest(int serverRequestType);
    ~APIRequest() override;
    APIRequest(const APIRequest&) = delete;
    APIRequest& operator=(const APIRequest&) = delete;

    // The ad endpoint to use now: the test one in test mode, else a cached server still within
    // its life, else the live one. Hosts come from the services base URL.
    static std::string adServerURL(bool testMode);

    // Makes urlRequest for `url` (no local cache, 30 s); a "POST" gets the form and headers.
    // False (and no request) when the text is not an http or https URL.
    bool setupRequest(std::string_view url, const UserInfo& userData, std::string_view requestMethod);
    // Starts the connection; without a request, the error callback with nullopt at once.
    void sendRequest();
    // Stops the running connection; no callback follows.
    void cancel();

    // ---- The form ----
    std::string adRequestPostBodyUsing(const UserInfo& userData) const;
    static std::string getSDKDelegatePostBodyString(const UserInfo& userData);
    static std::string getDevicePostBodyString(const UserInfo& userData);
    std::string getApplicationPostBodyString(const UserInfo& userData) const;
    void setHTTPHeaderFields(const UserInfo& userData, const platform::URL& requestUrl,
                             std::string_view postBody);
    static std::string currentLocationStr(const UserInfo& userData);
    // Every character but letters, digits, "." and "_" escaped as UTF-8 "%XX".
    static std::string getURLEncoded(std::string_view text);
    // Every "%XX" replaced (for the log); the text unchanged when an escape is broken.
    static std::string decodedURLString(std::string_view text);

    // ---- Device-information upload ----
    bool deviceInfoUploadPostBodyUsing(const UserInfo& userData, std::string_view requestUrl);
    void uploadDeviceInfo();

    // Stores the cached server (an http or https URL) and, when it is a non-zero number, its
    // life; renews the timestamp in every case.
    static void storeCachedUrl(const std::optional<std::string>& server,
                               const std::optional<std::string>& life);

    // ---- Fields ----
    platform::Data receivedData;
    std::optional<platform::URLRequest> urlRequest;
    std::shared_ptr<platform::URLConnection> urlConnection;
    std::weak_ptr<OrbisAdManager> delegate;
    // Called with the reply body when the reply is complete.
    std::function<void(const platform::Data&)> callBack;
    // Called when the request fails (with the error when there is one).
    std::function<void(const std::optional<platform::Error>&)> errorCallBack;
    int serverRequestType;

    // URLConnectionDelegate.
    void connectionDidReceiveResponse(platform::URLConnection&,
                                      const platform::URLResponse& response) override;
    void connectionDidReceiveData(platform::URLConnection&, const platform::Data& data) override;
    void connectionDidFinishLoading(platform::URLConnection&) override;
    void connectionDidFailWithError(platform::URLConnection&, const platform::Error& error) override;

protected:
    // Drops the connection, the data and the request.
    void clear();
    void sendError(const std::optional<platform::Error>& error);
    bool isCurrent(const platform::URLConnection& connection) const {
        return &connection == urlConnection.get();
    }

private:
    std::optional<platform::Error> statusFailure_;
};

} // namespace orbis
