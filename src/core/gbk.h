#pragma once

// Conversion between the GBK bytes that wire, files and model hold and the UTF-8 of the user interface
// and the command-line output. Thread-safe; every call works on its own converter state.

#include <string>
#include <string_view>

namespace morvale {

// Invalid or truncated GBK sequences become U+FFFD.
std::string GbkToUtf8(std::string_view gbk);

// What replaces a character that GBK cannot hold.
enum class GbkFallback {
    Question,  // "?" (plain text)
    CharRef,   // a numeric character reference such as "&#128512;" (text placed inside HTML)
};

// Invalid UTF-8 bytes are replaced like unencodable characters (as U+FFFD for CharRef).
std::string Utf8ToGbk(std::string_view utf8, GbkFallback fallback);

}  // namespace morvale
