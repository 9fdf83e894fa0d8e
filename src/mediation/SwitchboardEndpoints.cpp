#include "mediation/SwitchboardEndpoints.h"

#include "platform/foundation/Services.h"

namespace mediation {

std::string switchboardDefaultEndpoint(std::string_view path) {
    std::string url = platform::servicesBaseURL();
    url += kSwitchboardServicePrefix;
    url += path;
    return url;
}

std::string switchboardURLWithQuery(std::string_view base, std::string_view query) {
    auto cut = base.find_first_of("?#");
    std::string url(base.substr(0, cut));
    url += '?';
    url += query;
    return url;
}

std::string switchboardEscapeQueryValue(std::string_view value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (unsigned char c : value) {
        bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                          c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out;
}

} // namespace mediation
