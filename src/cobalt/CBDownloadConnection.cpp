#include "cobalt/CBDownloadConnection.h"

#include "platform/foundation/Numbers.h"

#include <limits>

#include "platform/net/URLResponse.h"
#include "platform/runloop/RunLoop.h"

namespace cobalt {

namespace {
constexpr int kHTTPOK = 200;
} // namespace

std::shared_ptr<CBDownloadConnection>
CBDownloadConnection::timedConnectionWithURLRequest(platform::URLRequest request,
                                                    std::weak_ptr<CBDownloadConnectionDelegate> delegate,
                                                    platform::Value userData, double timeout, int retries) {
    std::shared_ptr<CBDownloadConnection> download(
        new CBDownloadConnection(std::move(request), std::move(delegate), std::move(userData), timeout, retries));
    download->start();
    return download;
}

std::shared_ptr<CBDownloadConnection>
CBDownloadConnection::connectionWithURLRequest(platform::URLRequest request,
                                               std::weak_ptr<CBDownloadConnectionDelegate> delegate,
                                               platform::Value userData, int retries) {
    return timedConnectionWithURLRequest(std::move(request), std::move(delegate), std::move(userData), -1.0, retries);
}

CBDownloadConnection::CBDownloadConnection(platform::URLRequest request,
                                           std::weak_ptr<CBDownloadConnectionDelegate> delegate,
                                           platform::Value userData, double timeout, int retries)
    : delegate_(std::move(delegate)), request_(std::move(request)), timeout_(timeout), retryCount_(retries),
      userData_(std::move(userData)) {}

CBDownloadConnection::~CBDownloadConnection() {
    invalidateTimer();
    if (connection_)
        connection_->cancel();
}

void CBDownloadConnection::start() {
    cancelled_ = false;
    // The connection holds this download weakly: a download its creator let go of stops.
    connection_ = platform::URLConnection::create(request_, shared_from_this(), false,
                                                  platform::URLConnection::DelegateHold::Weak);
    connection_->setMaximumBodyLength(kMaximumBodyBytes);
    connection_->start();
    if (timeout_ > 0) {
        std::weak_ptr<CBDownloadConnection> weak = weak_from_this();
        std::weak_ptr<platform::URLConnection> attempt = connection_;
        timeoutTimer_ = platform::Timer::scheduled(timeout_, false, [weak, attempt](platform::Timer&) {
            auto self = weak.lock();
            auto connection = attempt.lock();
            if (self && connection && connection == self->connection_)
                self->connectionDidTimeout(*connection);
        });
    }
    receivedData_.clear();
}

void CBDownloadConnection::restart() {
    receivedData_.clear();
    start();
}

void CBDownloadConnection::cancel() {
    cancelled_ = true;
    invalidateTimer();
    if (connection_) {
        connection_->cancel();
        connection_.reset();
    }
}

void CBDownloadConnection::invalidateTimer() {
    if (timeoutTimer_) {
        timeoutTimer_->invalidate();
        timeoutTimer_.reset();
    }
}

void CBDownloadConnection::connectionDidReceiveResponse(platform::URLConnection&,
                                                        const platform::URLResponse& response) {
    const auto expected = response.expectedContentLength();
    // A length past the 32-bit range reads as the largest value, as an unknown one does.
    expectedDataLength_ = expected < 0 ? std::numeric_limits<std::uint32_t>::max()
                                       : platform::saturatingCast<std::uint32_t>(expected);
    receivedData_.clear();
    responseStatusCode_ = response.statusCode();
}

void CBDownloadConnection::connectionDidReceiveData(platform::URLConnection&, const platform::Data& data) {
    receivedData_.insert(receivedData_.end(), data.begin(), data.end());
    if (auto delegate = delegate_.lock())
        delegate->downloadProgress(*this);
}

void CBDownloadConnection::connectionDidFinishLoading(platform::URLConnection&) {
    if (responseStatusCode_ != 0 && responseStatusCode_ != kHTTPOK) {
        attemptFailed(false);
        return;
    }
    auto self = shared_from_this();
    invalidateTimer();
    connection_.reset();
    if (auto delegate = delegate_.lock())
        delegate->downloadSucceeded(*this);
}

void CBDownloadConnection::connectionDidFailWithError(platform::URLConnection&, const platform::Error&) {
    attemptFailed(false);
}

void CBDownloadConnection::connectionDidTimeout(platform::URLConnection& connection) {
    connection.cancel();
    attemptFailed(true);
}

void CBDownloadConnection::attemptFailed(bool timedOut) {
    auto self = shared_from_this();
    invalidateTimer();
    --retryCount_;
    connection_.reset();
    if (retryCount_ < 1) {
        if (auto delegate = delegate_.lock()) {
            if (timedOut)
                delegate->downloadTimedOut(*this);
            else
                delegate->downloadFailed(*this);
        }
        return;
    }
    if (!cancelled_)
        restart();
}

} // namespace cobalt
