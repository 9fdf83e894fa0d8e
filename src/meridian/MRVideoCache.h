#pragma once
// MRVideoCache: the cache record of one video ad, and the files of the video cache.
//
// Video ads are never streamed: the first reply for a video downloads its file into the
// folder "mrsdk" under the Library folder ("<id>.<extension>"); when the download has finished
// the record is archived next to it ("<id>.mrarchive", a keyed archive of the record with its
// ad) and the marker file "mrsdk/cachedVideo.plist" names the video as due
// ("needToPlayVideo"). A later ad request finds the marker and plays the file from disk.
// Records and files are deleted only by the sweep of expired records (`removeExpiredCaches`).
//
// Names: a video address must be http or https. A video id becomes a file name only when it is one safe path component (letters,
// digits, "-", "_" and ".", not starting with a dot, at most kMaximumIdLength characters) and
// the extension of the video address's path is letters and digits only (at most
// kMaximumExtensionLength, neither "mrarchive" nor "part"), and the file name is none of the
// SDK's own files in the folder ("mrhandshake.archive", "cachedVideo.plist"); otherwise there
// is no record (`initWithAd` answers nullptr) and
// nothing of it touches the disk. An archive that cannot be read as a record (damaged or
// foreign) reads as no record.
//
// Ownership: a record is shared by the video view that plays it and by the download that
// fills its file (MRURLDownload holds it as its owner until the download ends), so a download
// that finishes after its ad view is gone still completes its record. Main thread only.
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "meridian/MRJSONAd.h"
#include "meridian/MRURLDownload.h"
#include "platform/archive/KeyedArchiver.h"

namespace meridian {

class MRVideoCache : public MRURLDownloadDelegate,
                     public platform::Coding,
                     public std::enable_shared_from_this<MRVideoCache> {
public:
    static constexpr std::string_view kCodingClassName = "MRVideoCache";
    static constexpr std::string_view kArchiveExtension = "mrarchive";
    static constexpr std::string_view kMarkerFile = "cachedVideo.plist";
    static constexpr std::string_view kMarkerKey = "needToPlayVideo";
    static constexpr std::size_t kMaximumIdLength = 128;
    static constexpr std::size_t kMaximumExtensionLength = 8;

    // initWithAd: a record of `ad`'s video; nullptr when its id or address cannot name a file.
    static std::shared_ptr<MRVideoCache> initWithAd(const std::shared_ptr<MRJSONAd>& ad);
    // The record archived for `vid`, or nullptr (no archive, unsafe id, unreadable archive).
    static std::shared_ptr<MRVideoCache> loadFromArchive(std::string_view vid);
    static bool cacheExists(std::string_view vid);
    // Full paths of the folder's entries ending in ".mrarchive".
    static std::vector<std::filesystem::path> cachedVideoPaths();
    // Deletes both files of every expired record, then the partial files nothing resumes.
    static void removeExpiredCaches();
    // Deletes the partial files of downloads that are not running and that no download can
    // resume: those that reached the size cap, and those whose video file is whole.
    static void removeStalePartialFiles();
    // The folder "mrsdk" under the Library folder, and the marker file in it.
    static std::filesystem::path cacheFolder();
    // Whether the cache folder is a real folder of the app's (no link at its name or a
    // parent's): without it nothing is cached, written or removed there, and videos fail.
    static bool cacheFolderIsOwn();
    static std::filesystem::path markerPath();
    // The video id a safe file name can be made of, else nullopt.
    static std::optional<std::string> safeVideoId(std::string_view vid);
    static std::shared_ptr<MRVideoCache> initWithCoder(platform::KeyedUnarchiver& coder);
    static const platform::CodingClasses& codingClasses();

    std::filesystem::path localFilePath() const;
    std::filesystem::path archivedFilePath() const;
    // Archives the record, replacing the file; answers whether it was written.
    bool save();
    // Deletes the archive, then the video file; errors are ignored.
    void removeCache();
    bool isDownloadComplete() const;
    bool isCacheExpired() const;
    void incrementNumPlaysBy(int n);
    // Refreshes the record from a new reply for the same video and saves it.
    void updateWithNewAd(const std::shared_ptr<MRJSONAd>& ad);
    // Builds the ad's buttons when needed, then downloads the video file; `delegate` hears
    // the end after this record has taken note of it.
    void startOrFinishDownloadWithDelegate(std::weak_ptr<MRURLDownloadDelegate> delegate);
    // Deletes the video file, then downloads it again.
    void restartDownloadWithDelegate(std::weak_ptr<MRURLDownloadDelegate> delegate);

    // The end of this record's download.
    void downloadDidFinish(MRURLDownload& download) override;
    void downloadDidFail(MRURLDownload& download, const platform::Error& error) override;

    const std::string& vid() const { return id_; }
    void setVid(std::string vid) { id_ = std::move(vid); }
    const std::optional<platform::URL>& url() const { return url_; }
    void setUrl(std::optional<platform::URL> url) { url_ = std::move(url); }
    bool downloadFinished() const { return downloadFinished_; }
    void setDownloadFinished(bool finished) { downloadFinished_ = finished; }
    const std::optional<int>& numPlays() const { return numPlays_; }
    void setNumPlays(std::optional<int> plays) { numPlays_ = plays; }
    const std::optional<platform::Date>& experation() const { return experation_; }
    void setExperation(std::optional<platform::Date> date) { experation_ = date; }
    const std::string& localPath() const { return localPath_; }
    void setLocalPath(std::string path) { localPath_ = std::move(path); }
    const std::shared_ptr<MRJSONAd>& ad() const { return ad_; }
    void setAd(std::shared_ptr<MRJSONAd> ad) { ad_ = std::move(ad); }

    std::string_view codingClassName() const override { return kCodingClassName; }
    void encodeWithCoder(platform::KeyedArchiver& coder) const override;

private:
    // Saves this record again when one of its ad's button pictures arrives.
    std::function<void()> saveWhenAPictureArrives();
    MRVideoCache() = default;
    // The extension of the video file, from the path of `url`; nullopt when it is unsafe.
    static std::optional<std::string> videoExtension(const std::optional<platform::URL>& url);
    // Takes the ad's id, address and date; false when they cannot name a file.
    bool takeVideoOf(const MRJSONAd& ad);

    std::string id_;
    std::optional<platform::URL> url_;
    bool downloadFinished_ = false;
    std::optional<int> numPlays_ = 0;
    std::optional<platform::Date> experation_;
    std::string localPath_;
    std::shared_ptr<MRJSONAd> ad_;
};

} // namespace meridian
