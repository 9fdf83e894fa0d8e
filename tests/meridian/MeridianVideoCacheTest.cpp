// The video cache record with its archive, marker, expiry, play count and sweep, a download
// that completes its record after its view is gone, and names that cannot become cache files.
#include "MeridianTestSupport.h"
#include "MeridianVideoSupport.h"

#include <fstream>

#include "meridian/MRHandshake.h"
#include "meridian/MRJSONAd.h"
#include "meridian/MRURLDownload.h"
#include "meridian/MRVideoCache.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/PropertyList.h"
#include "platform/runloop/Clock.h"
#include "platform/ui/Image.h"
#include "support/FolderSnapshot.h"

using namespace meridiantest;
using meridian::MRJSONAd;
using meridian::MRURLDownload;
using meridian::MRVideoCache;

namespace {

constexpr std::string_view kVideoPath = "/meridian/videos/test.avi";
constexpr std::string_view kButtonImagePath = "/meridian/images/test-button.png";


class MeridianVideoCache : public MeridianFixture {
protected:
    MeridianVideoCache() {
        video = body(5000);
        services.handle("GET", std::string(kVideoPath), [this](const services::LoggedRequest& r) {
            return services::byteRangeReply(r, video, "video/avi");
        });
        auto png = platform::Image::solid(12, 8, 0, 200, 0)->pngRepresentation();
        std::string picture(png.begin(), png.end());
        services.handle("GET", std::string(kButtonImagePath), [picture](const services::LoggedRequest&) {
            return services::ServiceReply{200, picture, "image/png", {}};
        });
        recorder = std::make_shared<RecordingDownloadDelegate>(events, "view");
    }
    ~MeridianVideoCache() override {
        MRURLDownload::cancelAllForTesting();
        MRURLDownload::setMaximumFileBytesForTesting(std::nullopt);
    }

    std::filesystem::path target() { return MRVideoCache::cacheFolder() / "clip.avi"; }
    std::filesystem::path partial() {
        auto p = target();
        p += ".part";
        return p;
    }
    bool ended() {
        return waitFor([] { return MRURLDownload::runningCount() == 0; });
    }
    std::string videoReply(std::string id, std::string expiration = "2030-01-01 00:00:00 +0000",
                           std::string path = std::string(kVideoPath)) {
        return R"({"type":"video","meta-data":{"m":"1"},"video":{"id":")" + id + R"(","content-url":")" +
               services.url(path) + R"(","expiration":")" + expiration + R"(","duration":30,
               "buttons":[{"image":")" + services.url(kButtonImagePath) + R"(","url":"mrsdk://endVideo",
               "activity":["a1"],"component":"close"}],"log":[{"time":"5","urls":["u5"]}],
               "startActivity":["s"],"endActivity":["e"],"onCompletion":{"stayInPlayer":true},
               "showCountdownHUD":true}})";
    }
    std::shared_ptr<MRJSONAd> videoAd(std::string id, std::string expiration = "2030-01-01 00:00:00 +0000") {
        auto text = videoReply(std::move(id), std::move(expiration));
        return std::make_shared<MRJSONAd>(platform::Data(text.begin(), text.end()), std::weak_ptr<meridian::MRJSONAdView>{});
    }

    std::string video;
    std::shared_ptr<RecordingDownloadDelegate> recorder;
};

} // namespace

