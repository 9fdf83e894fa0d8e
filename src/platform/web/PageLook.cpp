#include "platform/web/PageLook.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <iterator>
#include <vector>

#include "platform/foundation/Strings.h"
#include "platform/web/Dom.h"

namespace platform {
namespace {

// The colour a browser gives a link the page does not colour.
constexpr unsigned kLinkColor = 0x0000ee;
constexpr std::string_view kHiddenElements[] = {"script", "style", "head", "title", "noscript", "template"};
constexpr std::string_view kInlineElements[] = {"a",     "b",   "i",    "u",   "em",   "strong", "span",
                                                "small", "big", "font", "img", "code", "sub",    "sup"};

// The basic colour names a page may use.
struct NamedColor {
    std::string_view name;
    unsigned rgb;
};
constexpr NamedColor kNamedColors[] = {
    {"black", 0x000000},     {"silver", 0xc0c0c0},    {"gray", 0x808080},     {"grey", 0x808080},
    {"white", 0xffffff},     {"maroon", 0x800000},    {"red", 0xff0000},      {"purple", 0x800080},
    {"fuchsia", 0xff00ff},   {"green", 0x008000},     {"lime", 0x00ff00},     {"olive", 0x808000},
    {"yellow", 0xffff00},    {"navy", 0x000080},      {"blue", 0x0000ff},     {"teal", 0x008080},
    {"aqua", 0x00ffff},      {"orange", 0xffa500},    {"darkgray", 0xa9a9a9}, {"darkgrey", 0xa9a9a9},
    {"lightgray", 0xd3d3d3}, {"lightgrey", 0xd3d3d3},
};

Color fromRGB(unsigned rgb, double alpha = 1) {
    return Color::rgba(double((rgb >> 16) & 0xff) / 255, double((rgb >> 8) & 0xff) / 255,
                       double(rgb & 0xff) / 255, alpha);
}

std::optional<double> number(std::string_view text) {
    text = trim(text);
    bool percent = !text.empty() && text.back() == '%';
    if (percent)
        text.remove_suffix(1);
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return percent ? value / 100 : value;
}

// One colour property and its value, in the order written.
struct Declaration {
    std::string name;
    std::string value;
};

std::vector<Declaration> declarations(std::string_view block) {
    std::vector<Declaration> out;
    while (!block.empty()) {
        auto end = block.find(';');
        std::string_view one = block.substr(0, end);
        block = end == std::string_view::npos ? std::string_view{} : block.substr(end + 1);
        auto colon = one.find(':');
        if (colon == std::string_view::npos)
            continue;
        std::string value(trim(one.substr(colon + 1)));
        if (auto important = toLower(value).find("!important"); important != std::string::npos)
            value = std::string(trim(std::string_view(value).substr(0, important)));
        out.push_back({toLower(trim(one.substr(0, colon))), std::move(value)});
    }
    return out;
}

// What one element's (or the sheets') declarations say.
struct Look {
    std::optional<Color> background;
    std::optional<Color> text;

    void apply(const std::vector<Declaration>& list) {
        for (const auto& d : list) {
            if (d.name == "color") {
                if (auto c = parsePageColor(d.value))
                    text = c;
            } else if (d.name == "background-color") {
                if (auto c = parsePageColor(d.value))
                    background = c;
            } else if (d.name == "background") {
                // The shorthand: the colour is whichever of its words is one.
                std::string_view rest = d.value;
                while (!rest.empty()) {
                    rest = trim(rest);
                    std::size_t end = 0;
                    int depth = 0;
                    while (end < rest.size() &&
                           (depth > 0 || !std::isspace(static_cast<unsigned char>(rest[end])))) {
                        depth += rest[end] == '(' ? 1 : rest[end] == ')' ? -1 : 0;
                        ++end;
                    }
                    if (auto c = parsePageColor(rest.substr(0, end))) {
                        background = c;
                        break;
                    }
                    rest = rest.substr(end);
                }
            }
        }
    }
};

std::string withoutComments(std::string_view css) {
    std::string out;
    while (!css.empty()) {
        auto open = css.find("/*");
        out += css.substr(0, open);
        if (open == std::string_view::npos)
            break;
        auto close = css.find("*/", open + 2);
        css = close == std::string_view::npos ? std::string_view{} : css.substr(close + 2);
    }
    return out;
}

// A selector of one compound: an optional tag (or "*"), then ids and classes ("a", "#ad",
// "a#ad.big"). The pictures need no more; a rule with any other selector is left out.
struct SimpleSelector {
    std::string tag;
    std::vector<std::string> ids, classes;

