#include "cobalt/CBUtil.h"

#include <cctype>
#include <cmath>
#include <numbers>

#include "platform/foundation/URL.h"
#include "platform/ui/Device.h"

namespace cobalt {

bool CBUtil::URLWillLoadExternalApp(const platform::URL& url) {
    return URLWillLoadExternalApp(url, platform::Device::current().systemVersion());
}

bool CBUtil::URLWillLoadExternalApp(const platform::URL& url, std::string_view systemVersion) {
    const auto host = url.host();
    if (host && (*host == kAppStoreHost || *host == kAppStoreAlternateHost || *host == kMapsHost))
        return true;
    const std::string scheme = url.scheme();
    if (versionCompare(systemVersion, kTelephoneSystemVersion) >= 0 && scheme == "tel")
        return true;
    return scheme == "mailto";
}

int CBUtil::versionCompare(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            // Compare the two runs of digits as numbers: skip leading zeros, then the longer
            // run is the larger, then digit by digit.
            std::size_t ei = i, ej = j;
            while (ei < a.size() && digit(a[ei]))
                ++ei;
            while (ej < b.size() && digit(b[ej]))
                ++ej;
            std::size_t si = i, sj = j;
            while (si + 1 < ei && a[si] == '0')
                ++si;
            while (sj + 1 < ej && b[sj] == '0')
                ++sj;
            if (ei - si != ej - sj)
                return ei - si < ej - sj ? -1 : 1;
            if (int c = a.substr(si, ei - si).compare(b.substr(sj, ej - sj)); c != 0)
                return c < 0 ? -1 : 1;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

platform::AffineTransform CBUtil::transformForOrientation(int orientation) {
    switch (orientation) {
    case 2: return platform::AffineTransform::makeRotation(std::numbers::pi);
    case 3: return platform::AffineTransform::makeRotation(std::numbers::pi / 2);
    case 4: return platform::AffineTransform::makeRotation(-std::numbers::pi / 2);
    default: return platform::AffineTransform::identity();
    }
}

std::optional<std::string> CBUtil::delimitedStringFromString(std::string_view text,
                                                             std::optional<std::string_view> left,
                                                             std::optional<std::string_view> right,
                                                             std::size_t start) {
    if (!left || !right || start > text.size())
        return std::nullopt;
    // Both delimiters are searched from `start`: the right one is not looked for after the left.
    const std::size_t l = text.find(*left, start);
    const std::size_t r = text.find(*right, start);
    if (l == std::string_view::npos || r == std::string_view::npos)
        return std::nullopt;
    const std::size_t contentStart = l + left->size();
    if (r < contentStart || (r == contentStart && right->empty()))
        return std::nullopt;
    if (r == contentStart)
        return std::string();
    return std::string(text.substr(contentStart, r - contentStart));
}

std::string CBUtil::replaceString(std::string_view replacement, std::string_view left, std::string_view right,
                                  std::string_view text) {
    if (left.empty() || right.empty())
        return std::string(text);
    // Each left delimiter pairs with the first right delimiter after it; text outside the pairs
    // (delimiters included) is kept.
    std::string out;
    std::size_t pos = 0;
    bool replaced = false;
    while (true) {
        const std::size_t l = text.find(left, pos);
        if (l == std::string_view::npos)
            break;
        const std::size_t r = text.find(right, l + left.size());
        if (r == std::string_view::npos)
            break;
        out.append(text.substr(pos, l + left.size() - pos));
        out.append(replacement);
        pos = r;
        replaced = true;
        // The right delimiter stays; the next pair is looked for after it.
        out.append(text.substr(r, right.size()));
        pos = r + right.size();
    }
    if (!replaced)
        return std::string(text);
    out.append(text.substr(pos));
    return out;
}

} // namespace cobalt
