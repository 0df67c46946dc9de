#pragma once

// A small JSON value for the control API: objects keep their keys in insertion order, numbers are
// doubles, strings are UTF-8. Parsing is strict and bounded (depth, no trailing garbage).

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morvale::sim {

class Json {
  public:
    enum class Type { Null, Bool, Number, String, Array, Object };

    Json() = default;
    Json(std::nullptr_t) {}
    Json(bool b) : type_(Type::Bool), bool_(b) {}
    Json(int n) : type_(Type::Number), number_(n) {}
    Json(long n) : type_(Type::Number), number_(static_cast<double>(n)) {}
    Json(long long n) : type_(Type::Number), number_(static_cast<double>(n)) {}
    Json(unsigned long n) : type_(Type::Number), number_(static_cast<double>(n)) {}
    Json(double n) : type_(Type::Number), number_(n) {}
    Json(const char* s) : type_(Type::String), string_(s) {}
    Json(std::string s) : type_(Type::String), string_(std::move(s)) {}
    Json(std::string_view s) : type_(Type::String), string_(s) {}

    static Json Array() {
        Json j;
        j.type_ = Type::Array;
        return j;
    }
    static Json Object() {
        Json j;
        j.type_ = Type::Object;
        return j;
    }

    // None for text that is not exactly one JSON value.
    static std::optional<Json> Parse(std::string_view text);
    std::string Dump() const;

    Type type() const { return type_; }
    bool IsNull() const { return type_ == Type::Null; }
    bool IsObject() const { return type_ == Type::Object; }
    bool IsArray() const { return type_ == Type::Array; }
    bool IsString() const { return type_ == Type::String; }
    bool IsNumber() const { return type_ == Type::Number; }
    bool IsBool() const { return type_ == Type::Bool; }

    // Typed reads with a default for a missing or differently typed value.
    std::string Str(std::string_view key, std::string_view def = "") const;
    double Num(std::string_view key, double def = 0) const;
    bool Bool(std::string_view key, bool def = false) const;
    bool Has(std::string_view key) const { return Find(key) != nullptr; }
    const Json* Find(std::string_view key) const;

    const std::string& AsString() const { return string_; }
    double AsNumber() const { return number_; }
    bool AsBool() const { return bool_; }
    const std::vector<Json>& Items() const { return items_; }
    const std::vector<std::pair<std::string, Json>>& Members() const { return members_; }

    // Object member (added when missing) and array append.
    Json& operator[](std::string_view key);
    void Push(Json value) { items_.push_back(std::move(value)); }
    size_t Size() const { return type_ == Type::Array ? items_.size() : members_.size(); }

  private:
    void DumpTo(std::string& out) const;

    Type type_ = Type::Null;
    bool bool_ = false;
    double number_ = 0;
    std::string string_;
    std::vector<Json> items_;
    std::vector<std::pair<std::string, Json>> members_;
};

}  // namespace morvale::sim
