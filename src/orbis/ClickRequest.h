#pragma once
// ClickRequest: the POST of one click on an Orbis ad. It follows the click URL's redirects,
// remembering the last target that differs from the click URL and the "Action-Type" of the
// latest redirect response that carried one, and hands both to the banner manager, which then
// shows the landing page or opens the target outside the application. A final response that
// names a new cached server abandons the click and starts a fresh ad request instead.
//
// Ownership: the manager holds it for one click and drops it at the click's answer or
// failure; the connection holds it weakly. The manager is held weakly; once it is cleared
// (detached) neither callback is sent. Callbacks on the main run loop; none after cancel().
#include <functional>
#include <optional>
#include <string>

#include "orbis/APIRequest.h"

namespace orbis {

class ClickRequest : public APIRequest {
public:
    ClickRequest() : APIRequest(AdClick) {}

    // The click's answer: the last redirect target (nullopt without a redirect) and the
    // "Action-Type" text (nullopt when no redirect response carried one).
    std::function<void(const std::optional<std::string>& redirectUrl,
                       const std::optional<std::string>& actionType)>
        clickCallBack;

    const std::optional<std::string>& redirectUrl() const { return redirectUrl_; }
    const std::optional<std::string>& redirectedUrl() const { return redirectedUrl_; }
    const std::optional<std::string>& adClickActionType() const { return adClickActionType_; }

    std::optional<platform::URLRequest>
    connectionWillSendRequestRedirectResponse(platform::URLConnection&, const platform::URLRequest& request,
                                              const platform::URLResponse* redirectResponse) override;
    void connectionDidReceiveResponse(platform::URLConnection&,
                                      const platform::URLResponse& response) override;
    void connectionDidReceiveData(platform::URLConnection&, const platform::Data& data) override;
    void connectionDidFinishLoading(platform::URLConnection&) override;
    void connectionDidFailWithError(platform::URLConnection&, const platform::Error& error) override;

private:
    void sendClickAnswer(const std::optional<std::string>& url);

    std::optional<std::string> redirectUrl_;
    std::optional<std::string> redirectedUrl_;
    std::optional<std::string> adClickActionType_;
};

} // namespace orbis
