#include "platform/foundation/URL.h"

#include <system_error>

#include "platform/foundation/Strings.h"

namespace platform {
namespace {

constexpr std::size_t kMaxPort = 65535;

bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isAlnum(char c) {
    return isAlpha(c) || isDigit(c);
}

// Characters that may stand in a URL besides letters, digits and "%" escapes.
bool isURLMark(char c) {
    return std::string_view(kURLLegalMarks).find(c) != std::string_view::npos;
}

// RFC 3986 section 5.2.4.
std::string removeDotSegments(std::string_view input) {
    std::string output;
    while (!input.empty()) {
        if (input.starts_with("../")) {
            input.remove_prefix(3);
        } else if (input.starts_with("./")) {
            input.remove_prefix(2);
        } else if (input.starts_with("/./")) {
            input.remove_prefix(2);
        } else if (input == "/.") {
            input = "/";
        } else if (input.starts_with("/../") || input == "/..") {
            input = input.size() == 3 ? std::string_view("/") : input.substr(3);
            auto slash = output.rfind('/');
            output.erase(slash == std::string::npos ? 0 : slash);
        } else if (input == "." || input == "..") {
            input = {};
        } else {
            std::size_t start = input.front() == '/' ? 1 : 0;
            std::size_t end = input.find('/', start);
            if (end == std::string_view::npos)
                end = input.size();
            output.append(input.substr(0, end));
            input.remove_prefix(end);
        }
    }
    return output;
}

} // namespace

std::string percentEncode(std::string_view text, std::string_view keep) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (isAlnum(c) || (keep.find(c) != std::string_view::npos && static_cast<unsigned char>(c) < 0x80)) {
            out += c;
        } else {
            auto b = static_cast<unsigned char>(c);
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
        }
    }
    return out;
}

std::optional<std::string> percentDecode(std::string_view text, bool requireUTF8) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        int hi = platform::hexDigitValue(text[i + 1]), lo = platform::hexDigitValue(text[i + 2]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    if (requireUTF8 && !isValidUTF8(out))
        return std::nullopt;
    return out;
}

bool URL::split() {
    const std::string& t = text_;
    if (t.empty())
        return false;
    for (std::size_t i = 0; i < t.size(); ++i) {
        char c = t[i];
        if (c == '%') {
            if (i + 2 >= t.size() || platform::hexDigitValue(t[i + 1]) < 0 || platform::hexDigitValue(t[i + 2]) < 0)
                return false;
            i += 2;
        } else if (!isAlnum(c) && !isURLMark(c)) {
            return false;
        }
    }

    std::size_t p = 0;
    schemeLength_ = 0;
    if (isAlpha(t[0])) {
        std::size_t i = 1;
        while (i < t.size() && (isAlnum(t[i]) || t[i] == '+' || t[i] == '-' || t[i] == '.'))
            ++i;
        if (i < t.size() && t[i] == ':') {
            schemeLength_ = i;
            p = i + 1;
        }
    }

    authorityStart_ = authorityEnd_ = npos;
    if (t.compare(p, 2, "//") == 0) {
        authorityStart_ = p + 2;
        authorityEnd_ = t.find_first_of("/?#", authorityStart_);
        if (authorityEnd_ == npos)
            authorityEnd_ = t.size();
        p = authorityEnd_;
    }
    pathStart_ = p;
    pathEnd_ = t.find_first_of("?#", p);
    if (pathEnd_ == npos)
        pathEnd_ = t.size();
    p = pathEnd_;
    queryStart_ = queryEnd_ = npos;
    if (p < t.size() && t[p] == '?') {
        queryStart_ = p + 1;
        queryEnd_ = t.find('#', queryStart_);
        if (queryEnd_ == npos)
            queryEnd_ = t.size();
        p = queryEnd_;
    }
    fragmentStart_ = npos;
    if (p < t.size() && t[p] == '#') {
        fragmentStart_ = p + 1;
        if (t.find('#', fragmentStart_) != npos)
            return false;
    }

    // Brackets belong to an IPv6 host only.
    for (std::size_t i = 0; i < t.size(); ++i) {
        if ((t[i] == '[' || t[i] == ']') &&
            !(authorityStart_ != npos && i >= authorityStart_ && i < authorityEnd_))
            return false;
    }
    if (authorityStart_ != npos) {
        std::string_view authority(t.data() + authorityStart_, authorityEnd_ - authorityStart_);
        auto at = authority.rfind('@');
        std::string_view hostPort = at == std::string_view::npos ? authority : authority.substr(at + 1);
        if (at != std::string_view::npos &&
            authority.substr(0, at).find_first_of("[]") != std::string_view::npos)
            return false;
        std::string_view portText;
        if (!hostPort.empty() && hostPort.front() == '[') {
            auto close = hostPort.find(']');
            if (close == std::string_view::npos)
                return false;
            std::string_view inside = hostPort.substr(1, close - 1);
            if (inside.empty() ||
                inside.find_first_not_of("0123456789abcdefABCDEF:.") != std::string_view::npos)
                return false;
            std::string_view rest = hostPort.substr(close + 1);
            if (!rest.empty()) {
                if (rest.front() != ':')
                    return false;
                portText = rest.substr(1);
            }
        } else {
            if (hostPort.find_first_of("[]") != std::string_view::npos)
                return false;
            auto colon = hostPort.rfind(':');
            if (colon != std::string_view::npos)
                portText = hostPort.substr(colon + 1);
        }
        if (portText.find_first_not_of("0123456789") != std::string_view::npos)
            return false;
        if (portText.size() > 5 ||
            (!portText.empty() && static_cast<std::size_t>(intValue(portText)) > kMaxPort))
            return false;
    }
    return true;
}

