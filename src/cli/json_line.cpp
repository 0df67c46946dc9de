#include "cli/json_line.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "core/gbk.h"

namespace morvale::cli {

std::string JsonString(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size() + 2);
    out += '"';
    for (char c : utf8) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(c));
                    out += escape;
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

void JsonLine::Key(std::string_view key) {
    if (!members_.empty()) members_ += ',';
    members_ += JsonString(key);
    members_ += ':';
}

JsonLine& JsonLine::Text(std::string_view key, std::string_view gbk) {
    Key(key);
    members_ += JsonString(GbkToUtf8(gbk));
    return *this;
}

JsonLine& JsonLine::Int(std::string_view key, std::int64_t value) {
    Key(key);
    members_ += std::to_string(value);
    return *this;
}

JsonLine& JsonLine::Number(std::string_view key, double value) {
    Key(key);
    if (!std::isfinite(value)) {
        members_ += "null";
        return *this;
    }
    // The shortest text that reads back as the same double: stable across runs and machines.
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    members_.append(buffer, ec == std::errc() ? end : buffer);
    return *this;
}

JsonLine& JsonLine::Bool(std::string_view key, bool value) {
    Key(key);
    members_ += value ? "true" : "false";
    return *this;
}

JsonLine& JsonLine::Null(std::string_view key) {
    Key(key);
    members_ += "null";
    return *this;
}

JsonLine& JsonLine::Object(std::string_view key, const JsonLine& value) {
    Key(key);
    members_ += value.Str();
    return *this;
}

JsonLine& JsonLine::Array(std::string_view key, const std::vector<JsonLine>& items) {
    Key(key);
    members_ += '[';
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i != 0) members_ += ',';
        members_ += items[i].Str();
    }
    members_ += ']';
    return *this;
}

JsonLine& JsonLine::TextArray(std::string_view key, const std::vector<std::string>& gbkItems) {
    Key(key);
    members_ += '[';
    for (std::size_t i = 0; i < gbkItems.size(); ++i) {
        if (i != 0) members_ += ',';
        members_ += JsonString(GbkToUtf8(gbkItems[i]));
    }
    members_ += ']';
    return *this;
}

std::string JsonLine::Str() const { return "{" + members_ + "}"; }

}  // namespace morvale::cli
