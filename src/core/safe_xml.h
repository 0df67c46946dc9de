#pragma once

// One safe way to run libxml2's streaming parser over a document the service sent: nothing outside
// the document is ever loaded (no network, no external entities or subsets), internal entities such
// as the libraries' nbsp are honoured, and libxml2 prints nothing. Readers supply only their element
// and text callbacks and keep their state in the user pointer.

#include <string>
#include <string_view>

namespace morvale {

// libxml2's SAX callback shapes (xmlChar is unsigned char); `ctx` goes to SafeXmlUser.
using XmlStartElement = void (*)(void* ctx, const unsigned char* name, const unsigned char** attributes);
using XmlEndElement = void (*)(void* ctx, const unsigned char* name);
using XmlCharacters = void (*)(void* ctx, const unsigned char* text, int length);

struct SafeXmlCallbacks {
    XmlStartElement startElement = nullptr;
    XmlEndElement endElement = nullptr;
    XmlCharacters characters = nullptr;  // also gets CDATA and ignorable blanks
};

struct SafeXmlResult {
    bool wellFormed = false;
    std::string message;  // libxml2's message of the first fault, trimmed; empty when well-formed
    int line = 0;         // line of that fault
};

// Parses `xml` (UTF-8, or whatever its declaration names unless `ignoreDeclaredEncoding`), calling
// the callbacks with `user` reachable through SafeXmlUser.
SafeXmlResult ParseXmlSafely(std::string_view xml, const SafeXmlCallbacks& callbacks, void* user,
                             bool ignoreDeclaredEncoding);

// The user pointer of a callback's `ctx`.
void* SafeXmlUser(void* ctx);

// The encoding named in the XML declaration, empty when there is none.
std::string XmlDeclaredEncoding(std::string_view xml);

}  // namespace morvale
