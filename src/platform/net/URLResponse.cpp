#include "platform/net/URLResponse.h"

#include <charconv>

#include "platform/foundation/Strings.h"

namespace platform {
namespace {

// Splits "type/subtype; a=b; c=\"d\"" into the type and its parameters, names lower-cased.
struct MediaType {
    std::string type;
    std::vector<std::pair<std::string, std::string>> parameters;
};

MediaType parseMediaType(std::string_view text) {
    MediaType out;
    auto pieces = split(text, ";");
    if (pieces.empty())
        return out;
    out.type = toLower(trim(pieces[0]));
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        std::string_view piece = trim(pieces[i]);
        auto eq = piece.find('=');
        if (eq == std::string_view::npos)
            continue;
        std::string name = toLower(trim(piece.substr(0, eq)));
        std::string_view value = trim(piece.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        out.parameters.emplace_back(std::move(name), std::string(value));
    }
    return out;
}

// Reduces a name from outside to one harmless path component.
std::string safeFileName(std::string_view name) {
    auto slash = name.find_last_of("/\\");
    if (slash != std::string_view::npos)
        name = name.substr(slash + 1);
    std::string out;
    for (char c : name) {
        auto b = static_cast<unsigned char>(c);
        out += (b < 0x20 || b == 0x7F) ? '_' : c;
    }
    std::string_view trimmed = trim(out);
    if (trimmed.empty() || trimmed == "." || trimmed == "..")
        return {};
    return std::string(trimmed);
}

} // namespace

URLResponse::URLResponse(URL url, int statusCode, HTTPHeaders headers)
    : url_(std::move(url)), statusCode_(statusCode), headers_(std::move(headers)) {}

std::int64_t URLResponse::expectedContentLength() const {
    auto text = headers_.value("Content-Length");
    if (!text)
        return kUnknownLength;
    std::string_view digits = trim(*text);
    std::int64_t length = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), length);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || length < 0)
        return kUnknownLength;
    return length;
}

std::string URLResponse::mimeType() const {
    auto text = headers_.value("Content-Type");
    return text ? parseMediaType(*text).type : std::string();
}

std::optional<std::string> URLResponse::textEncodingName() const {
    auto text = headers_.value("Content-Type");
    if (!text)
        return std::nullopt;
    for (auto& [name, value] : parseMediaType(*text).parameters)
        if (name == "charset" && !value.empty())
            return toLower(value);
    return std::nullopt;
}

std::string URLResponse::suggestedFilename() const {
    if (auto disposition = headers_.value("Content-Disposition")) {
        for (auto& [name, value] : parseMediaType(*disposition).parameters) {
            if (name != "filename")
                continue;
            if (auto safe = safeFileName(value); !safe.empty())
                return safe;
        }
    }
    std::string last = url_.lastPathComponent();
    if (last != "/")
        if (auto safe = safeFileName(last); !safe.empty())
            return safe;
    return std::string(kUnknownFilename);
}

} // namespace platform
