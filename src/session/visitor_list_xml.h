#pragma once

// Reads the full visitor list document: one child element of the root per visitor, its attributes
// read by position (vid, arrival time, -, ip, area, page URL, page title, referrer, key name, key
// value, guest id, guest name, then rid, opid, oplogin, opname and chat start of a running chat).

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "session/model.h"

namespace morvale {

struct VisitorListEntry {
    std::unique_ptr<Visitor> visitor;  // state vsBrowsing, no pages, no sessions
    bool chatting = false;             // position 12 is not empty
    std::string rid;
    std::string opId;
    std::string opLogin;
    std::string opName;
    DateTime chatTime = 0;
};

struct VisitorListResult {
    std::vector<VisitorListEntry> entries;
    std::string error;  // empty when the document was well-formed
};

// Missing positions read as empty texts and times as 0. The document is GBK whatever encoding its
// declaration names, unless it declares UTF-8. Nothing outside the document is loaded.
VisitorListResult ReadVisitorList(std::string_view xml);

}  // namespace morvale
