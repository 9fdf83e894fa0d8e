// Every reader of local files in the platform, from the platform's side: each reads only inside
// the folder its owner granted it, and nothing when none was granted, whatever route brought
// the file: URL to it (handed over directly, taken from a server reply's field, chosen by a
// page, reached by a server's redirect). A redirect from the network never leads to a file.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "MediaTestSupport.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/ReadableFolder.h"
#include "platform/foundation/Value.h"
#include "platform/media/AudioFile.h"
#include "platform/media/AudioPlayer.h"
#include "platform/media/Demuxer.h"
#include "platform/media/MovieInfo.h"
#include "platform/media/MoviePlayerController.h"
#include "platform/net/NetTestSupport.h"
#include "platform/net/URLConnection.h"
#include "platform/web/WebTestSupport.h"
#include "support/LoopbackServices.h"

using namespace platform;
namespace fs = std::filesystem;

namespace {

constexpr const char* kMark = "MARK-7f3a";
constexpr const char* kRead = "read";
constexpr const char* kRefused = "refused";

// How the file: URL reaches the reader.
enum class Route { Direct, ReplyField, Redirect };
const char* routeName(Route route) {
    switch (route) {
    case Route::Direct:
        return "direct";
    case Route::ReplyField:
        return "reply field";
    case Route::Redirect:
        return "redirect";
    }
    return "?";
}

class LocalFileReaders : public mediatest::MediaTest {
protected:
    void SetUp() override {
        fs::create_directories(adFolder);
        fs::create_directories(documents);
        for (const fs::path& folder : {adFolder, documents}) {
            mediatest::writeFile(folder / "page.html", std::string("<p>") + kMark + "</p>");
            mediatest::writeFile(folder / "script.js", std::string("var ran = '") + kMark + "';");
            mediatest::writeFile(folder / "image.gif", "GIF89a");
            fs::copy_file(mediatest::sampleMedia("sample-movie.mov"), folder / "clip.mov");
            fs::copy_file(mediatest::sampleMedia("sample-tone.wav"), folder / "tone.wav");
            fs::copy_file(mediatest::sampleMedia("sample-silence.mp3"), folder / "silence.mp3");
        }
        for (const char* file :
             {"page.html", "script.js", "image.gif", "clip.mov", "tone.wav", "silence.mp3"})
            fs::create_symlink(documents / file, adFolder / (std::string("link-") + file));
    }

    // The URL the reader is given for `target` along `route`.
    URL routed(const URL& target, Route route) {
        const std::string path = "/route/" + std::to_string(++served_);
        if (route == Route::Direct)
            return target;
        if (route == Route::Redirect) {
            services.handle("GET", path, [target](const services::LoggedRequest&) {
                return services::ServiceReply{302, "", "text/plain", {{"Location", target.absoluteString()}}};
            });
            return services.urlFor(path);
        }
        services.handle("GET", path, [target](const services::LoggedRequest&) {
            return services::ServiceReply{
                200, "{\"url\":\"" + target.absoluteString() + "\"}", "application/json", {}};
        });
        std::optional<URL> field;
        bool done = false;
        URLConnection::sendAsynchronousRequest(
            URLRequest(services.urlFor(path)),
            [&](const std::optional<URLResponse>&, const Data& data, const std::optional<Error>&) {
                auto reply = Value::fromJSON(std::string(data.begin(), data.end()));
                const Value* text = reply ? reply->find("url") : nullptr;
                if (text && text->string())
                    field = URL::parse(*text->string());
                done = true;
            });
        EXPECT_TRUE(clock_.runUntil([&] { return done; }));
        EXPECT_TRUE(field);
        return field.value_or(target);
    }

    // ---- Web: the view's own load, a load for a page, and a page's navigations, scripts and images ----
    struct Browser {
        std::shared_ptr<WebView> view = std::make_shared<WebView>(Rect{0, 0, 320, 480});
        std::shared_ptr<webtest::RecordingDelegate> delegate = std::make_shared<webtest::RecordingDelegate>();
        explicit Browser(const ReadableFolder& grant) {
            view->setDelegate(delegate);
            view->setReadableFolder(grant);
        }
        std::string eval(const std::string& script) {
            return view->stringByEvaluatingJavaScriptFromString(script);
        }
    };
    URL adPage() const { return URL::fileURL(adFolder / "index.html"); }

