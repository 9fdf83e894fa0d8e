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

#include "vellum/tracking/MRSlotZeroResponse.h"
#include "vellum/tracking/TBinaryProtocol.h"
#include "vellum/tracking/TNSDataTransport.h"

namespace services {
namespace {

constexpr unsigned long kUnixVersionMadeBy = (3ul << 8) | 20ul;
constexpr unsigned long kRegularFileMode = 0100644;
constexpr unsigned long kLinkMode = 0120777;
constexpr const char* kDemoAdID = "vellum-demo-ad";

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
    const std::string archive = makeZipArchive({{name + "/", ""}, {name + "/close.png", "PNG"}});
    for (auto root : {kVellumCloseButtonsPath, kVellumTestCloseButtonsPath})
        host_.handle("GET", std::string(root) + name + ".zip", [archive](const LoggedRequest&) {
            return ServiceReply{200, archive, "application/zip", {}};
        });
}

void installVellumAdEndpoints(ServiceHost& host) {
    VellumAdService service(host);
    const std::string bundle = service.addAdBundle(kDemoAdID);
    service.setOffers(
        {{kDemoAdID, 1, bundle,
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
          "<key>adID</key><string>vellum-demo-ad</string><key>adSlotType</key><integer>3</integer>"
          "<key>mainFile</key><string>index.html</string></dict></plist>"}});
    service.addCloseButton("PageCurlCornerCloseAd1");
}

} // namespace services