TEST_F(MeridianVideoCache, AFinishedDownloadCompletesItsRecordEvenWithoutItsView) {
    auto ad = videoAd("clip");
    auto record = MRVideoCache::initWithAd(ad);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->localPath(), target().string());
    EXPECT_EQ(record->archivedFilePath(), MRVideoCache::cacheFolder() / "clip.mrarchive");
    EXPECT_EQ(record->numPlays(), 0);
    EXPECT_FALSE(record->downloadFinished());
    {
        auto view = std::make_shared<RecordingDownloadDelegate>(events, "view");
        record->startOrFinishDownloadWithDelegate(view);
        // The buttons were built before the download; their pictures arrive beside it.
        EXPECT_TRUE(ad->buttonsHaveBeenDownloaded());
        ASSERT_TRUE(ad->videoButtons() && ad->videoButtons()->size() == 1);
    }
    record.reset(); // nothing holds the record but its download
    EXPECT_FALSE(MRVideoCache::cacheExists("clip"));
    ASSERT_TRUE(ended());
    EXPECT_TRUE(events->empty());
    EXPECT_TRUE(waitFor([&] { return ad->videoButtons()->at(0)->image() != nullptr; }));

    auto marker = platform::readPropertyListFile(MRVideoCache::markerPath());
    ASSERT_TRUE(marker && marker->find("needToPlayVideo"));
    EXPECT_EQ(marker->find("needToPlayVideo")->stringOr(""), "clip");
    auto loaded = MRVideoCache::loadFromArchive("clip");
    ASSERT_NE(loaded, nullptr);
    EXPECT_TRUE(loaded->downloadFinished());
    EXPECT_TRUE(loaded->isDownloadComplete());
    EXPECT_FALSE(loaded->isCacheExpired());
    EXPECT_EQ(readFile(loaded->localPath()), video);
}

TEST_F(MeridianVideoCache, TheArchiveKeepsTheWholeAdAcrossARestart) {
    auto ad = videoAd("clip");
    auto record = MRVideoCache::initWithAd(ad);
    ASSERT_NE(record, nullptr);
    ad->downloadButtons();
    ASSERT_TRUE(ad->videoButtons() && ad->videoButtons()->size() == 1);
    ASSERT_TRUE(waitFor([&] { return ad->videoButtons()->at(0)->image() != nullptr; }));
    record->setDownloadFinished(true);
    record->incrementNumPlaysBy(2);
    ASSERT_TRUE(record->save());
    auto requestsBefore = services.requestCount(kButtonImagePath);

    auto loaded = MRVideoCache::loadFromArchive("clip");
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->vid(), "clip");
    EXPECT_EQ(loaded->url(), ad->videoContentURL());
    EXPECT_EQ(loaded->experation(), ad->videoExpirationDate());
    EXPECT_EQ(loaded->numPlays(), 2);
    auto copy = loaded->ad();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->adType(), MRJSONAd::kVideoAd);
    EXPECT_EQ(copy->adView(), nullptr);
    EXPECT_EQ(copy->videoId(), "clip");
    EXPECT_DOUBLE_EQ(copy->videoDuration(), 30);
    EXPECT_TRUE(copy->showCountdownHUD());
    EXPECT_TRUE(copy->buttonsHaveBeenDownloaded());
    EXPECT_EQ(copy->logMetaData(), ad->logMetaData());
    EXPECT_EQ(copy->logs(), ad->logs());
    EXPECT_EQ(copy->startActivity(), ad->startActivity());
    EXPECT_EQ(copy->endActivity(), ad->endActivity());
    ASSERT_TRUE(copy->onCompletion());
    EXPECT_TRUE(copy->onCompletion()->at("stayInPlayer").boolOr(false));
    ASSERT_TRUE(copy->videoButtons() && copy->videoButtons()->size() == 1);
    auto button = copy->videoButtons()->at(0);
    EXPECT_EQ(button->component(), "close");
    ASSERT_NE(button->image(), nullptr);
    EXPECT_EQ(button->image()->size(), (platform::Size{12, 8}));
    // Built again from the archived picture, without the network.
    EXPECT_EQ(button->button()->frame().size, (platform::Size{12, 8}));
    EXPECT_EQ(services.requestCount(kButtonImagePath), requestsBefore);
}

