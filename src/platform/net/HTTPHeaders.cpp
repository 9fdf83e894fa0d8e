#include "platform/net/HTTPHeaders.h"

#include <algorithm>

#include "platform/foundation/Strings.h"

namespace platform {

const HTTPHeaders::Field* HTTPHeaders::find(std::string_view name) const {
    for (const auto& field : fields_)
        if (equalsIgnoringCase(field.first, name))
            return &field;
    return nullptr;
}

HTTPHeaders::Field* HTTPHeaders::find(std::string_view name) {
    return const_cast<Field*>(static_cast<const HTTPHeaders*>(this)->find(name));
}

void HTTPHeaders::set(std::string_view name, std::string_view value) {
    if (Field* field = find(name))
        field->second = std::string(value);
    else
        fields_.emplace_back(std::string(name), std::string(value));
}

void HTTPHeaders::add(std::string_view name, std::string_view value) {
    if (Field* field = find(name)) {
        field->second += ", ";
        field->second += value;
    } else {
        fields_.emplace_back(std::string(name), std::string(value));
    }
}

void HTTPHeaders::remove(std::string_view name) {
    std::erase_if(fields_, [&](const Field& field) { return equalsIgnoringCase(field.first, name); });
}

std::optional<std::string> HTTPHeaders::value(std::string_view name) const {
    if (const Field* field = find(name))
        return field->second;
    return std::nullopt;
}

} // namespace platform