    std::string shownOrRefused(Browser& b) {
        if (b.delegate->count("finish") > 0 &&
            b.eval("document.body.textContent").find(kMark) != std::string::npos)
            return kRead;
        if (b.delegate->count("fail -1102") > 0)
            return kRefused;
        std::string events;
        for (const auto& e : b.delegate->events)
            events += e + "; ";
        return events;
    }

public:
    // ---- The readers, each answering kRead, kRefused or what else happened (the table names them) ----
    std::string webViewLoad(const URL& url, const ReadableFolder& grant) {
        return webLoad(url, grant, false);
    }
    std::string webViewLoadForPage(const URL& url, const ReadableFolder& grant) {
        return webLoad(url, grant, true);
    }
    std::string webLoad(const URL& url, const ReadableFolder& grant, bool forPage) {
        Browser b(grant);
        if (forPage)
            b.view->loadRequest(URLRequest(url), adPage());
        else
            b.view->loadRequest(URLRequest(url));
        EXPECT_TRUE(clock_.runUntil([&] { return b.delegate->ended(); }));
        return shownOrRefused(b);
    }
    // Shows a page from the ad's folder with `html`; answers once it has finished.
    void showAdPage(Browser& b, const std::string& html) {
        b.view->loadHTMLString(html, adPage());
        EXPECT_TRUE(clock_.runUntil([&] { return b.delegate->count("finish") > 0; }));
    }
    std::string pageNavigation(const URL& url, const ReadableFolder& grant) {
        Browser b(grant);
        showAdPage(b, "<a id=go href=\"" + url.absoluteString() + "\">go</a>");
        b.delegate->events.clear();
        LogCapture log;
        b.view->clickLinkWithId("go");
        EXPECT_TRUE(
            clock_.runUntil([&] { return log.contains("refused navigation") || b.delegate->ended(); }));
        return log.contains("refused navigation") ? kRefused : shownOrRefused(b);
    }
    std::string pageScript(const URL& url, const ReadableFolder& grant) {
        Browser b(grant);
        showAdPage(b, "<script src=\"" + url.absoluteString() + "\"></script>");
        return b.eval("typeof ran") == "string" && b.eval("ran") == kMark ? kRead : kRefused;
    }
    std::string pageImage(const URL& url, const ReadableFolder& grant) {
        Browser b(grant);
        showAdPage(
            b, "<script>var image = ''; var img = new Image();"
               "img.onload = function () { image = 'load'; }; img.onerror = function () { image = 'error'; };"
               "img.src = '" +
                   url.absoluteString() + "';</script>");
        EXPECT_TRUE(clock_.runUntil([&] { return !b.eval("image").empty(); }));
        return b.eval("image") == "load" ? kRead : kRefused;
    }

    // ---- Media ----
    std::string moviePlayer(const URL& url, const ReadableFolder& grant) {
        auto player = MoviePlayerController::create(url, grant);
        mediatest::MovieLog log(player);
        player->prepareToPlay();
        auto preloaded = [&] {
            for (const auto& e : log.entries)
                if (e.name == MPMoviePlayerContentPreloadDidFinishNotification)
                    return true;
            return false;
        };
        EXPECT_TRUE(clock_.runUntil(preloaded));
        if (auto error = player->loadError())
            return error->code == kURLErrorNoPermissionsToReadFile ? kRefused
                                                                   : "error " + std::to_string(error->code);
        return player->duration() > 0 ? kRead : "no length";
    }
    std::string audioFile(const URL& url, const ReadableFolder& grant) {
        AudioFileID id = nullptr;
        const OSStatus status =
            AudioFileOpenURL(url, kAudioFileReadPermission, kAudioFileWAVEType, &id, grant);
        if (status == kAudioNoError) {
            AudioFileClose(id);
            return kRead;
        }
        return status == kAudioFilePermissionsError ? kRefused : "status " + std::to_string(status);
    }
    std::string audioPlayer(const URL& url, const ReadableFolder& grant) {
        Error error;
        if (AudioPlayer::create(url, grant, &error))
            return kRead;
        return error.code == kAudioFilePermissionsError ? kRefused : error.description();
    }
    std::string movieInfo(const URL& url, const ReadableFolder& grant) {
        Error error;
        if (MovieInfo::read(url.filePath(), grant, &error))
            return kRead;
        return error.code == kURLErrorNoPermissionsToReadFile ? kRefused : error.description();
    }
    // The targets are all media the demuxers read, so nothing read means refused.
    std::string movieDemuxer(const URL& url, const ReadableFolder& grant) {
        std::string why;
        return demuxMovie(url.filePath(), grant, "mov,mp4", why) ? kRead : kRefused;
    }
    std::string soundDemuxer(const URL& url, const ReadableFolder& grant) {
        return demuxCompressedSound(url.filePath(), grant, "mp3") ? kRead : kRefused;
    }

    // ---- The connection: reads no file at all, and never offers a file: target on ----
    std::string connection(const URL& url, const ReadableFolder&) {
        auto delegate = std::make_shared<nettest::RecordingDelegate>();
        URLConnection::create(URLRequest(url), delegate);
        EXPECT_TRUE(clock_.runUntil([&] { return delegate->ended(); }));
        // The caller's own first request is asked about as always; no file: target beyond it.
        for (const auto& offered : delegate->offeredURLs)
            if (auto parsed = URL::parse(offered);
                parsed && parsed->isFileURL() && offered != url.absoluteString())
                return "offered " + offered;
        if (delegate->finished)
            return delegate->body.find(kMark) != std::string::npos ? kRead : "finished";
        return delegate->error->code == kURLErrorNoPermissionsToReadFile
                   ? kRefused
                   : "fail " + std::to_string(delegate->error->code);
    }

