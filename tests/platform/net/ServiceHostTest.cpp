#include <gtest/gtest.h>

#include "platform/net/URLConnection.h"
#include "support/LoopbackServices.h"

using namespace platform;
using services::Fault;

namespace {

// The loopback services seen through real HTTP.
class ServiceHostTest : public ::testing::Test {
  protected:
    fwtest::LoopbackServices services;

    URLConnection::SynchronousResponse get(std::string_view pathAndQuery, const char* method = "GET",
                                           std::string body = {}) {
        URLRequest r(*URL::parse(services.url(pathAndQuery)));
        r.setHTTPMethod(method);
        r.setTimeoutInterval(10);
        if (!body.empty()) {
            r.setValue("application/x-www-form-urlencoded", "Content-Type");
            r.setHTTPBody(std::string_view(body));
        }
        return URLConnection::sendSynchronousRequest(r);
    }
    static std::string text(const URLConnection::SynchronousResponse& r) {
        return {r.data.begin(), r.data.end()};
    }
};

TEST_F(ServiceHostTest, ServesFixtureFilesByPathOnly) {
    struct Case {
        const char* target;
        int status;
        const char* mime;
    };
    const Case cases[] = {
        {"/net/hello.txt", 200, "text/plain"},
        {"/net/hello.txt?ignored=1&x=%20", 200, "text/plain"},
        {"/net/reply.json", 200, "application/json"},
        {"/net", 404, "text/plain"},                  // a folder is no file
        {"/net/../net/hello.txt", 404, "text/plain"}, // never leaves through ".."
        {"/net/%2e%2e/net/hello.txt", 404, "text/plain"},
        {"/net/absent.txt", 404, "text/plain"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        auto r = get(c.target);
        ASSERT_TRUE(r.response);
        EXPECT_EQ(r.response->statusCode(), c.status);
        EXPECT_EQ(r.response->mimeType(), c.mime);
    }
    EXPECT_EQ(text(get("/net/reply.json")).substr(0, 8), "{\"news\":");
}

TEST_F(ServiceHostTest, LogsEveryRequestAsReceived) {
    get("/pushNotification/commonPhp/getDevicedata.php?appName=Ferro%20Wick&deviceToken=ab12&flag");
    get("/form", "POST", "a=1&b=x+y&c=%26");
    auto log = services.requests();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].method, "GET");
    EXPECT_EQ(log[0].path, "/pushNotification/commonPhp/getDevicedata.php");
    EXPECT_EQ(log[0].rawQuery, "appName=Ferro%20Wick&deviceToken=ab12&flag");
    EXPECT_EQ(log[0].queryItems, (std::vector<services::NameValue>{
                                     {"appName", "Ferro Wick"}, {"deviceToken", "ab12"}, {"flag", ""}}));
    EXPECT_EQ(log[0].queryValue("deviceToken"), "ab12");
    EXPECT_TRUE(log[0].header("host").has_value());

    EXPECT_EQ(log[1].method, "POST");
    EXPECT_EQ(log[1].body, "a=1&b=x+y&c=%26");
    EXPECT_EQ(log[1].header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(log[1].formItems(), (std::vector<services::NameValue>{{"a", "1"}, {"b", "x y"}, {"c", "&"}}));
    EXPECT_EQ(services.requestCount("/form"), 1u);
    services.host().clearRequestLog();
    EXPECT_TRUE(services.requests().empty());
}

TEST_F(ServiceHostTest, LargeFormBodiesAreLoggedWhole) {
    std::string body = "data=" + std::string(50'000, 'Z');
    auto r = get("/event", "POST", body);
    ASSERT_TRUE(r.response);
    EXPECT_EQ(r.response->statusCode(), 404); // nothing serves POST /event here, but it was received
    ASSERT_EQ(services.requestsTo("/event").size(), 1u);
    EXPECT_EQ(services.requestsTo("/event")[0].body, body);
}

TEST_F(ServiceHostTest, HandlersAndFaultsTakePrecedenceInOrder) {
    services.handle("GET", "/net/hello.txt", [](const services::LoggedRequest& req) {
        return services::ServiceReply{200, "handled " + req.queryValue("n").value_or("-"), "text/plain", {}};
    });
    EXPECT_EQ(text(get("/net/hello.txt?n=1")), "handled 1");

    services.setFault("/net/hello.txt", Fault::errorStatus(503, "busy").onlyTimes(2));
    EXPECT_EQ(get("/net/hello.txt").response->statusCode(), 503);
    EXPECT_EQ(text(get("/net/hello.txt")), "busy");
    EXPECT_EQ(text(get("/net/hello.txt?n=3")), "handled 3"); // the fault has lapsed

    services.host().removeHandler("GET", "/net/hello.txt");
    EXPECT_EQ(text(get("/net/hello.txt")), "Hello from the loopback services.\n");

    services.setFault("/net/hello.txt", Fault::reply(200, "<html>error</html>", "text/html"));
    auto html = get("/net/hello.txt");
    EXPECT_EQ(text(html), "<html>error</html>");
    EXPECT_EQ(html.response->mimeType(), "text/html");
    services.host().clearFault("/net/hello.txt");
    EXPECT_EQ(get("/net/hello.txt").response->statusCode(), 200);
}

TEST_F(ServiceHostTest, StopsPromptlyEvenWithADelayedReplyPending) {
    services.setFault("/slow", Fault::delay(120));
    URLRequest r(*URL::parse(services.url("/slow")));
    std::thread client([r] { URLConnection::sendSynchronousRequest(r); });
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (services.requestCount("/slow") == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_EQ(services.requestCount("/slow"), 1u);
    auto started = std::chrono::steady_clock::now();
    services.host().stop();
    client.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_FALSE(services.host().isRunning());
}

} // namespace
