#include <gtest/gtest.h>

#include <string>

#include "platform/web/Dom.h"

using platform::DomNode;

namespace {

TEST(Dom, ParserAddsTheMissingStructureAndKeepsAttributes) {
    auto document =
        DomNode::parseDocument("<title>Ad</title><p id=first class='a b'>Hello <b>world</b></p><p>2</p>");
    ASSERT_NE(document->body(), nullptr);
    ASSERT_NE(document->head(), nullptr);
    EXPECT_EQ(document->title(), "Ad");
    auto first = document->elementById("first");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->tag(), "p");
    EXPECT_EQ(first->attribute("class"), "a b");
    EXPECT_EQ(first->attribute("CLASS"), "a b");
    EXPECT_FALSE(first->attribute("style").has_value());
    EXPECT_EQ(first->textContent(), "Hello world");
    EXPECT_EQ(first->parent(), document->body().get());
    EXPECT_EQ(document->elementsByTagName("P").size(), 2u);
    EXPECT_EQ(document->elementsByTagName("*").size(), 7u); // html head title body p b p
    EXPECT_EQ(document->elementById("missing"), nullptr);
}

TEST(Dom, InnerHTMLSerialisesEscapedAndReparsesFragments) {
    auto document =
        DomNode::parseDocument("<div id=box><a href=\"x?a=1&amp;b=&quot;2&quot;\">1 &lt; 2</a><br></div>");
    auto box = document->elementById("box");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->innerHTML(), "<a href=\"x?a=1&amp;b=&quot;2&quot;\">1 &lt; 2</a><br>");

    box->setInnerHTML("<span id=s>new</span> text<script>if (a < b) {}</script>");
    ASSERT_EQ(box->children().size(), 3u);
    EXPECT_EQ(document->elementById("s")->textContent(), "new");
    EXPECT_EQ(box->innerHTML(), "<span id=\"s\">new</span> text<script>if (a < b) {}</script>");
    // Table parts parse in their own context.
    auto table = DomNode::createElement("tbody");
    table->setInnerHTML("<tr><td>cell</td></tr>");
    EXPECT_EQ(table->innerHTML(), "<tr><td>cell</td></tr>");
}

TEST(Dom, MutationsKeepOneParentAndRefuseCycles) {
    auto document = DomNode::parseDocument("<div id=a><div id=b></div></div><div id=c></div>");
    auto a = document->elementById("a");
    auto b = document->elementById("b");
    auto c = document->elementById("c");

    EXPECT_TRUE(c->appendChild(b)); // moves
    EXPECT_TRUE(a->children().empty());
    EXPECT_EQ(b->parent(), c.get());
    EXPECT_FALSE(b->appendChild(c)); // c is b's ancestor
    EXPECT_FALSE(b->appendChild(b));

    auto made = DomNode::createElement("IMG");
    EXPECT_EQ(made->tag(), "img");
    EXPECT_TRUE(c->insertBefore(made, b.get()));
    EXPECT_EQ(c->children().front(), made);
    EXPECT_FALSE(c->insertBefore(DomNode::createText("x"), a.get())); // a is no child of c

    EXPECT_TRUE(c->removeChild(b.get()));
    EXPECT_FALSE(c->removeChild(b.get()));
    EXPECT_EQ(b->parent(), nullptr);
    EXPECT_EQ(document->elementById("b"), nullptr);

    c->setTextContent("plain <text>");
    EXPECT_EQ(c->innerHTML(), "plain &lt;text&gt;");
    c->setAttribute("Data-X", "1");
    EXPECT_EQ(c->attribute("data-x"), "1");
    c->removeAttribute("DATA-X");
    EXPECT_FALSE(c->attribute("data-x").has_value());
}

TEST(Dom, HostileNestingIsFlattenedNotRecursedWithoutBound) {
    std::string html;
    constexpr int kLevels = 3000; // well past the depth the tree keeps
    for (int i = 0; i < kLevels; ++i)
        html += "<span>";
    html += "deep";
    auto document = DomNode::parseDocument(html);
    EXPECT_EQ(document->body()->textContent(), "deep");
    EXPECT_NE(document->body()->innerHTML().find("deep"), std::string::npos);
}

} // namespace
