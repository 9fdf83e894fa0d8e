#include "platform/web/Dom.h"

#include <algorithm>
#include <cctype>

#include <gumbo.h>

namespace platform {

namespace {

// Nesting deeper than this is flattened into the node at this depth, so walking the tree
// (serialising, collecting text) never recurses without bound on hostile markup.
constexpr int kMaximumDepth = 256;

constexpr std::string_view kVoidElements[] = {"area",  "base", "br",   "col",   "embed",  "hr",    "img",
                                              "input", "link", "meta", "param", "source", "track", "wbr"};
// Elements whose text is written out as it is, without escaping.
constexpr std::string_view kRawTextElements[] = {"script", "style", "xmp", "iframe", "noembed", "noframes"};

bool contains(const auto& table, std::string_view name) {
    return std::find(std::begin(table), std::end(table), name) != std::end(table);
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

void escapeInto(std::string& out, std::string_view text, bool attribute) {
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += attribute ? "<" : "&lt;";
            break;
        case '>':
            out += attribute ? ">" : "&gt;";
            break;
        case '"':
            out += attribute ? "&quot;" : "\"";
            break;
        default:
            out += c;
        }
    }
}

std::string tagName(const GumboElement& element) {
    if (element.tag != GUMBO_TAG_UNKNOWN)
        return gumbo_normalized_tagname(element.tag);
    GumboStringPiece piece = element.original_tag;
    gumbo_tag_from_original_text(&piece);
    return lower(std::string_view(piece.data, piece.length));
}

} // namespace

// Turns the parser's tree into ours.
struct DomBuilder {
    static void addChildren(DomNode& target, const GumboVector& children, int depth) {
        for (unsigned i = 0; i < children.length; ++i) {
            const auto* node = static_cast<const GumboNode*>(children.data[i]);
            if (auto made = build(*node, depth))
                target.appendChild(made);
            // Too deep: the grandchildren join this level instead.
            if ((node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE) &&
                depth >= kMaximumDepth)
                addChildren(target, node->v.element.children, depth);
        }
    }

    static std::shared_ptr<DomNode> build(const GumboNode& node, int depth) {
        switch (node.type) {
        case GUMBO_NODE_TEXT:
        case GUMBO_NODE_WHITESPACE:
        case GUMBO_NODE_CDATA:
            return DomNode::createText(node.v.text.text);
        case GUMBO_NODE_COMMENT: {
            std::shared_ptr<DomNode> comment(new DomNode(DomNode::Type::Comment));
            comment->data_ = node.v.text.text;
            return comment;
        }
        case GUMBO_NODE_ELEMENT:
        case GUMBO_NODE_TEMPLATE: {
            if (depth >= kMaximumDepth)
                return nullptr;
            const GumboElement& element = node.v.element;
            auto made = DomNode::createElement(tagName(element));
            for (unsigned i = 0; i < element.attributes.length; ++i) {
                const auto* attribute = static_cast<const GumboAttribute*>(element.attributes.data[i]);
                made->setAttribute(lower(attribute->name), attribute->value);
            }
            addChildren(*made, element.children, depth + 1);
            return made;
        }
        case GUMBO_NODE_DOCUMENT:
            break;
        }
        return nullptr;
    }
};

std::shared_ptr<DomNode> DomNode::parseDocument(std::string_view html) {
    html = html.substr(0, std::min(html.size(), kMaximumMarkupBytes));
    std::shared_ptr<DomNode> document(new DomNode(Type::Document));
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, html.data(), html.size());
    if (!output)
        return document;
    DomBuilder::addChildren(*document, output->document->v.document.children, 0);
    gumbo_destroy_output(&kGumboDefaultOptions, output);
    return document;
}

std::vector<std::shared_ptr<DomNode>> DomNode::parseFragment(std::string_view html,
                                                             std::string_view contextTag) {
    html = html.substr(0, std::min(html.size(), kMaximumMarkupBytes));
    GumboOptions options = kGumboDefaultOptions;
    options.fragment_context = gumbo_tag_enum(std::string(contextTag).c_str());
    if (options.fragment_context == GUMBO_TAG_UNKNOWN || options.fragment_context == GUMBO_TAG_LAST)
        options.fragment_context = GUMBO_TAG_DIV;
    GumboOutput* output = gumbo_parse_with_options(&options, html.data(), html.size());
    std::vector<std::shared_ptr<DomNode>> nodes;
    if (!output)
        return nodes;
    // The fragment's nodes are the children of the root the parser makes for it.
    std::shared_ptr<DomNode> holder(new DomNode(Type::Element));
    if (output->root->type == GUMBO_NODE_ELEMENT)
        DomBuilder::addChildren(*holder, output->root->v.element.children, 1);
    gumbo_destroy_output(&options, output);
    nodes = holder->children_;
    holder->removeAllChildren();
    return nodes;
}

std::shared_ptr<DomNode> DomNode::createElement(std::string_view tag) {
    std::shared_ptr<DomNode> node(new DomNode(Type::Element));
    node->tag_ = lower(tag);
    return node;
}

std::shared_ptr<DomNode> DomNode::createText(std::string text) {
    std::shared_ptr<DomNode> node(new DomNode(Type::Text));
    node->data_ = std::move(text);
    return node;
}

