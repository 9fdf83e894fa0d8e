#pragma once
// What the video cache and download tests share: a body of known bytes, file helpers, and a
// download delegate that records its outcome by name.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "meridian/MRURLDownload.h"
#include "MeridianTestSupport.h"

namespace meridiantest {

inline std::string body(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>('a' + (i * 7) % 26);
    return text;
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::filesystem::path& path, std::string_view bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

class RecordingDownloadDelegate : public meridian::MRURLDownloadDelegate {
public:
    explicit RecordingDownloadDelegate(Events events, std::string name)
        : events_(std::move(events)), name_(std::move(name)) {}
    void downloadDidFinish(meridian::MRURLDownload&) override { events_->push_back(name_ + ":finished"); }
    void downloadDidFail(meridian::MRURLDownload&, const platform::Error& error) override {
        events_->push_back(name_ + ":failed:" + std::to_string(error.code));
    }

private:
    Events events_;
    std::string name_;
};

} // namespace meridiantest
