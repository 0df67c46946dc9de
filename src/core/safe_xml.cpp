#include "core/safe_xml.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <climits>

#include "core/text_utils.h"

namespace morvale {
namespace {

// External entities are never declared, so a reference to one is an undeclared entity and nothing is
// resolved.
void OnEntityDecl(void* ctx, const xmlChar* name, int type, const xmlChar* publicId, const xmlChar* systemId,
                  xmlChar* content) {
    if (type == XML_INTERNAL_GENERAL_ENTITY || type == XML_INTERNAL_PARAMETER_ENTITY) {
        xmlSAX2EntityDecl(ctx, name, type, publicId, systemId, content);
    }
}
xmlParserInputPtr OnResolveEntity(void*, const xmlChar*, const xmlChar*) { return nullptr; }
void OnExternalSubset(void*, const xmlChar*, const xmlChar*, const xmlChar*) {}
void OnQuiet(void*, const char*, ...) {}

bool IsXmlBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

void* SafeXmlUser(void* ctx) { return static_cast<xmlParserCtxtPtr>(ctx)->_private; }

SafeXmlResult ParseXmlSafely(std::string_view xml, const SafeXmlCallbacks& callbacks, void* user,
                             bool ignoreDeclaredEncoding) {
    SafeXmlResult result;
    if (xml.empty()) {
        result.message = "empty document";
        return result;
    }
    if (xml.size() > static_cast<std::size_t>(INT_MAX)) {
        result.message = "document too large";
        return result;
    }
    xmlSAXHandler sax;
    xmlSAXVersion(&sax, 1);
    sax.startElement = callbacks.startElement;
    sax.endElement = callbacks.endElement;
    sax.characters = callbacks.characters;
    sax.cdataBlock = callbacks.characters;
    sax.ignorableWhitespace = callbacks.characters;
    sax.reference = nullptr;
    sax.comment = nullptr;
    sax.processingInstruction = nullptr;
    sax.entityDecl = OnEntityDecl;
    sax.resolveEntity = OnResolveEntity;
    sax.externalSubset = OnExternalSubset;
    sax.warning = OnQuiet;
    sax.error = OnQuiet;
    sax.fatalError = OnQuiet;

    xmlParserCtxtPtr ctxt = xmlCreateMemoryParserCtxt(xml.data(), static_cast<int>(xml.size()));
    if (ctxt == nullptr) {
        result.message = "cannot create the XML parser";
        return result;
    }
    xmlSAXHandlerPtr oldSax = ctxt->sax;
    ctxt->sax = &sax;
    ctxt->_private = user;
    int options = XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_NOWARNING | XML_PARSE_NOERROR;
    if (ignoreDeclaredEncoding) options |= XML_PARSE_IGNORE_ENC;
    xmlCtxtUseOptions(ctxt, options);
    xmlParseDocument(ctxt);
    result.wellFormed = ctxt->wellFormed != 0;
    if (!result.wellFormed) {
        const xmlError* err = xmlCtxtGetLastError(ctxt);
        result.message =
            (err != nullptr && err->message != nullptr) ? Trim(err->message) : "malformed document";
        result.line = err != nullptr ? err->line : 0;
    }
    ctxt->sax = oldSax;
    if (ctxt->myDoc != nullptr) xmlFreeDoc(ctxt->myDoc);
    ctxt->myDoc = nullptr;
    xmlFreeParserCtxt(ctxt);
    return result;
}

std::string XmlDeclaredEncoding(std::string_view xml) {
    if (xml.substr(0, 3) == "\xEF\xBB\xBF") xml.remove_prefix(3);
    if (xml.substr(0, 5) != "<?xml") return {};
    const std::string_view decl = xml.substr(0, xml.find("?>"));
    const std::size_t at = decl.find("encoding");
    if (at == std::string_view::npos) return {};
    std::size_t i = at + 8;
    while (i < decl.size() && IsXmlBlank(decl[i])) ++i;
    if (i >= decl.size() || decl[i] != '=') return {};
    ++i;
    while (i < decl.size() && IsXmlBlank(decl[i])) ++i;
    if (i >= decl.size() || (decl[i] != '"' && decl[i] != '\'')) return {};
    const char quote = decl[i++];
    const std::size_t close = decl.find(quote, i);
    if (close == std::string_view::npos) return {};
    return std::string(decl.substr(i, close - i));
}

}  // namespace morvale
