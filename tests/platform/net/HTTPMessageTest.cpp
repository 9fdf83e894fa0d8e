#include <gtest/gtest.h>

#include "platform/net/HTTPHeaders.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"

using namespace platform;

namespace {

URL url(std::string_view text) {
    return *URL::parse(text);
}

TEST(HTTPHeaders, NamesIgnoreCaseAndRepeatsJoin) {
    HTTPHeaders h;
    h.set("Content-Type", "text/plain");
    h.set("content-type", "application/json"); // replaces, keeps the first spelling
    h.add("Accept", "text/html");
    h.add("ACCEPT", "*/*");
    EXPECT_EQ(h.value("CONTENT-TYPE"), "application/json");
    EXPECT_EQ(h.fields().front().first, "Content-Type");
    EXPECT_EQ(h.value("accept"), "text/html, */*");
    h.remove("Accept");
    EXPECT_FALSE(h.contains("accept"));
    EXPECT_EQ(h.size(), 1u);
}

TEST(URLRequest, DefaultsAndFields) {
    URLRequest r(url("http://a.example/x"));
    EXPECT_EQ(r.httpMethod(), "GET");
    EXPECT_EQ(r.timeoutInterval(), 60.0);
    EXPECT_EQ(r.cachePolicy(), URLRequestCachePolicy::UseProtocolCachePolicy);
    for (double bad : {0.0, -5.0, std::numeric_limits<double>::infinity()}) {
        r.setTimeoutInterval(bad);
        EXPECT_EQ(r.timeoutInterval(), URLRequest::kDefaultTimeoutInterval);
    }
    r.setValue("MRSDK/4.2.5", "User-Agent");
    EXPECT_EQ(r.valueForHTTPHeaderField("user-agent"), "MRSDK/4.2.5");
    EXPECT_FALSE(URLRequest::withURLString("relative/path"));
    EXPECT_FALSE(URLRequest::withURLString("http://a b/"));
    EXPECT_TRUE(URLRequest::withURLString("http://a.example/"));
}

TEST(URLRequest, OnlyHTTPWithAHostCanBeHandled) {
    const std::pair<const char*, bool> cases[] = {
        {"http://a.example/", true},  {"HTTPS://a.example/x?y", true}, {"ftp://a.example/", false},
        {"itms-apps://app/1", false}, {"file:///tmp/x", false},        {"http:///nohost", false},
    };
    for (auto [text, handled] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(URLConnection::canHandleRequest(URLRequest(url(text))), handled);
    }
}

TEST(URLResponse, ReadsWhatTheHeaderFieldsSay) {
    struct Case {
        std::vector<std::pair<std::string, std::string>> fields;
        const char* url;
        std::int64_t length;
        std::string mime;
        std::optional<std::string> encoding;
        std::string fileName;
    };
    const Case cases[] = {
        {{{"Content-Type", "Text/HTML; Charset=\"UTF-8\""}, {"content-length", "120"}},
         "http://h/a/page.html?x=1",
         120,
         "text/html",
         "utf-8",
         "page.html"},
        {{{"Content-Length", "12abc"}},
         "http://h/",
         URLResponse::kUnknownLength,
         "",
         std::nullopt,
         "Unknown"},
        {{{"Content-Length", "-3"}}, "http://h/d/", URLResponse::kUnknownLength, "", std::nullopt, "d"},
        {{{"Content-Disposition", "attachment; filename=\"../../etc/passwd\""}},
         "http://h/x",
         URLResponse::kUnknownLength,
         "",
         std::nullopt,
         "passwd"},
        {{{"Content-Disposition", "attachment; filename=.."}},
         "http://h/get.php",
         URLResponse::kUnknownLength,
         "",
         std::nullopt,
         "get.php"},
        {{{"Content-Type", "application/json"}},
         "http://h/a%20b.json",
         URLResponse::kUnknownLength,
         "application/json",
         std::nullopt,
         "a b.json"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        HTTPHeaders h;
        for (auto& [n, v] : c.fields)
            h.add(n, v);
        URLResponse r(url(c.url), 200, h);
        EXPECT_EQ(r.expectedContentLength(), c.length);
        EXPECT_EQ(r.mimeType(), c.mime);
        EXPECT_EQ(r.textEncodingName(), c.encoding);
        EXPECT_EQ(r.suggestedFilename(), c.fileName);
    }
}

} // namespace
