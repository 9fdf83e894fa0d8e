#pragma once
// A URL: parsed from text, resolved against a base, taken apart into scheme, user, host,
// port, path, query and fragment, and built up again with properly escaped query items.
//
// A URL keeps the text it was made from: absoluteString() answers it unchanged (after
// resolution against a base), so URLs that servers and pages hand over travel on exactly as
// written. Parsing is strict, as the platform's is: text with spaces, controls, bytes beyond
// ASCII, characters that may not stand in a URL ("<", ">", "\"", "{", "}", "|", "\\", "^",
// "`"), broken percent escapes or a bad port is not a URL. Text without a scheme is a relative
// reference, which is a URL too, but only resolve() turns it into an absolute one.
//
// Percent-escaping is done per value: percentEncode() escapes one piece of text for one place
// (a query value, a path segment), never a whole URL after the fact.
//
// URLs are plain values, safe to copy between threads.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// Characters that percentEncode leaves as they are besides letters and digits.
// RFC 3986's unreserved marks: what a query value or path segment may hold unescaped.
inline constexpr std::string_view kURLUnreservedMarks = "-._~";
// Every mark that may stand somewhere in a URL, for escaping only what a URL cannot hold.
inline constexpr std::string_view kURLLegalMarks = "-._~!$&'()*+,;=:@/?#[]";
// What may stand unescaped inside one path segment.
inline constexpr std::string_view kURLPathSegmentMarks = "-._~!$&'()*+,;=:@";

// Escapes every byte of `text` (taken as UTF-8) except ASCII letters, digits and the
// characters in `keep`, as "%XX" with upper-case hexadecimal. "%" itself is escaped unless
// `keep` holds it.
std::string percentEncode(std::string_view text, std::string_view keep = kURLUnreservedMarks);
// Replaces "%XX" escapes by their bytes. Answers nullopt when an escape is broken ("%4",
// "%zz") or, with `requireUTF8`, when the result is not UTF-8. "+" stays "+".
std::optional<std::string> percentDecode(std::string_view text, bool requireUTF8 = true);

// One query name or value, escaped on its own: everything but letters, digits and "-._~".
inline std::string percentEncodeQueryValue(std::string_view text) {
    return percentEncode(text, kURLUnreservedMarks);
}
// One path segment, escaped on its own: "/", "?", "#", "%" and all a URL cannot hold.
inline std::string percentEncodePathComponent(std::string_view text) {
    return percentEncode(text, kURLPathSegmentMarks);
}
// The platform's escaping of a whole URL text ("percent-escape with the ASCII encoding"),
// for callers that format a URL first and escape it afterwards. It escapes only what a URL
// may not hold and leaves its structure alone:
//   escaped: controls, space, DEL, every byte beyond ASCII (UTF-8), and  " < > \ ^ ` { | }
//            "[" and "]" outside the authority (they only bracket an IPv6 host)
//            "#" after the first one (a fragment cannot hold one)
//            "%" that does not start a "%XX" escape (so "100%" becomes "100%25")
//   left:    letters, digits and  - . _ ~ ! $ & ' ( ) * + , ; = : @ / ? # %  (an existing
//            escape stays as it is, never escaped twice)
// Text with a valid scheme and authority therefore always parses after this escaping. It
// cannot tell a value's "&" or "=" from the query's own: escape values with
// percentEncodeQueryValue before they go into a URL.
std::string percentEscapeURLString(std::string_view text);

class URL {
  public:
    // Parses `text` as a URL or relative reference; nullopt when it is not one (see above).
    static std::optional<URL> parse(std::string_view text);
    // Parses `text` and resolves it against `base` (RFC 3986 reference resolution).
    static std::optional<URL> parse(std::string_view text, const URL& base);
    // A "file://" URL for an absolute path (a relative one is made absolute first), each
    // path segment percent-escaped.
    static URL fileURL(const std::filesystem::path& path);

    // The whole URL as text.
    const std::string& absoluteString() const { return text_; }
    // True when the URL has a scheme ("http:", "tel:"); relative references have none.
    bool isAbsolute() const { return schemeLength_ > 0; }

    // As written; empty for a relative reference. Compare with equalsIgnoringCase.
    std::string scheme() const;
    // Everything after "scheme:"; the whole text for a relative reference.
    std::string resourceSpecifier() const;
    // The host as written, without the brackets of an IPv6 address; nullopt when the URL has
    // no authority ("tel:123", "about:blank") and "" for an empty one ("file:///tmp").
    std::optional<std::string> host() const;
    std::optional<int> port() const;
    std::optional<std::string> user() const;
    std::optional<std::string> password() const;
    // The path, percent-decoded, without a trailing "/" (except the root "/" itself); empty when
    // the URL has none. Escapes that do not decode as UTF-8 are left as written.
    std::string path() const;
    // The path exactly as written.
    std::string percentEncodedPath() const;
    // The text after "?" up to any "#", as written; nullopt when there is no "?".
    std::optional<std::string> query() const;
    // The text after "#", as written; nullopt when there is no "#".
    std::optional<std::string> fragment() const;

    // The last segment of path() ("c.html" of "/b/c.html", "/" of "/"), empty without a path.
    std::string lastPathComponent() const;
    // The text after the last "." of lastPathComponent(), empty when it has none.
    std::string pathExtension() const;

    bool isFileURL() const;
    // The decoded path of a file URL as a file-system path; empty for other URLs.
    std::filesystem::path filePath() const;

    // Resolves a relative reference against this URL; nullopt when `reference` is no URL.
    std::optional<URL> resolve(std::string_view reference) const;
    // This URL without its fragment.
    URL withoutFragment() const;

    // The query split at "&" into name and value, each percent-decoded ("+" is not a space);
    // a piece without "=" has an empty value; pieces that do not decode are skipped.
    std::vector<std::pair<std::string, std::string>> queryItems() const;
    // The decoded value of the first query item called `name`.
    std::optional<std::string> queryValue(std::string_view name) const;
    // A copy with "name=value" appended to the query ("?" or "&" as needed, before any
    // fragment), both percent-encoded on their own.
    URL appendingQueryItem(std::string_view name, std::string_view value) const;
    URL appendingQueryItems(const std::vector<std::pair<std::string, std::string>>& items) const;

    friend bool operator==(const URL& a, const URL& b) { return a.text_ == b.text_; }

  private:
    URL() = default;
    bool split(); // fills the component offsets from text_; false when text_ is no URL

    std::string text_;
    // Offsets into text_. A component that is absent has npos as its start.
    static constexpr std::size_t npos = std::string::npos;
    std::size_t schemeLength_ = 0;      // without ":"
    std::size_t authorityStart_ = npos; // after "//"
    std::size_t authorityEnd_ = npos;
    std::size_t pathStart_ = 0, pathEnd_ = 0;
    std::size_t queryStart_ = npos; // after "?"
    std::size_t queryEnd_ = npos;
    std::size_t fragmentStart_ = npos; // after "#"
};

} // namespace platform
