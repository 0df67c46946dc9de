#include "session/visitor_list_xml.h"

#include <charconv>
#include <cstring>

#include "core/gbk.h"
#include "core/safe_xml.h"
#include "core/text_utils.h"

namespace morvale {
namespace {

bool DeclaresUtf8(std::string_view xml) {
    if (xml.substr(0, 3) == "\xEF\xBB\xBF") return true;
    const std::string encoding = XmlDeclaredEncoding(xml);
    return EqualsNoCase(encoding, "utf-8") || EqualsNoCase(encoding, "utf8");
}

// GBK bytes are handed to the parser as if they were Latin-1 (every byte one character), which keeps
// them intact through the parse; markup bytes never occur inside a GBK character.
std::string BytesAsUtf8(std::string_view bytes) {
    std::size_t high = 0;
    for (const char c : bytes) high += static_cast<unsigned char>(c) >> 7;
    std::string out(bytes.size() + high, '\0');
    char* o = out.data();
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            *o++ = c;
        } else {
            *o++ = static_cast<char>(0xC0 | (b >> 6));
            *o++ = static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return out;
}

// Back from the parser: characters up to U+00FF are the original bytes; larger ones can only come
// from character references and are converted to GBK.
std::string Utf8AsBytes(const char* s) {
    std::string out;
    out.reserve(std::strlen(s));
    while (*s != '\0') {
        const auto b = static_cast<unsigned char>(*s);
        if (b < 0x80) {
            const char* run = s;
            while (static_cast<unsigned char>(*s) - 1u < 0x7Fu) ++s;
            out.append(run, static_cast<std::size_t>(s - run));
        } else if ((b == 0xC2 || b == 0xC3) && s[1] != '\0') {
            out += static_cast<char>(((b & 0x03) << 6) | (static_cast<unsigned char>(s[1]) & 0x3F));
            s += 2;
        } else {
            const char* start = s++;
            while ((static_cast<unsigned char>(*s) & 0xC0) == 0x80) ++s;
            out += Utf8ToGbk(std::string_view(start, static_cast<std::size_t>(s - start)),
                             GbkFallback::Question);
        }
    }
    return out;
}

DateTime TimeOf(const std::string& text) {
    std::int64_t seconds = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return 0;
    return UnixToLocal(seconds);
}

struct Reader {
    VisitorListResult* result = nullptr;
    bool gbk = true;
    int depth = 0;

    std::string Value(const unsigned char* v) const {
        const char* s = reinterpret_cast<const char*>(v);
        return gbk ? Utf8AsBytes(s) : Utf8ToGbk(s, GbkFallback::Question);
    }
};

Reader& ReaderOf(void* ctx) { return *static_cast<Reader*>(SafeXmlUser(ctx)); }

void OnStartElement(void* ctx, const unsigned char*, const unsigned char** atts) {
    Reader& r = ReaderOf(ctx);
    if (r.depth++ != 1) return;
    VisitorListEntry entry;
    entry.visitor = std::make_unique<Visitor>();
    Visitor& v = *entry.visitor;
    v.state = vsBrowsing;
    std::string chatTime;
    for (int pos = 0; atts != nullptr && atts[2 * pos] != nullptr; ++pos) {
        const unsigned char* value = atts[2 * pos + 1];
        if (value == nullptr) continue;
        switch (pos) {
            case 0:
                v.vid = r.Value(value);
                break;
            case 1:
                v.arriveTime = TimeOf(r.Value(value));
                break;
            case 3:
                v.ip = r.Value(value);
                break;
            case 4:
                v.area = r.Value(value);
                break;
            case 5:
                v.pageUrl = r.Value(value);
                break;
            case 6:
                v.pageTitle = r.Value(value);
                break;
            case 7:
                v.referUrl = r.Value(value);
                break;
            case 8:
                v.keyName = r.Value(value);
                break;
            case 9:
                v.keyValue = r.Value(value);
                break;
            case 10:
                v.guestId = r.Value(value);
                break;
            case 11:
                v.guestName = r.Value(value);
                break;
            case 12:
                entry.rid = r.Value(value);
                break;
            case 13:
                entry.opId = r.Value(value);
                break;
            case 14:
                entry.opLogin = r.Value(value);
                break;
            case 15:
                entry.opName = r.Value(value);
                break;
            case 16:
                chatTime = r.Value(value);
                break;
            default:
                break;
        }
    }
    entry.chatting = !entry.rid.empty();
    if (entry.chatting) entry.chatTime = TimeOf(chatTime);
    r.result->entries.push_back(std::move(entry));
}

void OnEndElement(void* ctx, const unsigned char*) { --ReaderOf(ctx).depth; }

}  // namespace

VisitorListResult ReadVisitorList(std::string_view xml) {
    VisitorListResult result;
    Reader reader;
    reader.result = &result;
    reader.gbk = !DeclaresUtf8(xml);
    std::string converted;
    if (reader.gbk) {
        converted = BytesAsUtf8(xml);
        xml = converted;
    }
    const SafeXmlResult parsed =
        ParseXmlSafely(xml, {OnStartElement, OnEndElement, nullptr}, &reader, reader.gbk);
    if (!parsed.wellFormed) {
        result.error = parsed.message;
        result.entries.clear();
    }
    return result;
}

}  // namespace morvale
