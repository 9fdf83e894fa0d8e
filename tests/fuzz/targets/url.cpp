// URLs: the first line of the input is a URL, the rest a reference to resolve against it.
// A parsed URL keeps its text, and its parts are pieces of that text in order; percent
// escaping round-trips; a query item appended reads back. A reference resolved against an
// absolute URL gives an absolute URL whose path holds no "." or ".." segment (RFC 3986
// section 5.2), which resolves to itself again; a reference without scheme or authority keeps
// the base's scheme, host and port.
#include "FuzzSupport.h"

#include "platform/foundation/Strings.h"
#include "platform/foundation/URL.h"

namespace {

bool endsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// A "." or ".." segment, apart from the "/." that keeps a path beginning with "//" from
// reading as an authority.
bool hasDotSegment(const platform::URL& url) {
    const std::string written = url.percentEncodedPath();
    std::string_view path = written;
    if (!url.host() && path.starts_with("/.//"))
        path.remove_prefix(2);
    for (std::size_t start = 0; start <= path.size();) {
        const auto end = std::min(path.find('/', start), path.size());
        const auto segment = path.substr(start, end - start);
        if (segment == "." || segment == "..")
            return true;
        start = end + 1;
    }
    return false;
}

// The URL's text is its parts in order: [scheme ":"] ... path ["?" query] ["#" fragment].
void checkParts(const platform::URL& url) {
    const std::string& text = url.absoluteString();
    std::string_view rest = text;
    if (const auto fragment = url.fragment()) {
        FUZZ_CHECK(endsWith(rest, "#" + *fragment));
        rest.remove_suffix(fragment->size() + 1);
    }
    FUZZ_CHECK(url.withoutFragment().absoluteString() == rest);
    if (const auto query = url.query()) {
        FUZZ_CHECK(endsWith(rest, "?" + *query));
        rest.remove_suffix(query->size() + 1);
    }
    FUZZ_CHECK(endsWith(rest, url.percentEncodedPath()));
    if (url.isAbsolute()) {
        FUZZ_CHECK(text.substr(0, url.scheme().size() + 1) == url.scheme() + ":");
        FUZZ_CHECK(url.scheme() + ":" + url.resourceSpecifier() == text);
    } else {
        FUZZ_CHECK(url.resourceSpecifier() == text);
    }
    if (const auto host = url.host())
        FUZZ_CHECK(text.find(*host) != std::string::npos);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fwfuzz::text(data, size);
    const auto newline = text.find('\n');
    const std::string_view first = text.substr(0, newline);
    const std::string_view reference = newline == std::string_view::npos ? "" : text.substr(newline + 1);

    // Escaping one value and reading it back gives the value, whatever its bytes.
    FUZZ_CHECK(platform::percentDecode(platform::percentEncodeQueryValue(reference), false) == reference);
    FUZZ_CHECK(platform::percentDecode(platform::percentEncodePathComponent(reference), false) == reference);

    auto url = platform::URL::parse(first);
    if (!url)
        return 0;
    FUZZ_CHECK(url->absoluteString() == first);
    checkParts(*url);
    (void)url->port();
    (void)url->user();
    (void)url->password();
    (void)url->path();
    (void)url->lastPathComponent();
    (void)url->pathExtension();
    if (url->isFileURL())
        (void)url->filePath();

    // A query item appended reads back as the last item, and the rest of the URL stays.
    const auto appended = url->appendingQueryItem("fuzz", reference);
    FUZZ_CHECK(platform::URL::parse(appended.absoluteString()).has_value());
    FUZZ_CHECK(appended.fragment() == url->fragment());
    FUZZ_CHECK(appended.percentEncodedPath() == url->percentEncodedPath());
    if (platform::isValidUTF8(reference)) {
        const auto items = appended.queryItems();
        FUZZ_CHECK(!items.empty() && items.back().first == "fuzz" && items.back().second == reference);
    }

    // References are resolved against absolute URLs (a page's address).
    if (!url->isAbsolute())
        return 0;
    auto resolved = url->resolve(reference);
    const auto parsedReference = platform::URL::parse(reference);
    FUZZ_CHECK(resolved.has_value() == (parsedReference.has_value() || reference.empty()));
    if (!resolved)
        return 0;
    FUZZ_CHECK(resolved->isAbsolute());
    checkParts(*resolved);
    FUZZ_CHECK(platform::URL::parse(resolved->absoluteString()) == resolved);
    // An empty path keeps the base's path as it is; any other is freed of dot segments.
    const bool pathGiven = parsedReference && !parsedReference->percentEncodedPath().empty();
    if (pathGiven || !hasDotSegment(*url)) {
        FUZZ_CHECK(!hasDotSegment(*resolved));
        // Resolving is stable: the result resolves to itself, against the base or itself.
        FUZZ_CHECK(url->resolve(resolved->absoluteString()) == resolved);
        FUZZ_CHECK(resolved->resolve(resolved->absoluteString()) == resolved);
        FUZZ_CHECK(resolved->resolve("") == resolved->withoutFragment());
    }
    if (parsedReference && !parsedReference->isAbsolute() && !reference.starts_with("//")) {
        FUZZ_CHECK(resolved->scheme() == url->scheme());
        FUZZ_CHECK(resolved->host() == url->host());
        FUZZ_CHECK(resolved->port() == url->port());
    }
    if (parsedReference && parsedReference->fragment())
        FUZZ_CHECK(resolved->fragment() == parsedReference->fragment());
    return 0;
}