DomNode::~DomNode() {
    for (auto& child : children_)
        child->parent_ = nullptr;
}

std::optional<std::string> DomNode::attribute(std::string_view name) const {
    const std::string key = lower(name);
    for (const auto& [attributeName, value] : attributes_)
        if (attributeName == key)
            return value;
    return std::nullopt;
}

void DomNode::setAttribute(std::string_view name, std::string value) {
    const std::string key = lower(name);
    for (auto& [attributeName, current] : attributes_) {
        if (attributeName == key) {
            current = std::move(value);
            return;
        }
    }
    attributes_.emplace_back(key, std::move(value));
}

void DomNode::removeAttribute(std::string_view name) {
    const std::string key = lower(name);
    std::erase_if(attributes_, [&](const auto& entry) { return entry.first == key; });
}

bool DomNode::isAncestorOf(const DomNode* node) const {
    for (; node; node = node->parent_)
        if (node == this)
            return true;
    return false;
}

bool DomNode::appendChild(const std::shared_ptr<DomNode>& child) {
    return insertBefore(child, nullptr);
}

bool DomNode::insertBefore(const std::shared_ptr<DomNode>& child, const DomNode* reference) {
    if (!child || child->type_ == Type::Document || child->isAncestorOf(this))
        return false;
    if (type_ == Type::Text || type_ == Type::Comment)
        return false;
    if (reference && reference->parent_ != this)
        return false;
    std::shared_ptr<DomNode> keep = child; // the old parent may hold the last reference
    if (child->parent_)
        child->parent_->removeChild(child.get());
    auto at =
        std::find_if(children_.begin(), children_.end(), [&](const auto& c) { return c.get() == reference; });
    children_.insert(at, keep);
    keep->parent_ = this;
    return true;
}

bool DomNode::removeChild(const DomNode* child) {
    auto at =
        std::find_if(children_.begin(), children_.end(), [&](const auto& c) { return c.get() == child; });
    if (at == children_.end())
        return false;
    (*at)->parent_ = nullptr;
    children_.erase(at);
    return true;
}

void DomNode::removeAllChildren() {
    for (auto& child : children_)
        child->parent_ = nullptr;
    children_.clear();
}

std::string DomNode::textContent() const {
    if (type_ == Type::Text || type_ == Type::Comment)
        return type_ == Type::Text ? data_ : std::string();
    std::string out;
    for (const auto& child : children_)
        out += child->textContent();
    return out;
}

void DomNode::setTextContent(std::string text) {
    if (type_ == Type::Text || type_ == Type::Comment) {
        data_ = std::move(text);
        return;
    }
    removeAllChildren();
    if (!text.empty())
        appendChild(createText(std::move(text)));
}

std::string DomNode::innerHTML() const {
    std::string out;
    serializeChildren(out);
    return out;
}

std::string DomNode::outerHTML() const {
    std::string out;
    serialize(out);
    return out;
}

void DomNode::setInnerHTML(std::string_view html) {
    if (type_ != Type::Element && type_ != Type::Document)
        return;
    removeAllChildren();
    for (auto& node : parseFragment(html, tag_.empty() ? "div" : tag_))
        appendChild(node);
}

void DomNode::serializeChildren(std::string& out) const {
    for (const auto& child : children_) {
        if (child->type_ == Type::Text && contains(kRawTextElements, tag_))
            out += child->data_;
        else
            child->serialize(out);
    }
}

void DomNode::serialize(std::string& out) const {
    switch (type_) {
    case Type::Document:
        serializeChildren(out);
        return;
    case Type::Text:
        escapeInto(out, data_, false);
        return;
    case Type::Comment:
        out += "<!--" + data_ + "-->";
        return;
    case Type::Element:
        break;
    }
    out += '<' + tag_;
    for (const auto& [name, value] : attributes_) {
        out += ' ' + name + "=\"";
        escapeInto(out, value, true);
        out += '"';
    }
    out += '>';
    if (contains(kVoidElements, tag_))
        return;
    serializeChildren(out);
    out += "</" + tag_ + '>';
}

std::shared_ptr<DomNode> DomNode::elementById(std::string_view id) {
    for (const auto& child : children_) {
        if (child->type_ != Type::Element)
            continue;
        if (child->attribute("id") == id)
            return child;
        if (auto found = child->elementById(id))
            return found;
    }
    return nullptr;
}

std::vector<std::shared_ptr<DomNode>> DomNode::elementsByTagName(std::string_view tag) {
    const std::string wanted = lower(tag);
    std::vector<std::shared_ptr<DomNode>> found;
    auto walk = [&](auto& self, const DomNode& node) -> void {
        for (const auto& child : node.children_) {
            if (child->type_ != Type::Element)
                continue;
            if (wanted == "*" || child->tag_ == wanted)
                found.push_back(child);
            self(self, *child);
        }
    };
    walk(walk, *this);
    return found;
}

std::shared_ptr<DomNode> DomNode::firstElementWithTag(std::string_view tag) {
    if (type_ == Type::Element && tag_ == lower(tag))
        return shared_from_this();
    auto found = elementsByTagName(tag);
    return found.empty() ? nullptr : found.front();
}

std::string DomNode::title() {
    auto element = firstElementWithTag("title");
    return element ? element->textContent() : std::string();
}

} // namespace platform
