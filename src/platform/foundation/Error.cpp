#include "platform/foundation/Error.h"

namespace platform {

std::string Error::description() const {
    std::string out = "Error Domain=" + domain + " Code=" + std::to_string(code);
    if (!localizedDescription.empty())
        out += " \"" + localizedDescription + "\"";
    return out;
}

} // namespace platform
