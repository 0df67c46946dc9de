#include "faq/faq_document.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace morvale {
namespace {

// A compact picture of a tree: c(name)[...] for categories, i(name)=content for replies.
std::string Shape(const FAQNode& parent) {
    std::string out;
    for (const auto& child : parent.children) {
        if (!out.empty()) out += ",";
        if (child->data.kind == kFAQCategory) {
            out += "c(" + child->data.name + ")[" + Shape(*child) + "]";
            EXPECT_TRUE(child->data.content.empty());
        } else {
            out += "i(" + child->data.name + ")=" + child->data.content;
            EXPECT_TRUE(child->children.empty());
        }
        EXPECT_EQ(child->parent, &parent);
    }
    return out;
}

constexpr const char* kHead =
    "<?xml version=\"1.0\" encoding=\"gb2312\"?><!DOCTYPE content [<!ENTITY nbsp \"&#160;\">]>";

TEST(FAQDocument, WritesTheExactOneLineForm) {
    FAQTree tree;
    FAQNode& cat = tree.root.AddChild({kFAQCategory, "售前\"问'答", ""});
    cat.AddChild({kFAQReply, "价格", "a<b & c>d\r\n'\"x"});
    cat.AddChild({kFAQCategory, "空", ""});
    tree.root.AddChild({kFAQReply, "你好", "您好！"});
    EXPECT_EQ(WriteFAQDocument(tree),
              std::string(kHead) +
                  "<root><c n=\"售前&quot;问&apos;答\"><i n=\"价格\">a&lt;b &amp; c&gt;d\r\n'\"x</i>"
                  "<c n=\"空\"></c></c><i n=\"你好\">您好！</i></root>");
    FAQTree empty;
    EXPECT_EQ(WriteFAQDocument(empty), std::string(kHead) + "<root></root>");
}

TEST(FAQDocument, SavedTreeReadsBackUnchanged) {
    FAQTree tree;
    FAQNode& cat = tree.root.AddChild({kFAQCategory, "类\"别'", ""});
    cat.AddChild({kFAQReply, "t<&>", "<p>a&amp;b</p> & < >"});
    cat.AddChild({kFAQCategory, "empty", ""});
    FAQNode& deep = cat.AddChild({kFAQCategory, "deep", ""});
    deep.AddChild({kFAQReply, "x", ""});
    tree.root.AddChild({kFAQReply, "\x81\x40", "\x81\x40\xFE\x4F"});  // GBK beyond GB2312
    const FAQReadResult back = ReadFAQDocument(WriteFAQDocument(tree));
    ASSERT_TRUE(back.ok()) << back.error;
    EXPECT_EQ(Shape(back.tree.root), Shape(tree.root));
}

struct ReadCase {
    const char* name;
    std::string xml;
    std::string shape;
    bool ok;
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class FAQRead : public testing::TestWithParam<ReadCase> {};

TEST_P(FAQRead, BuildsNodes) {
    const ReadCase& c = GetParam();
    const FAQReadResult r = ReadFAQDocument(c.xml);
    EXPECT_EQ(r.ok(), c.ok) << r.error;
    EXPECT_EQ(Shape(r.tree.root), c.shape);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FAQRead,
    testing::Values(
        ReadCase{"EmptyRoot", std::string(kHead) + "<root></root>", "", true},
        ReadCase{"RootNameNotChecked", "<anything><i n=\"a\">x</i></anything>", "i(a)=x", true},
        ReadCase{"OnlyCMakesCategories",
                 "<r><c n=\"k\"><i n=\"a\">1</i><reply n=\"b\">2</reply><C n=\"d\">3</C></c><c n=\"e\"/></r>",
                 "c(k)[i(a)=1,i(b)=2,i(d)=3],c(e)[]", true},
        ReadCase{"FirstAttributeByPosition",
                 "<r><c t=\"first\" n=\"second\"><i x=\"one\" n=\"two\">v</i></c></r>", "c(first)[i(one)=v]",
                 true},
        ReadCase{"NoAttributeGivesEmptyName", "<r><i>v</i><c></c></r>", "i()=v,c()[]", true},
        ReadCase{"NothingBelowAReply", "<r><i n=\"a\">x<b>y<c n=\"z\"/></b>z</i></r>", "i(a)=xz", true},
        ReadCase{
            "EntitiesDecoded",
            std::string(kHead) + "<root><i n=\"a&amp;&nbsp;b\">1&nbsp;2&lt;&#x41;<![CDATA[<x>]]></i></root>",
            "i(a& b)=1 2<A<x>", true},
        ReadCase{"GbkDeclaredAsGb2312",
                 std::string(kHead) + "<root><c n=\"\x81\x40\"><i n=\"\xD6\xD0\">\xFE\x4F</i></c></root>",
                 "c(\x81\x40)[i(\xD6\xD0)=\xFE\x4F]", true},
        ReadCase{
            "Utf8Document",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r><i n=\"\xE4\xB8\xAD\">\xF0\x9F\x98\x80</i></r>",
            "i(\xD6\xD0)=&#128512;", true},
        ReadCase{"WhitespaceBetweenNodesIgnored",
                 "<r>\r\n  <c n=\"a\">\r\n    <i n=\"b\">x</i>\r\n  </c>\r\n</r>\r\n", "c(a)[i(b)=x]", true},
        ReadCase{"MalformedKeepsNodesBefore",
                 "<r><i n=\"a\">x</i><c n=\"b\"><i n=\"c\">y</i><i n=\"d\">z</r>",
                 "i(a)=x,c(b)[i(c)=y,i(d)=z]", false},
        ReadCase{"UndeclaredEntityFails", "<r><i n=\"a\">x</i><i n=\"b\">&nbsp;</i></r>",
                 "i(a)=x,i(b)=", false},
        ReadCase{"NotXml", "this is not a document", "", false}, ReadCase{"Empty", "", "", false}),
    [](const testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST(FAQDocument, NeverLoadsExternalEntities) {
    const std::string secret = testing::TempDir() + "faq_secret.txt";
    { std::ofstream(secret) << "SECRET"; }
    const std::string xml =
        "<!DOCTYPE r [<!ENTITY x SYSTEM \"file://" + secret + "\">]><r><i n=\"a\">[&x;]</i></r>";
    const FAQReadResult r = ReadFAQDocument(xml);
    EXPECT_EQ(Shape(r.tree.root).find("SECRET"), std::string::npos);
    const std::string pe =
        "<!DOCTYPE r [<!ENTITY % p SYSTEM \"file://" + secret + "\"> %p;]><r><i n=\"a\">v</i></r>";
    EXPECT_EQ(Shape(ReadFAQDocument(pe).tree.root).find("SECRET"), std::string::npos);
    const std::string dtd = "<!DOCTYPE r SYSTEM \"file://" + secret + "\"><r><i n=\"a\">v</i></r>";
    EXPECT_EQ(Shape(ReadFAQDocument(dtd).tree.root), "i(a)=v");
    std::remove(secret.c_str());
}

TEST(FAQDocument, EntityExpansionBombIsRefused) {
    std::string xml = "<!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\">";
    std::string prev = "a";
    for (int level = 0; level < 9; ++level) {
        const std::string name = "e" + std::to_string(level);
        xml += "<!ENTITY " + name + " \"";
        for (int k = 0; k < 10; ++k) xml += "&" + prev + ";";
        xml += "\">";
        prev = name;
    }
    xml += "]><r><i n=\"x\">&" + prev + ";</i></r>";
    const FAQReadResult r = ReadFAQDocument(xml);
    EXPECT_FALSE(r.ok());
    ASSERT_EQ(r.tree.root.children.size(), 1u);
    EXPECT_LT(r.tree.root.children[0]->data.content.size(), 100000000u);
}

}  // namespace
}  // namespace morvale
