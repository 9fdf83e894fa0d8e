#include "platform/web/WebFiles.h"

#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/net/URLRequest.h"
#include "platform/web/WebView.h"

namespace platform {

void setUserAgent(URLRequest& request) {
    if (!request.valueForHTTPHeaderField("User-Agent"))
        request.setValue(WebView::kUserAgent, "User-Agent");
}

FileRead readFileWithLimit(const std::filesystem::path& path, std::size_t limit) {
    FileRead result;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return result;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec)
        return result;
    if (size > limit) {
        result.status = FileRead::Status::TooLarge;
        return result;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return result;
    result.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    // The file may have grown since its size was read.
    if (result.bytes.size() > limit) {
        result.bytes.clear();
        result.status = FileRead::Status::TooLarge;
        return result;
    }
    result.status = FileRead::Status::Ok;
    return result;
}

} // namespace platform
