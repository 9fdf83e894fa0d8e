#include "platform/web/PageLook.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <iterator>
#include <vector>

#include "platform/web/Dom.h"

namespace platform {
namespace {

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

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

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
        if (auto important = lower(value).find("!important"); important != std::string::npos)
            value = std::string(trim(std::string_view(value).substr(0, important)));
        out.push_back({lower(trim(one.substr(0, colon))), std::move(value)});
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

// Applies the rules of `sheet` whose selector list names `tag` alone.
void applySheet(std::string_view sheet, std::string_view tag, Look& look) {
    std::string css = withoutComments(sheet);
    std::string_view rest = css;
    while (!rest.empty()) {
        auto open = rest.find('{');
        auto close = open == std::string_view::npos ? std::string_view::npos : rest.find('}', open);
        if (close == std::string_view::npos)
            break;
        std::string_view selectors = rest.substr(0, open);
        std::string_view body = rest.substr(open + 1, close - open - 1);
        rest = rest.substr(close + 1);
        while (!selectors.empty()) {
            auto comma = selectors.find(',');
            if (lower(trim(selectors.substr(0, comma))) == tag) {
                look.apply(declarations(body));
                break;
            }
            selectors = comma == std::string_view::npos ? std::string_view{} : selectors.substr(comma + 1);
        }
    }
}

Look elementLook(DomNode& document, const std::shared_ptr<DomNode>& element, std::string_view tag) {
    Look look;
    if (!element)
        return look;
    if (tag == "body") {
        if (auto bg = element->attribute("bgcolor"))
            look.background = parsePageColor(*bg);
        if (auto text = element->attribute("text"))
            look.text = parsePageColor(*text);
    }
    for (const auto& sheet : document.elementsByTagName("style"))
        applySheet(sheet->textContent(), tag, look);
    if (auto style = element->attribute("style"))
        look.apply(declarations(*style));
    // A clear background paints nothing: the canvas is left to the view.
    if (look.background && look.background->alpha <= 0)
        look.background.reset();
    return look;
}

} // namespace

std::optional<Color> parsePageColor(std::string_view raw) {
    std::string text = lower(trim(raw));
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
    PageLook out;
    Look root = elementLook(document, document.firstElementWithTag("html"), "html");
    Look body = elementLook(document, document.body(), "body");
    out.background = body.background ? body.background : root.background;
    out.text = body.text.value_or(root.text.value_or(Color::blackColor()));
    return out;
}

std::vector<PageBlock> visiblePageBlocks(DomNode& document) {
    std::vector<PageBlock> blocks;
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
                            blocks.push_back({{}, enclosing.back()});
                        else if (space)
                            blocks.back().text += ' ';
                        space = block = false;
                        blocks.back().text += c;
                    }
                }
            }
        }
    };
    collect(collect, *body);
    return blocks;
}

std::string visiblePageText(DomNode& document, std::string_view blockBreak) {
    std::string text;
    for (const auto& block : visiblePageBlocks(document)) {
        if (!text.empty())
            text += blockBreak;
        text += block.text;
    }
    return text;
}

} // namespace platform
