#pragma once
// The one-shot JSON fetchers of the promotion requests: `AsyncAdData` (time-out 60 s; a
// failure calls back with no reply) and `AsynchronousParser` (time-out 5 s; a failure, or the
// more-apps page's `isBack`, ends it silently, never calling back).
//
// Use: `initWithUrl(url)` starts the GET at once and answers the fetcher; `initWithCallBack`
// sets the callback. Later, on the main run loop, the callback receives the parsed reply (or
// nullopt) and the fetcher, exactly once (AsyncAdData) or at most once (AsynchronousParser).
// The reply is nullopt when the load failed, the HTTP status is outside 200-299, the body is
// not UTF-8 or not strict JSON; any JSON value is passed on (callers check for an object).
//
// Ownership: a running fetcher is kept alive by its connection until it ends, so the caller
// need not hold it; the callback receives it and may drop it. After cancel() no callback
// arrives. Create, use and cancel it on the main thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"
#include "platform/net/URLConnection.h"

namespace promo {

class PromotionFetcher;
using FetcherCallback = std::function<void(const std::optional<platform::Value>& json, PromotionFetcher& fetcher)>;

class PromotionFetcher : public platform::URLConnectionDelegate,
                         public std::enable_shared_from_this<PromotionFetcher> {
  public:
    // Replies are JSON lists of a few entries; anything larger is refused.
    static constexpr std::int64_t kMaxReplyBytes = 1024 * 1024;

    ~PromotionFetcher() override;

    // initWithCallBack:: — the receiver of the reply.
    void initWithCallBack(FetcherCallback callback) { callback_ = std::move(callback); }
    // Stops the request; no callback follows.
    void cancel();

    const std::shared_ptr<platform::URLConnection>& connection() const { return connection_; }
    const std::optional<platform::Data>& recieveData() const { return recieveData_; }
    // The URL as it was sent (after escaping).
    const std::string& requestURL() const { return requestURL_; }

    // The reply parser (jsonReturn:'s decoding): UTF-8 text parsed as strict JSON.
    static std::optional<platform::Value> parseReply(const std::optional<platform::Data>& buffer);

    void connectionDidReceiveResponse(platform::URLConnection&, const platform::URLResponse& response) override;
    void connectionDidReceiveData(platform::URLConnection&, const platform::Data& data) override;
    void connectionDidFinishLoading(platform::URLConnection&) override;
    void connectionDidFailWithError(platform::URLConnection&, const platform::Error& error) override;

  protected:
    PromotionFetcher(double timeout, bool callsBackOnFailure);
    // jsonParser: — starts the request.
    void jsonParser(const std::string& url);
    // Called after each step; AsynchronousParser cancels while `isBack` is YES.
    virtual bool shouldStop() const { return false; }
    // jsonReturn: — sends the callback once.
    void jsonReturn(std::optional<platform::Value> json);

  private:
    void fail();

    double timeout_;
    bool callsBackOnFailure_;
    bool ended_ = false;
    bool statusOK_ = true;
    std::shared_ptr<platform::URLConnection> connection_;
    std::optional<platform::Data> recieveData_;
    FetcherCallback callback_;
    std::string requestURL_;
};

class AsyncAdData : public PromotionFetcher {
  public:
    static constexpr double kTimeout = 60.0;
    // alloc + initWithUrl:
    static std::shared_ptr<AsyncAdData> initWithUrl(const std::string& url);

  private:
    AsyncAdData() : PromotionFetcher(kTimeout, true) {}
};

class AsynchronousParser : public PromotionFetcher {
  public:
    static constexpr double kTimeout = 5.0;
    static std::shared_ptr<AsynchronousParser> initWithUrl(const std::string& url);

  protected:
    bool shouldStop() const override;

  private:
    AsynchronousParser() : PromotionFetcher(kTimeout, false) {}
};

} // namespace promo
