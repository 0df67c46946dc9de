// Reply-library documents come from the service; any bytes must give a tree (maybe partial), no crash.

#include <cstdint>
#include <string_view>

#include "faq/faq_document.h"
#include "quiet_log.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto result = morvale::ReadFAQDocument(std::string_view(reinterpret_cast<const char*>(data), size));
    // What was read must write back out without fault.
    morvale::WriteFAQDocument(result.tree);
    return 0;
}