    static std::optional<SimpleSelector> parse(std::string_view text) {
        text = trim(text);
        auto identEnd = [&](std::size_t from) {
            while (from < text.size() && (std::isalnum(static_cast<unsigned char>(text[from])) ||
                                          text[from] == '-' || text[from] == '_'))
                ++from;
            return from;
        };
        SimpleSelector s;
        std::size_t at = identEnd(0);
        s.tag = toLower(text.substr(0, at));
        if (at == 0 && !text.empty() && text[0] == '*')
            at = 1;
        if (at == 0 && (text.empty() || (text[0] != '#' && text[0] != '.')))
            return std::nullopt;
        while (at < text.size()) {
            const char kind = text[at];
            const std::size_t end = identEnd(at + 1);
            if ((kind != '#' && kind != '.') || end == at + 1)
                return std::nullopt;
            (kind == '#' ? s.ids : s.classes).emplace_back(text.substr(at + 1, end - at - 1));
            at = end;
        }
        return s;
    }

    // Ids count over classes, classes over a tag, as a browser ranks rules.
    int specificity() const {
        return int(ids.size()) * 10000 + int(classes.size()) * 100 + (tag.empty() ? 0 : 1);
    }

    bool matches(const DomNode& element) const {
        if (!tag.empty() && tag != element.tag())
            return false;
        const std::string id = element.attribute("id").value_or("");
        for (const auto& wanted : ids)
            if (wanted != id)
                return false;
        const std::string classList = " " + element.attribute("class").value_or("") + " ";
        for (const auto& wanted : classes) {
            bool found = false;
            for (std::size_t at = classList.find(wanted); at != std::string::npos && !found;
                 at = classList.find(wanted, at + 1))
                found = std::isspace(static_cast<unsigned char>(classList[at - 1])) &&
                        std::isspace(static_cast<unsigned char>(classList[at + wanted.size()]));
            if (!found)
                return false;
        }
        return true;
    }
};

// The rules of the page's style sheets, read once for a picture.
class StyleSheets {
public:
    explicit StyleSheets(DomNode& document) {
        for (const auto& sheet : document.elementsByTagName("style")) {
            std::string css = withoutComments(sheet->textContent());
            std::string_view rest = css;
            while (!rest.empty()) {
                auto open = rest.find('{');
                auto close = open == std::string_view::npos ? std::string_view::npos : rest.find('}', open);
                if (close == std::string_view::npos)
                    break;
                std::string_view selectors = rest.substr(0, open);
                auto list = declarations(rest.substr(open + 1, close - open - 1));
                rest = rest.substr(close + 1);
                while (!selectors.empty()) {
                    auto comma = selectors.find(',');
                    if (auto selector = SimpleSelector::parse(selectors.substr(0, comma)))
                        rules_.push_back({std::move(*selector), list});
                    selectors =
                        comma == std::string_view::npos ? std::string_view{} : selectors.substr(comma + 1);
                }
            }
        }
    }