TEST_F(MeridianVideoCache, ExpiryPlayCountsAndTheSweep) {
    double now = platform::Clock::current().now();
    auto save = [&](std::string id, std::string expiration, bool withVideo) {
        auto record = MRVideoCache::initWithAd(videoAd(id, expiration));
        record->setDownloadFinished(true);
        ASSERT_TRUE(record->save());
        if (withVideo)
            writeFile(record->localPath(), "video");
    };
    save("old", "2001-01-01 00:00:00 +0000", true);
    save("fresh", "2030-01-01 00:00:00 +0000", true);
    save("undated", "next tuesday", true);
    writeFile(MRVideoCache::cacheFolder() / "orphan.avi", "video without its record");
    writeFile(MRVideoCache::cacheFolder() / "broken.mrarchive", "not an archive");

    EXPECT_TRUE(MRVideoCache::loadFromArchive("old")->isCacheExpired());
    EXPECT_FALSE(MRVideoCache::loadFromArchive("fresh")->isCacheExpired());
    EXPECT_FALSE(MRVideoCache::loadFromArchive("undated")->experation().has_value());
    EXPECT_FALSE(MRVideoCache::loadFromArchive("undated")->isCacheExpired());
    EXPECT_EQ(MRVideoCache::loadFromArchive("broken"), nullptr);
    EXPECT_EQ(MRVideoCache::cachedVideoPaths().size(), 4u);

    MRVideoCache::removeExpiredCaches();
    EXPECT_FALSE(MRVideoCache::cacheExists("old"));
    EXPECT_FALSE(std::filesystem::exists(MRVideoCache::cacheFolder() / "old.avi"));
    EXPECT_TRUE(MRVideoCache::cacheExists("fresh"));
    EXPECT_TRUE(MRVideoCache::cacheExists("undated"));
    EXPECT_TRUE(std::filesystem::exists(MRVideoCache::cacheFolder() / "orphan.avi"));
    EXPECT_TRUE(std::filesystem::exists(MRVideoCache::cacheFolder() / "broken.mrarchive"));

    // Time passes: the fresh record expires too; the undated one never does.
    clock.clock().setNow(now + 10 * 365 * 24 * 3600.0);
    MRVideoCache::removeExpiredCaches();
    EXPECT_FALSE(MRVideoCache::cacheExists("fresh"));
    EXPECT_TRUE(MRVideoCache::cacheExists("undated"));

    // A record whose archive has no play count counts its first play as 1.
    auto undated = MRVideoCache::loadFromArchive("undated");
    undated->setNumPlays(std::nullopt);
    undated->save();
    auto again = MRVideoCache::loadFromArchive("undated");
    EXPECT_EQ(again->numPlays(), std::nullopt);
    again->incrementNumPlaysBy(1);
    EXPECT_EQ(again->numPlays(), 1);
}

TEST_F(MeridianVideoCache, NamesThatCannotBeCacheFilesAreRefused) {
    struct Case {
        std::string id;
        std::string path;
        std::optional<std::string> file; // nullopt: refused
    };
    const Case cases[] = {
        {"clip", "/v/clip.avi", "clip.avi"},
        {"clip", "/v/clip", "clip."},
        {"clip", "/v/clip.avi?x=1", "clip.avi"},
        {"../escape", "/v/a.avi", std::nullopt},
        {"a/b", "/v/a.avi", std::nullopt},
        {".hidden", "/v/a.avi", std::nullopt},
        {"", "/v/a.avi", std::nullopt},
        {"clip", "/v/a.a-v", std::nullopt},
        {"clip", "/v/a.verylongextension", std::nullopt},
        // The SDK's own files and the cache's own kinds of file are never a video's name.
        {"mrhandshake", "/v/x.archive", std::nullopt},
        {"cachedVideo", "/v/x.plist", std::nullopt},
        {"clip", "/v/x.mrarchive", std::nullopt},
        {"clip.avi", "/v/x.part", std::nullopt},
        {"cachedvideo", "/v/x.plist", "cachedvideo.plist"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id + " " + c.path);
        auto text = R"({"type":"video","video":{"id":")" + c.id + R"(","content-url":"http://h.test)" + c.path +
                    R"("}})";
        auto ad = std::make_shared<MRJSONAd>(platform::Data(text.begin(), text.end()),
                                             std::weak_ptr<meridian::MRJSONAdView>{});
        auto record = MRVideoCache::initWithAd(ad);
        if (!c.file) {
            EXPECT_EQ(record, nullptr);
            continue;
        }
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(std::filesystem::path(record->localPath()), MRVideoCache::cacheFolder() / *c.file);
    }
    EXPECT_EQ(MRVideoCache::loadFromArchive("../../Preferences/x"), nullptr);
    for (std::string address : {"file:///etc/hostname.avi", "ftp://h.test/v/a.avi", "mrsdk://v/a.avi"}) {
        SCOPED_TRACE(address);
        auto text = R"({"type":"video","video":{"id":"clip","content-url":")" + address + R"("}})";
        auto ad = std::make_shared<MRJSONAd>(platform::Data(text.begin(), text.end()),
                                             std::weak_ptr<meridian::MRJSONAdView>{});
        EXPECT_EQ(MRVideoCache::initWithAd(ad), nullptr);
    }
}

