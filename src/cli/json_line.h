#pragma once

// One JSON object on one line, built key by key in the order added. Texts arrive as GBK bytes and
// are written as UTF-8 (invalid bytes become U+FFFD), so every line is valid JSON whatever the input.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace morvale::cli {

class JsonLine {
  public:
    JsonLine& Text(std::string_view key, std::string_view gbk);
    JsonLine& Int(std::string_view key, std::int64_t value);
    JsonLine& Number(std::string_view key, double value);
    JsonLine& Bool(std::string_view key, bool value);
    JsonLine& Null(std::string_view key);
    // A nested object, written as built.
    JsonLine& Object(std::string_view key, const JsonLine& value);
    // An array of objects, or of texts (GBK, written as UTF-8).
    JsonLine& Array(std::string_view key, const std::vector<JsonLine>& items);
    JsonLine& TextArray(std::string_view key, const std::vector<std::string>& gbkItems);

    // The object's text, without a line break.
    std::string Str() const;

  private:
    void Key(std::string_view key);

    std::string members_;
};

// value as a JSON string literal (quotes included); value must be UTF-8.
std::string JsonString(std::string_view utf8);

}  // namespace morvale::cli
