#include "core/gbk.h"

#include <iconv.h>

#include <cerrno>
#include <string>

namespace morvale {

namespace {

constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

// One converter per thread and direction: iconv_t carries shift state and must not be shared.
class Converter {
  public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts as much as possible of [in, in + left) into out; returns the errno of the stop (0 at
    // the end of the input).
    int Run(const char*& in, size_t& left, std::string& out) {
        char buf[1024];
        while (left > 0) {
            char* dst = buf;
            size_t room = sizeof buf;
            char* src = const_cast<char*>(in);
            const size_t r = iconv(cd_, &src, &left, &dst, &room);
            const int err = r == static_cast<size_t>(-1) ? errno : 0;
            in = src;
            out.append(buf, static_cast<size_t>(dst - buf));
            if (err != 0 && err != E2BIG) {
                Reset();
                return err;
            }
        }
        return 0;
    }

    void Reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

  private:
    iconv_t cd_;
};

Converter& FromGbk() {
    thread_local Converter c("UTF-8", "GBK");
    return c;
}

Converter& ToGbk() {
    thread_local Converter c("GBK", "UTF-8");
    return c;
}

// Length and code point of the UTF-8 sequence at in; length 0 when it is not a valid sequence.
size_t DecodeUtf8(const unsigned char* in, size_t left, char32_t& cp) {
    const unsigned char b = in[0];
    size_t len = 0;
    char32_t min = 0;
    if (b < 0x80) {
        cp = b;
        return 1;
    } else if ((b & 0xE0) == 0xC0) {
        len = 2, cp = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        len = 3, cp = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        len = 4, cp = b & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (left < len) return 0;
    for (size_t i = 1; i < len; ++i) {
        if ((in[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (in[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
    std::string out;
    out.reserve(gbk.size() * 3 / 2);
    Converter& conv = FromGbk();
    const char* in = gbk.data();
    size_t left = gbk.size();
    while (left > 0) {
        if (!conv.ok() || conv.Run(in, left, out) != 0) {
            // An invalid lead byte, or a lead byte whose trail is invalid or missing: one replacement
            // for the lead byte, and the next byte starts afresh (it may be ASCII).
            const unsigned char b = static_cast<unsigned char>(*in);
            if (b < 0x80) {
                out += static_cast<char>(b);
            } else {
                out += kReplacementUtf8;
            }
            ++in;
            --left;
        }
    }
    return out;
}

std::string Utf8ToGbk(std::string_view utf8, GbkFallback fallback) {
    std::string out;
    out.reserve(utf8.size());
    Converter& conv = ToGbk();
    const char* in = utf8.data();
    size_t left = utf8.size();
    while (left > 0) {
        if (conv.ok() && conv.Run(in, left, out) == 0) break;
        char32_t cp = 0xFFFD;
        size_t len = DecodeUtf8(reinterpret_cast<const unsigned char*>(in), left, cp);
        if (len == 0) {
            len = 1;
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (fallback == GbkFallback::CharRef) {
            out += "&#" + std::to_string(static_cast<unsigned long>(cp)) + ";";
        } else {
            out += '?';
        }
        in += len;
        left -= len;
    }
    return out;
}

}  // namespace morvale
