#include "vellum/richmedia/BundleFile.h"

#include <system_error>

#include "platform/foundation/DeviceHome.h"

namespace vellum {
namespace {

constexpr int kFirstSuccessStatus = 200;
constexpr int kLastSuccessStatus = 299;
// Stands for a failed write, which no HTTP status can be.
constexpr int kWriteFailed = -1;

} // namespace

bool BundleFile::open(const std::filesystem::path& path) {
    discard();
    if (!platform::DeviceHome::makeOwnFolder(path.parent_path()))
        return false;
    handle_ = std::fopen(path.c_str(), "wb");
    if (!handle_)
        return false;
    path_ = path.string();
    status_.reset();
    return true;
}

void BundleFile::restart(int status) {
    if (!handle_)
        return;
    status_ = status;
    handle_ = std::freopen(nullptr, "wb", handle_);
}

void BundleFile::append(const platform::Data& data) {
    if (handle_ && std::fwrite(data.data(), 1, data.size(), handle_) != data.size())
        status_ = kWriteFailed;
}

void BundleFile::close() {
    if (handle_) {
        std::fclose(handle_);
        handle_ = nullptr;
    }
}

void BundleFile::discard() {
    close();
    if (path_) {
        std::error_code ec;
        std::filesystem::remove(*path_, ec);
        path_.reset();
    }
}

bool BundleFile::succeeded() const {
    return status_ && *status_ >= kFirstSuccessStatus && *status_ <= kLastSuccessStatus;
}

} // namespace vellum
