// The loopback tracking service refuses uploads it cannot read, with the reason.
#include <gtest/gtest.h>

#include "platform/net/URLConnection.h"
#include "services/TrackingEndpoints.h"
#include "support/LoopbackServices.h"

namespace {

TEST(TrackingService, RefusesUploadsItCannotRead) {
    fwtest::LoopbackServices services;
    services::TrackingService service(services.host());
    const std::string form = "multipart/form-data; boundary=B";
    struct Case {
        const char* name;
        std::string contentType;
        std::string body;
        const char* reason;
    };
    const Case cases[] = {
        {"not a form", "text/plain", "hello", "not a multipart form"},
        {"unterminated form", form, "--B\r\nContent-Disposition: form-data; name=\"v\"\r\n\r\n2.4M",
         "malformed multipart form"},
        {"data that is not Base64", form,
         "--B\r\nContent-Disposition: form-data; name=\"data\"\r\n\r\n%%%\r\n--B--\r\n",
         "data part is not Base64"},
        {"data that does not inflate", form,
         "--B\r\nContent-Disposition: form-data; name=\"data\"\r\n\r\nAAAA\r\n--B--\r\n",
         "data part does not inflate"},
        {"no data at all", form, "--B\r\nContent-Disposition: form-data; name=\"v\"\r\n\r\n2.4M\r\n--B--\r\n",
         "no data part"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::URLRequest request(services.urlFor(services::kTrackingPath));
        request.setHTTPMethod("POST");
        request.setValue(c.contentType, "Content-Type");
        request.setHTTPBody(std::string_view(c.body));
        auto reply = platform::URLConnection::sendSynchronousRequest(request);
        ASSERT_FALSE(reply.error);
        EXPECT_EQ(reply.response->statusCode(), 400);
        EXPECT_EQ(std::string(reply.data.begin(), reply.data.end()), c.reason);
    }
    EXPECT_TRUE(service.uploads().empty());
}

} // namespace