    // Applies the rules that match `element`, the less specific first and, among equals, in
    // the page's order, so the one a browser follows is applied last.
    void applyTo(const DomNode& element, Look& look) const;

private:
    struct Rule {
        SimpleSelector selector;
        std::vector<Declaration> declarations;
    };
    std::vector<Rule> rules_;
};

void StyleSheets::applyTo(const DomNode& element, Look& look) const {
    std::vector<const Rule*> matched;
    for (const auto& rule : rules_)
        if (rule.selector.matches(element))
            matched.push_back(&rule);
    std::stable_sort(matched.begin(), matched.end(), [](const Rule* a, const Rule* b) {
        return a->selector.specificity() < b->selector.specificity();
    });
    for (const Rule* rule : matched)
        look.apply(rule->declarations);
}

// What the page says of one element: its presentational attributes, then the sheets' rules,
// then its inline style, each over the one before.
Look elementLook(const StyleSheets& sheets, const DomNode* element) {
    Look look;
    if (!element)
        return look;
    if (element->tag() == "body") {
        if (auto bg = element->attribute("bgcolor"))
            look.background = parsePageColor(*bg);
        if (auto text = element->attribute("text"))
            look.text = parsePageColor(*text);
    } else if (element->tag() == "font") {
        if (auto text = element->attribute("color"))
            look.text = parsePageColor(*text);
    }
    sheets.applyTo(*element, look);
    if (auto style = element->attribute("style"))
        look.apply(declarations(*style));
    // A clear background paints nothing: the canvas is left to the view.
    if (look.background && look.background->alpha <= 0)
        look.background.reset();
    return look;
}

PageLook pageLookWith(DomNode& document, const StyleSheets& sheets) {
    PageLook out;
    Look root = elementLook(sheets, document.firstElementWithTag("html").get());
    Look body = elementLook(sheets, document.body().get());
    out.background = body.background ? body.background : root.background;
    out.text = body.text.value_or(root.text.value_or(Color::blackColor()));
    return out;
}

// The colour of text inside `element`: the nearest element's up to the body that gives one
// (a link that gives none is in the browser's link colour, whatever lies around it), else the
// page's.
Color textColorIn(const StyleSheets& sheets, const DomNode* element, const Color& pageText) {
    for (const DomNode* e = element; e && e->isElement() && e->tag() != "body" && e->tag() != "html";
         e = e->parent()) {
        if (auto text = elementLook(sheets, e).text)
            return *text;
        if (e->tag() == "a" && e->attribute("href"))
            return fromRGB(kLinkColor);
    }
    return pageText;
}

// The page's blocks of visible text, each with the element that holds its first character.
struct CollectedBlock {
    PageBlock block;
    const DomNode* holder = nullptr;
};

std::vector<CollectedBlock> collectBlocks(DomNode& document) {
    std::vector<CollectedBlock> blocks;
    auto body = document.body();
    if (!body)
        return blocks;
    // The innermost block element around the text being read.
    std::vector<std::string> enclosing = {"body"};
    bool space = false, block = true;
    auto collect = [&](auto& self, const DomNode& node) -> void {
        for (const auto& child : node.children()) {
            if (child->isElement()) {
                if (std::find(std::begin(kHiddenElements), std::end(kHiddenElements), child->tag()) !=
                    std::end(kHiddenElements))
                    continue;
                const bool inlineElement = std::find(std::begin(kInlineElements), std::end(kInlineElements),
                                                     child->tag()) != std::end(kInlineElements);
                if (!inlineElement) {
                    block = true;
                    enclosing.push_back(child->tag());
                }
                self(self, *child);
                if (!inlineElement) {
                    block = true;
                    enclosing.pop_back();
                }
            } else if (child->type() == DomNode::Type::Text) {
                for (char c : child->data()) {
                    if (std::isspace(static_cast<unsigned char>(c))) {
                        space = !blocks.empty();
                    } else {
                        if (block)
                            blocks.push_back({{{}, enclosing.back(), Color::blackColor()}, &node});
                        else if (space)
                            blocks.back().block.text += ' ';
                        space = block = false;
                        blocks.back().block.text += c;
                    }
                }
            }
        }
    };
    collect(collect, *body);
    return blocks;
}

} // namespace

std::optional<Color> parsePageColor(std::string_view raw) {
    std::string text = toLower(trim(raw));
    if (text == "transparent")
        return Color::clearColor();
    for (const auto& named : kNamedColors)
        if (text == named.name)
            return fromRGB(named.rgb);
    if (text.size() > 1 && text[0] == '#') {
        std::string hex = text.substr(1);
        if (!std::all_of(hex.begin(), hex.end(),
                         [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
            return std::nullopt;
        if (hex.size() == 3)
            hex = {hex[0], hex[0], hex[1], hex[1], hex[2], hex[2]};
        if (hex.size() != 6)
            return std::nullopt;
        return fromRGB(unsigned(std::stoul(hex, nullptr, 16)));
    }
    for (std::string_view function : {"rgba(", "rgb("}) {
        if (!text.starts_with(function) || text.back() != ')')
            continue;
        std::string_view inside = std::string_view(text).substr(function.size());
        inside.remove_suffix(1);
        std::vector<double> parts;
        while (true) {
            auto comma = inside.find(',');
            auto value = number(inside.substr(0, comma));
            if (!value)
                return std::nullopt;
            parts.push_back(*value);
            if (comma == std::string_view::npos)
                break;
            inside = inside.substr(comma + 1);
        }
        if (parts.size() != 3 && parts.size() != 4)
            return std::nullopt;
        auto channel = [&](std::size_t i) {
            bool percent = text.find('%') != std::string::npos && i < 3 && parts[i] <= 1;
            return std::clamp(percent ? parts[i] : parts[i] / 255, 0.0, 1.0);
        };
        return Color::rgba(channel(0), channel(1), channel(2),
                           parts.size() == 4 ? std::clamp(parts[3], 0.0, 1.0) : 1.0);
    }
    return std::nullopt;
}

PageLook pageLook(DomNode& document) {
    return pageLookWith(document, StyleSheets(document));
}

std::vector<PageBlock> visiblePageBlocks(DomNode& document) {
    const StyleSheets sheets(document);
    const Color pageText = pageLookWith(document, sheets).text;
    std::vector<PageBlock> out;
    for (auto& collected : collectBlocks(document)) {
        collected.block.color = textColorIn(sheets, collected.holder, pageText);
        out.push_back(std::move(collected.block));
    }
    return out;
}

std::string visiblePageText(DomNode& document, std::string_view blockBreak) {
    std::string text;
    for (const auto& collected : collectBlocks(document)) {
        if (!text.empty())
            text += blockBreak;
        text += collected.block.text;
    }
    return text;
}

} // namespace platform
