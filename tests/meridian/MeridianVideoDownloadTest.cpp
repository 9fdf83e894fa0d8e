// Resumed video downloads against the loopback services: 206, 200, 416, a cut connection, a
// range that does not match, and one writer per file.
#include "MeridianTestSupport.h"
#include "MeridianVideoSupport.h"

#include <fstream>

#include "meridian/MRURLDownload.h"
#include "platform/foundation/DeviceHome.h"

using namespace meridiantest;
using meridian::MRURLDownload;

namespace {

constexpr std::string_view kVideoPath = "/meridian/videos/test.avi";


class MeridianVideoDownload : public MeridianFixture {
protected:
    MeridianVideoDownload() {
        video = body(5000);
        services.handle("GET", std::string(kVideoPath), [this](const services::LoggedRequest& r) {
            return services::byteRangeReply(r, video, "video/avi");
        });
        recorder = std::make_shared<RecordingDownloadDelegate>(events, "view");
    }
    ~MeridianVideoDownload() override {
        MRURLDownload::cancelAllForTesting();
        MRURLDownload::setMaximumFileBytesForTesting(std::nullopt);
    }

    std::filesystem::path target() { return platform::DeviceHome::library() / "mrsdk" / "clip.avi"; }
    std::filesystem::path partial() {
        auto p = target();
        p += ".part";
        return p;
    }
    bool ended() {
        return waitFor([] { return MRURLDownload::runningCount() == 0; });
    }

    std::string video;
    std::shared_ptr<RecordingDownloadDelegate> recorder;
};

} // namespace

