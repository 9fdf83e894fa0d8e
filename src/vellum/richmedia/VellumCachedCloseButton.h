#pragma once
// Custom close buttons: the button record (VellumCachedCloseButton), the SQLite table that
// lists the installed buttons (VellumCachedCloseButtonDatabase, which is also the ad
// server's close-button catalog), and the loader that downloads one bundle, unpacks it into
// the close-button cache and enters the button from its property list
// (VellumCachedCloseButtonLoader). The slot view looks a button up by name when it places it.
//
// Ownership: one shared database per process (create(); resetForTesting() drops it); a loader
// is kept alive by its connection until the download ends. Main thread only. A loader that
// was stopped (application terminating) ignores later connection callbacks.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Value.h"
#include "platform/net/URLConnection.h"
#include "platform/ui/Image.h"
#include "vellum/richmedia/BundleFile.h"
#include "vellum/richmedia/VellumAdServer.h"
#include "vellum/tracking/MRSQLite3DB.h"

namespace vellum {

// Corner placements of a close button.
inline constexpr const char* MRCloseButtonUpperRight = "MRCloseButtonUpperRight";
inline constexpr const char* MRCloseButtonLowerRight = "MRCloseButtonLowerRight";
inline constexpr const char* MRCloseButtonUpperLeft = "MRCloseButtonUpperLeft";

// One custom close button: the horizontal values serve landscape interstitials, the vertical
// ones portrait ones.
struct VellumCachedCloseButton {
    std::optional<std::string> closebuttonName;
    std::optional<std::string> horizonalImageName;
    std::optional<std::string> horizonalHitImageName;
    int horizonalCornerPlacement = 0;
    int horizonalWidth = 0;
    int horizonalHeight = 0;
    int horizonalCornerOffsetX = 0;
    int horizonalCornerOffsetY = 0;
    int horizonalHitX1 = 0;
    int horizonalHitY1 = 0;
    int horizonalHitX2 = 0;
    int horizonalHitY2 = 0;
    std::optional<std::string> verticalImageName;
    std::optional<std::string> verticalHitImageName;
    int verticalCornerPlacement = 0;
    int verticalWidth = 0;
    int verticalHeight = 0;
    int verticalCornerOffsetX = 0;
    int verticalCornerOffsetY = 0;
    int verticalHitX1 = 0;
    int verticalHitY1 = 0;
    int verticalHitX2 = 0;
    int verticalHitY2 = 0;

    // Placement number of a placement name; any other text is 3.
    static int closebuttonCornerPlacement(std::string_view name);
    // A record named `name` from a bundle's property list.
    static VellumCachedCloseButton fromPropertyList(const std::string& name, const platform::Dictionary& plist);
};

// The folder of the unpacked close-button bundle `name`; nullopt when the name is not one
// safe path component.
std::optional<std::string> closeButtonFolder(const std::string& name);
// The image file `name` of a close-button folder; null when missing, undecodable or when the
// name leaves the folder.
std::shared_ptr<platform::Image> closeButtonImage(const std::string& folder, const std::optional<std::string>& name);

class VellumCachedCloseButtonDatabase : public MRSQLite3DB, public VellumCloseButtonCatalog {
public:
    static constexpr const char* kDatabaseName = "MRCloseButtonCache";
    static constexpr const char* kSubfolder = "Vellum/MRCloseButtonCache";
    static constexpr const char* kDatabaseFileName = "MRCloseButtonCache.sql";

    // True for a name that begins with the store's file name: the store and its companions
    // take such names in the close-button folder, so no button's folder may.
    static bool isStoreFileName(std::string_view name) {
        return name.substr(0, std::string_view(kDatabaseFileName).size()) == kDatabaseFileName;
    }

    static std::shared_ptr<VellumCachedCloseButtonDatabase> create();
    static std::shared_ptr<VellumCachedCloseButtonDatabase> existing();
    static void resetForTesting();

    bool createTables() { return createCloseButtonsTable(); }
    bool createCloseButtonsTable();
    // A name already in the table fails: the stored row stays.
    bool insertCachedCloseButton(const VellumCachedCloseButton& button);
    std::optional<VellumCachedCloseButton> closebuttonWithName(const std::string& name);
    std::optional<std::vector<VellumCachedCloseButton>> retrieveAllCloseButtons();

    // The ad server's catalog.
    bool hasCloseButtonNamed(std::string_view name) const override;
    void downloadCloseButton(const std::string& name, const platform::URL& url) override;

private:
    VellumCachedCloseButtonDatabase();
};

class VellumCachedCloseButtonLoader : public platform::URLConnectionDelegate,
                                      public std::enable_shared_from_this<VellumCachedCloseButtonLoader> {
public:
    static constexpr std::int64_t kMaxBundleBytes = 8 * 1024 * 1024;
    static constexpr const char* kFetchFailEvent = "MRADCloseButtonFetchFail";

    static std::shared_ptr<VellumCachedCloseButtonLoader> create();
    ~VellumCachedCloseButtonLoader() override;

    bool downloadCloseButton(const std::string& name, const platform::URL& url);
    bool processDownloadedCloseButtonBundle();
    bool updateDatabaseWithCloseButtonsPlistFile();
    void setStopped(bool stopped);

    std::string closebuttonName;
    // The downloaded bundle's temporary file, while the load runs.
    const std::optional<std::string>& filePath() const { return file_.path(); }
    bool loading = false;
    bool stopped() const { return stopped_; }

    void connectionDidReceiveResponse(platform::URLConnection&, const platform::URLResponse&) override;
    void connectionDidReceiveData(platform::URLConnection&, const platform::Data&) override;
    void connectionDidFinishLoading(platform::URLConnection&) override;
    void connectionDidFailWithError(platform::URLConnection&, const platform::Error&) override;

private:
    VellumCachedCloseButtonLoader() = default;
    void endLoad(bool ok);

    bool stopped_ = false;
    BundleFile file_;
    std::shared_ptr<platform::URLConnection> connection_;
    std::optional<platform::NotificationCenter::ObserverToken> terminateToken_;
};

} // namespace vellum