TEST_F(MeridianVideoCache, ARecordOfAnEarlierVersionNamingAnSDKFileNeverTouchesIt) {
    auto handshakeFile = MRVideoCache::cacheFolder() / "mrhandshake.archive";
    writeFile(handshakeFile, "the handshake's state");
    // Written as an earlier version would: id "mrhandshake", a video address ending ".archive",
    // expired.
    auto record = MRVideoCache::initWithAd(videoAd("mrhandshake", "2001-01-01 00:00:00 +0000"));
    ASSERT_NE(record, nullptr);
    record->setUrl(platform::URL::parse("http://h.test/v/x.archive"));
    ASSERT_TRUE(record->save());
    EXPECT_EQ(MRVideoCache::loadFromArchive("mrhandshake"), nullptr);
    MRVideoCache::removeExpiredCaches();
    record->restartDownloadWithDelegate(recorder);
    ended();
    EXPECT_EQ(readFile(handshakeFile), "the handshake's state");
}

TEST_F(MeridianVideoCache, CachedAddressesFollowTheServicesToTheirNextPort) {
    // A record cached while the services listened on another port, with one outside address.
    std::string earlier = "http://127.0.0.1:1";
    std::string text = R"({"type":"video","video":{"id":"moved","content-url":")" + earlier +
                       R"(/meridian/videos/spot.avi","startActivity":[")" + earlier +
                       R"(/meridian/track/start","http://ads.test/s"],"endActivity":[")" + earlier +
                       R"(/meridian/track/end"],"log":[{"time":"1","urls":[")" + earlier +
                       R"(/meridian/track/5s?a=1"]}],"onCompletion":{"url":")" + earlier +
                       R"(/landing/banner.html"},"buttons":[{"title":"x","url":")" + earlier +
                       R"(/landing/more.html","activity":[")" + earlier + R"(/meridian/track/more"]}]}})";
    auto ad = std::make_shared<MRJSONAd>(platform::Data(text.begin(), text.end()),
                                         std::weak_ptr<meridian::MRJSONAdView>{});
    auto record = MRVideoCache::initWithAd(ad);
    ASSERT_NE(record, nullptr);
    ASSERT_TRUE(record->save());

    auto now = MRVideoCache::loadFromArchive("moved");
    ASSERT_NE(now, nullptr);
    std::string base = services.baseURL();
    EXPECT_EQ(now->url()->absoluteString(), base + "/meridian/videos/spot.avi");
    const auto& read = *now->ad();
    EXPECT_EQ(read.videoContentURL()->absoluteString(), base + "/meridian/videos/spot.avi");
    EXPECT_EQ(*read.startActivity(), (platform::Array{platform::Value(base + "/meridian/track/start"),
                                                      platform::Value("http://ads.test/s")}));
    EXPECT_EQ(*read.endActivity(), platform::Array{platform::Value(base + "/meridian/track/end")});
    EXPECT_EQ(*read.logs()->front().dictionary()->at("urls").array(),
              platform::Array{platform::Value(base + "/meridian/track/5s?a=1")});
    EXPECT_EQ(*read.onCompletion()->at("url").string(), base + "/landing/banner.html");
    const auto& button = *read.videoButtons()->front();
    EXPECT_EQ(button.tapURL()->absoluteString(), base + "/landing/more.html");
    EXPECT_EQ(*button.activity(), platform::Array{platform::Value(base + "/meridian/track/more")});
}

