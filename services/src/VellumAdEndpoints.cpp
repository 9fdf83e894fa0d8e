#include "services/VellumAdEndpoints.h"

#include <minizip/zip.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>

#include "platform/foundation/Base64.h"
#include "vellum/tracking/MRSlotZeroResponse.h"
#include "vellum/tracking/TBinaryProtocol.h"
#include "vellum/tracking/TNSDataTransport.h"

namespace services {
namespace {

constexpr unsigned long kUnixVersionMadeBy = (3ul << 8) | 20ul;
constexpr unsigned long kRegularFileMode = 0100644;
constexpr unsigned long kLinkMode = 0120777;
constexpr const char* kDemoAdID = "vellum-demo-ad";
constexpr const char* kDemoRichAdID = "vellum-rich-ad";
constexpr const char* kDemoCloseButton = "PageCurlCornerCloseAd1";
// The demo rich-media ad's movie, written by the build with the other sample media.
constexpr const char* kDemoMovie = "movie.mov";
// A 1 by 1 transparent PNG: the demo close button's picture.
constexpr const char* kTinyPNG =
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAQAAAC1HAwCAAAAC0lEQVR42mNkYAAAAAYAAjCB0C8AAAAASUVORK5CYII=";

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A tenth of a second of 16-bit mono sound at 8 kHz, as a WAV file.
std::string shortSound() {
    constexpr std::uint32_t kFrames = 800;
    std::string out = "RIFF";
    auto u32 = [&](std::uint32_t v) { out.append(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](std::uint16_t v) { out.append(reinterpret_cast<const char*>(&v), 2); };
    u32(36 + kFrames * 2);
    out += "WAVEfmt ";
    u32(16), u16(1), u16(1), u32(8000), u32(16000), u16(2), u16(16);
    out += "data";
    u32(kFrames * 2);
    for (std::uint32_t i = 0; i < kFrames; ++i)
        u16(static_cast<std::uint16_t>((i % 16) * 1000));
    return out;
}

std::string plist(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>" + body + "</dict></plist>";
}

std::string encodeReply(const std::vector<VellumAdOffer>& offers,
                        const std::optional<std::string>& appSettings) {
    std::vector<vellum::MRAdDownload> downloads;
    for (const auto& offer : offers) {
        vellum::MRAdDownload d;
        d.setAdID(offer.adID);
        d.setAdVersion(offer.adVersion);
        d.setBundleURL(offer.bundleURL);
        if (!offer.adControlPlist.empty())
            d.setAdControlPlist(offer.adControlPlist);
        downloads.push_back(std::move(d));
    }
    vellum::MRSlotZeroResponse reply;
    reply.setAdDownloads(std::move(downloads));
    if (appSettings)
        reply.setAppSettings(*appSettings);
    std::vector<std::uint8_t> bytes;
    {
        auto transport = std::make_shared<vellum::TNSDataTransport>(bytes);
        vellum::TBinaryProtocol protocol(transport);
        reply.write(protocol);
    }
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

std::string makeZipArchive(const std::vector<ZipEntry>& entries) {
    char pattern[] = "/tmp/fw-zip-XXXXXX";
    const int fd = ::mkstemp(pattern);
    if (fd < 0)
        return {};
    ::close(fd);
    const std::string path = pattern;
    bool ok = true;
    if (zipFile zip = zipOpen(path.c_str(), APPEND_STATUS_CREATE)) {
        for (const auto& entry : entries) {
            zip_fileinfo info{};
            info.external_fa = (entry.symbolicLink ? kLinkMode : kRegularFileMode) << 16;
            const bool isFolder = !entry.name.empty() && entry.name.back() == '/';
            ok = ok && zipOpenNewFileInZip4(zip, entry.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                            isFolder ? 0 : Z_DEFLATED, isFolder ? 0 : Z_DEFAULT_COMPRESSION,
                                            0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0,
                                            kUnixVersionMadeBy, 0) == ZIP_OK;
            if (ok && !entry.content.empty())
                ok = zipWriteInFileInZip(zip, entry.content.data(),
                                         static_cast<unsigned>(entry.content.size())) == ZIP_OK;
            ok = ok && zipCloseFileInZip(zip) == ZIP_OK;
        }
        ok = zipClose(zip, nullptr) == ZIP_OK && ok;
    } else {
        ok = false;
    }
    std::string bytes;
    if (ok) {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return bytes;
}

struct VellumAdService::State {
    std::mutex mutex;
    std::string reply = encodeReply({}, std::nullopt);
};

VellumAdService::VellumAdService(ServiceHost& host) : host_(host), state_(std::make_shared<State>()) {
    auto state = state_;
    for (auto path : {kVellumAdPath, kVellumAdTestPath, kVellumAdStagingPath})
        host_.handle("GET", std::string(path), [state](const LoggedRequest&) {
            std::lock_guard lock(state->mutex);
            return ServiceReply{200, state->reply, "application/octet-stream", {}};
        });
}

VellumAdService::~VellumAdService() = default;

void VellumAdService::setOffers(std::vector<VellumAdOffer> offers, std::optional<std::string> appSettings) {
    auto bytes = encodeReply(offers, appSettings);
    std::lock_guard lock(state_->mutex);
    state_->reply = std::move(bytes);
}

void VellumAdService::replyWithBytes(std::string bytes) {
    std::lock_guard lock(state_->mutex);
    state_->reply = std::move(bytes);
}

std::string VellumAdService::addBundle(const std::string& name, const std::vector<ZipEntry>& entries) {
    const std::string path = std::string(kVellumBundlesPath) + name + ".zip";
    host_.handle("GET", path, [archive = makeZipArchive(entries)](const LoggedRequest&) {
        return ServiceReply{200, archive, "application/zip", {}};
    });
    return host_.url(path);
}

std::string VellumAdService::addAdBundle(const std::string& adID) {
    return addBundle(adID, {{adID + "/", ""},
                            {adID + "/index.html", "<html><body>" + adID + "</body></html>"},
                            {"__MACOSX/" + adID + "/._index.html", "metadata"}});
}

void VellumAdService::addCloseButton(const std::string& name) {
    const auto png = platform::base64Decode(kTinyPNG).value_or(platform::Data{});
    const std::string description = plist(
        "<key>horizonalcornerplacement</key><string>MRCloseButtonUpperRight</string>"
        "<key>verticalAdAsset </key><string>close.png</string><key>verticalHitAsset</key><string>close.png</string>"
        "<key>horizonalAdAsset</key><string>close.png</string><key>horizonalHitAsset</key><string>close.png</string>"
        "<key>verticalWidth</key><integer>40</integer><key>verticalHeight</key><integer>40</integer>"
        "<key>verticalCornerOffsetX</key><integer>-40</integer><key>verticalCornerOffsetY</key><integer>0</integer>"
        "<key>verticallHitX2</key><integer>40</integer><key>verticallHitY2</key><integer>40</integer>"
        "<key>horizonalWidth</key><integer>40</integer><key>horizonalHeight</key><integer>40</integer>"
        "<key>horizonalHitX2</key><integer>40</integer><key>horizonalHitY2</key><integer>40</integer>");
    const std::string archive = makeZipArchive({{name + "/", ""},
                                                {name + "/" + name + ".plist", description},
                                                {name + "/close.png", std::string(png.begin(), png.end())}});
    for (auto root : {kVellumCloseButtonsPath, kVellumTestCloseButtonsPath})
        host_.handle("GET", std::string(root) + name + ".zip", [archive](const LoggedRequest&) {
            return ServiceReply{200, archive, "application/zip", {}};
        });
}

std::string VellumAdService::addRichAdBundle(const std::string& adID) {
    const std::filesystem::path pages = std::filesystem::path(host_.fixturesDir()) / "vellum" / "rich-ad";
    return addBundle(adID, {{adID + "/", ""},
                            {adID + "/index.html", readFile(pages / "index.html")},
                            {adID + "/expand.html", readFile(pages / "expand.html")},
                            {adID + "/mrbridge.js", readFile(FW_MRBRIDGE_JS)},
                            {adID + "/ping.wav", shortSound()},
                            {adID + "/" + kDemoMovie, readFile(FW_DEMO_MOVIE)}});
}

std::string VellumAdService::richAdControlPlist(const std::string& adID, const std::string& clickThroughURL,
                                                const std::string& pixelURL, const std::string& closeButton) {
    return plist("<key>adID</key><string>" + adID + "</string>"
                 "<key>adSlotType</key><integer>3</integer><key>adType</key><integer>3</integer>"
                 "<key>width</key><integer>320</integer><key>height</key><integer>50</integer>"
                 "<key>mainFile</key><string>index.html</string>"
                 // An ad without an end date counts as expired for slot selection.
                 "<key>endDate</key><date>2099-12-31T00:00:00Z</date>"
                 "<key>expandedMainFile</key><string>expand.html</string>"
                 "<key>expandedWidth</key><integer>320</integer><key>expandedHeight</key><integer>300</integer>"
                 "<key>expandedTitle</key><string>Vellum demo</string>"
                 "<key>displaysCloseButton</key><true/>"
                 "<key>closeButtonLibID</key><string>" + closeButton + "</string>"
                 "<key>clickThroughURLString</key><string>" + clickThroughURL + "</string>"
                 "<key>trackingPixels</key><array><string>" + pixelURL + "</string></array>");
}

void installVellumAdEndpoints(ServiceHost& host) {
    VellumAdService service(host);
    const std::string bundle = service.addAdBundle(kDemoAdID);
    const std::string rich = service.addRichAdBundle(kDemoRichAdID);
    service.setOffers(
        {{kDemoAdID, 1, bundle,
          plist("<key>adID</key><string>vellum-demo-ad</string><key>adSlotType</key><integer>3</integer>"
                "<key>mainFile</key><string>index.html</string>")},
         {kDemoRichAdID, 1, rich,
          VellumAdService::richAdControlPlist(kDemoRichAdID, host.url("/vellum/landing"),
                                              host.url("/vellum/pixel?d=[MR_DEVICEID]"), kDemoCloseButton)}});
    service.addCloseButton(kDemoCloseButton);
    host.handle("GET", "/vellum/pixel", [](const LoggedRequest&) {
        return ServiceReply{200, "", "image/gif", {}};
    });
    host.handle("GET", "/vellum/landing", [](const LoggedRequest&) {
        return ServiceReply{200, "<html><head><title>Vellum landing</title></head><body>Thanks</body></html>",
                            "text/html", {}};
    });
}

} // namespace services
