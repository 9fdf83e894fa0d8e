// URLs: any text parses or not; a parsed URL's text parses again to the same URL, its parts
// can be taken without harm, and resolving references against an absolute one gives absolute URLs that parse again.
#include "FuzzSupport.h"

#include "platform/foundation/URL.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fwfuzz::text(data, size);
    // The first line is the URL, the rest a reference to resolve against it.
    const auto newline = text.find('\n');
    const std::string_view first = text.substr(0, newline);
    const std::string_view reference = newline == std::string_view::npos ? "" : text.substr(newline + 1);

    auto url = platform::URL::parse(first);
    if (!url)
        return 0;
    auto again = platform::URL::parse(url->absoluteString());
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(again->absoluteString() == url->absoluteString());
    FUZZ_CHECK(again->scheme() == url->scheme());
    FUZZ_CHECK(again->host() == url->host());
    FUZZ_CHECK(again->path() == url->path());
    FUZZ_CHECK(again->query() == url->query());
    FUZZ_CHECK(again->fragment() == url->fragment());

    (void)url->port();
    (void)url->user();
    (void)url->password();
    (void)url->percentEncodedPath();
    (void)url->lastPathComponent();
    (void)url->pathExtension();
    (void)url->resourceSpecifier();
    (void)url->withoutFragment();
    if (url->isFileURL())
        (void)url->filePath();

    // References are resolved against absolute URLs (a page's address); a relative base can
    // resolve to the empty reference, which is no URL of its own.
    if (!url->isAbsolute())
        return 0;
    if (auto resolved = url->resolve(reference)) {
        FUZZ_CHECK(resolved->isAbsolute());
        auto reparsed = platform::URL::parse(resolved->absoluteString());
        FUZZ_CHECK(reparsed.has_value());
        FUZZ_CHECK(reparsed->absoluteString() == resolved->absoluteString());
    }
    return 0;
}