TEST_F(MeridianVideoCache, TheSweepDropsPartialFilesNothingResumes) {
    MRURLDownload::setMaximumFileBytesForTesting(4096);
    auto partialOf = [](std::string name) { return MRVideoCache::cacheFolder() / (name + ".part"); };
    writeFile(partialOf("full.avi"), body(4096));
    writeFile(partialOf("whole.avi"), body(100));
    writeFile(MRVideoCache::cacheFolder() / "whole.avi", body(5000));
    writeFile(partialOf("cut.avi"), body(100));
    services.setFault(std::string(kVideoPath), services::Fault::delay(0.3).onlyTimes(1));
    writeFile(partial(), body(100));
    MRURLDownload::create(services.urlFor(kVideoPath), target(), recorder);
    writeFile(partialOf("running.avi"), body(4096));
    MRURLDownload::create(services.urlFor(kVideoPath), MRVideoCache::cacheFolder() / "running.avi", recorder);

    MRVideoCache::removeExpiredCaches();
    EXPECT_FALSE(std::filesystem::exists(partialOf("full.avi")));
    EXPECT_FALSE(std::filesystem::exists(partialOf("whole.avi")));
    EXPECT_TRUE(std::filesystem::exists(MRVideoCache::cacheFolder() / "whole.avi"));
    // A cut download resumes with the next reply for its video; running ones are left alone.
    EXPECT_TRUE(std::filesystem::exists(partialOf("cut.avi")));
    EXPECT_TRUE(std::filesystem::exists(partial()));
    EXPECT_TRUE(std::filesystem::exists(partialOf("running.avi")));
    MRURLDownload::cancelAllForTesting();
    MRURLDownload::setMaximumFileBytesForTesting(std::nullopt);
}

// The folder "mrsdk" is used only as a real folder of the app's: with a link to a folder of the
// person's, or a file of the person's, at its name, a video download fails (the ad runs without
// a cache), and no record, marker, handshake state, video or sweep writes or removes anything
// behind it, though the person's folder holds files at the names the cache would use.
TEST_F(MeridianVideoCache, NoCacheFolderIsUsedThroughALinkOrAFile) {
    namespace fs = std::filesystem;
    const fs::path person = platform::DeviceHome::documents() / "Holiday";
    for (const bool link : {true, false}) {
        SCOPED_TRACE(link ? "a link to the person's folder" : "a file of the person's");
        MRURLDownload::cancelAllForTesting();
        events->clear();
        fs::remove_all(MRVideoCache::cacheFolder());
        fs::remove_all(person);
        for (const char* name : {"clip.avi", "clip.avi.part", "clip.mrarchive", "old.mrarchive", "mrhandshake.archive",
                                 "notes.txt"})
            writeFile(person / name, std::string("the person's ") + name);
        if (link)
            fs::create_directory_symlink(person, MRVideoCache::cacheFolder());
        else
            writeFile(MRVideoCache::cacheFolder(), "the person's own file");
        const auto before = fwtest::FolderSnapshot::of(platform::DeviceHome::root());

        auto record = MRVideoCache::initWithAd(videoAd("clip"));
        ASSERT_NE(record, nullptr);
        record->startOrFinishDownloadWithDelegate(recorder);
        ASSERT_TRUE(ended());
        ASSERT_EQ(events->size(), 1u);
        EXPECT_EQ(events->front().rfind("view:failed:", 0), 0u) << events->front();
        EXPECT_FALSE(record->save());
        record->restartDownloadWithDelegate(recorder);
        ASSERT_TRUE(ended());
        record->removeCache();
        MRVideoCache::removeExpiredCaches();
        EXPECT_TRUE(MRVideoCache::cachedVideoPaths().empty());
        meridian::MRHandshake::sharedHandshake().setLastVideoPlayedAt(platform::Date{1'700'000'000});

        EXPECT_EQ(fwtest::FolderSnapshot::of(platform::DeviceHome::root())
                      .changesOutside(before, {"Library/Preferences", "Library/Logs", "Library/Caches", "tmp",
                                              "Library/DeviceIdentifier"}),
                  std::vector<std::string>{});
    }
}
