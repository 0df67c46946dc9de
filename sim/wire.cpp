#include "wire.h"

#include <zlib.h>

#include <cstdio>

#include "core/text_utils.h"

namespace morvale::sim {

std::string NormalizeLineBreaks(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string CleanField(std::string_view value) {
    std::string out(value);
    for (char& c : out)
        if (c == '\x02' || c == '\x03' || c == '\x05' || c == '\x06') c = ' ';
    return NormalizeLineBreaks(out);
}

std::string JoinFields(std::initializer_list<std::string_view> fields) {
    std::string out;
    bool first = true;
    for (std::string_view f : fields) {
        if (!first) out += '\x06';
        first = false;
        out += CleanField(f);
    }
    return out;
}

std::string JoinFields(const std::vector<std::string>& fields) {
    std::string out;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i) out += '\x06';
        out += CleanField(fields[i]);
    }
    return out;
}

std::string Frame(int type, std::int64_t seq, std::string_view payload) {
    std::string body = NormalizeLineBreaks(payload);
    std::erase(body, '\x03');
    std::string out;
    out.reserve(body.size() + 32);
    out += '\x02';
    out += std::to_string(type);
    out += '\x05';
    out += std::to_string(seq);
    out += '\x05';
    out += std::to_string(body.size());
    out += '\x05';
    out += body;
    out += '\x03';
    return out;
}

std::string HttpDate(std::time_t t) {
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S GMT", &tm);
    return buf;
}

std::string GzipCompress(std::string_view data) {
    z_stream zs{};
    if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    std::string out;
    out.resize(deflateBound(&zs, data.size()) + 32);
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    int rc = deflate(&zs, Z_FINISH);
    size_t produced = zs.total_out;
    deflateEnd(&zs);
    if (rc != Z_STREAM_END) return {};
    out.resize(produced);
    return out;
}

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string ChinaTimeText(std::time_t t) {
    return FormatDateTime("yyyy-mm-dd hh:nn:ss", UnixToLocal(static_cast<std::int64_t>(t)));
}

}  // namespace morvale::sim
