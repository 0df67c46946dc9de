#include "faq/faq_document.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <cstring>

#include "core/gbk.h"
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

// The encoding named in the XML declaration, empty when there is none.
std::string DeclaredEncoding(std::string_view xml) {
    if (xml.substr(0, 3) == "\xEF\xBB\xBF") xml.remove_prefix(3);
    if (xml.substr(0, 5) != "<?xml") return {};
    const std::size_t end = xml.find("?>");
    std::string_view decl = xml.substr(0, end);
    const std::size_t at = decl.find("encoding");
    if (at == std::string_view::npos) return {};
    std::size_t i = at + 8;
    while (i < decl.size() && (decl[i] == ' ' || decl[i] == '\t' || decl[i] == '\r' || decl[i] == '\n')) ++i;
    if (i >= decl.size() || decl[i] != '=') return {};
    ++i;
    while (i < decl.size() && (decl[i] == ' ' || decl[i] == '\t' || decl[i] == '\r' || decl[i] == '\n')) ++i;
    if (i >= decl.size() || (decl[i] != '"' && decl[i] != '\'')) return {};
    const char quote = decl[i++];
    const std::size_t close = decl.find(quote, i);
    if (close == std::string_view::npos) return {};
    return std::string(decl.substr(i, close - i));
}

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

Builder& BuilderOf(void* ctx) { return *static_cast<Builder*>(static_cast<xmlParserCtxtPtr>(ctx)->_private); }

void OnStartElement(void* ctx, const xmlChar* name, const xmlChar** atts) {
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

void OnEndElement(void* ctx, const xmlChar*) {
    Builder& b = BuilderOf(ctx);
    if (b.stack.empty()) return;
    b.Close(b.stack.back());
    b.stack.pop_back();
}

void OnCharacters(void* ctx, const xmlChar* ch, int len) {
    Builder& b = BuilderOf(ctx);
    if (!b.stack.empty() && b.stack.back().kind == Builder::Kind::Reply) {
        b.stack.back().text.append(reinterpret_cast<const char*>(ch), static_cast<std::size_t>(len));
    }
}

// Nothing outside the document is ever loaded: external entities are never declared, so a reference
// to one is an undeclared entity, and nothing is resolved.
void OnEntityDecl(void* ctx, const xmlChar* name, int type, const xmlChar* publicId, const xmlChar* systemId,
                  xmlChar* content) {
    if (type == XML_INTERNAL_GENERAL_ENTITY || type == XML_INTERNAL_PARAMETER_ENTITY) {
        xmlSAX2EntityDecl(ctx, name, type, publicId, systemId, content);
    }
}
xmlParserInputPtr OnResolveEntity(void*, const xmlChar*, const xmlChar*) { return nullptr; }
void OnExternalSubset(void*, const xmlChar*, const xmlChar*, const xmlChar*) {}
void OnQuiet(void*, const char*, ...) {}

}  // namespace

FAQReadResult ReadFAQDocument(std::string_view xml) {
    FAQReadResult result;
    std::string converted;
    int options = XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_NOWARNING | XML_PARSE_NOERROR;
    if (IsGbkFamily(DeclaredEncoding(xml))) {
        converted = GbkToUtf8(xml);
        xml = converted;
        options |= XML_PARSE_IGNORE_ENC;
    }
    if (xml.empty()) {
        result.error = "empty document";
        return result;
    }

    xmlSAXHandler sax;
    xmlSAXVersion(&sax, 1);
    sax.startElement = OnStartElement;
    sax.endElement = OnEndElement;
    sax.characters = OnCharacters;
    sax.cdataBlock = OnCharacters;
    sax.ignorableWhitespace = OnCharacters;
    sax.resolveEntity = OnResolveEntity;
    sax.entityDecl = OnEntityDecl;
    sax.externalSubset = OnExternalSubset;
    sax.reference = nullptr;
    sax.comment = nullptr;
    sax.processingInstruction = nullptr;
    sax.warning = OnQuiet;
    sax.error = OnQuiet;
    sax.fatalError = OnQuiet;

    xmlParserCtxtPtr ctxt = xmlCreateMemoryParserCtxt(xml.data(), static_cast<int>(xml.size()));
    if (ctxt == nullptr) {
        result.error = "cannot create the XML parser";
        return result;
    }
    Builder builder;
    builder.tree = &result.tree;
    xmlSAXHandlerPtr oldSax = ctxt->sax;
    ctxt->sax = &sax;
    ctxt->_private = &builder;
    xmlCtxtUseOptions(ctxt, options);
    ctxt->sax->warning = OnQuiet;
    ctxt->sax->error = OnQuiet;
    ctxt->sax->fatalError = OnQuiet;
    xmlParseDocument(ctxt);
    const bool wellFormed = ctxt->wellFormed != 0;
    if (!wellFormed) {
        const xmlError* err = xmlCtxtGetLastError(ctxt);
        result.error =
            (err != nullptr && err->message != nullptr) ? Trim(err->message) : "malformed document";
        if (err != nullptr) result.error += " (line " + std::to_string(err->line) + ")";
    }
    // Replies left open by a fault keep the text read so far.
    for (auto& frame : builder.stack) builder.Close(frame);
    ctxt->sax = oldSax;
    if (ctxt->myDoc != nullptr) xmlFreeDoc(ctxt->myDoc);
    ctxt->myDoc = nullptr;
    xmlFreeParserCtxt(ctxt);
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
