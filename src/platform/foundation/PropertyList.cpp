// XML property lists: placeholder until the property-list reader and writer land.
#include "platform/foundation/Value.h"

namespace platform {

std::optional<Value> Value::fromPropertyList(std::string_view, std::string* error) {
    if (error)
        *error = "property lists are not supported yet";
    return std::nullopt;
}

std::string Value::toPropertyList() const { return {}; }

} // namespace platform
