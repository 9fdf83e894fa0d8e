#pragma once
// The look a page gives itself, as far as a picture of it needs: the colour of its canvas and
// of its text. Read from the page's style sheets' rules whose selector is one compound of a
// tag, ids and classes ("body", "#ad", "a#tgAdText", ".banner"), the root's and the body's
// presentational attributes ("bgcolor", "text") and their inline style, the inline style
// winning over the sheets and the sheets over the attributes, as a browser ranks them; among
// the sheets' rules the more specific wins, then the later. The body's background is the
// canvas's when it gives one, else the root element's.
// Plain functions over a document; main thread, like the document.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/Color.h"

namespace platform {

class DomNode;

struct PageLook {
    std::optional<Color> background; // none: the page leaves its canvas to the view
    Color text = Color::blackColor();
};

PageLook pageLook(DomNode& document);

// A colour written as a page writes one: "#rgb", "#rrggbb", "rgb(r, g, b)", "rgba(r, g, b, a)"
// or a basic colour name ("transparent" included). None for anything else.
std::optional<Color> parsePageColor(std::string_view text);

// The page's visible text: runs of white space as one space, and `blockBreak` between blocks
// (paragraphs, headings, list items, divisions). Scripts, styles and the head are left out.
std::string visiblePageText(DomNode& document, std::string_view blockBreak);

// The same text cut into its blocks, in page order, each with the tag of the innermost block
// element that holds it ("h1", "p", "li", "div"...; "body" for text straight in the body) and
// the colour its first character takes: the nearest element's up to the body that gives one
// (its inline style, else the sheets' rules of a simple selector that match it, the most
// specific winning, else a "font" element's colour; a link that gives none is in the browser's
// link blue), else the page's text colour.
struct PageBlock {
    std::string text;
    std::string tag;
    Color color;
};
std::vector<PageBlock> visiblePageBlocks(DomNode& document);

} // namespace platform
