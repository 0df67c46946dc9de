#pragma once

// The reply library ("快捷回复") as a tree of categories and replies, and its XML document form:
// reading accepts any well-formed document (GBK declared as gb2312 included) and keeps the nodes
// built before a fault; writing produces the exact one-line form the service stores.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace morvale {

inline constexpr int kFAQReply = 0;
inline constexpr int kFAQCategory = 1;

// The record behind each node of a reply tree. Texts are GBK.
struct TFAQNodeData {
    int kind = kFAQReply;  // kFAQReply or kFAQCategory
    std::string name;      // a category's name or a reply's title
    std::string content;   // the reply text; empty for a category
};

// One node of a reply tree; replies are leaves. Children are owned and keep their addresses while
// the tree grows, so views may hold node pointers for as long as the tree lives.
struct FAQNode {
    TFAQNodeData data;
    FAQNode* parent = nullptr;
    std::vector<std::unique_ptr<FAQNode>> children;

    FAQNode& AddChild(TFAQNodeData child);
};

// The document's root element: its children are the library's top-level nodes.
struct FAQTree {
    FAQNode root{TFAQNodeData{kFAQCategory, {}, {}}, nullptr, {}};
};

struct FAQReadResult {
    FAQTree tree;       // every node built before a fault
    std::string error;  // empty when the whole document was read
    bool ok() const { return error.empty(); }
};

// Builds the tree from a document. Nothing is fetched from the network or the file system (external
// entities and DTDs are refused); the internal entity declarations of the document are honoured.
FAQReadResult ReadFAQDocument(std::string_view xml);

// The one-line document of a tree: the fixed prologue, <c n="..."> for categories (also empty ones),
// <i n="...">content</i> for replies, no blanks between tags.
std::string WriteFAQDocument(const FAQTree& tree);

}  // namespace morvale
