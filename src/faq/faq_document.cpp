#include "faq/faq_document.h"

#include <cstring>

#include "core/gbk.h"
#include "core/safe_xml.h"
#include "core/text_utils.h"

namespace morvale {

FAQNode& FAQNode::AddChild(TFAQNodeData child) {
    auto node = std::make_unique<FAQNode>();
    node->data = std::move(child);
    node->parent = this;
    children.push_back(std::move(node));
    return *children.back();
}

namespace {

constexpr std::string_view kPrologue =
    "<?xml version=\"1.0\" encoding=\"gb2312\"?><!DOCTYPE content [<!ENTITY nbsp \"&#160;\">]><root>";

// Stored libraries say gb2312 but hold GBK (a superset); decoding them as gb2312 would reject the
// characters GBK added, so those documents are decoded as GBK by us.
bool IsGbkFamily(std::string_view name) {
    return EqualsNoCase(name, "gb2312") || EqualsNoCase(name, "gbk") || EqualsNoCase(name, "cp936") ||
           EqualsNoCase(name, "gb_2312-80") || EqualsNoCase(name, "euc-cn") || EqualsNoCase(name, "x-gbk");
}

// The code page has no no-break space; a blank is the nearest character in both uses of a reply
// (pasted as text, inserted as HTML).
std::string ToModelText(const std::string& utf8, GbkFallback fallback) {
    return Utf8ToGbk(ReplaceAll(utf8, "\xC2\xA0", " "), fallback);
}

struct Builder {
    enum class Kind { Container, Reply, Ignored };
    struct Frame {
        Kind kind;
        FAQNode* node;
        std::string text;  // UTF-8 text of a reply, converted when the reply closes
    };
    FAQTree* tree = nullptr;
    std::vector<Frame> stack;

    void Close(Frame& frame) {
        if (frame.kind == Kind::Reply)
            frame.node->data.content = ToModelText(frame.text, GbkFallback::CharRef);
    }
};

Builder& BuilderOf(void* ctx) { return *static_cast<Builder*>(SafeXmlUser(ctx)); }

void OnStartElement(void* ctx, const unsigned char* name, const unsigned char** atts) {
    Builder& b = BuilderOf(ctx);
    if (b.stack.empty()) {
        b.stack.push_back({Builder::Kind::Container, &b.tree->root, {}});
        return;
    }
    Builder::Frame& top = b.stack.back();
    if (top.kind != Builder::Kind::Container) {
        b.stack.push_back({Builder::Kind::Ignored, nullptr, {}});
        return;
    }
    const bool category = std::strcmp(reinterpret_cast<const char*>(name), "c") == 0;
    std::string caption;
    if (atts != nullptr && atts[0] != nullptr && atts[1] != nullptr) {
        caption = ToModelText(reinterpret_cast<const char*>(atts[1]), GbkFallback::Question);
    }
    FAQNode& node = top.node->AddChild({category ? kFAQCategory : kFAQReply, std::move(caption), {}});
    b.stack.push_back({category ? Builder::Kind::Container : Builder::Kind::Reply, &node, {}});
}

void OnEndElement(void* ctx, const unsigned char*) {
    Builder& b = BuilderOf(ctx);
    if (b.stack.empty()) return;
    b.Close(b.stack.back());
    b.stack.pop_back();
}

void OnCharacters(void* ctx, const unsigned char* ch, int len) {
    Builder& b = BuilderOf(ctx);
    if (!b.stack.empty() && b.stack.back().kind == Builder::Kind::Reply) {
        b.stack.back().text.append(reinterpret_cast<const char*>(ch), static_cast<std::size_t>(len));
    }
}

}  // namespace

FAQReadResult ReadFAQDocument(std::string_view xml) {
    FAQReadResult result;
    std::string converted;
    const bool gbk = IsGbkFamily(XmlDeclaredEncoding(xml));
    if (gbk) {
        converted = GbkToUtf8(xml);
        xml = converted;
    }
    Builder builder;
    builder.tree = &result.tree;
    const SafeXmlResult parsed =
        ParseXmlSafely(xml, {OnStartElement, OnEndElement, OnCharacters}, &builder, gbk);
    if (!parsed.wellFormed) {
        result.error = parsed.message;
        if (parsed.line > 0) result.error += " (line " + std::to_string(parsed.line) + ")";
    }
    // Replies left open by a fault keep the text read so far.
    for (auto& frame : builder.stack) builder.Close(frame);
    return result;
}

namespace {

void WriteNodes(const FAQNode& parent, std::string& out) {
    for (const auto& child : parent.children) {
        if (child->data.kind == kFAQCategory) {
            out += "<c n=\"";
            out += XmlEscapeAttr(child->data.name);
            out += "\">";
            WriteNodes(*child, out);
            out += "</c>";
        } else {
            out += "<i n=\"";
            out += XmlEscapeAttr(child->data.name);
            out += "\">";
            out += XmlEscapeText(child->data.content);
            out += "</i>";
        }
    }
}

}  // namespace

std::string WriteFAQDocument(const FAQTree& tree) {
    std::string out(kPrologue);
    WriteNodes(tree.root, out);
    out += "</root>";
    return out;
}

}  // namespace morvale
