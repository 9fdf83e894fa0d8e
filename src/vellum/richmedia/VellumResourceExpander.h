#pragma once
// VellumResourceExpander: the engine's built-in images, kept in the program as Base64 text and
// decoded only when a view asks for one. Callers make an expander, ask for the images they
// need and drop it, so the cache of decoded bytes lives only while one view is built.
//
// Also the Base64 codec of the images (dataWithBase64EncodedString, base64Encoding) and the
// two path helpers that clip drawing to a circle or a rounded rectangle (see
// VellumClipShapes.h). Stateless apart from the per-expander cache; any thread.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"
#include "platform/ui/Image.h"

namespace vellum {

class VellumResourceExpander {
public:
    VellumResourceExpander();

    // The decoded bytes of the built-in image `name` (cached), nullopt for an unknown name or
    // text that does not decode.
    std::optional<platform::Data> dataForKey(std::string_view name);
    // The image made from dataForKey (null when there is none).
    std::shared_ptr<platform::Image> imageForKey(std::string_view name);
    const std::map<std::string, platform::Data, std::less<>>& resourceData() const { return resourceData_; }

    // Base64 as the built-in images are kept: white space and "=" are skipped anywhere; a
    // character outside the alphabet, or a last group of one character, gives nullopt.
    static std::optional<platform::Data> dataWithBase64EncodedString(std::string_view text);
    static std::string base64Encoding(const platform::Data& data);

private:
    std::map<std::string, const char*, std::less<>> resourceStrings_;
    std::map<std::string, platform::Data, std::less<>> resourceData_;
};

} // namespace vellum
