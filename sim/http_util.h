#pragma once

// Request decoding the stand-in service does itself, byte-exact: query and form text, cookies and
// multipart bodies (including the workbench's leading CR LF and full-path file names).

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvale::sim {

using Params = std::multimap<std::string, std::string>;

// name=value pairs joined by "&"; both sides percent-decoded ("+" is a blank); a malformed escape is
// kept as it is.
Params ParseForm(std::string_view text);
std::string Param(const Params& params, const std::string& name);

// The value of one cookie in a Cookie header, empty when absent.
std::string CookieValue(std::string_view header, std::string_view name);

struct MultipartPart {
    std::string name;
    std::string fileName;
    bool hasFileName = false;
    std::string data;
};
// None when the content type names no boundary or the body has no part.
std::optional<std::vector<MultipartPart>> ParseMultipart(std::string_view contentType, std::string_view body);

}  // namespace morvale::sim
