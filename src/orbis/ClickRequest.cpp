#include "orbis/ClickRequest.h"

#include "orbis/OrbisAdView.h"
#include "orbis/TextValues.h"
#include "platform/foundation/Log.h"

namespace orbis {

namespace {

constexpr std::string_view kActionTypeHeader = "Action-Type";

} // namespace

std::optional<platform::URLRequest>
ClickRequest::connectionWillSendRequestRedirectResponse(platform::URLConnection& connection,
                                                        const platform::URLRequest& request,
                                                        const platform::URLResponse* redirectResponse) {
    if (!isCurrent(connection))
        return request;
    const std::string& text = request.url().absoluteString();
    if (!redirectUrl_) {
        redirectUrl_ = trimmed(text);
        return request;
    }
    if (trimmed(text) != *redirectUrl_)
        redirectedUrl_ = trimmed(text);
    if (redirectResponse)
        if (auto action = redirectResponse->valueForHTTPHeaderField(kActionTypeHeader))
            adClickActionType_ = trimmed(*action);
    return request;
}

void ClickRequest::connectionDidReceiveResponse(platform::URLConnection& connection,
                                                const platform::URLResponse& response) {
    if (!isCurrent(connection))
        return;
    auto keepAlive = shared_from_this();
    auto server = response.valueForHTTPHeaderField(kOrbisCachedServerKey);
    if (server && urlRequest && *server == urlRequest->url().absoluteString())
        return;
    if (server) {
        storeCachedUrl(server, response.valueForHTTPHeaderField(kOrbisCachedLifeKey));
        if (auto manager = delegate.lock()) {
            connection.cancel();
            clear();
            platform::callGuarded("Orbis: click to new server",
                                  [&] { manager->clickAbandonedForNewServer(); });
            return;
        }
    }
    receivedData.clear();
}

void ClickRequest::connectionDidReceiveData(platform::URLConnection& connection, const platform::Data& data) {
    if (isCurrent(connection) &&
        receivedData.size() + data.size() <= static_cast<std::size_t>(kMaximumReplyBytes))
        receivedData.insert(receivedData.end(), data.begin(), data.end());
}

void ClickRequest::connectionDidFinishLoading(platform::URLConnection& connection) {
    if (!isCurrent(connection))
        return;
    auto keepAlive = shared_from_this();
    clear();
    sendClickAnswer(redirectedUrl_);
}

void ClickRequest::connectionDidFailWithError(platform::URLConnection& connection,
                                              const platform::Error& error) {
    if (!isCurrent(connection))
        return;
    auto keepAlive = shared_from_this();
    clear();
    if (redirectedUrl_ && delegate.lock() && clickCallBack) {
        // A target the connection cannot load (another application's link) still reaches it.
        sendClickAnswer(redirectedUrl_->substr(0, redirectedUrl_->find('&')));
        return;
    }
    sendError(error);
}

void ClickRequest::sendClickAnswer(const std::optional<std::string>& url) {
    if (delegate.lock() && clickCallBack)
        platform::callGuarded("Orbis: click answer", [&] { clickCallBack(url, adClickActionType_); });
}

} // namespace orbis