    fwtest::LoopbackServices services;
    const fs::path adFolder = home_ / "Library" / "Caches" / "ad";
    const fs::path documents = home_ / "Documents";
    int served_ = 0;
};

TEST_F(LocalFileReaders, EachReadsOnlyItsGrantedFolderWhateverTheRoute) {
    using Read = std::string (LocalFileReaders::*)(const URL&, const ReadableFolder&);
    struct Reader {
        const char* name;
        const char* file; // the kind of file it reads
        bool network;     // takes http(s) URLs too, so a redirect can reach it
        bool readsFiles;  // false: reads no local file, whatever it is granted
        Read read;
    };
    const Reader readers[] = {
        {"web view load", "page.html", true, true, &LocalFileReaders::webViewLoad},
        {"web view load for a page", "page.html", true, true, &LocalFileReaders::webViewLoadForPage},
        {"page navigation", "page.html", true, true, &LocalFileReaders::pageNavigation},
        {"page script", "script.js", true, true, &LocalFileReaders::pageScript},
        {"page image", "image.gif", true, true, &LocalFileReaders::pageImage},
        {"movie player", "clip.mov", true, true, &LocalFileReaders::moviePlayer},
        {"audio file reader", "tone.wav", false, true, &LocalFileReaders::audioFile},
        {"sound player", "tone.wav", false, true, &LocalFileReaders::audioPlayer},
        {"movie facts", "clip.mov", false, true, &LocalFileReaders::movieInfo},
        {"movie demuxer", "clip.mov", false, true, &LocalFileReaders::movieDemuxer},
        {"compressed sound demuxer", "silence.mp3", false, true, &LocalFileReaders::soundDemuxer},
        {"URL connection", "page.html", true, false, &LocalFileReaders::connection},
    };
    struct Target {
        const char* name;
        std::function<URL(const std::string& file)> url;
        bool granted; // the reader is granted the ad's folder (else nothing)
        bool inside;
    };
    const std::string ad = adFolder.string();
    const std::string docs = documents.string();
    const Target targets[] = {
        {"the granted folder's own file", [&](const std::string& f) { return URL::fileURL(adFolder / f); },
         true, true},
        {"a reader granted nothing", [&](const std::string& f) { return URL::fileURL(adFolder / f); }, false,
         false},
        {"the person's file in Documents", [&](const std::string& f) { return URL::fileURL(documents / f); },
         true, false},
        {"climbing out of the folder",
         [&](const std::string& f) { return *URL::parse("file://" + ad + "/../../../Documents/" + f); }, true,
         false},
        {"a link inside leading out",
         [&](const std::string& f) { return URL::fileURL(adFolder / ("link-" + f)); }, true, false},
        {"upper-case scheme", [&](const std::string& f) { return *URL::parse("FILE://" + docs + "/" + f); },
         true, false},
    };
    for (const auto& reader : readers) {
        for (Route route : {Route::Direct, Route::ReplyField, Route::Redirect}) {
            if (route == Route::Redirect && !reader.network)
                continue;
            for (const auto& target : targets) {
                SCOPED_TRACE(std::string(reader.name) + ", " + routeName(route) + ", " + target.name);
                const ReadableFolder grant = target.granted ? ReadableFolder(adFolder) : ReadableFolder();
                const bool reads = reader.readsFiles && target.inside && route != Route::Redirect;
                const URL url = routed(target.url(reader.file), route);
                EXPECT_EQ((this->*reader.read)(url, grant), reads ? kRead : kRefused);
            }
        }
    }
}

// A folder of the app's in the home that is reached through a link (someone put a link at its
// name, or at a folder's above it) grants nothing, even for what lies behind the link; the
// same files granted by their own folder read as ever.
TEST_F(LocalFileReaders, AGrantedFolderReachedThroughALinkGrantsNothing) {
    const URL page = URL::fileURL(documents / "page.html");
    EXPECT_TRUE(ReadableFolder(documents).allows(page));
    const fs::path linkedAd = home_ / "Library" / "Caches" / "linked-ad";
    fs::create_symlink(documents, linkedAd);
    EXPECT_FALSE(ReadableFolder(linkedAd).allows(URL::fileURL(linkedAd / "page.html")));
    const fs::path linkedCaches = home_ / "Library" / "linked-caches";
    fs::create_symlink(home_ / "Library" / "Caches", linkedCaches);
    EXPECT_FALSE(ReadableFolder(linkedCaches / "ad").allows(URL::fileURL(linkedCaches / "ad" / "page.html")));
    EXPECT_TRUE(ReadableFolder(adFolder).allows(URL::fileURL(adFolder / "page.html")));
}

} // namespace