std::optional<URL> URL::parse(std::string_view text) {
    URL url;
    url.text_ = std::string(text);
    if (!url.split())
        return std::nullopt;
    return url;
}

std::optional<URL> URL::parse(std::string_view text, const URL& base) {
    return base.resolve(text);
}

URL URL::fileURL(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::path absolute = path.is_absolute() ? path : std::filesystem::absolute(path, ec);
    std::string text = "file://";
    bool any = false;
    for (const auto& part : absolute.relative_path()) {
        if (part.empty())
            continue; // the empty last element of a path with a trailing separator
        text += '/';
        text += percentEncode(part.string(), kURLPathSegmentMarks);
        any = true;
    }
    if (!any || (!absolute.empty() && absolute.string().back() == '/'))
        text += '/';
    URL url;
    url.text_ = std::move(text);
    url.split();
    return url;
}

std::string URL::scheme() const {
    return text_.substr(0, schemeLength_);
}

std::string URL::resourceSpecifier() const {
    return schemeLength_ ? text_.substr(schemeLength_ + 1) : text_;
}

namespace {

struct AuthorityParts {
    std::optional<std::string_view> userInfo;
    std::string_view host;
    std::optional<std::string_view> port;
};

AuthorityParts splitAuthority(std::string_view authority) {
    AuthorityParts parts;
    auto at = authority.rfind('@');
    if (at != std::string_view::npos) {
        parts.userInfo = authority.substr(0, at);
        authority.remove_prefix(at + 1);
    }
    if (!authority.empty() && authority.front() == '[') {
        auto close = authority.find(']');
        parts.host = authority.substr(1, close - 1);
        if (close + 1 < authority.size())
            parts.port = authority.substr(close + 2);
        return parts;
    }
    auto colon = authority.rfind(':');
    if (colon != std::string_view::npos) {
        parts.host = authority.substr(0, colon);
        parts.port = authority.substr(colon + 1);
    } else {
        parts.host = authority;
    }
    return parts;
}

} // namespace

std::optional<std::string> URL::host() const {
    if (authorityStart_ == npos)
        return std::nullopt;
    auto parts =
        splitAuthority(std::string_view(text_).substr(authorityStart_, authorityEnd_ - authorityStart_));
    return std::string(parts.host);
}

std::optional<int> URL::port() const {
    if (authorityStart_ == npos)
        return std::nullopt;
    auto parts =
        splitAuthority(std::string_view(text_).substr(authorityStart_, authorityEnd_ - authorityStart_));
    if (!parts.port || parts.port->empty())
        return std::nullopt;
    return intValue(*parts.port);
}

std::optional<std::string> URL::user() const {
    if (authorityStart_ == npos)
        return std::nullopt;
    auto parts =
        splitAuthority(std::string_view(text_).substr(authorityStart_, authorityEnd_ - authorityStart_));
    if (!parts.userInfo)
        return std::nullopt;
    auto name = parts.userInfo->substr(0, parts.userInfo->find(':'));
    return percentDecode(name, false).value_or(std::string(name));
}

