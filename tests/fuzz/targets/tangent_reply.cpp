// The Tangent ad reply, fetched for real over loopback HTTP: the input's first byte picks the
// reply's status, the rest is its body. Every fetch has exactly one outcome (finished with
// the page text, or failed), and a finished one carries a non-empty page within the cap.
#include "FuzzSupport.h"

#include <httplib.h>

#include <mutex>
#include <thread>

#include "support/ManualClockScope.h"
#include "tangent/TGRequest.h"

namespace {

// One loopback server for the whole run; each input sets the reply it gives.
class ReplyServer {
public:
    ReplyServer() {
        server_.Get(R"(.*)", [this](const httplib::Request&, httplib::Response& response) {
            std::lock_guard lock(mutex_);
            response.status = status_;
            response.set_content(body_, "text/html");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~ReplyServer() {
        server_.stop();
        thread_.join();
    }
    void setReply(int status, std::string body) {
        std::lock_guard lock(mutex_);
        status_ = status;
        body_ = std::move(body);
    }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_) + "/tangent/a"; }

private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    std::mutex mutex_;
    int status_ = 200;
    std::string body_;
};

class Delegate : public tangent::TGRequestDelegate {
public:
    int finished = 0;
    int failed = 0;
    void requestDidFinishLoading(tangent::TGRequest&) override { ++finished; }
    void requestDidFailWithError(tangent::TGRequest&, const std::optional<platform::Error>&) override { ++failed; }
    void modifyUrl(std::string&, tangent::TGRequest&) override {}
};

constexpr int kStatuses[] = {200, 204, 301, 404, 500, 299, 199};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static ReplyServer server;
    if (size == 0)
        return 0;
    server.setReply(kStatuses[data[0] % std::size(kStatuses)], std::string(fwfuzz::text(data + 1, size - 1)));

    fwtest::ManualClockScope clock;
    auto delegate = std::make_shared<Delegate>();
    auto request = tangent::TGRequest::create(delegate);
    request->publisher = "fuzz";
    request->setBaseURL(server.base());
    request->fetchAd();
    FUZZ_CHECK(clock.runUntil([&] { return delegate->finished + delegate->failed > 0; }, 30));
    clock.drain();
    FUZZ_CHECK(delegate->finished + delegate->failed == 1);
    if (delegate->finished) {
        FUZZ_CHECK(request->content().has_value() && !request->content()->empty());
        FUZZ_CHECK(request->content()->size() <= static_cast<std::size_t>(tangent::TGRequest::kMaximumContentBytes));
    }
    return 0;
}
