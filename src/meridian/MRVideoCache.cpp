#include "meridian/MRVideoCache.h"

#include <system_error>

#include "meridian/MRCommon.h"
#include "meridian/MRHandshake.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Numbers.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/PropertyList.h"
#include "platform/net/URLError.h"
#include "platform/runloop/Clock.h"

namespace meridian {

namespace {

constexpr std::string_view kSDKFolder = "mrsdk";

bool isAlphanumeric(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// Whether `name` is one of the SDK's own files in the cache folder (the handshake's state, the
// marker). A video file may never take one of these names.
bool isSDKFileName(std::string_view name) {
    return name == MRVideoCache::kMarkerFile || name == MRHandshake::statePath().filename().string();
}

} // namespace

std::filesystem::path MRVideoCache::cacheFolder() {
    return platform::DeviceHome::library() / kSDKFolder;
}

bool MRVideoCache::cacheFolderIsOwn() { return platform::DeviceHome::isOwnFolder(cacheFolder()); }

std::filesystem::path MRVideoCache::markerPath() {
    return cacheFolder() / kMarkerFile;
}

std::optional<std::string> MRVideoCache::safeVideoId(std::string_view vid) {
    if (vid.empty() || vid.size() > kMaximumIdLength || vid.front() == '.')
        return std::nullopt;
    for (char c : vid)
        if (!isAlphanumeric(c) && c != '-' && c != '_' && c != '.')
            return std::nullopt;
    return std::string(vid);
}

std::optional<std::string> MRVideoCache::videoExtension(const std::optional<platform::URL>& url) {
    // Videos come from the network only: a local file or another scheme is no video address.
    if (!url || (url->scheme() != "http" && url->scheme() != "https"))
        return std::nullopt;
    std::string extension = std::filesystem::path(url->path()).extension().string();
    if (!extension.empty())
        extension.erase(0, 1);
    if (extension.size() > kMaximumExtensionLength || extension == kArchiveExtension ||
        "." + extension == MRURLDownload::kPartialSuffix)
        return std::nullopt;
    for (char c : extension)
        if (!isAlphanumeric(c))
            return std::nullopt;
    return extension;
}

bool MRVideoCache::takeVideoOf(const MRJSONAd& ad) {
    auto vid = safeVideoId(ad.videoId());
    auto extension = videoExtension(ad.videoContentURL());
    if (!vid || !extension || isSDKFileName(*vid + "." + *extension))
        return false;
    id_ = *vid;
    url_ = ad.videoContentURL();
    experation_ = ad.videoExpirationDate();
    localPath_ = (cacheFolder() / (id_ + "." + *extension)).string();
    return true;
}

std::shared_ptr<MRVideoCache> MRVideoCache::initWithAd(const std::shared_ptr<MRJSONAd>& ad) {
    if (!ad)
        return nullptr;
    std::shared_ptr<MRVideoCache> record(new MRVideoCache());
    if (!record->takeVideoOf(*ad)) {
        mrLog("Video refused: its id or address cannot name a cache file");
        return nullptr;
    }
    record->ad_ = ad;
    record->downloadFinished_ = false;
    record->numPlays_ = 0;
    return record;
}

const platform::CodingClasses& MRVideoCache::codingClasses() {
    static const platform::CodingClasses classes = [] {
        platform::CodingClasses c;
        c.add<MRVideoCache>();
        c.add<MRJSONAd>();
        c.add<MRJSONVideoButton>();
        return c;
    }();
    return classes;
}

std::shared_ptr<MRVideoCache> MRVideoCache::loadFromArchive(std::string_view vid) {
    auto safe = safeVideoId(vid);
    if (!safe)
        return nullptr;
    auto path = cacheFolder() / (*safe + "." + std::string(kArchiveExtension));
    if (!platform::FileManager::fileExists(path))
        return nullptr;
    return platform::KeyedUnarchiver::unarchiveObjectOfClassWithFile<MRVideoCache>(path, codingClasses());
}

bool MRVideoCache::cacheExists(std::string_view vid) {
    return loadFromArchive(vid) != nullptr;
}

std::vector<std::filesystem::path> MRVideoCache::cachedVideoPaths() {
    std::vector<std::filesystem::path> paths;
    if (!cacheFolderIsOwn())
        return paths;
    auto names = platform::FileManager::contentsOfDirectory(cacheFolder());
    if (!names)
        return paths;
    for (const auto& name : *names) {
        std::filesystem::path entry = cacheFolder() / name;
        if (entry.extension() == "." + std::string(kArchiveExtension))
            paths.push_back(entry);
    }
    return paths;
}

void MRVideoCache::removeExpiredCaches() {
    for (const auto& path : cachedVideoPaths()) {
        auto record =
            platform::KeyedUnarchiver::unarchiveObjectOfClassWithFile<MRVideoCache>(path, codingClasses());
        if (record && record->isCacheExpired())
            record->removeCache();
    }
    removeStalePartialFiles();
}

void MRVideoCache::removeStalePartialFiles() {
    if (!cacheFolderIsOwn())
        return;
    auto names = platform::FileManager::contentsOfDirectory(cacheFolder());
    if (!names)
        return;
    const std::string suffix(MRURLDownload::kPartialSuffix);
    for (const auto& name : *names) {
        if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        auto partial = cacheFolder() / name;
        auto target = cacheFolder() / name.substr(0, name.size() - suffix.size());
        if (MRURLDownload::isDownloading(target))
            continue;
        // Nothing resumes a partial file that has reached the cap, nor one whose file is whole.
        std::error_code ec;
        auto size = std::filesystem::file_size(partial, ec);
        bool full = !ec && size >= static_cast<std::uintmax_t>(MRURLDownload::maximumFileBytes());
        if (full || platform::FileManager::fileExists(target))
            platform::FileManager::removeItem(partial);
    }
}

std::filesystem::path MRVideoCache::localFilePath() const {
    auto extension = videoExtension(url_);
    return cacheFolder() / (id_ + "." + extension.value_or(""));
}

std::filesystem::path MRVideoCache::archivedFilePath() const {
    return cacheFolder() / (id_ + "." + std::string(kArchiveExtension));
}

bool MRVideoCache::save() {
    if (!safeVideoId(id_))
        return false;
    if (!platform::DeviceHome::makeOwnFolder(cacheFolder()))
        return false;
    platform::Error error;
    if (!platform::KeyedArchiver::archiveRootObject(*this, archivedFilePath(), &error)) {
        mrLog("Could not save the video record " + id_ + ": " + error.localizedDescription);
        return false;
    }
    return true;
}

void MRVideoCache::removeCache() {
    if (!safeVideoId(id_) || !cacheFolderIsOwn())
        return;
    platform::FileManager::removeItem(archivedFilePath());
    // The local path comes from the archive: only a file inside the cache folder is deleted.
    std::filesystem::path local(localPath_);
    if (local.parent_path() == cacheFolder() && safeVideoId(local.filename().string()) &&
        !isSDKFileName(local.filename().string())) {
        platform::FileManager::removeItem(local);
        // A download of an expired video is never resumed.
        if (!MRURLDownload::isDownloading(local)) {
            local += MRURLDownload::kPartialSuffix;
            platform::FileManager::removeItem(local);
        }
    }
}

bool MRVideoCache::isDownloadComplete() const {
    return downloadFinished_ && !localPath_.empty() && platform::FileManager::fileExists(localPath_);
}

bool MRVideoCache::isCacheExpired() const {
    return experation_ && experation_->secondsSince1970 < platform::Clock::current().now();
}

void MRVideoCache::incrementNumPlaysBy(int n) {
    numPlays_ = platform::saturatingCast<int>(static_cast<std::int64_t>(numPlays_.value_or(0)) + n);
}

void MRVideoCache::updateWithNewAd(const std::shared_ptr<MRJSONAd>& ad) {
    if (!ad)
        return;
    if (ad_ && ad->videoId() == id_) {
        const auto& fresh = ad->videoButtons();
        const auto& kept = ad_->videoButtons();
        bool same = fresh && kept && fresh->size() == kept->size();
        for (std::size_t i = 0; same && i < fresh->size(); ++i)
            same = (*fresh)[i]->isEqualToVideoButton(*(*kept)[i]);
        if (same)
            ad->updateAdWithAd(*ad_);
    }
    if (!ad->buttonsHaveBeenDownloaded())
        ad->downloadButtons(saveWhenAPictureArrives());
    auto previous = *this;
    if (!takeVideoOf(*ad)) {
        // A reply whose id or address cannot name a file leaves the record as it was.
        *this = previous;
        return;
    }
    ad_ = ad;
    save();
}

void MRVideoCache::startOrFinishDownloadWithDelegate(std::weak_ptr<MRURLDownloadDelegate> delegate) {
    if (ad_ && !ad_->buttonsHaveBeenDownloaded())
        ad_->downloadButtons(saveWhenAPictureArrives());
    if (!url_)
        return;
    MRURLDownload::create(*url_, localPath_, std::move(delegate), shared_from_this());
}

std::function<void()> MRVideoCache::saveWhenAPictureArrives() {
    // A button's picture arrives after the record was saved: the archive must carry its bytes.
    std::weak_ptr<MRVideoCache> weak = weak_from_this();
    return [weak] {
        if (auto self = weak.lock())
            self->save();
    };
}

void MRVideoCache::restartDownloadWithDelegate(std::weak_ptr<MRURLDownloadDelegate> delegate) {
    if (!cacheFolderIsOwn() || std::filesystem::path(localPath_).parent_path() != cacheFolder())
        return startOrFinishDownloadWithDelegate(std::move(delegate)); // fails without the folder
    std::error_code ec;
    std::filesystem::remove(localPath_, ec);
    std::filesystem::path partial(localPath_);
    partial += MRURLDownload::kPartialSuffix;
    std::filesystem::remove(partial, ec);
    startOrFinishDownloadWithDelegate(std::move(delegate));
}

void MRVideoCache::downloadDidFinish(MRURLDownload&) {
    downloadFinished_ = true;
    platform::Error error;
    platform::Dictionary marker{{std::string(kMarkerKey), id_}};
    if (!cacheFolderIsOwn() || !platform::writePropertyListFile(markerPath(), platform::Value(std::move(marker)), &error))
        mrLog("Could not write the video marker: " + error.localizedDescription);
    save();
    platform::NotificationCenter::defaultCenter().post(kMRCachingEndedNotification);
}

void MRVideoCache::downloadDidFail(MRURLDownload&, const platform::Error& error) {
    // A download cancelled for a newer one of the same file is no end of caching: the newer
    // one posts it.
    if (error.code != platform::kURLErrorCancelled)
        platform::NotificationCenter::defaultCenter().post(kMRCachingEndedNotification);
}

void MRVideoCache::encodeWithCoder(platform::KeyedArchiver& coder) const {
    coder.encodeObject(ad_ ? platform::ArchivedValue(std::shared_ptr<const platform::Coding>(ad_))
                           : platform::ArchivedValue(),
                       "ad");
    coder.encodeObject(id_, "vid");
    coder.encodeObject(url_ ? platform::ArchivedValue(*url_) : platform::ArchivedValue(), "url");
    coder.encodeObject(experation_ ? platform::ArchivedValue(*experation_) : platform::ArchivedValue(), "experation");
    coder.encodeObject(localPath_, "localPath");
    coder.encodeBool(downloadFinished_, "downloadFinished");
    coder.encodeObject(numPlays_ ? platform::ArchivedValue(*numPlays_) : platform::ArchivedValue(), "numPlays");
}

std::shared_ptr<MRVideoCache> MRVideoCache::initWithCoder(platform::KeyedUnarchiver& coder) {
    std::shared_ptr<MRVideoCache> record(new MRVideoCache());
    record->setAd(coder.decodeObjectOfClassForKey<MRJSONAd>("ad"));
    auto vidValue = coder.decodeObjectForKey("vid");
    const auto* vid = vidValue.string();
    // A record without a usable id names no files: it is no record.
    if (!vid || !safeVideoId(*vid))
        return nullptr;
    record->setVid(*vid);
    auto url = coder.decodeObjectForKey("url");
    if (const auto* u = url.url())
        record->setUrl(mrResolveCachedURL(*u));
    if (record->ad_)
        record->ad_->resolveCachedAddresses();
    record->setExperation(coder.decodeObjectForKey("experation").date());
    // The archived path is used only when it names this video's file in the cache folder (the
    // archive may come from another home folder, or have been tampered with).
    auto localPathValue = coder.decodeObjectForKey("localPath");
    const auto* path = localPathValue.string();
    // A record whose video would be one of the SDK's own files (or the cache's own kinds of
    // file) is no record: playing, restarting or expiring it would replace or delete that file.
    if (!videoExtension(record->url_) || isSDKFileName(record->localFilePath().filename().string()))
        return nullptr;
    auto expected = record->localFilePath().string();
    record->setLocalPath(path && *path == expected ? *path : expected);
    record->setDownloadFinished(coder.decodeBoolForKey("downloadFinished"));
    auto plays = coder.decodeObjectForKey("numPlays").integer();
    record->setNumPlays(plays ? std::optional<int>(platform::saturatingCast<int>(*plays)) : std::nullopt);
    return record;
}

} // namespace meridian
