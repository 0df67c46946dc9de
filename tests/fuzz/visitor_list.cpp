// The full visitor list is an XML document from the service; any bytes must give a (maybe empty)
// list and an error text, never a crash, and never load anything outside the document.

#include <cstdint>
#include <string_view>

#include "quiet_log.h"
#include "session/visitor_list_xml.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto result = morvale::ReadVisitorList(std::string_view(reinterpret_cast<const char*>(data), size));
    for (const auto& entry : result.entries) {
        if (!entry.visitor) __builtin_trap();
    }
    return 0;
}
