#pragma once
// The temporary file a bundle download is written to. The loader opens it before its request
// starts; each response starts it afresh (a repeated response replaces what came before), the
// data is appended as it arrives, and the file is removed when the load ends, whatever the
// outcome, or when the loader goes away. Main thread only.
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

namespace vellum {

class BundleFile {
public:
    BundleFile() = default;
    ~BundleFile() { discard(); }
    BundleFile(const BundleFile&) = delete;
    BundleFile& operator=(const BundleFile&) = delete;

    // Creates the file (and its folder); false when it cannot be made.
    bool open(const std::filesystem::path& path);
    bool isOpen() const { return handle_ != nullptr; }
    // A response with `status`: the file starts afresh.
    void restart(int status);
    // A write that fails marks the download as failed.
    void append(const platform::Data& data);
    void close();
    // Closes and removes the file.
    void discard();

    // A response with a status in 200-299 arrived and every write went through.
    bool succeeded() const;
    std::optional<int> status() const { return status_; }
    // The file's path while it exists.
    const std::optional<std::string>& path() const { return path_; }

private:
    std::FILE* handle_ = nullptr;
    std::optional<std::string> path_;
    std::optional<int> status_;
};

} // namespace vellum
