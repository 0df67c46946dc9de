#include "json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace morvale::sim {
namespace {

constexpr int kMaxDepth = 64;

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) {}

    std::optional<Json> Run() {
        auto value = Value(0);
        SkipBlanks();
        if (!value || pos_ != text_.size()) return std::nullopt;
        return value;
    }

  private:
    void SkipBlanks() {
        while (pos_ < text_.size() &&
               (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\r' || text_[pos_] == '\n'))
            ++pos_;
    }
    bool Eat(char c) {
        SkipBlanks();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool Word(std::string_view w) {
        if (text_.substr(pos_, w.size()) != w) return false;
        pos_ += w.size();
        return true;
    }

    std::optional<Json> Value(int depth) {
        if (depth > kMaxDepth) return std::nullopt;
        SkipBlanks();
        if (pos_ >= text_.size()) return std::nullopt;
        char c = text_[pos_];
        if (c == '{') return ObjectValue(depth);
        if (c == '[') return ArrayValue(depth);
        if (c == '"') {
            auto s = StringValue();
            if (!s) return std::nullopt;
            return Json(std::move(*s));
        }
        if (Word("true")) return Json(true);
        if (Word("false")) return Json(false);
        if (Word("null")) return Json(nullptr);
        return NumberValue();
    }

    std::optional<Json> ObjectValue(int depth) {
        ++pos_;
        Json obj = Json::Object();
        if (Eat('}')) return obj;
        for (;;) {
            SkipBlanks();
            if (pos_ >= text_.size() || text_[pos_] != '"') return std::nullopt;
            auto key = StringValue();
            if (!key || !Eat(':')) return std::nullopt;
            auto value = Value(depth + 1);
            if (!value) return std::nullopt;
            obj[*key] = std::move(*value);
            if (Eat(',')) continue;
            if (Eat('}')) return obj;
            return std::nullopt;
        }
    }

    std::optional<Json> ArrayValue(int depth) {
        ++pos_;
        Json arr = Json::Array();
        if (Eat(']')) return arr;
        for (;;) {
            auto value = Value(depth + 1);
            if (!value) return std::nullopt;
            arr.Push(std::move(*value));
            if (Eat(',')) continue;
            if (Eat(']')) return arr;
            return std::nullopt;
        }
    }

    std::optional<Json> NumberValue() {
        size_t start = pos_;
        if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
        while (pos_ < text_.size() &&
               ((text_[pos_] >= '0' && text_[pos_] <= '9') || text_[pos_] == '.' || text_[pos_] == 'e' ||
                text_[pos_] == 'E' || text_[pos_] == '+' || text_[pos_] == '-'))
            ++pos_;
        if (pos_ == start) return std::nullopt;
        std::string digits(text_.substr(start, pos_ - start));
        char* end = nullptr;
        double d = std::strtod(digits.c_str(), &end);
        if (end != digits.c_str() + digits.size() || !std::isfinite(d)) return std::nullopt;
        return Json(d);
    }

    static void AppendUtf8(std::string& out, unsigned cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    std::optional<unsigned> Hex4() {
        if (pos_ + 4 > text_.size()) return std::nullopt;
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) {
            char c = text_[pos_++];
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= c - '0';
            else if (c >= 'a' && c <= 'f')
                v |= c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                v |= c - 'A' + 10;
            else
                return std::nullopt;
        }
        return v;
    }

    std::optional<std::string> StringValue() {
        ++pos_;
        std::string out;
        while (pos_ < text_.size()) {
            char c = text_[pos_++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= text_.size()) return std::nullopt;
            char e = text_[pos_++];
            switch (e) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    auto cp = Hex4();
                    if (!cp) return std::nullopt;
                    if (*cp >= 0xD800 && *cp < 0xDC00 && text_.substr(pos_, 2) == "\\u") {
                        pos_ += 2;
                        auto lo = Hex4();
                        if (!lo || *lo < 0xDC00 || *lo >= 0xE000) return std::nullopt;
                        *cp = 0x10000 + ((*cp - 0xD800) << 10) + (*lo - 0xDC00);
                    } else if (*cp >= 0xD800 && *cp < 0xE000) {
                        *cp = 0xFFFD;
                    }
                    AppendUtf8(out, *cp);
                    break;
                }
                default:
                    return std::nullopt;
            }
        }
        return std::nullopt;
    }

    std::string_view text_;
    size_t pos_ = 0;
};

void DumpString(std::string& out, const std::string& s) {
    out += '"';
    for (unsigned char c : s) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
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
                if (c < 0x20 || c == 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
}

}  // namespace

std::optional<Json> Json::Parse(std::string_view text) { return Parser(text).Run(); }

const Json* Json::Find(std::string_view key) const {
    if (type_ != Type::Object) return nullptr;
    for (const auto& [k, v] : members_)
        if (k == key) return &v;
    return nullptr;
}

std::string Json::Str(std::string_view key, std::string_view def) const {
    const Json* v = Find(key);
    if (v && v->type_ == Type::String) return v->string_;
    if (v && v->type_ == Type::Number) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.15g", v->number_);
        return buf;
    }
    return std::string(def);
}

double Json::Num(std::string_view key, double def) const {
    const Json* v = Find(key);
    if (v && v->type_ == Type::Number) return v->number_;
    if (v && v->type_ == Type::String) {
        char* end = nullptr;
        double d = std::strtod(v->string_.c_str(), &end);
        if (!v->string_.empty() && end == v->string_.c_str() + v->string_.size()) return d;
    }
    return def;
}

bool Json::Bool(std::string_view key, bool def) const {
    const Json* v = Find(key);
    if (v && v->type_ == Type::Bool) return v->bool_;
    if (v && v->type_ == Type::Number) return v->number_ != 0;
    return def;
}

Json& Json::operator[](std::string_view key) {
    if (type_ != Type::Object) {
        *this = Object();
    }
    for (auto& [k, v] : members_)
        if (k == key) return v;
    members_.emplace_back(std::string(key), Json());
    return members_.back().second;
}

std::string Json::Dump() const {
    std::string out;
    DumpTo(out);
    return out;
}

void Json::DumpTo(std::string& out) const {
    switch (type_) {
        case Type::Null:
            out += "null";
            break;
        case Type::Bool:
            out += bool_ ? "true" : "false";
            break;
        case Type::Number: {
            char buf[64];
            if (std::floor(number_) == number_ && std::fabs(number_) < 1e15)
                std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(number_));
            else
                std::snprintf(buf, sizeof buf, "%.17g", number_);
            out += buf;
            break;
        }
        case Type::String:
            DumpString(out, string_);
            break;
        case Type::Array:
            out += '[';
            for (size_t i = 0; i < items_.size(); ++i) {
                if (i) out += ',';
                items_[i].DumpTo(out);
            }
            out += ']';
            break;
        case Type::Object:
            out += '{';
            for (size_t i = 0; i < members_.size(); ++i) {
                if (i) out += ',';
                DumpString(out, members_[i].first);
                out += ':';
                members_[i].second.DumpTo(out);
            }
            out += '}';
            break;
    }
}

}  // namespace morvale::sim
