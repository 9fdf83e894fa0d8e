#pragma once
// The document tree of a web page: elements, text and comments, built by the HTML parser
// and changed by the page's scripts (and read by tests through WebView::elementById).
//
// Ownership: a node owns its children (shared_ptr); the link back to its parent is a plain
// pointer that the parent clears when it lets the child go or is destroyed, so it never
// dangles. A node taken out of the tree lives on while someone (a script, a test) holds it.
// Not thread-safe: a document belongs to the main thread, like the web view that shows it.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

class DomNode : public std::enable_shared_from_this<DomNode> {
public:
    enum class Type { Document, Element, Text, Comment };

    // Parses a whole page; the answer is the document node (with html, head and body,
    // which the parser adds when the markup leaves them out). Input longer than
    // kMaximumMarkupBytes is cut there.
    static std::shared_ptr<DomNode> parseDocument(std::string_view html);
    // Parses markup meant as the content of an element with tag `contextTag`.
    static std::vector<std::shared_ptr<DomNode>> parseFragment(std::string_view html,
                                                               std::string_view contextTag = "div");
    static std::shared_ptr<DomNode> createElement(std::string_view tag);
    static std::shared_ptr<DomNode> createText(std::string text);

    static constexpr std::size_t kMaximumMarkupBytes = 4 * 1024 * 1024;

    ~DomNode();
    DomNode(const DomNode&) = delete;
    DomNode& operator=(const DomNode&) = delete;

    Type type() const { return type_; }
    bool isElement() const { return type_ == Type::Element; }
    // Lower-case tag name of an element ("" for other nodes).
    const std::string& tag() const { return tag_; }
    // The character data of a text or comment node.
    const std::string& data() const { return data_; }

    // ---- Attributes (elements) ----
    std::optional<std::string> attribute(std::string_view name) const;
    void setAttribute(std::string_view name, std::string value);
    void removeAttribute(std::string_view name);
    const std::vector<std::pair<std::string, std::string>>& attributes() const { return attributes_; }

    // ---- Tree ----
    DomNode* parent() const { return parent_; }
    const std::vector<std::shared_ptr<DomNode>>& children() const { return children_; }
    // Adds `child` at the end (before `reference` for insertBefore); a node that has a parent
    // leaves it first. Refused (false) when `child` is this node or one of its ancestors,
    // a document, or when `reference` is not a child of this node.
    bool appendChild(const std::shared_ptr<DomNode>& child);
    bool insertBefore(const std::shared_ptr<DomNode>& child, const DomNode* reference);
    // False when `child` is not a child of this node.
    bool removeChild(const DomNode* child);
    void removeAllChildren();
    bool isAncestorOf(const DomNode* node) const; // true for the node itself

    // ---- Content ----
    // The text of every text node inside, in document order.
    std::string textContent() const;
    // Replaces the children with a single text node (nothing when `text` is empty).
    void setTextContent(std::string text);
    // Markup of the children / of the node itself.
    std::string innerHTML() const;
    std::string outerHTML() const;
    // Replaces the children with the parsed fragment.
    void setInnerHTML(std::string_view html);

    // ---- Queries (this node's descendants, document order) ----
    std::shared_ptr<DomNode> elementById(std::string_view id);
    // Elements with the tag (case-insensitive), "*" for every element.
    std::vector<std::shared_ptr<DomNode>> elementsByTagName(std::string_view tag);
    // The first element with `tag` inside the node, the node itself included.
    std::shared_ptr<DomNode> firstElementWithTag(std::string_view tag);

    // Document helpers: the body and head elements and the title text.
    std::shared_ptr<DomNode> body() { return firstElementWithTag("body"); }
    std::shared_ptr<DomNode> head() { return firstElementWithTag("head"); }
    std::string title();

private:
    explicit DomNode(Type type) : type_(type) {}
    void serialize(std::string& out) const;
    void serializeChildren(std::string& out) const;

    Type type_;
    std::string tag_;
    std::string data_;
    std::vector<std::pair<std::string, std::string>> attributes_;
    DomNode* parent_ = nullptr; // cleared by the parent when it lets go or dies
    std::vector<std::shared_ptr<DomNode>> children_;

    friend struct DomBuilder;
};

} // namespace platform
