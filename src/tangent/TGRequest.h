#pragma once
// TGRequest: one ad request of the Tangent widget. buildRequest() turns the widget's
// parameters and the device facts into the request URL (each value escaped on its own), and
// fetchAd() fetches it with one asynchronous GET carrying the device's User-Agent and a
// 60-second time-out on the first request and every redirect. The delegate hears exactly one
// outcome per fetch: requestDidFinishLoading with the page text in content(), or
// requestDidFailWithError (no error for a request that could not be built, an HTTP status
// outside 200-299, an empty or undecodable body; the connection's error for a transport
// failure).
//
// Ownership: the widget owns the request and drops it after its report; the connection holds
// the request weakly, so dropping the request stops its connection. The delegate is held
// weakly. Callbacks arrive on the run loop that called fetchAd(); after stopRequest() (or
// destruction) no callback arrives.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/location/LocationManager.h"
#include "platform/net/HTTPHeaders.h"
#include "platform/net/URLConnection.h"

namespace tangent {

class TGDeviceInfo;
class TGRequest;

class TGRequestDelegate {
public:
    virtual ~TGRequestDelegate() = default;
    virtual void requestDidFinishLoading(TGRequest& request) = 0;
    virtual void requestDidFailWithError(TGRequest& request, const std::optional<platform::Error>& error) = 0;
    // May edit the finished URL text in place.
    virtual void modifyUrl(std::string& url, TGRequest& request) = 0;
};

// Raised by buildRequest() for a request that cannot be built; carries its name only.
class TGRequestBuildException : public std::runtime_error {
public:
    explicit TGRequestBuildException(const char* name) : std::runtime_error(name) {}
    std::string name() const { return what(); }
};
class InvalidBaseURLException : public TGRequestBuildException {
public:
    InvalidBaseURLException() : TGRequestBuildException("InvalidBaseURL") {}
};
class InvalidProtocolVersionException : public TGRequestBuildException {
public:
    InvalidProtocolVersionException() : TGRequestBuildException("InvalidProtocolVersion") {}
};
class InvalidPublisherException : public TGRequestBuildException {
public:
    InvalidPublisherException() : TGRequestBuildException("InvalidPublisher") {}
};

class TGRequest : public platform::URLConnectionDelegate, public std::enable_shared_from_this<TGRequest> {
public:
    static constexpr double kTimeoutInterval = 60.0;
    // An ad page larger than this is refused as a failed request.
    static constexpr std::int64_t kMaximumContentBytes = 2 * 1024 * 1024;
    static constexpr std::string_view kDefaultProtocolVersion = "v28";
    static constexpr std::string_view kResponseIdHeader = "Xjt-Responseid";

    static std::shared_ptr<TGRequest> create(std::weak_ptr<TGRequestDelegate> delegate);
    ~TGRequest() override;
    TGRequest(const TGRequest&) = delete;
    TGRequest& operator=(const TGRequest&) = delete;

    // The ad network's default endpoint: the services' Tangent ad path "/tangent/a" + "/ads".
    static std::string defaultBaseURL();

    const std::string& baseURL() const { return baseURL_; }
    // A value is stored followed by "/ads"; nullopt changes nothing.
    void setBaseURL(const std::optional<std::string>& base);
    const std::string& protocolVersion() const { return protocolVersion_; }
    // A value replaces the version; nullopt changes nothing.
    void setProtocolVersion(const std::optional<std::string>& version);

    std::optional<std::string> publisher;
    std::optional<std::string> adSpot;
    std::optional<std::string> site;
    int adultContent = 1;
    std::optional<std::map<std::string, std::string>> extraParameters;
    std::optional<std::vector<std::string>> supportedApplications;
    std::optional<std::string> query;
    int format = 1;
    std::string apiVersion;
    TGDeviceInfo* device = nullptr;
    std::optional<std::string> bundleId;
    std::optional<std::string> bundleVersion;
    std::optional<platform::Location> location;
    int networkStatus = 1;
    int adWidth = 320;
    int adHeight = 50;
    bool intersitial = false;
    bool portrait = true;
    bool textOnly = false;
    int maxNumberOfAds = 1;
    int position = 0;
    std::optional<std::string> backToSearch;
    std::optional<std::string> country;
    std::optional<std::string> gatewayIp;
    std::weak_ptr<TGRequestDelegate> delegate;

    const std::optional<std::string>& url() const { return url_; }
    const std::optional<std::string>& content() const { return content_; }
    const platform::HTTPHeaders& headers() const { return headers_; }
    bool isFetching() const { return currentConnection_ != nullptr; }

    // The query pairs of the request (before escaping), in key order, without the
    // supported applications.
    std::map<std::string, std::string> queryPairs() const;
    // Builds the URL, lets the delegate edit it and stores it as url(); throws the
    // exceptions above.
    std::string buildRequest();
    void fetchAd();
    void stopRequest();

    // Stores the pair only when both are present.
    static void forRequestAddParameter(std::map<std::string, std::string>& pairs,
                                       const std::optional<std::string>& value, const std::string& key);

    // URLConnectionDelegate.
    std::optional<platform::URLRequest>
    connectionWillSendRequestRedirectResponse(platform::URLConnection&, const platform::URLRequest& request,
                                              const platform::URLResponse* redirectResponse) override;
    void connectionDidReceiveResponse(platform::URLConnection&, const platform::URLResponse& response) override;
    void connectionDidReceiveData(platform::URLConnection&, const platform::Data& data) override;
    void connectionDidFinishLoading(platform::URLConnection&) override;
    void connectionDidFailWithError(platform::URLConnection&, const platform::Error& error) override;

private:
    explicit TGRequest(std::weak_ptr<TGRequestDelegate> delegate);
    platform::URLRequest prepared(platform::URLRequest request) const;
    bool isCurrent(const platform::URLConnection& connection) const {
        return currentConnection_.get() == &connection;
    }
    void dropConnection();
    void reportFailure(const std::optional<platform::Error>& error);

    std::string baseURL_;
    std::string protocolVersion_{kDefaultProtocolVersion};
    std::optional<std::string> url_;
    std::shared_ptr<platform::URLConnection> currentConnection_;
    std::optional<std::vector<std::uint8_t>> receivedData_;
    std::optional<std::string> content_;
    platform::HTTPHeaders headers_;
    std::string encoding_ = "utf-8";
    std::mutex stopLock_;
};

} // namespace tangent