std::optional<std::string> URL::password() const {
    if (authorityStart_ == npos)
        return std::nullopt;
    auto parts =
        splitAuthority(std::string_view(text_).substr(authorityStart_, authorityEnd_ - authorityStart_));
    if (!parts.userInfo)
        return std::nullopt;
    auto colon = parts.userInfo->find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    auto secret = parts.userInfo->substr(colon + 1);
    return percentDecode(secret, false).value_or(std::string(secret));
}

std::string URL::percentEncodedPath() const {
    return text_.substr(pathStart_, pathEnd_ - pathStart_);
}

std::string URL::path() const {
    std::string raw = percentEncodedPath();
    std::string decoded = percentDecode(raw).value_or(raw);
    if (decoded.size() > 1 && decoded.back() == '/')
        decoded.pop_back();
    return decoded;
}

std::optional<std::string> URL::query() const {
    if (queryStart_ == npos)
        return std::nullopt;
    return text_.substr(queryStart_, queryEnd_ - queryStart_);
}

std::optional<std::string> URL::fragment() const {
    if (fragmentStart_ == npos)
        return std::nullopt;
    return text_.substr(fragmentStart_);
}

std::string URL::lastPathComponent() const {
    std::string p = path();
    if (p.empty() || p == "/")
        return p;
    auto slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string URL::pathExtension() const {
    std::string last = lastPathComponent();
    auto dot = last.rfind('.');
    if (dot == std::string::npos || dot == 0 || last == "/")
        return {};
    return last.substr(dot + 1);
}

bool URL::isFileURL() const {
    return equalsIgnoringCase(scheme(), "file");
}

std::filesystem::path URL::filePath() const {
    if (!isFileURL())
        return {};
    std::string raw = percentEncodedPath();
    return percentDecode(raw, false).value_or(raw);
}

std::optional<URL> URL::resolve(std::string_view reference) const {
    auto ref = parse(reference);
    if (!ref) {
        // The empty reference is this document itself.
        if (!reference.empty())
            return std::nullopt;
        return withoutFragment();
    }
    std::string_view base(text_);
    std::string_view r(ref->text_);
    auto part = [](std::string_view s, std::size_t start, std::size_t end) {
        return s.substr(start, end - start);
    };

    std::string scheme, path;
    std::optional<std::string> authority, query, fragment;
    if (ref->fragmentStart_ != npos)
        fragment = std::string(r.substr(ref->fragmentStart_));

    std::string_view refPath = part(r, ref->pathStart_, ref->pathEnd_);
    std::optional<std::string> refQuery;
    if (ref->queryStart_ != npos)
        refQuery = std::string(part(r, ref->queryStart_, ref->queryEnd_));

    if (ref->schemeLength_) {
        scheme = std::string(r.substr(0, ref->schemeLength_));
        if (ref->authorityStart_ != npos)
            authority = std::string(part(r, ref->authorityStart_, ref->authorityEnd_));
        path = removeDotSegments(refPath);
        query = refQuery;
    } else {
        scheme = std::string(base.substr(0, schemeLength_));
        if (ref->authorityStart_ != npos) {
            authority = std::string(part(r, ref->authorityStart_, ref->authorityEnd_));
            path = removeDotSegments(refPath);
            query = refQuery;
        } else {
            if (authorityStart_ != npos)
                authority = std::string(part(base, authorityStart_, authorityEnd_));
            std::string_view basePath = part(base, pathStart_, pathEnd_);
            if (refPath.empty()) {
                path = std::string(basePath);
                if (refQuery)
                    query = refQuery;
                else if (queryStart_ != npos)
                    query = std::string(part(base, queryStart_, queryEnd_));
            } else {
                if (refPath.front() == '/') {
                    path = removeDotSegments(refPath);
                } else {
                    std::string merged;
                    if (authorityStart_ != npos && basePath.empty()) {
                        merged = "/" + std::string(refPath);
                    } else {
                        auto slash = basePath.rfind('/');
                        merged = slash == std::string_view::npos
                                     ? std::string(refPath)
                                     : std::string(basePath.substr(0, slash + 1)) + std::string(refPath);
                    }
                    path = removeDotSegments(merged);
                }
                query = refQuery;
            }
        }
    }
    std::string out;
    if (!scheme.empty())
        out += scheme + ":";
    if (authority)
        out += "//" + *authority;
    else if (path.starts_with("//"))
        // Without an authority a path may not begin with "//": the text would read as one
        // ("x:" and "a/..//host/b" must not name "host"). "/." keeps the path as it is.
        out += "/.";
    out += path;
    if (query)
        out += "?" + *query;
    if (fragment)
        out += "#" + *fragment;
    return parse(out);
}

URL URL::withoutFragment() const {
    if (fragmentStart_ == npos)
        return *this;
    URL copy;
    copy.text_ = text_.substr(0, fragmentStart_ - 1);
    copy.split();
    return copy;
}

std::vector<std::pair<std::string, std::string>> URL::queryItems() const {
    std::vector<std::pair<std::string, std::string>> items;
    auto q = query();
    if (!q)
        return items;
    for (const std::string& piece : platform::split(*q, "&")) {
        if (piece.empty())
            continue;
        auto eq = piece.find('=');
        std::string_view name = std::string_view(piece).substr(0, eq);
        std::string_view value =
            eq == std::string::npos ? std::string_view() : std::string_view(piece).substr(eq + 1);
        auto n = percentDecode(name);
        auto v = percentDecode(value);
        if (n && v)
            items.emplace_back(std::move(*n), std::move(*v));
    }
    return items;
}

std::optional<std::string> URL::queryValue(std::string_view name) const {
    for (auto& [n, v] : queryItems())
        if (n == name)
            return v;
    return std::nullopt;
}

URL URL::appendingQueryItem(std::string_view name, std::string_view value) const {
    return appendingQueryItems({{std::string(name), std::string(value)}});
}

URL URL::appendingQueryItems(const std::vector<std::pair<std::string, std::string>>& items) const {
    if (items.empty())
        return *this;
    std::string head = fragmentStart_ == npos ? text_ : text_.substr(0, fragmentStart_ - 1);
    std::string tail = fragmentStart_ == npos ? std::string() : text_.substr(fragmentStart_ - 1);
    // An empty query, or one that ends in "&", takes the first item as it is; a "?" at the
    // end of a query is part of its last value.
    const bool joined = queryStart_ != npos && (queryEnd_ == queryStart_ || head.back() == '&');
    bool first = true;
    for (const auto& [name, value] : items) {
        if (first && queryStart_ == npos)
            head += '?';
        else if (!(first && joined))
            head += '&';
        head += percentEncode(name);
        head += '=';
        head += percentEncode(value);
        first = false;
    }
    URL copy;
    copy.text_ = head + tail;
    copy.split();
    return copy;
}

std::string percentEscapeURLString(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    static constexpr std::string_view kNeverInURL = "\"<>\\^`{|}";
    // The authority, where brackets may stand around an IPv6 host: after "scheme://" (or a
    // leading "//") up to the first "/", "?" or "#".
    std::size_t authorityStart = std::string_view::npos, authorityEnd = std::string_view::npos;
    std::size_t p = 0;
    if (!text.empty() && isAlpha(text[0])) {
        std::size_t i = 1;
        while (i < text.size() && (isAlnum(text[i]) || text[i] == '+' || text[i] == '-' || text[i] == '.'))
            ++i;
        if (i < text.size() && text[i] == ':')
            p = i + 1;
    }
    if (text.substr(p, 2) == "//") {
        authorityStart = p + 2;
        authorityEnd = text.find_first_of("/?#", authorityStart);
        if (authorityEnd == std::string_view::npos)
            authorityEnd = text.size();
    }

    std::string out;
    out.reserve(text.size());
    bool seenHash = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto b = static_cast<unsigned char>(text[i]);
        char c = text[i];
        bool inAuthority =
            authorityStart != std::string_view::npos && i >= authorityStart && i < authorityEnd;
        bool escape = b <= 0x20 || b >= 0x7F || kNeverInURL.find(c) != std::string_view::npos;
        if ((c == '[' || c == ']') && !inAuthority)
            escape = true;
        if (c == '#') {
            escape = seenHash;
            seenHash = true;
        }
        if (c == '%')
            escape = !(i + 2 < text.size() && platform::hexDigitValue(text[i + 1]) >= 0 && platform::hexDigitValue(text[i + 2]) >= 0);
        if (escape) {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace platform
