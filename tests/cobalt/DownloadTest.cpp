// The engine's download over loopback HTTP: attempts after error statuses deliver only the
// last body, time-outs run on the manual clock per attempt, and a body past the cap fails.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

#include "CobaltTestSupport.h"
#include "cobalt/CBDownloadConnection.h"
#include "support/LoopbackServices.h"

namespace {

using namespace cobalt;

struct Recorder : CBDownloadConnectionDelegate {
    int succeeded = 0, failed = 0, timedOut = 0;
    platform::Data body;
    int status = 0;
    void downloadSucceeded(CBDownloadConnection& d) override {
        ++succeeded;
        body = d.receivedData();
        status = d.responseStatusCode();
    }
    void downloadFailed(CBDownloadConnection& d) override {
        ++failed;
        status = d.responseStatusCode();
    }
    void downloadTimedOut(CBDownloadConnection&) override { ++timedOut; }
    int finished() const { return succeeded + failed + timedOut; }
};

// A port that takes connections into its backlog and never answers them.
class SilentPort {
public:
    SilentPort() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            ::listen(fd_, 16) == 0 && ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
    }
    ~SilentPort() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

class DownloadTest : public cobalttest::CobaltTest {
protected:
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    fwtest::LoopbackServices services;
};

TEST_F(DownloadTest, ErrorStatusesAreRetriedAndOnlyTheLastBodyIsDelivered) {
    std::atomic<int> served{0};
    services.handle("GET", "/dl", [&served](const services::LoggedRequest&) {
        const int n = ++served;
        if (n < 3)
            return services::ServiceReply{500, "error body " + std::to_string(n), "text/plain", {}};
        return services::ServiceReply{200, "the third body", "text/plain", {}};
    });
    auto download = CBDownloadConnection::connectionWithURLRequest(
        platform::URLRequest(services.urlFor("/dl")), recorder, platform::Value(), 3);
    ASSERT_TRUE(waitFor([&] { return recorder->finished() > 0; }));
    EXPECT_EQ(recorder->succeeded, 1);
    EXPECT_EQ(recorder->failed, 0);
    EXPECT_EQ(served.load(), 3);
    EXPECT_EQ(std::string(recorder->body.begin(), recorder->body.end()), "the third body");
    EXPECT_EQ(recorder->status, 200);

    // With the attempts used up by errors, the failure carries the last status.
    served = 0;
    auto recorder2 = std::make_shared<Recorder>();
    services.setFault("/dl", services::Fault::errorStatus(503, "busy"));
    auto failing = CBDownloadConnection::connectionWithURLRequest(
        platform::URLRequest(services.urlFor("/dl")), recorder2, platform::Value(), 2);
    ASSERT_TRUE(waitFor([&] { return recorder2->finished() > 0; }));
    EXPECT_EQ(recorder2->failed, 1);
    EXPECT_EQ(recorder2->status, 503);
    EXPECT_EQ(services.requestCount("/dl"), 5u);
}

TEST_F(DownloadTest, EachAttemptTimesOutOnTheManualClock) {
    SilentPort silent;
    ASSERT_NE(silent.port(), 0);
    auto url = platform::URL::parse("http://127.0.0.1:" + std::to_string(silent.port()) + "/never");
    ASSERT_TRUE(url);
    auto download = CBDownloadConnection::timedConnectionWithURLRequest(platform::URLRequest(*url), recorder,
                                                                        platform::Value(), 40.0, 3);
    // Two attempts time out and start again; the report comes with the third, after 120 s.
    for (int i = 0; i < 1199; ++i)
        time.advance(0.1);
    EXPECT_EQ(recorder->finished(), 0);
    ASSERT_TRUE(waitFor([&] { return recorder->finished() > 0; }, 0.1, 20.0));
    EXPECT_EQ(recorder->timedOut, 1);
    EXPECT_EQ(recorder->failed, 0);
    download->cancel();
}

TEST_F(DownloadTest, ABodyPastTheCapFailsAndASplitBodyArrivesWhole) {
    const auto size = std::to_string(CBDownloadConnection::kMaximumBodyBytes + 1);
    auto large = CBDownloadConnection::connectionWithURLRequest(
        platform::URLRequest(
            services.urlFor(std::string(services::ServiceHost::kGeneratedBytesPath) + "?size=" + size)),
        recorder, platform::Value());
    ASSERT_TRUE(waitFor([&] { return recorder->finished() > 0; }, 0.1, 60.0));
    EXPECT_EQ(recorder->failed, 1);
    EXPECT_EQ(recorder->succeeded, 0);

    std::string body(100000, 'b');
    for (std::size_t i = 0; i < body.size(); i += 7)
        body[i] = static_cast<char>('a' + i % 26);
    services.setFault("/split", services::Fault::chunked(body, 1000));
    auto whole = std::make_shared<Recorder>();
    auto split = CBDownloadConnection::connectionWithURLRequest(
        platform::URLRequest(services.urlFor("/split")), whole, platform::Value());
    ASSERT_TRUE(waitFor([&] { return whole->finished() > 0; }));
    EXPECT_EQ(whole->succeeded, 1);
    EXPECT_EQ(std::string(whole->body.begin(), whole->body.end()), body);
}

} // namespace
