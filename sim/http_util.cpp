#include "http_util.h"

#include "core/text_utils.h"

namespace morvale::sim {
namespace {

std::string Decode(std::string_view s) {
    auto d = UrlDecode(s);
    return d ? *d : std::string(s);
}

std::string QuotedAttr(std::string_view header, std::string_view key) {
    // key="value" (value up to the next quote) or key=value (up to ; or the end)
    size_t at = 0;
    while ((at = header.find(key, at)) != std::string_view::npos) {
        bool boundaryBefore =
            at == 0 || header[at - 1] == ' ' || header[at - 1] == ';' || header[at - 1] == '\t';
        size_t eq = at + key.size();
        if (!boundaryBefore || eq >= header.size() || header[eq] != '=') {
            at = eq;
            continue;
        }
        size_t v = eq + 1;
        if (v < header.size() && header[v] == '"') {
            size_t end = header.find('"', v + 1);
            if (end == std::string_view::npos) return std::string(header.substr(v + 1));
            return std::string(header.substr(v + 1, end - v - 1));
        }
        size_t end = header.find(';', v);
        return Trim(header.substr(v, end == std::string_view::npos ? std::string_view::npos : end - v));
    }
    return {};
}

}  // namespace

Params ParseForm(std::string_view text) {
    Params out;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t amp = text.find('&', pos);
        std::string_view pair =
            text.substr(pos, amp == std::string_view::npos ? std::string_view::npos : amp - pos);
        if (!pair.empty()) {
            size_t eq = pair.find('=');
            if (eq == std::string_view::npos)
                out.emplace(Decode(pair), "");
            else
                out.emplace(Decode(pair.substr(0, eq)), Decode(pair.substr(eq + 1)));
        }
        if (amp == std::string_view::npos) break;
        pos = amp + 1;
    }
    return out;
}

std::string Param(const Params& params, const std::string& name) {
    auto it = params.find(name);
    return it == params.end() ? std::string() : it->second;
}

std::string CookieValue(std::string_view header, std::string_view name) {
    size_t pos = 0;
    while (pos < header.size()) {
        size_t semi = header.find(';', pos);
        std::string_view item =
            header.substr(pos, semi == std::string_view::npos ? std::string_view::npos : semi - pos);
        size_t eq = item.find('=');
        if (eq != std::string_view::npos && Trim(item.substr(0, eq)) == name)
            return Trim(item.substr(eq + 1));
        if (semi == std::string_view::npos) break;
        pos = semi + 1;
    }
    return {};
}

std::optional<std::vector<MultipartPart>> ParseMultipart(std::string_view contentType,
                                                         std::string_view body) {
    std::string boundary = QuotedAttr(contentType, "boundary");
    if (boundary.empty()) return std::nullopt;
    const std::string delim = "--" + boundary;
    std::vector<MultipartPart> parts;
    size_t at = body.find(delim);
    while (at != std::string_view::npos) {
        size_t p = at + delim.size();
        if (body.substr(p, 2) == "--") break;
        if (body.substr(p, 2) == "\r\n") p += 2;
        size_t headEnd = body.find("\r\n\r\n", p);
        if (headEnd == std::string_view::npos) break;
        std::string_view head = body.substr(p, headEnd - p);
        size_t dataStart = headEnd + 4;
        size_t next = body.find("\r\n" + delim, dataStart);
        if (next == std::string_view::npos) break;
        MultipartPart part;
        part.data = std::string(body.substr(dataStart, next - dataStart));
        size_t line = 0;
        while (line <= head.size()) {
            size_t eol = head.find("\r\n", line);
            std::string_view h =
                head.substr(line, eol == std::string_view::npos ? std::string_view::npos : eol - line);
            if (h.size() > 20 && EqualsNoCase(h.substr(0, 20), "Content-Disposition:")) {
                part.name = QuotedAttr(h, "name");
                if (h.find("filename=") != std::string_view::npos) {
                    part.hasFileName = true;
                    part.fileName = QuotedAttr(h, "filename");
                }
            }
            if (eol == std::string_view::npos) break;
            line = eol + 2;
        }
        parts.push_back(std::move(part));
        at = next + 2;
    }
    if (parts.empty()) return std::nullopt;
    return parts;
}

}  // namespace morvale::sim