TEST_F(MeridianVideoDownload, DownloadsResumeOnlyFromTheirOwnContinuation) {
    struct Case {
        std::string name;
        std::size_t partialBytes; // 0: no partial file
        std::function<void()> serve;
        std::optional<std::string> range; // the Range header sent
        bool finished;
        bool partialKept;
    };
    auto reply = [&](int status, std::string text, std::vector<services::NameValue> headers) {
        return [this, status, text, headers] {
            services.handle("GET", std::string(kVideoPath), [status, text, headers](const services::LoggedRequest&) {
                return services::ServiceReply{status, text, "video/avi", headers};
            });
        };
    };
    const Case cases[] = {
        {"first download", 0, [] {}, std::nullopt, true, false},
        {"resumed with 206", 1000, [] {}, "bytes=1000-", true, false},
        {"whole file instead", 1000, reply(200, body(5000), {}), "bytes=1000-", true, false},
        {"range past the end", 6000, [] {}, "bytes=6000-", false, false},
        {"another range", 1000, reply(206, body(5000).substr(0, 10), {{"Content-Range", "bytes 0-9/5000"}}),
         "bytes=1000-", false, false},
        {"partial without its range", 1000, reply(206, body(5000).substr(1000), {}), "bytes=1000-", false,
         false},
        {"error page", 1000, reply(503, "busy", {}), "bytes=1000-", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        events->clear();
        services.host().clearRequestLog();
        services.handle("GET", std::string(kVideoPath), [this](const services::LoggedRequest& r) {
            return services::byteRangeReply(r, video, "video/avi");
        });
        c.serve();
        std::filesystem::remove(target());
        std::filesystem::remove(partial());
        if (c.partialBytes)
            writeFile(partial(), video.size() >= c.partialBytes ? video.substr(0, c.partialBytes)
                                                                : body(c.partialBytes));
        auto owner = std::make_shared<RecordingDownloadDelegate>(events, "owner");
        MRURLDownload::create(services.urlFor(kVideoPath), target(), recorder, owner);
        owner.reset(); // the download keeps its owner until it ends
        ASSERT_TRUE(ended());
        auto sent = services.requestsTo(kVideoPath).at(0).header("Range");
        EXPECT_EQ(sent, c.range);
        if (c.finished) {
            EXPECT_EQ(*events, (std::vector<std::string>{"owner:finished", "view:finished"}));
            EXPECT_EQ(readFile(target()), video);
        } else {
            ASSERT_EQ(events->size(), 2u);
            EXPECT_EQ(events->at(0).rfind("owner:failed", 0), 0u);
            EXPECT_EQ(events->at(1).rfind("view:failed", 0), 0u);
            EXPECT_FALSE(std::filesystem::exists(target()));
        }
        EXPECT_EQ(std::filesystem::exists(partial()), c.partialKept);
    }
}

TEST_F(MeridianVideoDownload, ACutConnectionKeepsWhatArrivedAndTheNextDownloadResumes) {
    services.setFault(std::string(kVideoPath), services::Fault::truncated(video, 2000).onlyTimes(1));
    MRURLDownload::create(services.urlFor(kVideoPath), target(), recorder);
    ASSERT_TRUE(ended());
    ASSERT_EQ(events->size(), 1u);
    EXPECT_EQ(events->at(0).rfind("view:failed", 0), 0u);
    EXPECT_FALSE(std::filesystem::exists(target()));
    EXPECT_EQ(readFile(partial()), video.substr(0, 2000));

    events->clear();
    auto download = MRURLDownload::create(services.urlFor(kVideoPath), target(), recorder);
    EXPECT_FALSE(download->firstDownload());
    EXPECT_EQ(download->offset(), 2000);
    ASSERT_TRUE(ended());
    EXPECT_EQ(*events, std::vector<std::string>{"view:finished"});
    EXPECT_EQ(services.requestsTo(kVideoPath).back().header("Range"), "bytes=2000-");
    EXPECT_EQ(readFile(target()), video);
    EXPECT_FALSE(std::filesystem::exists(partial()));
}

TEST_F(MeridianVideoDownload, ANewDownloadOfTheSameFileReplacesTheRunningOne) {
    services.setFault(std::string(kVideoPath), services::Fault::delay(0.3).onlyTimes(1));
    auto first = std::make_shared<RecordingDownloadDelegate>(events, "first");
    MRURLDownload::create(services.urlFor(kVideoPath), target(), first);
    MRURLDownload::create(services.urlFor(kVideoPath), target(), recorder);
    EXPECT_EQ(MRURLDownload::runningCount(), 1u);
    ASSERT_TRUE(ended());
    clock.drain();
    EXPECT_EQ(*events, (std::vector<std::string>{"first:failed:-999", "view:finished"}));
    EXPECT_EQ(readFile(target()), video);
}


TEST_F(MeridianVideoDownload, AFileOverTheCapLeavesNothingAndAWholeReplyIsMeasuredAlone) {
    constexpr std::int64_t kCap = 64 * 1024;
    MRURLDownload::setMaximumFileBytesForTesting(kCap);
    struct Case {
        std::string name;
        std::size_t partialBytes;
        std::optional<services::Fault> fault; // else a handler's reply
        services::ServiceReply reply;
        bool finished;
    };
    std::string whole = body(100 * 1024);
    std::string fits = body(50 * 1024);
    const Case cases[] = {
        // Streamed without Content-Length, past the cap.
        {"streamed", 0, services::Fault::chunked(whole, 8 * 1024), {}, false},
        {"announced", 0, std::nullopt, {200, whole, "video/avi", {}}, false},
        // The rest of a resumed file would pass the cap with what the partial file holds.
        {"resumed past the cap", 40 * 1024, std::nullopt,
         {206, whole.substr(40 * 1024),
          "video/avi",
          {{"Content-Range", "bytes 40960-" + std::to_string(whole.size() - 1) + "/" + std::to_string(whole.size())}}},
         false},
        // A 200 to a resume carries the whole file: only its own size counts.
        {"whole file to a resume", 40 * 1024, std::nullopt, {200, fits, "video/avi", {}}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        events->clear();
        std::filesystem::remove(target());
        std::filesystem::remove(partial());
        if (c.fault)
            services.setFault(std::string(kVideoPath), *c.fault);
        else
            services.handle("GET", std::string(kVideoPath), [reply = c.reply](const services::LoggedRequest&) {
                return reply;
            });
        if (c.partialBytes)
            writeFile(partial(), body(c.partialBytes));
        MRURLDownload::create(services.urlFor(kVideoPath), target(), recorder);
        ASSERT_TRUE(ended());
        if (c.finished) {
            EXPECT_EQ(*events, std::vector<std::string>{"view:finished"});
            EXPECT_EQ(readFile(target()), fits);
        } else {
            EXPECT_EQ(*events, std::vector<std::string>{"view:failed:-1103"});
            EXPECT_FALSE(std::filesystem::exists(target()));
        }
        EXPECT_FALSE(std::filesystem::exists(partial()));
        services.host().clearFault(std::string(kVideoPath));
    }
    MRURLDownload::setMaximumFileBytesForTesting(std::nullopt);
}

TEST_F(MeridianVideoDownload, TheServicesLeaveRangesTheyCannotParseToTheVideoHandler) {
    struct Case {
        std::string range;
        int status;
        std::string body;
    };
    const Case cases[] = {
        {"bytes=5-2", 200, video},
        {"items=0-", 200, video},
        {"bytes=x-", 200, video},
        {"bytes=10-19", 206, video.substr(10, 10)},
        {"bytes=4000-", 206, video.substr(4000)},
        {"bytes=9000-", 416, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.range);
        services.host().clearRequestLog();
        platform::URLRequest request(services.urlFor(kVideoPath));
        request.setValue(c.range, "Range");
        auto reply = platform::URLConnection::sendSynchronousRequest(request, 1024 * 1024);
        ASSERT_FALSE(reply.error);
        ASSERT_TRUE(reply.response);
        EXPECT_EQ(reply.response->statusCode(), c.status);
        EXPECT_EQ(std::string(reply.data.begin(), reply.data.end()), c.body);
        // The request log keeps the header as it was sent.
        EXPECT_EQ(services.requestsTo(kVideoPath).at(0).header("Range"), c.range);
    }
}
