#include "promo/AsyncAdData.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/Strings.h"
#include "platform/foundation/URL.h"
#include "platform/runloop/RunLoop.h"
#include "promo/MoreApps.h"

namespace promo {
namespace {
constexpr int kFirstSuccessStatus = 200;
constexpr int kLastSuccessStatus = 299;
} // namespace

PromotionFetcher::PromotionFetcher(double timeout, bool callsBackOnFailure)
    : timeout_(timeout), callsBackOnFailure_(callsBackOnFailure) {}

PromotionFetcher::~PromotionFetcher() {
    if (connection_)
        connection_->cancel();
}

void PromotionFetcher::cancel() {
    ended_ = true;
    callback_ = nullptr;
    if (connection_)
        connection_->cancel();
}

void PromotionFetcher::jsonParser(const std::string& url) {
    // Query values are encoded by the URL builders; this only escapes what a URL may not
    // hold (blanks in image links from replies, for instance) and leaves escapes alone.
    requestURL_ = platform::percentEscapeURLString(url);
    auto parsed = platform::URL::parse(requestURL_);
    if (!parsed || parsed->host().value_or("").empty()) {
        platform::logLine("promotion request not sent, bad URL: " + url);
        // The failure reaches the caller on a later turn, as a failed load would.
        platform::RunLoop::main().perform([self = shared_from_this()] { self->fail(); });
        return;
    }
    platform::URLRequest request(*parsed, platform::URLRequestCachePolicy::UseProtocolCachePolicy, timeout_);
    connection_ = platform::URLConnection::create(request, shared_from_this(), false);
    connection_->setMaximumBodyLength(kMaxReplyBytes);
    connection_->start();
    if (shouldStop())
        cancel();
}

void PromotionFetcher::connectionDidReceiveResponse(platform::URLConnection&,
                                                    const platform::URLResponse& response) {
    if (!recieveData_)
        recieveData_.emplace();
    statusOK_ = response.statusCode() >= kFirstSuccessStatus && response.statusCode() <= kLastSuccessStatus;
}

void PromotionFetcher::connectionDidReceiveData(platform::URLConnection&, const platform::Data& data) {
    if (!recieveData_)
        recieveData_.emplace();
    recieveData_->insert(recieveData_->end(), data.begin(), data.end());
    if (shouldStop())
        cancel();
}

void PromotionFetcher::connectionDidFinishLoading(platform::URLConnection&) {
    if (!statusOK_) {
        fail();
        return;
    }
    jsonReturn(parseReply(recieveData_));
}

void PromotionFetcher::connectionDidFailWithError(platform::URLConnection&, const platform::Error&) {
    fail();
}

void PromotionFetcher::fail() {
    if (callsBackOnFailure_)
        jsonReturn(std::nullopt);
    else
        ended_ = true;
}

void PromotionFetcher::jsonReturn(std::optional<platform::Value> json) {
    if (ended_)
        return;
    ended_ = true;
    auto callback = std::move(callback_);
    callback_ = nullptr;
    auto keepAlive = shared_from_this();
    if (callback)
        platform::callGuarded("promotion reply", [&] { callback(json, *this); });
}

std::optional<platform::Value> PromotionFetcher::parseReply(const std::optional<platform::Data>& buffer) {
    if (!buffer)
        return std::nullopt;
    std::string_view text(reinterpret_cast<const char*>(buffer->data()), buffer->size());
    if (!platform::isValidUTF8(text))
        return std::nullopt;
    return platform::Value::fromJSON(text);
}

std::shared_ptr<AsyncAdData> AsyncAdData::initWithUrl(const std::string& url) {
    std::shared_ptr<AsyncAdData> fetcher(new AsyncAdData());
    fetcher->jsonParser(url);
    return fetcher;
}

std::shared_ptr<AsynchronousParser> AsynchronousParser::initWithUrl(const std::string& url) {
    std::shared_ptr<AsynchronousParser> fetcher(new AsynchronousParser());
    fetcher->jsonParser(url);
    return fetcher;
}

bool AsynchronousParser::shouldStop() const {
    return isBack;
}

} // namespace promo
